// Record files: byte layout, the end-of-data marker, text lines, the single
// file slot, and saving through a temporary file that replaces the target
// only when it was written completely.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "game/MyGame.h"
#include "sys/KELPSys.h"
#include "core/CoreState.h"

using namespace kelp;

namespace fs = std::filesystem;

namespace {

// Every fsync of this program passes here on its way to the kernel; while a
// test asks, the synced path is noted, and for a folder whether `syncProbe`
// existed at that moment.
std::vector<std::string>* syncLog = nullptr;
std::string syncProbe;

}  // namespace

extern "C" int fsync(int fd) {
    if (syncLog) {
        char link[64], path[4096];
        snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        ssize_t n = readlink(link, path, sizeof path - 1);
        std::string entry = n > 0 ? std::string(path, size_t(n)) : "?";
        struct stat st;
        if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode))
            entry += access(syncProbe.c_str(), F_OK) == 0 ? " (folder, with the new name)" : " (folder, before the rename)";
        syncLog->push_back(entry);
    }
    return int(syscall(SYS_fsync, fd));
}

namespace {

std::string TextOf(const std::string& path);

class RecordFiles : public ::testing::Test {
protected:
    std::string root;
    char savedRoot[sizeof ThisGame.dataRoot];

    void SetUp() override {
        char tmpl[] = "/tmp/kelp-files-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(tmpl));
        root = tmpl;
        memcpy(savedRoot, ThisGame.dataRoot, sizeof savedRoot);
        snprintf(ThisGame.dataRoot, sizeof ThisGame.dataRoot, "%s", root.c_str());
    }
    void TearDown() override {
        ThisGame.CloseFile();
        memcpy(ThisGame.dataRoot, savedRoot, sizeof savedRoot);
        fs::remove_all(root);
    }

    std::string PathOf(const std::string& name) { return root + "/" + name; }

    // Where this process writes `name` until it is closed.
    std::string TempOf(const std::string& name) { return PathOf(name) + "." + std::to_string(getpid()) + ".tmp"; }

    // Temporary files anywhere below the root, whoever wrote them.
    std::vector<std::string> Temporaries() {
        std::vector<std::string> found;
        for (auto& e : fs::recursive_directory_iterator(root)) {
            std::string name = e.path().filename().string();
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0) found.push_back(name);
        }
        return found;
    }

    std::vector<unsigned char> Bytes(const std::string& name) {
        std::vector<unsigned char> out;
        FILE* f = fopen(PathOf(name).c_str(), "rb");
        if (!f) return out;
        int c;
        while ((c = fgetc(f)) != EOF) out.push_back((unsigned char)c);
        fclose(f);
        return out;
    }

    void Put(const std::string& name, const std::string& content) {
        FILE* f = fopen(PathOf(name).c_str(), "wb");
        ASSERT_NE(nullptr, f);
        fwrite(content.data(), 1, content.size(), f);
        fclose(f);
    }

    // Every name MoveAside could give `name` is taken by a file.
    void TakeEveryAsideName(const std::string& name) {
        Put(name + ".bad", "kept");
        for (int n = 2; n <= 999; n++) Put(name + "." + std::to_string(n) + ".bad", "kept");
    }
};

TEST_F(RecordFiles, IntegersAreLittleEndianTwosComplement) {
    struct Case { int v; std::vector<unsigned char> bytes; } cases[] = {
        {550, {0x26, 0x02, 0x00, 0x00}},
        {-1, {0xFF, 0xFF, 0xFF, 0xFF}},
        {-37171, {0xCD, 0x6E, 0xFF, 0xFF}},
        {0x12345678, {0x78, 0x56, 0x34, 0x12}},
        {INT32_MIN, {0x00, 0x00, 0x00, 0x80}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.v);
        ASSERT_EQ(1, ThisGame.WriteFile("ints.dat"));
        ThisGame.WriteInt(c.v);
        ThisGame.CloseFile();
        EXPECT_EQ(c.bytes, Bytes("ints.dat"));
        ASSERT_EQ(1, ThisGame.ReadFile("ints.dat"));
        EXPECT_EQ(c.v, ThisGame.ReadInt());
        ThisGame.CloseFile();
    }
}

TEST_F(RecordFiles, ShortIntegerReadsGiveTheEndMarker) {
    Put("six.dat", std::string("\x01\x00\x00\x00\xAB\xCD", 6));
    ASSERT_EQ(1, ThisGame.ReadFile("six.dat"));
    EXPECT_EQ(1, ThisGame.ReadInt());
    EXPECT_EQ(-37171, ThisGame.ReadInt());
    EXPECT_EQ(-37171, ThisGame.ReadInt());
    ThisGame.CloseFile();

    Put("empty.dat", "");
    ASSERT_EQ(1, ThisGame.ReadFile("empty.dat"));
    EXPECT_EQ(-37171, ThisGame.ReadInt());
    EXPECT_EQ(-1, ThisGame.ReadByte());
}

