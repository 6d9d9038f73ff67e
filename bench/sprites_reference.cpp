// Reference for the sprite benchmark: the same scene with plain OpenGL and
// nothing of the framework - one texture object uploaded once, client-side
// vertex arrays refilled each frame, one draw call per frame. Same window
// size, clear, blending, projection, swap interval and event pump.
#include <GLFW/glfw3.h>

#include <cstdio>
#include <cstdlib>

#include "bench/sprite_scene.h"

using namespace sprites;

static Sprite S[kMax];
static float Pos[kMax * 12], Tex[kMax * 12];
static unsigned char Col[kMax * 24];

// Six vertices a sprite, as two triangles over its 40-unit cell.
static void Fill(int n) {
    const float half = 20, z = (float)kCell / kEdge;
    for (int i = 0; i < n; i++) {
        const Sprite& s = S[i];
        float x0 = s.x - 400 - half, x1 = s.x - 400 + half;
        float y0 = s.y - 300 - half, y1 = s.y - 300 + half;
        float s0 = z * (s.frame % kPerRow), s1 = s0 + z;
        float t0 = z * (s.frame / kPerRow), t1 = t0 + z;
        float* p = &Pos[i * 12];
        float* t = &Tex[i * 12];
        const float pv[12] = {x0, y1, x1, y1, x1, y0, x0, y1, x1, y0, x0, y0};
        const float tv[12] = {s0, t1, s1, t1, s1, t0, s0, t1, s1, t0, s0, t0};
        for (int k = 0; k < 12; k++) {
            p[k] = pv[k];
            t[k] = tv[k];
        }
    }
}

int main(int argc, char** argv) {
    if (!glfwInit()) return 1;
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 2);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 0);
    GLFWwindow* win = glfwCreateWindow(800, 600, "Sprite reference", nullptr, nullptr);
    if (!win) return 1;
    glfwMakeContextCurrent(win);
    int w, h;
    glfwGetFramebufferSize(win, &w, &h);

    GLuint tex;
    glGenTextures(1, &tex);
    glBindTexture(GL_TEXTURE_2D, tex);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    std::vector<unsigned char> sheet = MakeSheet();
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, kEdge, kEdge, 0, GL_RGBA, GL_UNSIGNED_BYTE, sheet.data());
    for (auto& c : Col) c = 255;
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glVertexPointer(2, GL_FLOAT, 0, Pos);
    glTexCoordPointer(2, GL_FLOAT, 0, Tex);
    glColorPointer(4, GL_UNSIGNED_BYTE, 0, Col);

    int counts[3] = {1000, 10000, 50000};
    int nCounts = 3;
    if (argc > 1) {
        counts[0] = atoi(argv[1]);
        if (counts[0] > kMax) counts[0] = kMax;
        if (counts[0] < 1) counts[0] = 1;
        nCounts = 1;
    }
    printf("Sprites with plain OpenGL (one texture, one vertex array, one draw call), window %dx%d\n", w, h);
    printf("| %8s | %6s | %10s | %10s | %10s |\n", "sprites", "frames", "update ms", "render ms", "frame ms");
    float aspect = (float)w / h;
    for (int c = 0; c < nCounts; c++) {
        int n = counts[c], frames = FramesFor(n);
        Place(S, n);
        double update = 0, render = 0;
        for (int f = -3; f < frames; f++) {
            double t0 = Now();
            Move(S, n);
            Fill(n);
            double t1 = Now();
            glViewport(0, 0, w, h);
            glClearColor(0, 0, 40 / 255.0f, 1);
            glClear(GL_COLOR_BUFFER_BIT);
            glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
            glEnable(GL_BLEND);
            glEnable(GL_TEXTURE_2D);
            glPushMatrix();
            glScalef(2.0f / 800, -2 * aspect / 800, 1);
            glDrawArrays(GL_TRIANGLES, 0, n * 6);
            glPopMatrix();
            glfwSwapInterval(1);
            glfwSwapBuffers(win);
            glfwPollEvents();
            double t2 = Now();
            if (f >= 0) {
                update += t1 - t0;
                render += t2 - t1;
            }
        }
        double u = update * 1000 / frames, r = render * 1000 / frames;
        printf("| %8d | %6d | %10.3f | %10.3f | %10.3f |\n", n, frames, u, r, u + r);
        printf("RESULT reference %d %.4f\n", n, u + r);
    }
    glDeleteTextures(1, &tex);
    glfwDestroyWindow(win);
    glfwTerminate();
    return 0;
}
