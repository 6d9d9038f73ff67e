#include "web_folder.h"

#include <brotli/decode.h>
#include <brotli/encode.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace scores {

namespace {

// Files above this are sent as they are: a copy takes long to make and a
// file this big is already packed.
const off_t kMaxCompressed = off_t(64) << 20;
const off_t kMinCompressed = 256;
const size_t kBlock = 64 << 10;

// Compresses one open file into another, in blocks: false on a read or
// write failure, or when asked to stop.
bool Brotli(int in, int out, bool text, off_t size, const std::atomic<bool>* stop);
bool Gzip(int in, int out, bool text, off_t size, const std::atomic<bool>* stop);

struct Coding {
    const char* name;    // as in Accept-Encoding and Content-Encoding
    const char* suffix;  // the copy's name ends with this
    bool (*compress)(int in, int out, bool text, off_t size, const std::atomic<bool>* stop);
};
const Coding kCodings[] = {{"br", ".br", Brotli}, {"gzip", ".gz", Gzip}};

struct Type {
    const char* ext;
    const char* type;
    bool compress;
};
const Type kTypes[] = {
    {"html", "text/html; charset=utf-8", true},
    {"htm", "text/html; charset=utf-8", true},
    {"js", "text/javascript; charset=utf-8", true},
    {"mjs", "text/javascript; charset=utf-8", true},
    {"css", "text/css; charset=utf-8", true},
    {"json", "application/json", true},
    {"map", "application/json", true},
    {"webmanifest", "application/manifest+json", true},
    {"txt", "text/plain; charset=utf-8", true},
    {"xml", "application/xml", true},
    {"svg", "image/svg+xml", true},
    {"ico", "image/x-icon", true},
    // Streamed compilation in the browser needs the wasm type.
    {"wasm", "application/wasm", true},
    {"data", "application/octet-stream", true},
    {"png", "image/png", false},
    {"jpg", "image/jpeg", false},
    {"jpeg", "image/jpeg", false},
    {"gif", "image/gif", false},
    {"webp", "image/webp", false},
    {"ogg", "audio/ogg", false},
    {"oga", "audio/ogg", false},
    {"wav", "audio/wav", true},
    {"mp3", "audio/mpeg", false},
    {"woff2", "font/woff2", false},
};

const Type* TypeOf(const std::string& path) {
    size_t slash = path.rfind('/');
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return nullptr;
    const char* ext = path.c_str() + dot + 1;
    for (const Type& t : kTypes)
        if (strcasecmp(ext, t.ext) == 0) return &t;
    return nullptr;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

// A regular file opened without following a last symlink, and without
// blocking on a FIFO that someone left in the folder.
int OpenRegular(const std::string& path, struct stat* st) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return -1;
    if (fstat(fd, st) != 0 || !S_ISREG(st->st_mode)) {
        close(fd);
        return -1;
    }
    return fd;
}

std::string EntityTag(uint64_t hash, const char* coding) {
    char tag[64];
    snprintf(tag, sizeof tag, "\"%016llx%s%s\"", (unsigned long long)hash, coding ? "-" : "", coding ? coding : "");
    return tag;
}

// The same version of a file: nothing about it changed, its change time
// (which writing or replacing it always moves) included.
bool SameVersion(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size && SameTime(a.st_mtim, b.st_mtim) &&
           SameTime(a.st_ctim, b.st_ctim);
}

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

const char* SkipSpaces(const char* p) {
    while (IsSpace(*p)) p++;
    return p;
}

// Reads digits into *v (saturating); false when there are none.
bool ReadNumber(const char** p, uint64_t* v) {
    const char* s = *p;
    uint64_t n = 0;
    while (*s >= '0' && *s <= '9') {
        unsigned d = unsigned(*s - '0');
        n = n > (UINT64_MAX - d) / 10 ? UINT64_MAX : n * 10 + d;
        s++;
    }
    if (s == *p) return false;
    *p = s;
    *v = n;
    return true;
}

// Whether the If-Range value lets a range be sent: it must name the file as
// it is now (its strong tag, or exactly its date).
bool IfRangeHolds(const char* value, const struct stat& st, uint64_t hash) {
    if (!value) return true;
    value = SkipSpaces(value);
    if (*value == '"' || *value == 'W') {
        std::string v(value);
        while (!v.empty() && IsSpace(v.back())) v.pop_back();
        return v == EntityTag(hash, nullptr);
    }
    time_t t;
    return ParseHttpDate(value, &t) && t == st.st_mtim.tv_sec;
}

// ---- Content hashes -----------------------------------------------------------------

// A 64-bit hash of a byte stream: four lanes of little-endian 8-byte words,
// each mixed by multiplication and rotation, folded together with the tail
// and the length, then mixed again so that every input bit reaches every
// output bit. Not for secrecy: it tells one version of a file from another.
class Hash64 {
public:
    void Add(const uint8_t* p, size_t n) {
        total_ += n;
        if (have_ > 0) {
            size_t take = n < 32 - have_ ? n : 32 - have_;
            memcpy(pending_ + have_, p, take);
            have_ += take;
            p += take;
            n -= take;
            if (have_ < 32) return;
            Block(pending_);
            have_ = 0;
        }
        for (; n >= 32; p += 32, n -= 32) Block(p);
        memcpy(pending_, p, n);
        have_ = n;
    }

