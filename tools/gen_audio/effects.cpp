// The front end's short sounds: mono, 16-bit, 44100 Hz.
#include <algorithm>
#include <cstdio>

#include "effects.h"

namespace gen {

namespace {

std::vector<float> Silence(double seconds) { return std::vector<float>(size_t(seconds * kRate), 0.0f); }

// One plucked chip note: a pulse and a triangle an octave down, through a
// low-pass whose cutoff falls with the envelope.
void ChipNote(std::vector<float>& out, double startSec, double note, double gateSec, double level,
              double duty, Adsr env) {
    Osc a, b;
    Svf lp;
    int start = int(startSec * kRate);
    int gate = int(gateSec * kRate);
    int len = env.Length(gate);
    double hz = MidiToHz(note);
    for (int i = 0; i < len && start + i < int(out.size()); i++) {
        double e = env.At(i, gate);
        double x = 0.6 * a.Step(Wave::Pulse, hz, duty) + 0.5 * b.Step(Wave::Triangle, hz / 2);
        lp.Run(x, 1200 + 5000 * e, 0.8);
        out[size_t(start + i)] += float(level * e * lp.low);
    }
}

// A quiet copy of the sound a little later, as in a small room.
void Echo(std::vector<float>& s, double delaySec, double gain) {
    size_t d = size_t(delaySec * kRate);
    for (size_t i = s.size(); i-- > d;) s[i] += float(gain * s[i - d]);
}

void Normalise(std::vector<float>& s, double peak) {
    float m = 0;
    for (float v : s) m = std::max(m, std::fabs(v));
    if (m > 0)
        for (float& v : s) v = float(v * peak / m);
}

// The last few milliseconds fade to zero: no click when a sound ends.
void FadeTail(std::vector<float>& s, double seconds) {
    size_t n = std::min(s.size(), size_t(seconds * kRate));
    for (size_t i = 0; i < n; i++) s[s.size() - 1 - i] *= float(double(i) / n);
}

}  // namespace

std::vector<float> MenuJingle() {
    // C major arpeggio rising to the octave, over a soft bass note; the top
    // note rings on.
    std::vector<float> s = Silence(1.15);
    const double notes[4] = {72, 76, 79, 84};
    for (int i = 0; i < 4; i++) {
        double gate = i == 3 ? 0.45 : 0.10;
        ChipNote(s, 0.11 * i, notes[i], gate, i == 3 ? 0.9 : 0.7, 0.25, {0.004, 0.12, 0.45, i == 3 ? 0.3 : 0.08});
    }
    ChipNote(s, 0.0, 48, 0.55, 0.5, 0.5, {0.01, 0.3, 0.5, 0.25});
    ChipNote(s, 0.33, 55, 0.4, 0.35, 0.5, {0.01, 0.3, 0.5, 0.25});
    Echo(s, 0.165, 0.25);
    FadeTail(s, 0.05);
    Normalise(s, 0.7);
    return s;
}

std::vector<float> Zap() {
    // A quick upward sweep with a little grit: a pick-up or a shot.
    std::vector<float> s = Silence(0.28);
    Osc o;
    Noise nz;
    Svf lp;
    Adsr env{0.003, 0.06, 0.3, 0.12};
    int gate = int(0.14 * kRate);
    int len = std::min(int(s.size()), env.Length(gate));
    for (int i = 0; i < len; i++) {
        double t = double(i) / kRate;
        double hz = 300 + 1700 * (1 - std::exp(-t * 18));
        double x = o.Step(Wave::Pulse, hz, 0.3) + 0.15 * nz.Next();
        lp.Run(x, 4500, 0.9);
        s[size_t(i)] = float(env.At(i, gate) * lp.low);
    }
    FadeTail(s, 0.01);
    Normalise(s, 0.6);
    return s;
}

std::vector<float> Blip() {
    // Soft and short: it plays on every step through a menu.
    std::vector<float> s = Silence(0.07);
    Osc o, h;
    Adsr env{0.004, 0.02, 0.2, 0.03};
    int gate = int(0.03 * kRate);
    int len = std::min(int(s.size()), env.Length(gate));
    for (int i = 0; i < len; i++) {
        double t = double(i) / kRate;
        double hz = 1250 - 250 * std::min(1.0, t / 0.03);
        double x = o.Step(Wave::Sine, hz) + 0.2 * h.Step(Wave::Triangle, 2 * hz);
        s[size_t(i)] = float(env.At(i, gate) * x);
    }
    FadeTail(s, 0.005);
    Normalise(s, 0.45);
    return s;
}

std::vector<float> Confirm() {
    // Two rising notes a fifth apart.
    std::vector<float> s = Silence(0.3);
    ChipNote(s, 0.0, 84, 0.05, 0.7, 0.25, {0.003, 0.05, 0.5, 0.03});
    ChipNote(s, 0.065, 91, 0.09, 0.8, 0.25, {0.003, 0.08, 0.4, 0.12});
    FadeTail(s, 0.01);
    Normalise(s, 0.6);
    return s;
}

bool WriteWav16(const std::string& path, const std::vector<float>& mono) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    auto u32 = [f](uint32_t v) {
        unsigned char b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
        fwrite(b, 1, 4, f);
    };
    auto u16 = [f](uint32_t v) {
        unsigned char b[2] = {uint8_t(v), uint8_t(v >> 8)};
        fwrite(b, 1, 2, f);
    };
    uint32_t bytes = uint32_t(mono.size() * 2);
    fwrite("RIFF", 1, 4, f);
    u32(36 + bytes);
    fwrite("WAVEfmt ", 1, 8, f);
    u32(16);
    u16(1);          // PCM
    u16(1);          // mono
    u32(kRate);
    u32(kRate * 2);  // byte rate
    u16(2);          // block align
    u16(16);
    fwrite("data", 1, 4, f);
    u32(bytes);
    for (float v : mono) {
        double x = std::max(-1.0, std::min(1.0, double(v)));
        u16(uint16_t(int16_t(std::lround(x * 32767))));
    }
    return fclose(f) == 0;
}

}  // namespace gen
