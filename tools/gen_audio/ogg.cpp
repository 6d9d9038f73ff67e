// Ogg Vorbis encoding with libvorbisenc: any stream, and the music track.
#include "ogg.h"

#include <cstdio>
#include <cstring>

#include <vorbis/vorbisenc.h>

#include "effects.h"

namespace gen {

std::string EncodeVorbis(const std::vector<const float*>& planes, size_t frames, int rate, float quality,
                         int serial, const char* title, size_t* headerBytes) {
    std::string out;
    const int channels = int(planes.size());
    vorbis_info vi;
    vorbis_info_init(&vi);
    if (vorbis_encode_init_vbr(&vi, channels, rate, quality) != 0) {
        vorbis_info_clear(&vi);
        return out;
    }
    vorbis_comment vc;
    vorbis_comment_init(&vc);
    if (title) vorbis_comment_add_tag(&vc, "TITLE", title);

    vorbis_dsp_state vd;
    vorbis_block vb;
    vorbis_analysis_init(&vd, &vi);
    vorbis_block_init(&vd, &vb);

    // The caller's serial number: a fixed one keeps a file identical from
    // run to run.
    ogg_stream_state os;
    ogg_stream_init(&os, serial);
    auto put = [&](const ogg_page& page) {
        out.append(reinterpret_cast<const char*>(page.header), size_t(page.header_len));
        out.append(reinterpret_cast<const char*>(page.body), size_t(page.body_len));
    };

    ogg_packet header, comments, codebooks;
    vorbis_analysis_headerout(&vd, &vc, &header, &comments, &codebooks);
    ogg_stream_packetin(&os, &header);
    ogg_stream_packetin(&os, &comments);
    ogg_stream_packetin(&os, &codebooks);
    ogg_page page;
    while (ogg_stream_flush(&os, &page)) put(page);
    if (headerBytes) *headerBytes = out.size();

    size_t pos = 0;
    bool eos = false;
    while (!eos) {
        if (pos < frames) {
            size_t n = frames - pos < 4096 ? frames - pos : 4096;
            float** in = vorbis_analysis_buffer(&vd, int(n));
            for (int c = 0; c < channels; c++) memcpy(in[c], planes[size_t(c)] + pos, n * sizeof(float));
            vorbis_analysis_wrote(&vd, int(n));
            pos += n;
        } else {
            vorbis_analysis_wrote(&vd, 0);   // end of stream
        }
        while (vorbis_analysis_blockout(&vd, &vb) == 1) {
            vorbis_analysis(&vb, nullptr);
            vorbis_bitrate_addblock(&vb);
            ogg_packet packet;
            while (vorbis_bitrate_flushpacket(&vd, &packet)) {
                ogg_stream_packetin(&os, &packet);
                while (!eos && ogg_stream_pageout(&os, &page)) {
                    put(page);
                    if (ogg_page_eos(&page)) eos = true;
                }
            }
        }
    }

    ogg_stream_clear(&os);
    vorbis_block_clear(&vb);
    vorbis_dsp_clear(&vd);
    vorbis_comment_clear(&vc);
    vorbis_info_clear(&vi);
    return out;
}

bool WriteOgg(const std::string& path, const Track& track, const char* title, int serial, float quality) {
    std::string bytes =
        EncodeVorbis({track.left.data(), track.right.data()}, track.left.size(), kRate, quality, serial, title);
    if (bytes.empty()) return false;
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

}  // namespace gen