    uint64_t Finish() const {
        uint64_t h = Rotl(lane_[0], 1) + Rotl(lane_[1], 7) + Rotl(lane_[2], 12) + Rotl(lane_[3], 18);
        for (uint64_t lane : lane_) h = (h ^ Round(0, lane)) * kM1 + kM4;
        h += total_;
        size_t i = 0;
        for (; i + 8 <= have_; i += 8) h = Rotl(h ^ Round(0, Load64(pending_ + i)), 27) * kM1 + kM4;
        for (; i < have_; i++) h = Rotl(h ^ (pending_[i] * kM5), 11) * kM1;
        h ^= h >> 33;
        h *= kM2;
        h ^= h >> 29;
        h *= kM3;
        return h ^ (h >> 32);
    }

private:
    static const uint64_t kM1 = 0x9E3779B185EBCA87ull, kM2 = 0xC2B2AE3D27D4EB4Full, kM3 = 0x165667B19E3779F9ull,
                          kM4 = 0x85EBCA77C2B2AE63ull, kM5 = 0x27D4EB2F165667C5ull;
    static uint64_t Rotl(uint64_t x, int r) { return (x << r) | (x >> (64 - r)); }
    static uint64_t Round(uint64_t acc, uint64_t in) { return Rotl(acc + in * kM2, 31) * kM1; }
    static uint64_t Load64(const uint8_t* p) {
        uint64_t v = 0;
        for (int i = 7; i >= 0; i--) v = (v << 8) | p[i];
        return v;
    }
    void Block(const uint8_t* p) {
        for (int i = 0; i < 4; i++) lane_[i] = Round(lane_[i], Load64(p + 8 * i));
    }

    uint64_t lane_[4] = {kM1 + kM2, kM2, 0, 0 - kM1};
    uint8_t pending_[32] = {};
    size_t have_ = 0;
    uint64_t total_ = 0;
};

// What a compressed copy decodes to, hashed as it is decoded: false when it
// does not decode, has bytes after its end, decodes to more than `limit`
// bytes, or when asked to stop.
bool HashDecoded(int fd, bool brotli, uint64_t limit, uint64_t* hash, const std::atomic<bool>* stop);

}  // namespace

bool ContentHashes::Find(const struct stat& st, uint64_t* hash, bool* readable) const {
    std::lock_guard<std::mutex> hold(lock_);
    auto found = entries_.find(uint64_t(st.st_dev) * 0x9E3779B97F4A7C15ull ^ uint64_t(st.st_ino));
    if (found == entries_.end() || !SameVersion(found->second.st, st)) return false;
    *hash = found->second.hash;
    if (readable) *readable = found->second.readable;
    return true;
}

void ContentHashes::Put(const struct stat& st, uint64_t hash, bool readable) {
    std::lock_guard<std::mutex> hold(lock_);
    // Entries of files long replaced are not worth a sweep: past the bound,
    // all go, and the files in use are hashed again as they are asked for.
    if (entries_.size() >= kMaxEntries) entries_.clear();
    entries_[uint64_t(st.st_dev) * 0x9E3779B97F4A7C15ull ^ uint64_t(st.st_ino)] = {st, hash, readable};
}

