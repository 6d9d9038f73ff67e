// The one-slot record file: sequential little-endian integers, bytes and
// text lines through C stdio. Opening a file closes whatever was open.
//
// A file opened for writing is written to "<target>.<pid>.tmp" beside the
// target and renamed over it only when it is closed cleanly, so a crash or a
// full disk during a save leaves the previous file whole, and two copies of
// a game saving at once never write or rename each other's file.
//
// Only regular files are read: a FIFO, a device, a socket or a folder at a
// save's name is never opened (opening a FIFO for reading waits for a writer
// that may never come), and a save puts it aside as "<target>.bad" (or the
// first free name of "<target>.2.bad" ...) before it takes its name.
//
// Also here: where an installed program's data and its player's saves are.
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "KELPSys.h"

namespace kelp {

FILE* MyOpenFile = nullptr;
int32_t FileOpen = 0;
void (*FileSaved)(const char* path) = nullptr;

namespace {

// The target of the file being written and its temporary twin; empty while
// the open file (if any) was opened for reading.
char writeTarget[8192];
char writeTemp[8192 + 32];
// Set when a write on the open file failed; the target is then kept.
int32_t writeFailed = 0;

const int32_t END_OF_DATA = -37171;

int readInt(FILE* f) {
    unsigned char b[4];
    if (fread(b, 1, 4, f) < 4) return END_OF_DATA;
    uint32_t v = (uint32_t)b[0] | ((uint32_t)b[1] << 8) | ((uint32_t)b[2] << 16) | ((uint32_t)b[3] << 24);
    return (int32_t)v;
}

void reportWriteError(const char* what) {
    KELPSys::Debuglog(KELPSys::fstrSys("Error Writing File: %s %s (%s)", what, writeTarget, strerror(errno)));
}

// What a path that is not a regular file is, as the log says it.
const char* KindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a FIFO (named pipe)";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    return "not a regular file";
}

// The folder part of a path ("." for none, "/" for the root).
std::string FolderOf(const char* path) {
    const char* slash = strrchr(path, '/');
    if (!slash) return ".";
    if (slash == path) return "/";
    return std::string(path, size_t(slash - path));
}

// A file opened for reading, or null with the reason in `why`: only a
// regular file is opened at all. The open itself cannot block either (a FIFO
// put in the file's place between the look and the open is seen and closed
// unread).
FILE* OpenRegularFile(const char* path, std::string& why) {
    struct stat st;
    if (stat(path, &st) != 0) {
        why = errno == ENOENT ? std::string("No save yet: ") + path + " (file not found)"
                              : std::string("Cannot read ") + path + " (" + strerror(errno) + ")";
        return nullptr;
    }
    if (S_ISREG(st.st_mode)) {
        int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        FILE* f = nullptr;
        if (fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            f = fdopen(fd, "r");
        }
        if (f) return f;
        int e = errno;
        if (fd >= 0) close(fd);
        if (fd < 0 || S_ISREG(st.st_mode)) {
            why = std::string("Cannot read ") + path + " (" + strerror(e) + ")";
            return nullptr;
        }
    }
    why = std::string("Skipped ") + path + ": it is " + KindOf(st.st_mode) + ", not a regular file";
    return nullptr;
}

// Whatever sits at the target's name and is not a regular file (a folder,
// a FIFO, a device, a socket, or a link to one) is not replaced: it is put
// aside under a free name (MoveAside), never over anything kept before.
// Returns 0, with the reason logged, when it could not be moved.
int MoveAsideOddTarget() {
    struct stat st;
    if (stat(writeTarget, &st) != 0 || S_ISREG(st.st_mode)) return 1;
    const std::string kind = KindOf(st.st_mode);
    std::string why;
    const std::string aside = KELPSys::MoveAside(writeTarget, why);
    if (aside.empty()) {
        KELPSys::Debuglog(KELPSys::fstrSys("Error Writing File: move aside (it is %s) %s (%s)", kind.c_str(),
                                           writeTarget, why.c_str()));
        return 0;
    }
    KELPSys::Debuglog((std::string(writeTarget) + " was " + kind + ", not a regular file: moved aside as " + aside).c_str());
    return 1;
}

// Renames `from` to `to` unless something is at `to` already: 0 when done,
// else the error (EEXIST when the name is taken).
int RenameNoReplace(const char* from, const char* to) {
#ifdef RENAME_NOREPLACE
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // A file system without it: a look, then the rename (open to a race
    // only with another copy of the game moving a file at the same name).
#endif
    struct stat st;
    if (lstat(to, &st) == 0) return EEXIST;
    return rename(from, to) == 0 ? 0 : errno;
}

// Temporary files of this target left by copies of the program that are no
// longer running (a crash, a power cut), and the single temporary name of
// earlier versions, are removed: they are never read, and would pile up.
void RemoveStrayTemporaries() {
    std::string folder = FolderOf(writeTarget);
    const char* slash = strrchr(writeTarget, '/');
    std::string base = slash ? slash + 1 : writeTarget;
    DIR* dir = opendir(folder.c_str());
    if (!dir) return;
    while (struct dirent* e = readdir(dir)) {
        const char* name = e->d_name;
        if (strncmp(name, base.c_str(), base.size()) != 0 || name[base.size()] != '.') continue;
        const char* rest = name + base.size() + 1;
        char* end = nullptr;
        long pid = strtol(rest, &end, 10);
        bool legacy = strcmp(rest, "tmp") == 0;
        bool ours = end != rest && *rest >= '0' && *rest <= '9' && strcmp(end, ".tmp") == 0;
        if (!legacy && !(ours && pid > 0 && pid != (long)getpid() && kill((pid_t)pid, 0) != 0 && errno == ESRCH))
            continue;
        unlink((folder + "/" + name).c_str());
    }
    closedir(dir);
}

// A file-size limit (ulimit -f) kills a process that writes past it, unless
// the signal is ignored: then the write fails, the failure is reported like
// a full disk, and the previous file stays. A handler the game set is kept.
void ignoreFileSizeSignal() {
    struct sigaction now;
    if (sigaction(SIGXFSZ, nullptr, &now) == 0 && now.sa_handler == SIG_DFL) signal(SIGXFSZ, SIG_IGN);
}

// The rename lives in the directory: only once the directory is on disk
// does the new name survive a power cut.
void syncTargetDirectory() {
    int fd = open(FolderOf(writeTarget).c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0 || fsync(fd) != 0) reportWriteError("sync the folder of");
    if (fd >= 0) close(fd);
}

}  // namespace