TEST_F(RecordFiles, MixedItemsRoundTrip) {
    ASSERT_EQ(1, ThisGame.WriteFile("mixed.dat"));
    ThisGame.WriteByte('\xE9');
    ThisGame.WriteLine("");
    ThisGame.WriteString("two words");
    ThisGame.WriteInt(-2);
    ThisGame.CloseFile();
    std::vector<unsigned char> expect = {0xE9, '\n', 't', 'w', 'o', ' ', 'w', 'o', 'r', 'd', 's', '\n',
                                         0xFE, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(expect, Bytes("mixed.dat"));

    ASSERT_EQ(1, ThisGame.ReadFile("mixed.dat"));
    EXPECT_EQ(0xE9, ThisGame.ReadByte());
    EXPECT_EQ("", ThisGame.ReadLine());
    EXPECT_EQ("two words", ThisGame.ReadLine());
    EXPECT_EQ(-2, ThisGame.ReadInt());
    EXPECT_EQ(-1, ThisGame.ReadByte());
}

TEST_F(RecordFiles, LineReadsKeepTextAndStayInsideTheBuffer) {
    std::string longLine(1500, 'x');
    longLine[1022] = 'y';
    Put("lines.txt", "first\n" + longLine + "\nafter\nno feed");
    ASSERT_EQ(1, ThisGame.ReadFile("lines.txt"));
    EXPECT_EQ("first", ThisGame.ReadLine());
    // The over-long line is cut to the buffer; the next read is the next line.
    std::string cut = ThisGame.ReadLine();
    EXPECT_EQ(1023u, cut.size());
    EXPECT_EQ('y', cut.back());
    EXPECT_EQ("after", ThisGame.ReadLine());
    // Only a real line feed is removed.
    EXPECT_EQ("no feed", ThisGame.ReadLine());
    EXPECT_EQ("", ThisGame.ReadLine());

    // Writing keeps the whole text.
    ASSERT_EQ(1, ThisGame.WriteFile("long.txt"));
    ThisGame.WriteLine(longLine);
    ThisGame.CloseFile();
    EXPECT_EQ(1501u, Bytes("long.txt").size());
}

TEST_F(RecordFiles, ReadStringFillsTheNextRingSlot) {
    Put("ring.txt", "alpha\nbeta\n");
    ASSERT_EQ(1, ThisGame.ReadFile("ring.txt"));
    TempstrUse = 29;
    EXPECT_EQ(0, ThisGame.ReadString());
    EXPECT_STREQ("alpha", StateOf(ThisGame).Tempstr[0]);
    EXPECT_EQ(1, ThisGame.ReadString());
    EXPECT_STREQ("beta", StateOf(ThisGame).Tempstr[1]);
    ThisGame.CloseFile();
    strcpy(StateOf(ThisGame).Tempstr[2], "stale");
    EXPECT_EQ(2, ThisGame.ReadString());
    EXPECT_STREQ("", StateOf(ThisGame).Tempstr[2]);
}

TEST_F(RecordFiles, ClosedSlotDoesNothingAndReadsZero) {
    ThisGame.CloseFile();
    ThisGame.WriteInt(5);
    ThisGame.WriteByte('a');
    ThisGame.WriteLine("x");
    EXPECT_EQ(0, ThisGame.ReadInt());
    EXPECT_EQ(0, ThisGame.ReadByte());
    EXPECT_EQ("", ThisGame.ReadLine());
    EXPECT_EQ(nullptr, ASys.ReadString_Sys());
    EXPECT_TRUE(fs::is_empty(root));
}

TEST_F(RecordFiles, FailedOpensPrintTheirMessageAndLeaveTheSlotClosed) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(0, ThisGame.ReadFile("missing.dat"));
    EXPECT_EQ(0, FileOpen);
    EXPECT_EQ(0, ThisGame.WriteFile("no-such-dir/x.dat"));
    EXPECT_EQ(0, FileOpen);
    ThisGame.WriteInt(1);
    ThisGame.CloseFile();
    std::string out = testing::internal::GetCapturedStdout();
    std::smatch m;
    // A file that is not there yet is told apart from a failing read.
    EXPECT_TRUE(std::regex_match(out, m, std::regex("Error Reading File\n *[0-9]+> No save yet: " + root +
                                                    "/missing.dat \\(file not found\\)\n"
                                                    " *[0-9]+> Error Writing File: open " + root +
                                                    "/no-such-dir/x.dat \\(No such file or directory\\)\n")))
        << out;
    EXPECT_TRUE(fs::is_empty(root));

    // An existing subdirectory is used as given.
    fs::create_directory(PathOf("sub"));
    ASSERT_EQ(1, ThisGame.WriteFile("sub/x.dat"));
    ThisGame.WriteInt(7);
    ThisGame.CloseFile();
    EXPECT_EQ(4u, Bytes("sub/x.dat").size());
}