bool HashFile(int fd, uint64_t* hash, const std::atomic<bool>* stop) {
    Hash64 h;
    std::vector<uint8_t> buf(kBlock);
    for (off_t at = 0;;) {
        if (stop && *stop) return false;
        ssize_t n = pread(fd, buf.data(), buf.size(), at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        h.Add(buf.data(), size_t(n));
        at += n;
    }
    *hash = h.Finish();
    return true;
}

namespace {

bool HashDecoded(int fd, bool brotli, uint64_t limit, uint64_t* hash, const std::atomic<bool>* stop) {
    Hash64 h;
    std::vector<uint8_t> in(kBlock), out(kBlock);
    uint64_t produced = 0;
    bool ended = false, ok = true;
    BrotliDecoderState* b = brotli ? BrotliDecoderCreateInstance(nullptr, nullptr, nullptr) : nullptr;
    z_stream z = {};
    if (brotli ? !b : inflateInit2(&z, 15 + 16) != Z_OK) return false;
    for (off_t at = 0; ok;) {
        if (stop && *stop) {
            ok = false;
            break;
        }
        ssize_t n = pread(fd, in.data(), in.size(), at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        at += n;
        if (ended) {  // bytes after the stream's end
            ok = false;
            break;
        }
        size_t availIn = size_t(n);
        const uint8_t* nextIn = in.data();
        z.next_in = in.data();
        z.avail_in = uInt(n);
        // Until this input is used up and no output waits for room.
        for (bool more = true; ok && !ended && more;) {
            size_t got = 0;
            if (brotli) {
                size_t availOut = out.size();
                uint8_t* nextOut = out.data();
                BrotliDecoderResult r =
                    BrotliDecoderDecompressStream(b, &availIn, &nextIn, &availOut, &nextOut, nullptr);
                got = out.size() - availOut;
                if (r == BROTLI_DECODER_RESULT_ERROR) ok = false;
                if (r == BROTLI_DECODER_RESULT_SUCCESS) ended = true;
                more = availIn > 0 || r == BROTLI_DECODER_RESULT_NEEDS_MORE_OUTPUT;
            } else {
                z.next_out = out.data();
                z.avail_out = uInt(out.size());
                int r = inflate(&z, Z_NO_FLUSH);
                got = out.size() - z.avail_out;
                if (r == Z_STREAM_END) ended = true;
                else if (r != Z_OK && r != Z_BUF_ERROR) ok = false;
                more = z.avail_in > 0 || z.avail_out == 0;
            }
            produced += got;
            if (produced > limit) ok = false;
            if (ok) h.Add(out.data(), got);
        }
        if (ended && (brotli ? availIn > 0 : z.avail_in > 0)) ok = false;
    }
    if (brotli)
        BrotliDecoderDestroyInstance(b);
    else
        inflateEnd(&z);
    if (!ok || !ended) return false;
    *hash = h.Finish();
    return true;
}

}  // namespace

const char* ContentType(const std::string& path) {
    const Type* t = TypeOf(path);
    return t ? t->type : "application/octet-stream";
}

int ResolveFile(const std::string& root, const std::string& target, std::string* path) {
    std::string t = target;
    // A proxy may send the absolute form; the file is named by its path.
    for (const char* scheme : {"http://", "https://"})
        if (t.compare(0, strlen(scheme), scheme) == 0) {
            size_t slash = t.find('/', strlen(scheme));
            t = slash == std::string::npos ? "/" : t.substr(slash);
        }
    if (t.empty() || t[0] != '/') return 404;
    const std::string raw = t.substr(0, t.find_first_of("?#"));
    std::string name;
    for (size_t i = 0; i < raw.size(); i++) {
        if (raw[i] != '%') {
            name += raw[i];
            continue;
        }
        int hi = i + 2 < raw.size() ? HexValue(raw[i + 1]) : -1;
        int lo = hi >= 0 ? HexValue(raw[i + 2]) : -1;
        if (lo < 0) return 400;
        name += char(hi * 16 + lo);
        i += 2;
    }
    // No file of ours has a control byte in its name; a NUL would cut the
    // name short of what the request says (and of its type).
    for (char c : name)
        if ((unsigned char)c < 0x20 || c == 0x7f) return 400;

    // Each part of the path as a name in its folder: none above the folder,
    // and no hidden files (".git", ".htpasswd").
    std::string relative;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('/', start);
        if (end == std::string::npos) end = name.size();
        std::string part = name.substr(start, end - start);
        if (!part.empty() && part != ".") {
            if (part[0] == '.') return 404;
            relative += "/" + part;
        }
        start = end + 1;
    }
    if (relative.size() > PATH_MAX) return 404;
    std::string full = root + relative;
    for (int tries = 0; tries < 2; tries++) {
        // The real path, symlinks followed: it must still be in the folder.
        char* real = realpath(full.c_str(), nullptr);
        if (!real) return 404;
        std::string resolved = real;
        free(real);
        if (resolved != root && resolved.compare(0, root.size() + 1, root + "/") != 0) return 404;
        struct stat st;
        if (stat(resolved.c_str(), &st) != 0) return 404;
        if (S_ISDIR(st.st_mode)) {
            full = resolved + "/index.html";
            continue;
        }
        if (!S_ISREG(st.st_mode)) return 404;
        *path = resolved;
        return 0;
    }
    return 404;
}

int ParseRange(const char* header, uint64_t size, uint64_t* first, uint64_t* length) {
    if (!header) return 0;
    const char* p = SkipSpaces(header);
    if (strncasecmp(p, "bytes", 5) != 0) return 0;
    p = SkipSpaces(p + 5);
    if (*p++ != '=') return 0;
    p = SkipSpaces(p);
    uint64_t a = 0, b = 0;
    bool haveA = ReadNumber(&p, &a);
    p = SkipSpaces(p);
    if (*p++ != '-') return 0;
    p = SkipSpaces(p);
    bool haveB = ReadNumber(&p, &b);
    p = SkipSpaces(p);
    if (*p != '\0') return 0;  // several ranges, or anything else: the whole file
    if (haveA) {
        if (haveB && b < a) return 0;
        if (a >= size) return -1;
        uint64_t last = haveB && b < size - 1 ? b : size - 1;
        *first = a;
        *length = last - a + 1;
        return 1;
    }
    if (!haveB) return 0;
    if (b == 0 || size == 0) return -1;
    *length = b < size ? b : size;
    *first = size - *length;
    return 1;
}

bool AcceptsEncoding(const char* header, const char* coding) {
    if (!header) return false;
    int named = -1, any = -1;  // -1 not listed, 0 refused (q=0), 1 accepted
    const char* p = header;
    while (*p) {
        p = SkipSpaces(p);
        const char* tokenStart = p;
        while (*p && *p != ',' && *p != ';' && !IsSpace(*p)) p++;
        std::string token(tokenStart, size_t(p - tokenStart));
        int accepted = 1;
        p = SkipSpaces(p);
        while (*p == ';') {
            p = SkipSpaces(p + 1);
            const char* paramStart = p;
            while (*p && *p != ',' && *p != ';') p++;
            std::string param(paramStart, size_t(p - paramStart));
            while (!param.empty() && IsSpace(param.back())) param.pop_back();
            if (param.size() >= 2 && (param[0] == 'q' || param[0] == 'Q') && param[1] == '=') {
                // q=0, q=0.0 ... refuse; any other weight accepts.
                size_t digits = param.find_first_not_of("0.", 2);
                if (digits == std::string::npos && param.size() > 2 && param[2] == '0') accepted = 0;
            }
        }
        if (strcasecmp(token.c_str(), coding) == 0) named = accepted;
        if (token == "*") any = accepted;
        while (*p && *p != ',') p++;
        if (*p == ',') p++;
    }
    return named >= 0 ? named == 1 : any == 1;
}

bool EntityTagMatches(const char* header, const std::string& tag) {
    if (!header) return false;
    // Weak comparison: the opaque parts, with any W/ set aside.
    std::string want = tag.compare(0, 2, "W/") == 0 ? tag.substr(2) : tag;
    const char* p = SkipSpaces(header);
    if (*p == '*') return true;
    while (*p) {
        p = SkipSpaces(p);
        if (p[0] == 'W' && p[1] == '/') p += 2;
        if (*p != '"') {
            while (*p && *p != ',') p++;
        } else {
            const char* end = strchr(p + 1, '"');
            if (!end) return false;
            if (std::string(p, size_t(end - p + 1)) == want) return true;
            p = end + 1;
        }
        while (*p && *p != ',') p++;
        if (*p == ',') p++;
    }
    return false;
}

namespace {
const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Exactly `n` digits at p.
bool Digits(const char* p, int n, int* out) {
    int v = 0;
    for (int i = 0; i < n; i++) {
        if (p[i] < '0' || p[i] > '9') return false;
        v = v * 10 + (p[i] - '0');
    }
    *out = v;
    return true;
}
}  // namespace

std::string HttpDate(time_t t) {
    struct tm g;
    gmtime_r(&t, &g);
    char text[64];
    snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[g.tm_wday % 7], g.tm_mday,
             kMonths[g.tm_mon % 12], g.tm_year + 1900, g.tm_hour, g.tm_min, g.tm_sec);
    return text;
}

