// The particle pool: 256 short-lived sparks and floating score numbers that
// keep moving and fading on every screen.
#include "MyGame.h"

namespace {

const int POOL = 256;
const float START_ALPHA = 1.5f;

// Record fields.
enum { P_KIND, P_X, P_Y, P_DX, P_DY, P_ROT, P_SPIN, P_ALPHA, P_HUE, P_FRAME };
// Kind 3 keeps its bounce line where the others keep their spin.
const int P_BOUNCE_Y = P_SPIN;

enum { KIND_FREE = 0, KIND_STRAIGHT = 1, KIND_FALLING = 2, KIND_BOUNCING = 3, KIND_NUMBER = 99 };

// The lowest free record, or null when the pool is full.
float* FreeRecord(float (*pool)[10]) {
    for (int i = 0; i < POOL; i++)
        if (pool[i][P_KIND] == KIND_FREE) return pool[i];
    return nullptr;
}

}  // namespace

void MyGame::ThrowParticle(float x, float y, float hue, int colourRow, int kind, float direction, float speed) {
    int row = colourRow % 12;
    if (row < 0) row += 12;
    float* p = FreeRecord(particles);
    if (!p) return;
    p[P_KIND] = (float)kind;
    p[P_X] = x;
    p[P_Y] = y;
    p[P_DX] = Sin(direction) * speed;
    p[P_DY] = -speed * Cos(direction);
    p[P_ROT] = Rnd(0, 360);
    if (kind == KIND_BOUNCING)
        p[P_BOUNCE_Y] = y + Rnd(12, 20);
    else
        p[P_SPIN] = Rnd(-2, 2);
    p[P_ALPHA] = START_ALPHA;
    p[P_HUE] = hue;
    p[P_FRAME] = (float)(12 * row + Rand(0, 11));
}

void MyGame::Gimme(int points, float x, float y, float hue) {
    score += points;
    float* p = FreeRecord(particles);
    if (!p) return;
    p[P_KIND] = KIND_NUMBER;
    p[P_X] = x;
    p[P_Y] = y;
    p[P_DX] = p[P_DY] = p[P_ROT] = p[P_SPIN] = 0;
    p[P_ALPHA] = START_ALPHA;
    p[P_HUE] = hue;
    p[P_FRAME] = (float)points;
}

void MyGame::Gimme(int points, float x, float y) { Gimme(points, x, y, 60); }

void MyGame::DoParticles() {
    ResetDraw();
    SetSize(0.5f);
    for (int i = 0; i < POOL; i++) {
        float* p = particles[i];
        if (!(p[P_KIND] > 0)) continue;
        int kind = (int)p[P_KIND];
        p[P_X] += p[P_DX];
        p[P_Y] += p[P_DY];
        if (kind != KIND_BOUNCING) p[P_ROT] = Mod(p[P_ROT] + p[P_SPIN], 360);
        float fade = 0.02f;
        if (kind == KIND_FALLING) p[P_DY] += 0.25f;
        if (kind == KIND_BOUNCING) {
            // It rolls with its horizontal speed and hops off its line.
            p[P_ROT] = Mod(p[P_ROT] + p[P_DX], 360);
            p[P_DY] += 0.25f;
            if (p[P_Y] > p[P_BOUNCE_Y]) p[P_DY] = -Rnd(2, 5);
        }
        InkRot(p[P_HUE]);
        Alpha(p[P_ALPHA]);
        SetRot(p[P_ROT]);
        if (p[P_KIND] < 90) DrawImg(55, p[P_X] - camX, p[P_Y] - camY, (int)p[P_FRAME]);
        if (kind == KIND_NUMBER) {
            p[P_DY] -= 0.05f;
            Text(p[P_X] - camX, p[P_Y] - camY, fstr("%i", (int)p[P_FRAME]), 1);
            fade = 0.05f;
        }
        p[P_ALPHA] -= fade;
        if (p[P_ALPHA] < 0) p[P_KIND] = KIND_FREE;
    }
}