TEST_F(RecordFiles, SecondOpenClosesAndFlushesTheFirst) {
    ASSERT_EQ(1, ThisGame.WriteFile("a.dat"));
    ThisGame.WriteInt(11);
    ASSERT_EQ(1, ThisGame.WriteFile("b.dat"));
    EXPECT_EQ((std::vector<unsigned char>{11, 0, 0, 0}), Bytes("a.dat"));
    ThisGame.WriteInt(22);
    // Reading a file while one is being written finishes the write first.
    ASSERT_EQ(1, ThisGame.ReadFile("b.dat"));
    EXPECT_EQ(22, ThisGame.ReadInt());
    ThisGame.CloseFile();
    EXPECT_TRUE(Temporaries().empty());
}

TEST_F(RecordFiles, TargetIsReplacedOnlyAtClose) {
    Put("keep.dat", "old!");
    ASSERT_EQ(1, ThisGame.WriteFile("keep.dat"));
    ThisGame.WriteInt(1);
    ThisGame.WriteInt(2);
    fflush(MyOpenFile);
    // Mid-write the previous content is still what a reader finds.
    EXPECT_EQ((std::vector<unsigned char>{'o', 'l', 'd', '!'}), Bytes("keep.dat"));
    EXPECT_TRUE(fs::exists(TempOf("keep.dat")));
    ThisGame.CloseFile();
    EXPECT_EQ(8u, Bytes("keep.dat").size());
    EXPECT_TRUE(Temporaries().empty());
}

// A folder in the target's place that cannot even be put aside (every
// name it could take aside is taken) keeps the save from taking its name.
TEST_F(RecordFiles, FailedMoveAsideKeepsTheTargetAndIsLogged) {
    fs::create_directories(PathOf("busy"));
    TakeEveryAsideName("busy");
    ASSERT_EQ(1, ThisGame.WriteFile("busy"));
    ThisGame.WriteInt(3);
    testing::internal::CaptureStdout();
    ThisGame.CloseFile();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(std::string::npos, out.find("> Error Writing File: move aside (it is a folder) " + PathOf("busy") +
                                          " (every name from " + PathOf("busy") + ".bad to " + PathOf("busy") +
                                          ".999.bad is taken)\n"))
        << out;
    EXPECT_TRUE(fs::is_directory(PathOf("busy")));
    EXPECT_EQ("kept", TextOf(PathOf("busy.bad")));
    EXPECT_TRUE(Temporaries().empty());
    EXPECT_EQ(0, FileOpen);
}

// MoveAside takes the first free name and never replaces anything at a
// name it passes over, whatever is there; nothing at the name is said.
TEST_F(RecordFiles, MoveAsideTakesTheFirstFreeName) {
    Put("a.sav.bad", "first");
    fs::create_directories(PathOf("a.sav.2.bad/inside"));
    ASSERT_EQ(0, symlink("/nowhere", PathOf("a.sav.3.bad").c_str()));
    for (const char* next : {".4.bad", ".5.bad"}) {
        Put("a.sav", next);
        EXPECT_EQ(PathOf(std::string("a.sav") + next), ThisGame.MoveAside("a.sav"));
        EXPECT_EQ(next, TextOf(PathOf(std::string("a.sav") + next)));
        EXPECT_FALSE(fs::exists(PathOf("a.sav")));
    }
    EXPECT_EQ("first", TextOf(PathOf("a.sav.bad")));
    EXPECT_TRUE(fs::is_directory(PathOf("a.sav.2.bad/inside")));
    EXPECT_TRUE(fs::is_symlink(PathOf("a.sav.3.bad")));
    testing::internal::CaptureStdout();
    EXPECT_EQ("", ThisGame.MoveAside("none.sav"));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(std::string::npos, out.find("> Not moved aside: " + PathOf("none.sav") + " (No such file or directory)\n"))
        << out;
}

