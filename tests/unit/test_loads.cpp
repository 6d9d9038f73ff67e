// Loading ahead: queued loads are prepared on another thread and committed on
// this one, in queue order, only once due and prepared; a wait is only ever
// for a load that fills the slot asked for, or for everything at the end.
#include <gtest/gtest.h>

#include <lodepng.h>
#include <unistd.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "game/MyGame.h"
#include "sys/KELPSys.h"

using namespace kelp;

namespace {

// A preparation that holds until the test lets it go.
class Gate {
public:
    void Open() {
        std::lock_guard<std::mutex> lock(m_);
        open_ = true;
        cv_.notify_all();
    }
    void Pass() {
        std::unique_lock<std::mutex> lock(m_);
        cv_.wait(lock, [this] { return open_; });
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool open_ = false;
};

class Loads : public ::testing::Test {
protected:
    MyGame& g = ThisGame;
    std::vector<std::string> committed;
    std::mutex prepMutex;
    std::vector<std::thread::id> preparedOn;

    void TearDown() override { g.DropLoads(); }

    // Queues a load named `name`; its preparation waits for `gate` if given.
    void Queue(const std::string& name, int due, int slot, Gate* gate) {
        g.QueueLoad(
            due, slot,
            [this, gate] {
                if (gate) gate->Pass();
                std::lock_guard<std::mutex> lock(prepMutex);
                preparedOn.push_back(std::this_thread::get_id());
            },
            [this, name] { committed.push_back(name); });
    }
    void Call(const std::string& name, int due) {
        g.QueueLoad(due, -1, nullptr, [this, name] { committed.push_back(name); });
    }
};

TEST_F(Loads, CommitsInQueueOrderOnlyWhenDueAndPrepared) {
    Gate slow;
    Queue("A", 1, 7, &slow);
    Call("B", 1);
    Queue("C", 3, 8, nullptr);
    Call("D", 3);
    // A is still being prepared, and B may not overtake it.
    EXPECT_EQ(0, g.CollectLoads(1));
    EXPECT_TRUE(committed.empty());
    EXPECT_EQ(4, g.LoadsQueued());
    slow.Open();
    // Asking for A's slot waits for it; C and D are not due yet.
    EXPECT_EQ(2, g.CollectLoads(2, 7));
    EXPECT_EQ((std::vector<std::string>{"A", "B"}), committed);
    EXPECT_EQ(2, g.LoadsQueued());
    EXPECT_EQ(2, g.CollectLoads(3, 8));
    EXPECT_EQ((std::vector<std::string>{"A", "B", "C", "D"}), committed);
    EXPECT_EQ(0, g.LoadsQueued());
    for (auto id : preparedOn) EXPECT_NE(std::this_thread::get_id(), id) << "prepared on the loading thread";
}

TEST_F(Loads, WaitingForASlotTakesTheLoadsQueuedBeforeIt) {
    Gate first, second, third;
    Queue("A", 1, 7, &first);
    Queue("B", 1, 8, &second);
    Queue("C", 1, 9, &third);
    // Opened from elsewhere while this thread waits for slot 8.
    std::thread opener([&] {
        first.Open();
        second.Open();
    });
    EXPECT_EQ(2, g.CollectLoads(1, 8));
    opener.join();
    EXPECT_EQ((std::vector<std::string>{"A", "B"}), committed);
    // C is still being prepared, and a slot that no due load fills is no
    // reason to wait for it.
    EXPECT_EQ(0, g.CollectLoads(1, 42));
    third.Open();
    g.FinishLoads();
    EXPECT_EQ((std::vector<std::string>{"A", "B", "C"}), committed);
}

TEST_F(Loads, FinishTakesEverythingWhateverItIsDue) {
    Queue("A", 50, 7, nullptr);
    Call("B", 200);
    Queue("C", 100, 9, nullptr);
    g.FinishLoads();
    EXPECT_EQ((std::vector<std::string>{"A", "B", "C"}), committed);
    EXPECT_EQ(0, g.LoadsQueued());
}

TEST_F(Loads, DropForgetsWhatIsNotCommittedAndTheQueueWorksAfterwards) {
    Gate slow;
    Queue("A", 1, 7, &slow);
    Call("B", 1);
    std::thread opener([&] { slow.Open(); });
    g.DropLoads();   // lets the preparation under way finish, commits nothing
    opener.join();
    EXPECT_EQ(0, g.LoadsQueued());
    g.FinishLoads();
    EXPECT_TRUE(committed.empty());
    Queue("C", 1, 7, nullptr);
    g.FinishLoads();
    EXPECT_EQ((std::vector<std::string>{"C"}), committed);
}

// A queued image's texture storage is made before its pixels exist, at the
// edge its header says the load will bring: the same edge as preparing the
// file gives, or none where the load would be refused.
TEST(PlannedPlaneEdge, IsTheEdgeTheLoadBrings) {
    const std::string dir = std::filesystem::temp_directory_path() / ("kelp-planned-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    struct Case {
        const char* what;
        unsigned w, h, size;
    } cases[] = {
        {"a single image smaller than its slot", 100, 80, 128},
        {"a single image", 256, 256, 256},
        {"a sheet under 64 texels a row", 32, 32, 32},
        {"a sheet of three 64-pixel frames a row", 192, 192, 64},
        {"a sheet of two 120-pixel frames a row", 240, 120, 120},
        {"a frame size of 0", 64, 64, 0},
    };
    for (const Case& c : cases) {
        const std::string path = dir + "/image.png";
        ASSERT_EQ(0u, lodepng::encode(path, std::vector<unsigned char>((size_t)c.w * c.h * 4, 200), c.w, c.h));
        PreparedImage img = PrepareImage(path.c_str(), c.size);
        EXPECT_EQ(img.frames < 0 ? 0u : (unsigned)img.edge, PlannedPlaneEdge(path.c_str(), c.size)) << c.what;
    }
    EXPECT_EQ(0u, PlannedPlaneEdge((dir + "/none.png").c_str(), 32)) << "no file";
    std::ofstream(dir + "/text.png") << "not a PNG at all, but long enough to be read as a header";
    EXPECT_EQ(0u, PlannedPlaneEdge((dir + "/text.png").c_str(), 32)) << "not a PNG";
    std::filesystem::remove_all(dir);
}

}  // namespace