int KELPSys::WriteFile_Sys(const char* path) {
    if (FileOpen == 1) CloseFile_Sys();
    size_t n = path ? strlen(path) : 0;
    if (n == 0 || n >= sizeof writeTarget) {
        Debuglog(fstrSys("Error Writing File: open %.900s (%s)", n ? path : "\"\"", n ? "name too long" : "no name"));
        return 0;
    }
    ignoreFileSizeSignal();
    memcpy(writeTarget, path, n + 1);
    snprintf(writeTemp, sizeof writeTemp, "%s.%ld.tmp", path, (long)getpid());
    RemoveStrayTemporaries();
    // Whatever sits at the temporary name (a file this process id left in an
    // earlier life, even a link) is removed, never written through: the new
    // file must be created afresh.
    unlink(writeTemp);
    MyOpenFile = fopen(writeTemp, "wx");
    if (!MyOpenFile) {
        // The path and the reason, as for every other write error.
        reportWriteError("open");
        writeTarget[0] = 0;
        return 0;
    }
    writeFailed = 0;
    FileOpen = 1;
    return 1;
}

int KELPSys::ReadFile_Sys(const char* path) {
    if (FileOpen == 1) CloseFile_Sys();
    std::string why = "Cannot read a file without a name";
    MyOpenFile = path && *path ? OpenRegularFile(path, why) : nullptr;
    if (!MyOpenFile) {
        // The message every failed read prints, then what it was.
        puts("Error Reading File");
        Debuglog(why.c_str());
        return 0;
    }
    writeTarget[0] = 0;
    FileOpen = 1;
    return 1;
}