// A browser copies each save to its own storage from this hook: it hears of
// every file put in place, and of nothing else.
TEST_F(RecordFiles, TheSavedHookHearsOfEachFilePutInPlaceOnly) {
    static std::vector<std::string> heard;
    heard.clear();
    FileSaved = [](const char* path) { heard.push_back(path); };
    Put("read.dat", "abcd");
    fs::create_directories(PathOf("busy"));
    TakeEveryAsideName("busy");
    ASSERT_EQ(1, ThisGame.WriteFile("a.sav"));
    ThisGame.WriteInt(1);
    ThisGame.CloseFile();
    ASSERT_EQ(1, ThisGame.ReadFile("read.dat"));
    ThisGame.CloseFile();
    ASSERT_EQ(1, ThisGame.WriteFile("busy"));   // the move aside fails
    ThisGame.WriteInt(2);
    testing::internal::CaptureStdout();
    ThisGame.CloseFile();
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(1, ThisGame.WriteFile("b.sav"));
    ASSERT_EQ(1, ThisGame.WriteFile("c.sav"));  // opening another closes b.sav
    ThisGame.CloseFile();
    FileSaved = nullptr;
    EXPECT_EQ((std::vector<std::string>{PathOf("a.sav"), PathOf("b.sav"), PathOf("c.sav")}), heard);
}

TEST_F(RecordFiles, WriteThatRunsOutOfSpaceKeepsTheTarget) {
    Put("full.dat", "prev");
    // A file-size limit makes writes past it fail the way a full disk does.
    struct rlimit old;
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &old));
    void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
    struct rlimit lim = old;
    lim.rlim_cur = 64 * 1024;
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &lim));
    ASSERT_EQ(1, ThisGame.WriteFile("full.dat"));
    for (int i = 0; i < 40000; i++) ThisGame.WriteInt(i);
    testing::internal::CaptureStdout();
    ThisGame.CloseFile();
    std::string out = testing::internal::GetCapturedStdout();
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);

    EXPECT_NE(std::string::npos, out.find("Error Writing File")) << out;
    EXPECT_EQ((std::vector<unsigned char>{'p', 'r', 'e', 'v'}), Bytes("full.dat"));
    EXPECT_TRUE(Temporaries().empty());
}

// How a program that wrote "<name>" without closing it comes to an end.
// Exit stands for any normal end: returning from main ends the same way.
enum class Ending { Terminate, Exit, Killed };

// Runs the ending in a child process, which writes 7 and 8 into `name`
// first and then never calls CloseFile. Returns the child's wait status.
int EndWithAnOpenFile(const std::string& name, Ending ending) {
    fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        if (!freopen("/dev/null", "w", stdout)) _exit(120);
        if (ThisGame.WriteFile(name) != 1) _exit(121);
        ThisGame.WriteInt(7);
        ThisGame.WriteInt(8);
        switch (ending) {
            case Ending::Terminate:
                ThisGame.Terminate();
                _exit(0);  // no destructors: only Terminate may have saved it
            case Ending::Exit:
                exit(0);
            case Ending::Killed:
                kill(getpid(), SIGKILL);
        }
        _exit(122);
    }
    int status = -1;
    waitpid(pid, &status, 0);
    return status;
}

TEST_F(RecordFiles, AFileLeftOpenIsCommittedByANormalEnd) {
    const std::vector<unsigned char> written = {7, 0, 0, 0, 8, 0, 0, 0};
    const Ending endings[] = {Ending::Terminate, Ending::Exit};
    for (Ending e : endings) {
        SCOPED_TRACE(e == Ending::Terminate ? "Terminate" : "exit");
        Put("open.dat", "old!");
        int status = EndWithAnOpenFile("open.dat", e);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_EQ(written, Bytes("open.dat"));
        EXPECT_TRUE(Temporaries().empty());
    }
}

// A crash leaves the temporary file behind: it is never taken for the file
// itself, and the next write of that name removes it, and the single
// temporary name earlier versions used. A temporary file of a copy that is
// still running is left to it.
TEST_F(RecordFiles, AStrayTemporaryFileIsNeverReadAndIsCleanedUp) {
    Put("crash.dat", "old!");
    int status = EndWithAnOpenFile("crash.dat", Ending::Killed);
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    auto strays = Temporaries();
    ASSERT_EQ(1u, strays.size());
    EXPECT_TRUE(std::regex_match(strays[0], std::regex("crash\\.dat\\.[0-9]+\\.tmp"))) << strays[0];
    EXPECT_EQ((std::vector<unsigned char>{'o', 'l', 'd', '!'}), Bytes("crash.dat"));
    ASSERT_EQ(1, ThisGame.ReadFile("crash.dat"));
    EXPECT_EQ(0x21646c6f, ThisGame.ReadInt());  // "old!"
    ThisGame.CloseFile();

    // With no file of that name, the stray is not read in its place.
    Put("lost.dat.tmp", "half");
    testing::internal::CaptureStdout();
    EXPECT_EQ(0, ThisGame.ReadFile("lost.dat"));
    testing::internal::GetCapturedStdout();
    // Process 1 always runs.
    Put("crash.dat.1.tmp", "live");

    for (const char* name : {"crash.dat", "lost.dat"}) {
        SCOPED_TRACE(name);
        ASSERT_EQ(1, ThisGame.WriteFile(name));
        ThisGame.WriteInt(5);
        ThisGame.CloseFile();
        EXPECT_EQ((std::vector<unsigned char>{5, 0, 0, 0}), Bytes(name));
    }
    EXPECT_EQ((std::vector<std::string>{"crash.dat.1.tmp"}), Temporaries());
}