bool ParseHttpDate(const char* text, time_t* out) {
    // "Sun, 06 Nov 1994 08:49:37 GMT": the form browsers send back.
    if (!text || strlen(text) < 29) return false;
    const char* p = text;
    if (p[3] != ',' || p[4] != ' ' || p[7] != ' ' || p[11] != ' ' || p[16] != ' ' || p[19] != ':' || p[22] != ':' ||
        strncmp(p + 25, " GMT", 4) != 0)
        return false;
    struct tm g = {};
    int month = -1;
    for (int i = 0; i < 12; i++)
        if (strncmp(p + 8, kMonths[i], 3) == 0) month = i;
    if (month < 0 || !Digits(p + 5, 2, &g.tm_mday) || !Digits(p + 12, 4, &g.tm_year) ||
        !Digits(p + 17, 2, &g.tm_hour) || !Digits(p + 20, 2, &g.tm_min) || !Digits(p + 23, 2, &g.tm_sec))
        return false;
    if (g.tm_mday < 1 || g.tm_mday > 31 || g.tm_hour > 23 || g.tm_min > 59 || g.tm_sec > 60) return false;
    g.tm_mon = month;
    g.tm_year -= 1900;
    *out = timegm(&g);
    return true;
}

void PrepareFile(const std::string& path, ContentHashes* hashes, const std::atomic<bool>* stop) {
    struct stat st;
    int fd = OpenRegular(path, &st);
    if (fd < 0) return;
    uint64_t hash;
    if (!hashes->Find(st, &hash)) {
        struct stat after;
        // A file written to while it was read gives no hash: the request
        // that asked for it finds the new version and asks again.
        const bool ok = HashFile(fd, &hash, stop) && fstat(fd, &after) == 0 && SameVersion(st, after);
        close(fd);
        if (!ok) return;
        hashes->Put(st, hash);
    } else {
        close(fd);
    }
    const Type* type = TypeOf(path);
    if (!type || !type->compress) return;
    for (const Coding& c : kCodings) {
        struct stat copy;
        int copyFd = OpenRegular(path + c.suffix, &copy);
        if (copyFd < 0) continue;
        uint64_t decoded;
        // A copy no smaller than its file is never sent: no need to read it.
        if (copy.st_size < st.st_size && !hashes->Find(copy, &decoded)) {
            struct stat after;
            const bool readable = HashDecoded(copyFd, c.compress == Brotli, uint64_t(st.st_size), &decoded, stop);
            if (!(stop && *stop) && fstat(copyFd, &after) == 0 && SameVersion(copy, after))
                hashes->Put(copy, readable ? decoded : 0, readable);
        }
        close(copyFd);
    }
}

