// The score server's reading of a request for a file of its web folder, on
// arbitrary text: the target's name (percent escapes, NUL and control
// bytes, dots, symlinks out of the folder), the Range, Accept-Encoding,
// If-None-Match, If-Modified-Since and If-Range headers, each alone and
// together in AnswerFile (its files hashed when it asks). The input's lines
// are the target and the headers.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "web_folder.h"

namespace {

std::string outside, root;
const uint64_t kSizes[] = {0, 1, 10, 1ull << 40};

void Put(const std::string& path, const std::string& text) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) abort();
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
}

// A small folder: a page, a script, a folder, a symlink inside and one out.
void MakeRoot() {
    char tmpl[] = "/tmp/kelp_fuzz_web_XXXXXX";
    if (!mkdtemp(tmpl)) abort();
    outside = tmpl;
    Put(outside + "/secret.txt", "secret");
    root = outside + "/web";
    mkdir(root.c_str(), 0755);
    mkdir((root + "/sub").c_str(), 0755);
    Put(root + "/index.html", "<!doctype html>");
    Put(root + "/MyGame.js", "var Module;");
    Put(root + "/sub/index.html", "<p>sub</p>");
    if (symlink((root + "/MyGame.js").c_str(), (root + "/alias.js").c_str()) != 0 ||
        symlink((outside + "/secret.txt").c_str(), (root + "/out.txt").c_str()) != 0)
        abort();
}

void RemoveRoot() {
    for (const char* f : {"/web/alias.js", "/web/out.txt", "/web/sub/index.html", "/web/index.html", "/web/MyGame.js",
                          "/secret.txt"})
        unlink((outside + f).c_str());
    for (const char* d : {"/web/sub", "/web", ""}) rmdir((outside + d).c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    MakeRoot();
    atexit(RemoveRoot);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Lines: target, Range, Accept-Encoding, If-None-Match, If-Modified-Since, If-Range.
    std::vector<std::string> f(6);
    size_t line = 0;
    for (size_t i = 0; i < size && line < f.size(); i++) {
        if (data[i] == '\n') {
            line++;
        } else {
            f[line] += char(data[i]);
        }
    }
    // Header values arrive as C strings: up to a NUL.
    for (size_t i = 1; i < f.size(); i++) f[i] = f[i].c_str();

    for (uint64_t fileSize : kSizes) {
        uint64_t first = 0, length = 0;
        int r = scores::ParseRange(f[1].c_str(), fileSize, &first, &length);
        if (r < -1 || r > 1) abort();
        if (r == 1 && (length == 0 || first >= fileSize || length > fileSize - first)) abort();
    }
    scores::AcceptsEncoding(f[2].c_str(), "br");
    scores::AcceptsEncoding(f[2].c_str(), "gzip");
    scores::EntityTagMatches(f[3].c_str(), "\"a-b\"");
    time_t t;
    if (scores::ParseHttpDate(f[4].c_str(), &t)) {
        time_t back;
        if (!scores::ParseHttpDate(scores::HttpDate(t).c_str(), &back) || (back != t && t >= 0)) abort();
    }

    std::string path;
    int resolved = scores::ResolveFile(root, f[0], &path);
    if (resolved != 0 && resolved != 400 && resolved != 404) abort();
    if (resolved == 0) {
        struct stat st;
        if (path.compare(0, root.size() + 1, root + "/") != 0 || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            abort();
    }

    scores::FileRequest req;
    req.target = f[0];
    req.range = f[1].empty() ? nullptr : f[1].c_str();
    req.acceptEncoding = f[2].empty() ? nullptr : f[2].c_str();
    req.ifNoneMatch = f[3].empty() ? nullptr : f[3].c_str();
    req.ifModifiedSince = f[4].empty() ? nullptr : f[4].c_str();
    req.ifRange = f[5].empty() ? nullptr : f[5].c_str();
    // A file's first answer asks for its content's hash; the second has it.
    static scores::ContentHashes hashes;
    scores::FileAnswer a = scores::AnswerFile(root, req, hashes);
    if (a.status == 0) {
        if (a.path.compare(0, root.size() + 1, root + "/") != 0) abort();
        scores::PrepareFile(a.path, &hashes);
        a = scores::AnswerFile(root, req, hashes);
        if (a.status == 0) abort();
    }
    if (a.fd >= 0) {
        struct stat st;
        if (fstat(a.fd, &st) != 0 || a.offset + a.length > uint64_t(st.st_size)) abort();
        if (a.status != 200 && a.status != 206) abort();
        close(a.fd);
    } else if (a.status != 304 && a.status != 400 && a.status != 404 && a.status != 416) {
        abort();
    }
    return 0;
}