// Whatever sits at the temporary name is removed, not written through: a
// link planted there cannot redirect a save onto another file.
TEST_F(RecordFiles, ALinkAtTheTemporaryNameIsNotFollowed) {
    Put("other.dat", "mine");
    ASSERT_EQ(0, symlink(PathOf("other.dat").c_str(), TempOf("save.dat").c_str()));
    ASSERT_EQ(1, ThisGame.WriteFile("save.dat"));
    ThisGame.WriteInt(9);
    ThisGame.CloseFile();
    EXPECT_EQ((std::vector<unsigned char>{'m', 'i', 'n', 'e'}), Bytes("other.dat"));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(PathOf("save.dat"))));
    EXPECT_EQ((std::vector<unsigned char>{9, 0, 0, 0}), Bytes("save.dat"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(TempOf("save.dat"))));
}

// A save that cannot even be started says where and why.
TEST_F(RecordFiles, AFolderThatCannotBeWrittenIsNamedWithTheReason) {
    fs::create_directory(PathOf("locked"));
    chmod(PathOf("locked").c_str(), 0555);
    Put("plain", "a file, not a folder");
    struct Case { std::string name; std::string reason; } cases[] = {
        {"missing/Settings.sav", "No such file or directory"},
        {"plain/Settings.sav", "Not a directory"},
        {"locked/Settings.sav", "Permission denied"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.name.rfind("locked", 0) == 0 && access(PathOf("locked").c_str(), W_OK) == 0) continue;  // root writes anywhere
        testing::internal::CaptureStdout();
        EXPECT_EQ(0, ThisGame.WriteFile(c.name));
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_NE(std::string::npos, out.find("> Error Writing File: open " + PathOf(c.name) + " (" + c.reason + ")\n"))
            << out;
        EXPECT_EQ(0, FileOpen);
    }
    chmod(PathOf("locked").c_str(), 0755);
}