FileAnswer AnswerFile(const std::string& root, const FileRequest& request, const ContentHashes& hashes) {
    FileAnswer a;
    std::string path;
    int resolved = ResolveFile(root, request.target, &path);
    if (resolved == 400) {
        a.status = 400;
        a.why = "bad file name";
        return a;
    }
    struct stat st;
    int fd = resolved == 0 ? OpenRegular(path, &st) : -1;
    if (fd < 0) return a;  // 404
    a.path = path;

    // Its content must be known first: the tag comes from it.
    uint64_t hash;
    if (!hashes.Find(st, &hash)) {
        close(fd);
        a.status = 0;
        a.why.clear();
        return a;
    }

    const Type* type = TypeOf(path);
    a.headers = {{"Content-Type", ContentType(path)},
                 // Names carry no version: a browser asks each time, and a
                 // file that did not change costs a 304 and no body.
                 {"Cache-Control", "no-cache"},
                 {"Last-Modified", HttpDate(st.st_mtim.tv_sec)},
                 {"Accept-Ranges", "bytes"},
                 {"X-Content-Type-Options", "nosniff"}};
    if (type && type->compress) a.headers.emplace_back("Vary", "Accept-Encoding");

    // A compressed copy, unless bytes of the file itself are asked for: one
    // smaller than the file, known to decode to the file's bytes as they are.
    const Coding* coding = nullptr;
    int copyFd = -1;
    struct stat copy;
    for (const Coding& c : kCodings) {
        if (request.range || !type || !type->compress || !AcceptsEncoding(request.acceptEncoding, c.name)) continue;
        copyFd = OpenRegular(path + c.suffix, &copy);
        if (copyFd < 0) continue;
        uint64_t decoded;
        bool readable = false;
        if (copy.st_size >= st.st_size) {
            // Not worth sending.
        } else if (!hashes.Find(copy, &decoded, &readable)) {
            close(copyFd);
            close(fd);
            a.headers.clear();
            a.status = 0;
            a.why.clear();
            return a;
        } else if (readable && decoded == hash) {
            coding = &c;
            break;
        } else {
            a.staleCopy = true;
        }
        close(copyFd);
        copyFd = -1;
    }
    const std::string tag = EntityTag(hash, coding ? coding->name : nullptr);
    a.headers.emplace_back("ETag", tag);

    // A date matches only the file's own: one later than it (a clock ahead,
    // a date made up) says nothing of this version.
    time_t since;
    bool unchanged = request.ifNoneMatch ? EntityTagMatches(request.ifNoneMatch, tag)
                                         : request.ifModifiedSince && ParseHttpDate(request.ifModifiedSince, &since) &&
                                               st.st_mtim.tv_sec == since;
    if (unchanged) {
        close(fd);
        if (copyFd >= 0) close(copyFd);
        a.status = 304;
        a.why.clear();
        return a;
    }
    if (coding) {
        close(fd);
        a.headers.emplace_back("Content-Encoding", coding->name);
        a.status = 200;
        a.why.clear();
        a.fd = copyFd;
        a.length = uint64_t(copy.st_size);
        return a;
    }
    a.status = 200;
    a.why.clear();
    a.fd = fd;
    a.length = uint64_t(st.st_size);
    uint64_t first = 0, length = 0;
    int range =
        IfRangeHolds(request.ifRange, st, hash) ? ParseRange(request.range, uint64_t(st.st_size), &first, &length) : 0;
    if (range > 0) {
        a.status = 206;
        a.offset = first;
        a.length = length;
        a.headers.emplace_back("Content-Range", "bytes " + std::to_string(first) + "-" +
                                                    std::to_string(first + length - 1) + "/" +
                                                    std::to_string(st.st_size));
    } else if (range < 0) {
        close(fd);
        a.fd = -1;
        a.length = 0;
        a.status = 416;
        a.why = "range not satisfiable";
        a.headers.emplace_back("Content-Range", "bytes */" + std::to_string(st.st_size));
    }
    return a;
}

