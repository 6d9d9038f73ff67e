// A folder of files served over HTTP beside the scores (the browser build):
// which file a request names, never one outside the folder; which bytes of
// it and in which encoding; and whether the browser's copy is still good.
// Compressed copies are made once, beside the files, not per request.
//
// Validators follow the bytes: a file's entity tag is a hash of its content,
// and a compressed copy is sent only once it is known to decode to the
// file's bytes as they are now. A file's size and modification time say
// nothing sure (cp -p, rsync -t and archives with fixed times replace bytes
// and keep both); the hash is computed again whenever the file's size, times
// (its change time included, which no copy tool can set) or inode differ.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
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

// The hashes of the files' contents, by the version of a file they were
// read from; for a compressed copy, the hash of what it decodes to. Shared
// between the threads that read files and the one that answers.
class ContentHashes {
public:
    // The hash recorded for this version of a file: false if none is.
    // `readable` is false for a copy that does not decode.
    bool Find(const struct stat& st, uint64_t* hash, bool* readable = nullptr) const;
    void Put(const struct stat& st, uint64_t hash, bool readable = true);

private:
    struct Entry {
        struct stat st;
        uint64_t hash;
        bool readable;
    };
    static const size_t kMaxEntries = 200000;
    mutable std::mutex lock_;
    std::unordered_map<uint64_t, Entry> entries_;  // by device and inode
};

// A 64-bit hash of a file's content, read from its start to its end: false
// on a read error or when asked to stop.
bool HashFile(int fd, uint64_t* hash, const std::atomic<bool>* stop = nullptr);

// Hashes the file at `path` and checks its compressed copies (those smaller
// than it) unless `hashes` already knows them, so that AnswerFile can answer
// without reading anything. Run off the event loop: it reads whole files.
void PrepareFile(const std::string& path, ContentHashes* hashes, const std::atomic<bool>* stop = nullptr);

// What to answer. For 200 and 206, `fd` is an open file of which `length`
// bytes from `offset` are the body (the caller closes it); status 0 asks
// for PrepareFile(path) before the same request is answered again; any other
// status has no file and `why` says what went wrong (empty for 304).
struct FileAnswer {
    int status = 404;
    std::string why = "unknown page";
    int fd = -1;
    uint64_t offset = 0;
    uint64_t length = 0;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string path;         // the file the target names, once found
    bool staleCopy = false;   // one of its compressed copies is of other bytes
};

// `root` must be a real path (no symlinks in it, no trailing slash).
FileAnswer AnswerFile(const std::string& root, const FileRequest& request, const ContentHashes& hashes);

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

// On a thread of its own, so that the server answers meanwhile: hashes each
// file below root, and makes "NAME.br" and "NAME.gz" beside each file worth
// compressing (text, the wasm and the data pack) that lacks them or whose
// copies decode to other bytes than it holds now. A copy no smaller than its
// file is not kept (an existing one is removed): it would never be sent.
// Files named by Remake (a request found their copies stale) are done next.
// A folder it may not write to keeps its files as they are, with one line
// on the log; they are still hashed.
class CompressedCopies {
public:
    CompressedCopies(void (*log)(const std::string& line), ContentHashes* hashes) : log_(log), hashes_(hashes) {}
    ~CompressedCopies();
    void Start(const std::string& root);
    // Queues a file whose copies are stale (ignored in a read-only folder).
    void Remake(const std::string& path);
    // Waits until the folder and the queued files are done (tests; a
    // --precompress run).
    void Wait();
    void Stop();
    // Whether a copy could not be written (the folder is read-only).
    bool Failed() const { return failed_; }
    int Made() const { return made_; }

private:
    void Run(std::string root);
    // Hashes one file and makes its copies where needed: the number made.
    int Process(const std::string& path);
    void (*log_)(const std::string&);
    ContentHashes* hashes_;
    std::thread thread_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<std::string> queued_;
    std::set<std::string> queuedNames_;
    bool busy_ = false;
    std::set<uint64_t> notSmaller_;  // contents whose copies gained nothing (this run)
    std::atomic<bool> stop_{false};
    std::atomic<bool> failed_{false};
    std::atomic<int> made_{0};
};

}  // namespace scores