// Under a file-size limit (ulimit -f) a write past it raises SIGXFSZ, which
// kills by default: the save must fail like a full disk instead.
TEST_F(RecordFiles, AFileSizeLimitFailsTheSaveWithoutKillingTheGame) {
    Put("full.dat", "prev");
    const std::string log = PathOf("child.log");
    fflush(stdout);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        signal(SIGXFSZ, SIG_DFL);
        struct rlimit lim;
        getrlimit(RLIMIT_FSIZE, &lim);
        lim.rlim_cur = 16 * 1024;
        if (setrlimit(RLIMIT_FSIZE, &lim) != 0 || !freopen(log.c_str(), "w", stdout)) _exit(3);
        if (ThisGame.WriteFile("full.dat") != 1) _exit(4);
        for (int i = 0; i < 40000; i++) ThisGame.WriteInt(i);
        ThisGame.CloseFile();
        fflush(stdout);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    EXPECT_FALSE(WIFSIGNALED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(std::string::npos, text.str().find("Error Writing File: ")) << text.str();
    EXPECT_EQ((std::vector<unsigned char>{'p', 'r', 'e', 'v'}), Bytes("full.dat"));
    EXPECT_TRUE(Temporaries().empty());
}

std::string TextOf(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs `body` in a child process whose standard output goes to `log`, and
// returns its exit code; a child still running after a minute (an open that
// blocks for ever) is killed and gives -1.
int RunInChild(const std::string& log, const std::function<int()>& body) {
    fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        if (!freopen(log.c_str(), "w", stdout)) _exit(120);
        int code = body();
        fflush(stdout);
        _exit(code);
    }
    for (int i = 0; i < 6000; i++) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        usleep(10000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

// Two copies of a game on one data root quit at the same moment: each
// writes a temporary file of its own and renames it, so both saves succeed
// and the last rename wins.
TEST_F(RecordFiles, TwoCopiesSavingAtOnceBothSave) {
    int opened[2], go[2];
    ASSERT_EQ(0, pipe(opened));
    ASSERT_EQ(0, pipe(go));
    const std::string log = root + "-child.log";
    fflush(stdout);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (!freopen(log.c_str(), "w", stdout)) _exit(120);
        char c;
        int ok = ThisGame.WriteFile("shared.sav");
        ThisGame.WriteInt(1);
        // Both copies hold the file open before either closes it.
        if (write(opened[1], "o", 1) != 1 || read(go[0], &c, 1) != 1) _exit(121);
        ThisGame.CloseFile();
        fflush(stdout);
        _exit(ok == 1 ? 0 : 1);
    }
    char c;
    ASSERT_EQ(1, read(opened[0], &c, 1));
    ASSERT_EQ(1, ThisGame.WriteFile("shared.sav"));
    ThisGame.WriteInt(2);
    ASSERT_EQ(1, write(go[1], "g", 1));
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    testing::internal::CaptureStdout();
    ThisGame.CloseFile();
    std::string out = testing::internal::GetCapturedStdout();
    for (int fd : {opened[0], opened[1], go[0], go[1]}) close(fd);

    std::string childOut = TextOf(log);
    fs::remove(log);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(std::string::npos, childOut.find("Error")) << childOut;
    EXPECT_EQ(std::string::npos, out.find("Error")) << out;
    EXPECT_EQ((std::vector<unsigned char>{2, 0, 0, 0}), Bytes("shared.sav"));
    EXPECT_TRUE(Temporaries().empty());
}

// Something at a save's name that is not a regular file is never opened
// (opening a FIFO that nobody writes would wait for ever): the read fails
// at once and says what it skipped. A save puts it aside as "<name>.bad",
// or, where something was kept before, under the next free name, and takes
// the name by the usual rename.
TEST_F(RecordFiles, WhatIsNotARegularFileIsSkippedAndPutAside) {
    struct Case {
        const char* kind;
        std::function<bool(const std::string&)> make;
        fs::file_type aside;
        bool keptBefore;
    } cases[] = {
        {"a FIFO (named pipe)", [](const std::string& p) { return mkfifo(p.c_str(), 0600) == 0; }, fs::file_type::fifo,
         false},
        {"a folder", [](const std::string& p) { return fs::create_directories(p + "/inside"); },
         fs::file_type::directory, true},
        {"a socket",
         [](const std::string& p) {
             int fd = socket(AF_UNIX, SOCK_STREAM, 0);
             sockaddr_un addr{};
             addr.sun_family = AF_UNIX;
             snprintf(addr.sun_path, sizeof addr.sun_path, "%s", p.c_str());
             bool made = fd >= 0 && bind(fd, (sockaddr*)&addr, sizeof addr) == 0;
             if (fd >= 0) close(fd);
             return made;
         },
         fs::file_type::socket, true},
        {"a character device", [](const std::string& p) { return symlink("/dev/null", p.c_str()) == 0; },
         fs::file_type::symlink, false},
    };
    const std::string odd = PathOf("odd.sav");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        ASSERT_TRUE(c.make(odd));
        if (c.keptBefore) Put("odd.sav.bad", "kept last time");
        const std::string aside = odd + (c.keptBefore ? ".2.bad" : ".bad");

        const std::string log = root + "-child.log";
        int code = RunInChild(log, [] { return ThisGame.ReadFile("odd.sav") == 0 && FileOpen == 0 ? 0 : 1; });
        std::string out = TextOf(log);
        fs::remove(log);
        ASSERT_NE(-1, code) << "reading " << c.kind << " did not return";
        EXPECT_EQ(0, code);
        EXPECT_NE(std::string::npos, out.find("Error Reading File\n")) << out;
        EXPECT_NE(std::string::npos,
                  out.find("> Skipped " + odd + ": it is " + c.kind + ", not a regular file\n"))
            << out;

        ASSERT_EQ(1, ThisGame.WriteFile("odd.sav"));
        ThisGame.WriteInt(42);
        testing::internal::CaptureStdout();
        ThisGame.CloseFile();
        out = testing::internal::GetCapturedStdout();
        EXPECT_NE(std::string::npos,
                  out.find("> " + odd + " was " + c.kind + ", not a regular file: moved aside as " + aside + "\n"))
            << out;
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(odd)));
        EXPECT_EQ((std::vector<unsigned char>{42, 0, 0, 0}), Bytes("odd.sav"));
        EXPECT_EQ(c.aside, fs::symlink_status(aside).type());
        if (c.keptBefore) {
            EXPECT_EQ("kept last time", TextOf(odd + ".bad"));
        }
        EXPECT_TRUE(Temporaries().empty());
        fs::remove_all(odd);
        fs::remove_all(aside);
        fs::remove_all(odd + ".bad");
    }
}

