// Ogg Vorbis encoding of the music track with libvorbisenc.
#include <cstdio>
#include <cstring>

#include <vorbis/vorbisenc.h>

#include "effects.h"

namespace gen {

namespace {

bool WritePage(FILE* f, const ogg_page& page) {
    return fwrite(page.header, 1, size_t(page.header_len), f) == size_t(page.header_len) &&
           fwrite(page.body, 1, size_t(page.body_len), f) == size_t(page.body_len);
}

}  // namespace

bool WriteOgg(const std::string& path, const Track& track) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;

    vorbis_info vi;
    vorbis_info_init(&vi);
    if (vorbis_encode_init_vbr(&vi, 2, kRate, 0.3f) != 0) {
        vorbis_info_clear(&vi);
        fclose(f);
        return false;
    }
    vorbis_comment vc;
    vorbis_comment_init(&vc);
    vorbis_comment_add_tag(&vc, "TITLE", "Internet");

    vorbis_dsp_state vd;
    vorbis_block vb;
    vorbis_analysis_init(&vd, &vi);
    vorbis_block_init(&vd, &vb);

    // A fixed serial number keeps the file identical from build to build.
    ogg_stream_state os;
    ogg_stream_init(&os, 550);

    bool ok = true;
    ogg_packet header, comments, codebooks;
    vorbis_analysis_headerout(&vd, &vc, &header, &comments, &codebooks);
    ogg_stream_packetin(&os, &header);
    ogg_stream_packetin(&os, &comments);
    ogg_stream_packetin(&os, &codebooks);
    ogg_page page;
    while (ogg_stream_flush(&os, &page)) ok = ok && WritePage(f, page);

    const size_t total = track.left.size();
    size_t pos = 0;
    bool eos = false;
    while (!eos) {
        if (pos < total) {
            size_t n = total - pos < 4096 ? total - pos : 4096;
            float** in = vorbis_analysis_buffer(&vd, int(n));
            memcpy(in[0], &track.left[pos], n * sizeof(float));
            memcpy(in[1], &track.right[pos], n * sizeof(float));
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
                    ok = ok && WritePage(f, page);
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
    return fclose(f) == 0 && ok;
}

}  // namespace gen