void KELPSys::WriteInt_Sys(int v) {
    if (FileOpen != 1) return;
    uint32_t u = (uint32_t)v;
    unsigned char b[4] = {(unsigned char)(u & 255), (unsigned char)((u >> 8) & 255),
                          (unsigned char)((u >> 16) & 255), (unsigned char)(u >> 24)};
    if (fwrite(b, 1, 4, MyOpenFile) != 4) writeFailed = 1;
}

void KELPSys::WriteByte_Sys(char c) {
    if (FileOpen != 1) return;
    if (fputc((unsigned char)c, MyOpenFile) == EOF) writeFailed = 1;
}

void KELPSys::WriteString_Sys(const char* s) {
    if (FileOpen != 1) return;
    // Written straight from the caller's text, so a line longer than the
    // scratch buffer is stored whole rather than cut.
    if (fputs(s ? s : "", MyOpenFile) == EOF || fputc('\n', MyOpenFile) == EOF) writeFailed = 1;
}

int KELPSys::ReadInt_Sys() {
    if (FileOpen != 1) return 0;
    return readInt(MyOpenFile);
}

int KELPSys::ReadByte_Sys() {
    if (FileOpen != 1) return 0;
    return fgetc(MyOpenFile);
}

const char* KELPSys::ReadString_Sys() {
    if (FileOpen != 1) return nullptr;
    if (!fgets(TempstrSys, sizeof TempstrSys, MyOpenFile)) {
        // End of file: nothing was read, so there is no line.
        TempstrSys[0] = 0;
        return TempstrSys;
    }
    size_t n = strlen(TempstrSys);
    if (n > 0 && TempstrSys[n - 1] == '\n') {
        TempstrSys[n - 1] = 0;
    } else if (n == sizeof TempstrSys - 1) {
        // A line longer than the buffer keeps its start; the rest of it is
        // skipped so that the next read begins at the next line.
        int c;
        while ((c = fgetc(MyOpenFile)) != EOF && c != '\n') {
        }
    }
    return TempstrSys;
}

void KELPSys::CloseFile_Sys() {
    if (FileOpen != 1) return;
    FILE* f = MyOpenFile;
    MyOpenFile = nullptr;
    FileOpen = 0;
    if (writeTarget[0] == 0) {
        fclose(f);
        return;
    }
    int ok = !writeFailed && !ferror(f);
    if (!ok) reportWriteError("write");
    if (ok && fflush(f) != 0) {
        reportWriteError("flush");
        ok = 0;
    }
    if (ok && fsync(fileno(f)) != 0) {
        reportWriteError("sync");
        ok = 0;
    }
    if (fclose(f) != 0 && ok) {
        reportWriteError("close");
        ok = 0;
    }
    if (ok) ok = MoveAsideOddTarget();
    if (ok && rename(writeTemp, writeTarget) != 0) {
        reportWriteError("rename");
        ok = 0;
    }
    if (ok) syncTargetDirectory();
    if (!ok) remove(writeTemp);
    if (ok && FileSaved) FileSaved(writeTarget);
    writeTarget[0] = 0;
    writeFailed = 0;
}

// ---- Where files are ------------------------------------------------------------

std::string KELPSys::ProgramFile() {
    char path[8192];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "";
    std::string file(path, size_t(n));
    // A program replaced while it runs (an upgrade) still names its file.
    const std::string deleted = " (deleted)";
    if (file.size() > deleted.size() && file.compare(file.size() - deleted.size(), deleted.size(), deleted) == 0)
        file.resize(file.size() - deleted.size());
    return file;
}

