// The in-game score line, the per-level Top 5 / Last 5 boards and the
// sliding scoreboard panel beside the menu's level list.
#include <cmath>

#include "MyGame.h"

namespace {

// Each level's board: 20 integers, Top 5 first, then Last 5.
const int BOARD_SIZE = 20;
const int TOP = 0;
const int LAST = 5;

}  // namespace

void MyGame::DefaultScoreDisplay(int showLives) {
    float W = screenW;
    ResetDraw();
    SetSize(1);
    SetCol(150, 255, 150, 0.8f);
    if (std::fabs(shownScore - score) < 1) shownScore = score;
    shownScore -= (shownScore - score) / 4;
    Text(W / 2, 20, fstr("%08d", (int)shownScore), 1);

    // A fixed place-and-target line.
    SetSize(0.5f);
    SetCol(150, 150, 255, 0.8f);
    Text(W / 2 + 128, 11, nth(5), 1);
    Text(W / 2 + 128, 25, fstr("%08d", 123), 1);

    if (showLives == 1) {
        SetCol(255, 255, 255, 0.75f);
        float x0 = W / 2 - (lives - 1) * 9;
        for (int i = 0; i < lives; i++) DrawImg(52, x0 + 18 * i, 36, 9);
    }
}

void MyGame::HandleDefaultScoreboards() {
    int level = saveData[SAVE_LEVEL];
    // A board outside scoreData (a level row that no menu produces) is
    // not filed rather than written over unrelated memory.
    if (level < 0 || (level + 1) * BOARD_SIZE > (int)(sizeof scoreData / sizeof scoreData[0])) return;
    int32_t* board = &scoreData[BOARD_SIZE * level];
    float s = score;

    for (int i = 0; i < 5; i++) {
        if (board[TOP + i] < s) {
            for (int j = 4; j > i; j--) board[TOP + j] = board[TOP + j - 1];
            board[TOP + i] = (int32_t)s;
            break;
        }
    }
    for (int j = 4; j > 0; j--) board[LAST + j] = board[LAST + j - 1];
    board[LAST] = (int32_t)s;
}

void MyGame::DisplayScoreboard() {
    float W = screenW, H = screenH;

    boardTimer += 1;
    if (boardTimer < 0 || boardTimer > 300) {
        boardTimer = 0;
        boardPage += 1;
    }
    if (boardTimer <= 29) boardSlide -= 16;
    if (boardTimer > 270) boardSlide += 16;
    if (boardSlide < -180) boardSlide = -180;
    if (boardSlide > 64) boardSlide = 64;

    int x = (int)(W + 90 - 8 + boardSlide);
    if (saveData[SAVE_REDUCE_MOTION] == 1) x = (int)(W - 98);

    ResetDraw();
    SetCol(0, 0, 0, 0.5f);
    Rect(x, H / 2, 180, 360);
    ResetDraw();
    SetCol(255, 255, 255);
    SetSize(1);
    if (boardPage > 2) boardPage = 0;

    int level = saveData[SAVE_LEVEL];
    if (level < 0 || (level + 1) * BOARD_SIZE > (int)(sizeof scoreData / sizeof scoreData[0])) level = 0;
    const int32_t* board = &scoreData[BOARD_SIZE * level];

    static const char* const titles[3] = {"Top 5", "Last 5", "Top Online"};
    int page = boardPage < 0 ? 0 : boardPage;
    Text(x, H / 2 - 170, titles[page], 1);

    float wobbleX = 4 * Sin(0.25f * Mills());
    float wobbleY = -3 * Cos(0.4f * Mills());
    // The numbers are drawn texel for pixel. Rows lie on half pixels, where
    // every pixel centre meets a texel edge, and the last digit, whose cell
    // runs past the canvas edge and is clipped there, rounded the other way
    // and lost a column of its right side: they go on whole pixels.
    auto whole = [](float v) { return floorf(v + 0.5f); };
    for (int i = 0; i < 5; i++) {
        float y = H / 2 - 139.5f + 67 * i;
        if (page == 0) {
            int marked = board[LAST] > 0 && board[TOP + i] == board[LAST];
            float dx = marked ? wobbleX : 0, dy = marked ? wobbleY : 0;
            Text(whole(x + 90 + dx), whole(y + 30 + dy), fstr("%08d", (int)board[TOP + i]), 2);
        } else if (page == 1) {
            Text(whole(x + 90), whole(y + 30), fstr("%08d", (int)board[LAST + i]), 2);
        } else {
            int marked = board[TOP] > 0 && board[TOP + i] == board[TOP];
            float dx = marked ? wobbleX : 0, dy = marked ? wobbleY : 0;
            SetSize(0.75f);
            Text(x - 82 + dx, y + dy, "Name Goes Here", 0);
            Text(x + 90 + dx, y + 30 + dy, fstr("%08d", (int)board[TOP + i]), 2);
        }
    }

    // Paging by the player: a touch or Button 4 slides the panel out and
    // the next page follows.
    if (pointerDown > 0) {
        keyLatch[LATCH_BOARD_PAGE] = 1;
        boardTimer = 270;
    }
    if (ActionUp(KELP_BUTTON4) && pointerDown == 0) keyLatch[LATCH_BOARD_PAGE] = 0;
    if (ActionDown(KELP_BUTTON4) && keyLatch[LATCH_BOARD_PAGE] == 0) {
        keyLatch[LATCH_BOARD_PAGE] = 1;
        boardTimer = 270;
    }
}