// ---- Compressed copies --------------------------------------------------------------

namespace {

bool Brotli(int in, int out, bool text, off_t size, const std::atomic<bool>* stop) {
    BrotliEncoderState* s = BrotliEncoderCreateInstance(nullptr, nullptr, nullptr);
    if (!s) return false;
    // The best for what a page loads first; a big pack would take minutes.
    BrotliEncoderSetParameter(s, BROTLI_PARAM_QUALITY, size <= (off_t(4) << 20) ? BROTLI_MAX_QUALITY : 9);
    BrotliEncoderSetParameter(s, BROTLI_PARAM_LGWIN, 22);
    BrotliEncoderSetParameter(s, BROTLI_PARAM_MODE, text ? BROTLI_MODE_TEXT : BROTLI_MODE_GENERIC);
    std::string inBuf(kBlock, '\0'), outBuf(kBlock, '\0');
    bool ok = true, finishing = false;
    size_t availIn = 0;
    const uint8_t* nextIn = nullptr;
    while (ok) {
        if (stop && *stop) ok = false;
        if (availIn == 0 && !finishing) {
            ssize_t n = read(in, &inBuf[0], inBuf.size());
            if (n < 0) ok = false;
            if (n <= 0) finishing = true;
            availIn = n > 0 ? size_t(n) : 0;
            nextIn = reinterpret_cast<const uint8_t*>(inBuf.data());
        }
        size_t availOut = outBuf.size();
        uint8_t* nextOut = reinterpret_cast<uint8_t*>(&outBuf[0]);
        if (!ok || !BrotliEncoderCompressStream(s, finishing ? BROTLI_OPERATION_FINISH : BROTLI_OPERATION_PROCESS,
                                                &availIn, &nextIn, &availOut, &nextOut, nullptr))
            ok = false;
        size_t produced = outBuf.size() - availOut;
        if (ok && produced && write(out, outBuf.data(), produced) != ssize_t(produced)) ok = false;
        if (ok && BrotliEncoderIsFinished(s)) break;
    }
    BrotliEncoderDestroyInstance(s);
    return ok;
}

bool Gzip(int in, int out, bool, off_t, const std::atomic<bool>* stop) {
    z_stream z = {};
    if (deflateInit2(&z, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) != Z_OK) return false;
    std::string inBuf(kBlock, '\0'), outBuf(kBlock, '\0');
    bool ok = true;
    int flush = Z_NO_FLUSH;
    for (;;) {
        if ((stop && *stop) || !ok) {
            ok = false;
            break;
        }
        if (z.avail_in == 0 && flush == Z_NO_FLUSH) {
            ssize_t n = read(in, &inBuf[0], inBuf.size());
            if (n < 0) ok = false;
            if (n <= 0) flush = Z_FINISH;
            z.next_in = reinterpret_cast<Bytef*>(&inBuf[0]);
            z.avail_in = n > 0 ? uInt(n) : 0;
        }
        z.next_out = reinterpret_cast<Bytef*>(&outBuf[0]);
        z.avail_out = uInt(outBuf.size());
        int rc = deflate(&z, flush);
        if (rc == Z_STREAM_ERROR) ok = false;
        size_t produced = outBuf.size() - z.avail_out;
        if (ok && produced && write(out, outBuf.data(), produced) != ssize_t(produced)) ok = false;
        if (rc == Z_STREAM_END) break;
    }
    deflateEnd(&z);
    return ok;
}

// Every file below dir (not through symlinks, not hidden), depth first.
void ListFiles(const std::string& dir, int depth, std::vector<std::string>* out) {
    DIR* d = depth < 16 ? opendir(dir.c_str()) : nullptr;
    if (!d) return;
    while (struct dirent* e = readdir(d)) {
        if (e->d_name[0] == '.' || out->size() >= 100000) continue;
        std::string path = dir + "/" + e->d_name;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) ListFiles(path, depth + 1, out);
        else if (S_ISREG(st.st_mode)) out->push_back(path);
    }
    closedir(d);
}

