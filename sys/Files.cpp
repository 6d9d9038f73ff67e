// The one-slot record file: sequential little-endian integers, bytes and
// text lines through C stdio. Opening a file closes whatever was open.
//
// A file opened for writing is written to "<target>.tmp" beside the target
// and renamed over it only when it is closed cleanly, so a crash or a full
// disk during a save leaves the previous file whole.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "KELPSys.h"

FILE* MyOpenFile = nullptr;
int32_t FileOpen = 0;
void (*FileSaved)(const char* path) = nullptr;

namespace {

// The target of the file being written and its temporary twin; empty while
// the open file (if any) was opened for reading.
char writeTarget[8192];
char writeTemp[8192 + 8];
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
    char dir[sizeof writeTarget];
    const char* slash = strrchr(writeTarget, '/');
    if (!slash) {
        strcpy(dir, ".");
    } else if (slash == writeTarget) {
        strcpy(dir, "/");
    } else {
        memcpy(dir, writeTarget, size_t(slash - writeTarget));
        dir[slash - writeTarget] = 0;
    }
    int fd = open(dir, O_RDONLY | O_DIRECTORY);
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
    memcpy(writeTemp, path, n);
    memcpy(writeTemp + n, ".tmp", 5);
    // A temporary file left by a crash is replaced, never written through:
    // whatever sits at that name (even a link) is removed first, and the
    // new one must be created afresh.
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
    MyOpenFile = path ? fopen(path, "r") : nullptr;
    if (!MyOpenFile) {
        puts("Error Reading File");
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