// A data root that cannot be written (a game installed for all users, a
// read-only copy): the files go to the player's data folder, named after
// the program, which is made when first needed and said once; what that
// folder does not hold yet is read from the data root.
TEST_F(RecordFiles, ADataRootThatCannotBeWrittenSavesInThePlayersFolder) {
    const std::string game = PathOf("game"), other = PathOf("other"), xdg = PathOf("xdg"), home = PathOf("home");
    for (const std::string& dir : {game, other, xdg, home}) fs::create_directory(dir);
    Put("game/old.sav", std::string("\x07\x00\x00\x00", 4));
    // As root the folders are another user's; otherwise they are read-only.
    const bool asRoot = geteuid() == 0;
    chmod(root.c_str(), 0755);
    if (asRoot) {
        ASSERT_EQ(0, chown(xdg.c_str(), 65534, 65534));
        ASSERT_EQ(0, chown(home.c_str(), 65534, 65534));
    } else {
        chmod(game.c_str(), 0555);
        chmod(other.c_str(), 0555);
    }
    const std::string log = PathOf("child.log");
    int code = RunInChild(log, [&] {
        if (asRoot && (setgid(65534) != 0 || setuid(65534) != 0)) return 2;
        setenv("XDG_DATA_HOME", xdg.c_str(), 1);
        snprintf(ThisGame.dataRoot, sizeof ThisGame.dataRoot, "%s", game.c_str());
        printf("folder %s\n", ThisGame.SaveFolder());
        if (ThisGame.ReadFile("old.sav") != 1) return 3;
        printf("old %d\n", ThisGame.ReadInt());
        ThisGame.CloseFile();
        if (ThisGame.WriteFile("new.sav") != 1) return 4;
        ThisGame.WriteInt(8);
        ThisGame.CloseFile();
        PrepareScreenshotName(ThisGame);
        printf("shot %s\n", ASys.ScreenshotName);
        // A relative XDG_DATA_HOME does not count: the home's folder is used.
        setenv("XDG_DATA_HOME", "relative", 1);
        setenv("HOME", home.c_str(), 1);
        snprintf(ThisGame.dataRoot, sizeof ThisGame.dataRoot, "%s", other.c_str());
        printf("folder %s\n", ThisGame.SaveFolder());
        return 0;
    });
    chmod(game.c_str(), 0755);
    chmod(other.c_str(), 0755);
    std::string out = TextOf(log);
    ASSERT_EQ(0, code) << out;
    const std::string mine = xdg + "/unit_tests";
    EXPECT_NE(std::string::npos, out.find("folder " + mine + "\n")) << out;
    EXPECT_NE(std::string::npos, out.find("old 7\n")) << out;
    EXPECT_NE(std::string::npos, out.find("shot " + mine + "/Screenshot_")) << out;
    EXPECT_NE(std::string::npos, out.find("folder " + home + "/.local/share/unit_tests\n")) << out;
    const std::string said = "> Saves go to " + mine + " (" + game + " cannot be written)\n";
    EXPECT_EQ(out.find(said), out.rfind(said)) << out;
    EXPECT_NE(std::string::npos, out.find(said)) << out;
    EXPECT_EQ((std::vector<unsigned char>{8, 0, 0, 0}), Bytes("xdg/unit_tests/new.sav"));
    EXPECT_EQ(0700u, (unsigned)fs::status(mine).permissions() & 0777u);
    EXPECT_FALSE(fs::exists(PathOf("game/new.sav")));
}