// A compressed copy beside its file (it is checked with its file).
bool IsCopy(const std::string& path) {
    for (const Coding& c : kCodings) {
        const size_t n = strlen(c.suffix);
        if (path.size() > n && path.compare(path.size() - n, n, c.suffix) == 0 &&
            access(path.substr(0, path.size() - n).c_str(), F_OK) == 0)
            return true;
    }
    return false;
}

}  // namespace

CompressedCopies::~CompressedCopies() { Stop(); }

void CompressedCopies::Start(const std::string& root) {
    stop_ = false;
    {
        std::lock_guard<std::mutex> hold(lock_);
        busy_ = true;
    }
    thread_ = std::thread([this, root] { Run(root); });
}

void CompressedCopies::Remake(const std::string& path) {
    if (failed_ || !thread_.joinable()) return;
    std::lock_guard<std::mutex> hold(lock_);
    if (!queuedNames_.insert(path).second) return;
    queued_.push_back(path);
    changed_.notify_all();
}

void CompressedCopies::Wait() {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [this] { return (!busy_ && queued_.empty()) || !thread_.joinable() || stop_; });
}

void CompressedCopies::Stop() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        stop_ = true;
        changed_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
}

int CompressedCopies::Process(const std::string& path) {
    struct stat st;
    int in = OpenRegular(path, &st);
    if (in < 0) return 0;
    uint64_t hash;
    if (!hashes_->Find(st, &hash)) {
        struct stat after;
        if (!HashFile(in, &hash, &stop_) || fstat(in, &after) != 0 || !SameVersion(st, after)) {
            close(in);
            return 0;
        }
        hashes_->Put(st, hash);
    }
    const Type* type = TypeOf(path);
    if (!type || !type->compress || st.st_size < kMinCompressed || st.st_size > kMaxCompressed) {
        close(in);
        return 0;
    }
    const bool text = type->type[0] == 't' || strstr(type->type, "json") || strstr(type->type, "xml");
    int made = 0;
    for (const Coding& c : kCodings) {
        if (stop_) break;
        const std::string copy = path + c.suffix;
        struct stat cs;
        int copyFd = OpenRegular(copy, &cs);
        bool exists = false, good = false;
        if (copyFd >= 0) {
            exists = true;
            uint64_t decoded;
            bool readable = false;
            if (cs.st_size < st.st_size && !hashes_->Find(cs, &decoded, &readable)) {
                readable = HashDecoded(copyFd, c.compress == Brotli, uint64_t(st.st_size), &decoded, &stop_);
                if (stop_) {
                    close(copyFd);
                    break;
                }
                hashes_->Put(cs, readable ? decoded : 0, readable);
            }
            good = cs.st_size < st.st_size && readable && decoded == hash;
            close(copyFd);
        }
        if (good || failed_) continue;
        // A copy of other bytes, or one that gains nothing, goes (it is
        // never sent, but would mislead anything else reading the folder).
        if (exists) unlink(copy.c_str());
        if (notSmaller_.count(hash)) continue;
        std::string temp = copy + ".XXXXXX";
        int out = mkstemp(&temp[0]);
        if (out < 0) {
            failed_ = true;
            log_("cannot write " + copy + ": " + strerror(errno) + "; the folder's files are sent uncompressed");
            break;
        }
        struct stat now, written;
        bool ok = lseek(in, 0, SEEK_SET) == 0 && c.compress(in, out, text, st.st_size, &stop_);
        // The file must not have changed while it was read.
        ok = ok && fstat(in, &now) == 0 && SameVersion(now, st) && fstat(out, &written) == 0;
        if (ok && written.st_size >= st.st_size) {
            // Already packed: not kept, and not tried again while this runs.
            notSmaller_.insert(hash);
            ok = false;
        }
        // The copy keeps its file's times, for anyone looking at the folder.
        const timespec times[2] = {st.st_atim, st.st_mtim};
        ok = ok && fchmod(out, 0644) == 0 && futimens(out, times) == 0 && rename(temp.c_str(), copy.c_str()) == 0;
        // Its version as renamed (a rename moves the change time).
        if (ok && fstat(out, &written) == 0) hashes_->Put(written, hash);
        if (close(out) != 0) ok = false;
        if (ok) {
            made++;
        } else {
            unlink(temp.c_str());
        }
    }
    close(in);
    return made;
}

void CompressedCopies::Run(std::string root) {
    auto t0 = std::chrono::steady_clock::now();
    std::vector<std::string> files;
    ListFiles(root, 0, &files);
    for (const std::string& f : files) {
        if (stop_) break;
        if (!IsCopy(f)) made_ += Process(f);
    }
    if (made_ > 0 && !stop_) {
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        char line[160];
        snprintf(line, sizeof line, "Made %d compressed copies in %.1f s", made_.load(), s);
        log_(line);
    }
    // Then the files whose copies requests found stale, as they come.
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        busy_ = false;
        changed_.notify_all();
        changed_.wait(hold, [this] { return stop_ || !queued_.empty(); });
        if (stop_) return;
        std::string path = queued_.front();
        queued_.pop_front();
        busy_ = true;
        hold.unlock();
        const int n = Process(path);
        made_ += n;
        if (n > 0) log_("Made the compressed copies of " + path + " again");
        hold.lock();
        queuedNames_.erase(path);
    }
}

}  // namespace scores
