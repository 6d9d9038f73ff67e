// A folder of files served over HTTP beside the scores (the browser build):
// which file a request names, never one outside the folder; which bytes of
// it and in which encoding; and whether the browser's copy is still good.
// Compressed copies are made once, beside the files, not per request.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace scores {

// The request headers that matter for a file (null when absent).
struct FileRequest {
    std::string target;  // raw, as it came in the request line
    bool head = false;
    const char* acceptEncoding = nullptr;
    const char* range = nullptr;
    const char* ifRange = nullptr;
    const char* ifNoneMatch = nullptr;
    const char* ifModifiedSince = nullptr;
};

// What to answer. For 200 and 206, `fd` is an open file of which `length`
// bytes from `offset` are the body (the caller closes it); any other status
// has no file and `why` says what went wrong (empty for 304).
struct FileAnswer {
    int status = 404;
    std::string why = "unknown page";
    int fd = -1;
    uint64_t offset = 0;
    uint64_t length = 0;
    std::vector<std::pair<std::string, std::string>> headers;
};

// `root` must be a real path (no symlinks in it, no trailing slash).
FileAnswer AnswerFile(const std::string& root, const FileRequest& request);

// The parts of AnswerFile, each on untrusted text.

// The file a target names below root: 0 and its real path, or 400 (a name
// with a NUL or control byte or a broken %-escape) or 404 (none; above the
// folder; hidden; outside it through a symlink; not a regular file).
int ResolveFile(const std::string& root, const std::string& target, std::string* path);

// "bytes=first-last", "bytes=first-" or "bytes=-suffix" for a file of
// `size` bytes: 1 with the range, 0 to ignore the header and send the whole
// file (several ranges, another unit, bad syntax), -1 when nothing of the
// file is in the range (416).
int ParseRange(const char* header, uint64_t size, uint64_t* first, uint64_t* length);

// Whether an Accept-Encoding header accepts a coding ("br", "gzip"): named
// or "*" with a q-value above 0, and not refused by name.
bool AcceptsEncoding(const char* header, const char* coding);

// Whether an If-None-Match header ("*" or a list of tags, weak or strong)
// names this entity tag (weak comparison).
bool EntityTagMatches(const char* header, const std::string& tag);

// An HTTP date ("Sun, 06 Nov 1994 08:49:37 GMT") and back; false when the
// text is no such date.
std::string HttpDate(time_t t);
bool ParseHttpDate(const char* text, time_t* out);

// The media type by the name's extension.
const char* ContentType(const std::string& path);

// Makes "NAME.br" and "NAME.gz" beside each file worth compressing below
// root (text, the wasm and the data pack) that lacks them or has older ones,
// on a thread of its own, so that the server answers meanwhile (uncompressed
// until a copy is ready). A copy carries its file's modification time:
// AnswerFile sends one only while that still matches, so a changed file is
// never answered with a stale copy. A folder it may not write to is left as
// it is, with one line on the log.
class CompressedCopies {
public:
    explicit CompressedCopies(void (*log)(const std::string& line)) : log_(log) {}
    ~CompressedCopies();
    void Start(const std::string& root);
    // Waits until the copies are made (tests; a --precompress run).
    void Wait();
    void Stop();
    // Whether a copy could not be written (the folder is read-only).
    bool Failed() const { return failed_; }

private:
    void Run(std::string root);
    void (*log_)(const std::string&);
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> failed_{false};
};

// Makes the compressed copies of one file when they are missing or stale:
// the number made, or -1 with a reason.
int CompressFile(const std::string& path, std::string* why);

}  // namespace scores
