// Shared set-up for the front-end screen tests: a known canvas, no input,
// clear latches, the image slots the screens draw marked as loaded, and a
// private data root for anything that saves.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "game/MyGame.h"
#include "sys/KELPSys.h"

using namespace kelp;

class FrontEnd : public ::testing::Test {
protected:
    MyGame& g = ThisGame;

    void SetUp() override {
        std::memcpy(savedFrames_, imageFrames, sizeof savedFrames_);
        std::memcpy(savedFrameSize_, imageFrameSize, sizeof savedFrameSize_);
        savedViewScale_ = ASys.ViewScale;
        savedRoot_ = g.dataRoot;
        savedRw2_ = ASys.rw2;
        savedRh2_ = ASys.rh2;
        savedFont_ = ASys.curFont;

        // Screens draw the whole time; the slots must not read as missing.
        for (int slot : {0, 50, 51, 52, 53, 54, 60}) imageFrames[slot] = 625;
        imageFrameSize[50] = 64;
        ASys.ViewScale = 1;
        ASys.imageScale = 1;
        ASys.rw2 = 0;
        ASys.rh2 = 0;
        ASys.curFont = 51;
        ASys.drawCount = 0;

        g.screenW = 800;
        g.screenH = 600;
        ReleaseAll();
        std::memset(g.keyLatch, 0, sizeof g.keyLatch);
        std::memset(g.touchLatch, 0, sizeof g.touchLatch);
        g.subScreen = 0;
        g.gameMode = 0;
        g.paused = 0;
        g.endPending = 0;
        g.endReason = 0;
        g.endTimer = 0;
        g.saveData[23] = 0;
        g.saveData[13] = 0;
    }

    void TearDown() override {
        ReleaseAll();
        std::memcpy(imageFrames, savedFrames_, sizeof savedFrames_);
        std::memcpy(imageFrameSize, savedFrameSize_, sizeof savedFrameSize_);
        ASys.ViewScale = savedViewScale_;
        ASys.rw2 = savedRw2_;
        ASys.rh2 = savedRh2_;
        ASys.curFont = savedFont_;
        std::snprintf(g.dataRoot, sizeof g.dataRoot, "%s", savedRoot_.c_str());
        if (!tempRoot_.empty()) {
            std::string cmd = "rm -rf '" + tempRoot_ + "'";
            (void)std::system(cmd.c_str());
        }
        ASys.drawCount = 0;
        g.subScreen = 0;
        g.gameMode = 0;
        g.paused = 0;
        g.endPending = 0;
        g.endTimer = 0;
    }

    // Points the data root at a fresh directory, for screens that save.
    std::string PrivateRoot() {
        char tmpl[] = "/tmp/kelp-frontend-XXXXXX";
        const char* dir = mkdtemp(tmpl);
        EXPECT_NE(nullptr, dir);
        tempRoot_ = dir ? dir : "";
        std::snprintf(g.dataRoot, sizeof g.dataRoot, "%s", tempRoot_.c_str());
        return tempRoot_;
    }

    void ReleaseAll() {
        std::memset(ASys.Keyv, 0, sizeof ASys.Keyv);
        std::memset(ASys.Button, 0, sizeof ASys.Button);
        std::memset(ASys.Touch, 0, sizeof ASys.Touch);
        g.pointerDown = 0;
    }

    // Pointer 1 at (x, y), down or up, as a poll would leave it.
    void Pointer(float x, float y, int down) {
        ASys.Touch[0][1] = x;
        ASys.Touch[0][2] = y;
        ASys.Touch[0][5] = (float)down;
        g.pointerDown = down;
    }

    // One update's worth of a screen; the draw list is emptied as a commit would.
    template <class F>
    void Frame(F&& screen) {
        ASys.drawCount = 0;
        screen();
    }

    template <class F>
    void Frames(int n, F&& screen) {
        for (int i = 0; i < n; i++) Frame(screen);
    }

private:
    int32_t savedFrames_[IMAGE_SLOTS];
    int32_t savedFrameSize_[IMAGE_SLOTS];
    float savedViewScale_ = 0;
    int32_t savedRw2_ = 0, savedRh2_ = 0, savedFont_ = 0;
    std::string savedRoot_;
    std::string tempRoot_;
};