// No player's folder can be written either (XDG_DATA_HOME names a file, the
// home cannot be written): the saves go to a folder of the user's own in
// the system's temporary folder, and the log says once where they could not
// go and why, and where they go. A folder there that is not the user's own
// real folder is not used: then nothing can be kept, and the log says so.
TEST_F(RecordFiles, WithNoPlayersFolderSavesGoToTheTemporaryFolder) {
    const std::string game = PathOf("game"), home = PathOf("home"), tmp = PathOf("tmp"), file = PathOf("afile");
    for (const std::string& dir : {game, home, tmp}) fs::create_directory(dir);
    Put("afile", "not a folder");
    const bool asRoot = geteuid() == 0;
    const unsigned uid = asRoot ? 65534 : getuid();
    chmod(root.c_str(), 0755);
    chmod(tmp.c_str(), 01777);   // as the system's: every user may make a folder there
    if (!asRoot) {
        chmod(game.c_str(), 0555);
        chmod(home.c_str(), 0555);
    }
    const std::string mine = tmp + "/kelp-" + std::to_string(uid);
    auto saveThere = [&](const std::string& log, const std::string& tmpdir) {
        int code = RunInChild(log, [&] {
            if (asRoot && (setgid(65534) != 0 || setuid(65534) != 0)) return 2;
            setenv("XDG_DATA_HOME", file.c_str(), 1);
            setenv("HOME", home.c_str(), 1);
            setenv("TMPDIR", tmpdir.c_str(), 1);
            snprintf(ThisGame.dataRoot, sizeof ThisGame.dataRoot, "%s", game.c_str());
            printf("folder %s\n", ThisGame.SaveFolder());
            if (ThisGame.WriteFile("new.sav") != 1) return 3;
            ThisGame.WriteInt(9);
            ThisGame.CloseFile();
            return 0;
        });
        return code;
    };
    const std::string log = PathOf("child.log");
    int code = saveThere(log, tmp + "/");
    std::string out = TextOf(log);
    chmod(game.c_str(), 0755);
    chmod(home.c_str(), 0755);
    ASSERT_EQ(0, code) << out;
    const std::string folder = mine + "/unit_tests";
    EXPECT_NE(std::string::npos, out.find("folder " + folder + "\n")) << out;
    const std::string said[] = {
        "> Saves cannot go to " + file + "/unit_tests: cannot make " + file + "/unit_tests (Not a directory)\n",
        "> Saves cannot go to " + home + "/.local/share/unit_tests: cannot make " + home +
            "/.local (Permission denied)\n",
        "> Saves go to " + folder + ", in the system's temporary folder, which may be emptied at a restart (" +
            game + " cannot be written)\n",
    };
    size_t at = 0;
    for (const std::string& line : said) {
        size_t found = out.find(line);
        EXPECT_NE(std::string::npos, found) << line << out;
        EXPECT_EQ(found, out.rfind(line)) << "said once: " << line;
        EXPECT_GE(found, at) << "in this order: " << line;
        at = found == std::string::npos ? at : found;
    }
    EXPECT_EQ((std::vector<unsigned char>{9, 0, 0, 0}), Bytes("tmp/kelp-" + std::to_string(uid) + "/unit_tests/new.sav"));
    EXPECT_EQ(0700u, (unsigned)fs::status(mine).permissions() & 0777u);

    // Another's folder, or a link, at the user's name in the temporary
    // folder: not used.
    struct Case { const char* what; std::function<bool(const std::string&)> make; const char* why; };
    std::vector<Case> cases = {
        {"a link", [](const std::string& p) { return symlink("/tmp", p.c_str()) == 0; }, " is not a folder"},
    };
    if (asRoot)
        cases.push_back({"another user's folder", [](const std::string& p) { return mkdir(p.c_str(), 0700) == 0; },
                         " belongs to another user"});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string other = PathOf(std::string("tmp-") + c.what);
        fs::create_directory(other);
        chmod(other.c_str(), 01777);
        const std::string taken = other + "/kelp-" + std::to_string(uid);
        ASSERT_TRUE(c.make(taken));
        code = saveThere(log, other);
        out = TextOf(log);
        EXPECT_EQ(3, code) << out;
        EXPECT_NE(std::string::npos, out.find("> Saves cannot go to the temporary folder: " + taken + c.why + "\n"))
            << out;
        EXPECT_NE(std::string::npos, out.find("> Saves cannot be kept: " + game +
                                              " cannot be written, nor any folder of the player's\n"))
            << out;
        EXPECT_NE(std::string::npos, out.find("folder " + game + "\n")) << out;
    }
}

// The new name lives in the folder: after the rename the folder is synced
// too, or a power cut could bring back the old file.
TEST_F(RecordFiles, ASaveSyncsTheFileThenItsFolder) {
    fs::create_directory(PathOf("sub"));
    for (const std::string name : {"top.dat", "sub/inner.dat"}) {
        SCOPED_TRACE(name);
        std::vector<std::string> synced;
        syncProbe = PathOf(name);
        syncLog = &synced;
        ASSERT_EQ(1, ThisGame.WriteFile(name));
        ThisGame.WriteInt(7);
        ThisGame.CloseFile();
        syncLog = nullptr;
        const std::string folder = fs::path(PathOf(name)).parent_path().string();
        EXPECT_EQ((std::vector<std::string>{TempOf(name), folder + " (folder, with the new name)"}), synced);
    }
}

}  // namespace
