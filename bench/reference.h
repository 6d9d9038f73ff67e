// The two frames the benchmarks set the demo's frames beside, drawn on the
// demo's own window: the empty frame (clear and swap) and the menu frame in
// plain OpenGL (the menu's own pictures as three texture objects made once,
// one vertex array, one draw call per layer).
#pragma once

#include <GLFW/glfw3.h>

#include <cstring>
#include <vector>

#include "sys/KELPSys.h"

using namespace kelp;

// The framebuffer's size as the framework's render reads it: from the
// window's resize events, asking the display server only before the first.
inline void FramebufferSize(int& w, int& h) {
    w = FramebufferSeenW;
    h = FramebufferSeenH;
    if (w < 0) glfwGetFramebufferSize(ASys.window, &w, &h);
}

// Clear and swap, as the framework's render does them, and nothing else.
inline void EmptyFrame() {
    int w, h;
    FramebufferSize(w, h);
    glViewport(0, 0, w, h);
    glClearColor(0, 0, 140 / 255.0f, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glfwSwapInterval(1);
    glfwSwapBuffers(ASys.window);
    glfwPollEvents();
}

// The menu frame in plain OpenGL: three texture objects uploaded once, one
// vertex array, one draw call per layer.
struct Reference {
    GLuint tex[3] = {0, 0, 0};
    enum { kGlyphs = 150, kVerts = 6 * (2 + kGlyphs) };
    float pos[kVerts * 2], uv[kVerts * 2];
    unsigned char col[kVerts * 4];

    static void Quad(float* p, float* t, float x0, float y0, float x1, float y1, float s0, float t0, float s1,
                     float t1) {
        const float pv[12] = {x0, y1, x1, y1, x1, y0, x0, y1, x1, y0, x0, y0};
        const float tv[12] = {s0, t1, s1, t1, s1, t0, s0, t1, s1, t0, s0, t0};
        memcpy(p, pv, sizeof pv);
        memcpy(t, tv, sizeof tv);
    }

    static GLuint Texture(const std::vector<unsigned char>& plane, int edge) {
        std::vector<unsigned char> fill;
        const unsigned char* px = plane.data();
        if (plane.size() < (size_t)edge * edge * 4) {   // the asset is missing: any pixels will do
            fill.assign((size_t)edge * edge * 4, 200);
            px = fill.data();
        }
        GLuint t;
        glGenTextures(1, &t);
        glBindTexture(GL_TEXTURE_2D, t);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, edge, edge, 0, GL_RGBA, GL_UNSIGNED_BYTE, px);
        glBindTexture(GL_TEXTURE_2D, 0);
        return t;
    }

    // The menu's own pictures: the background sheet, the title art, the font.
    void Make() {
        tex[0] = Texture(Image[53], 1024);
        tex[1] = Texture(Image[54], 1024);
        tex[2] = Texture(Image[51], 512);
        Quad(pos, uv, -400, -300, 400, 300, 0, 0, 0.5f, 0.5f);
        Quad(pos + 12, uv + 12, -400, -300, 400, 300, 0, 0, 1, 1);
        const float z = 40.0f / 512;
        for (int i = 0; i < kGlyphs; i++) {
            float x = -380 + 16.0f * (i % 46), y = -250 + 40.0f * (i / 46);
            int f = 33 + i % 60;
            float s0 = z * (f % 12), t0 = z * (f / 12);
            Quad(pos + 12 * (2 + i), uv + 12 * (2 + i), x - 20, y - 20, x + 20, y + 20, s0, t0, s0 + z, t0 + z);
        }
        memset(col, 255, sizeof col);
    }

    void Frame() {
        int w, h;
        FramebufferSize(w, h);
        glViewport(0, 0, w, h);
        glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
        glClearColor(0, 0, 140 / 255.0f, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        glEnable(GL_BLEND);
        glEnable(GL_TEXTURE_2D);
        glPushMatrix();
        glScalef(2.0f / 800, -2.0f * w / h / 800, 1);
        glEnableClientState(GL_VERTEX_ARRAY);
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
        glEnableClientState(GL_COLOR_ARRAY);
        glVertexPointer(2, GL_FLOAT, 0, pos);
        glTexCoordPointer(2, GL_FLOAT, 0, uv);
        glColorPointer(4, GL_UNSIGNED_BYTE, 0, col);
        glBindTexture(GL_TEXTURE_2D, tex[0]);
        glDrawArrays(GL_TRIANGLES, 0, 6);
        glBindTexture(GL_TEXTURE_2D, tex[1]);
        glDrawArrays(GL_TRIANGLES, 6, 6);
        glBindTexture(GL_TEXTURE_2D, tex[2]);
        glDrawArrays(GL_TRIANGLES, 12, 6 * kGlyphs);
        glDisableClientState(GL_VERTEX_ARRAY);
        glDisableClientState(GL_TEXTURE_COORD_ARRAY);
        glDisableClientState(GL_COLOR_ARRAY);
        // Leaves no texture of its own bound for the framework's next render.
        glBindTexture(GL_TEXTURE_2D, 0);
        glPopMatrix();
        glfwSwapInterval(1);
        glfwSwapBuffers(ASys.window);
        glfwPollEvents();
    }
};


inline Reference Ref;