int KELPSys::IsFolder(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int KELPSys::PathExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

int KELPSys::FolderReadOnly(const char* folder) {
    if (!IsFolder(folder)) return 0;
    return access(folder, W_OK | X_OK) != 0 && (errno == EACCES || errno == EROFS || errno == EPERM);
}

std::string KELPSys::MoveAside(const std::string& path, std::string& why) {
    for (int n = 1; n <= 999; n++) {
        const std::string aside = n == 1 ? path + ".bad" : path + "." + std::to_string(n) + ".bad";
        int err = RenameNoReplace(path.c_str(), aside.c_str());
        if (err == 0) return aside;
        if (err != EEXIST && err != ENOTEMPTY) {
            why = strerror(err);
            return "";
        }
    }
    why = "every name from " + path + ".bad to " + path + ".999.bad is taken";
    return "";
}

namespace {

// Makes `folder` with any missing parents (new ones private: 0700) and
// checks that files can be made in it; "" when they can, else why not.
std::string MakeWritableFolder(const std::string& folder) {
    for (size_t at = 1; at <= folder.size(); at++) {
        if (at < folder.size() && folder[at] != '/') continue;
        std::string part = folder.substr(0, at);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return "cannot make " + part + " (" + strerror(errno) + ")";
    }
    if (!KELPSys::IsFolder(folder)) return folder + " is not a folder";
    if (access(folder.c_str(), W_OK | X_OK) != 0) return folder + " cannot be written (" + strerror(errno) + ")";
    return "";
}

// The user's own folder in the system's temporary folder, which every user
// may write: it must be a real folder (not a link), this user's, and closed
// to others, or another user could read or plant the saves.
std::string PrivateTemporaryFolder(std::string& why) {
    const char* tmp = getenv("TMPDIR");
    std::string base = tmp && tmp[0] == '/' ? tmp : "/tmp";
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    const std::string folder = base + "/kelp-" + std::to_string((unsigned long)getuid());
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        why = "cannot make " + folder + " (" + strerror(errno) + ")";
        return "";
    }
    struct stat st;
    if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        why = folder + " is not a folder";
        return "";
    }
    if (st.st_uid != getuid()) {
        why = folder + " belongs to another user";
        return "";
    }
    if ((st.st_mode & 077) != 0 && chmod(folder.c_str(), 0700) != 0) {
        why = folder + " is open to other users";
        return "";
    }
    return folder;
}

}  // namespace

std::string KELPSys::PlayerDataFolder(const std::string& game, std::vector<std::string>& refused,
                                      bool& temporary) {
    temporary = false;
    // The XDG base directory rules: a relative XDG_DATA_HOME is ignored.
    const char* xdg = getenv("XDG_DATA_HOME");
    if (xdg && xdg[0] == '/') {
        const std::string folder = std::string(xdg) + "/" + game;
        const std::string why = MakeWritableFolder(folder);
        if (why.empty()) return folder;
        refused.push_back(folder + ": " + why);
    }
    const char* home = getenv("HOME");
    if (!home || !*home) {
        struct passwd* pw = getpwuid(getuid());
        home = pw ? pw->pw_dir : nullptr;
    }
    if (home && *home) {
        const std::string folder = std::string(home) + "/.local/share/" + game;
        const std::string why = MakeWritableFolder(folder);
        if (why.empty()) return folder;
        refused.push_back(folder + ": " + why);
    } else {
        refused.push_back("~/.local/share/" + game + ": no home folder (HOME is not set)");
    }
    std::string why;
    const std::string mine = PrivateTemporaryFolder(why);
    if (!mine.empty()) {
        const std::string folder = mine + "/" + game;
        why = MakeWritableFolder(folder);
        if (why.empty()) {
            temporary = true;
            return folder;
        }
        refused.push_back(folder + ": " + why);
    } else {
        refused.push_back("the temporary folder: " + why);
    }
    return "";
}

}  // namespace kelp
