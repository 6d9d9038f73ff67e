// Small synthesiser for the demo's sounds: band-limited oscillators,
// envelopes, filters and a deterministic noise source. Everything is plain
// arithmetic on floats, so the same build writes the same files every time.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace gen {

const int kRate = 44100;
const double kPi = 3.14159265358979323846;

inline double MidiToHz(double note) { return 440.0 * std::pow(2.0, (note - 69.0) / 12.0); }

// Smooths the step of a naive saw or pulse over one sample on each side, so
// the oscillators do not alias into a harsh buzz.
inline double PolyBlep(double t, double dt) {
    if (t < dt) {
        t /= dt;
        return t + t - t * t - 1.0;
    }
    if (t > 1.0 - dt) {
        t = (t - 1.0) / dt;
        return t * t + t + t + 1.0;
    }
    return 0.0;
}

enum class Wave { Sine, Triangle, Saw, Pulse };

struct Osc {
    double phase = 0;   // 0..1
    double Step(Wave wave, double hz, double duty = 0.5) {
        double dt = hz / kRate;
        double t = phase;
        double out = 0;
        switch (wave) {
        case Wave::Sine: out = std::sin(2 * kPi * t); break;
        case Wave::Triangle: out = t < 0.5 ? 4 * t - 1 : 3 - 4 * t; break;
        case Wave::Saw: out = 2 * t - 1 - PolyBlep(t, dt); break;
        case Wave::Pulse: {
            double t2 = t + (1 - duty);
            if (t2 >= 1) t2 -= 1;
            out = (t < duty ? 1.0 : -1.0) + PolyBlep(t, dt) - PolyBlep(t2, dt);
            out -= 2 * duty - 1;   // no DC offset for narrow pulses
            break;
        }
        }
        phase += dt;
        phase -= std::floor(phase);
        return out;
    }
};

// Attack, decay to sustain while the gate is held, then a linear release
// that lands exactly on zero, so every note starts and ends silent.
struct Adsr {
    double attack, decay, sustain, release;   // seconds, level 0..1
    int Length(int gateSamples) const { return gateSamples + int(release * kRate) + 1; }
    double At(int i, int gateSamples) const {
        double t = double(i) / kRate;
        double gate = double(gateSamples) / kRate;
        auto held = [&](double x) {
            if (x < attack) return x / attack;
            double d = (x - attack) / decay;
            return sustain + (1 - sustain) * std::exp(-3 * d);
        };
        if (t < gate) return held(t);
        double from = held(gate);
        double r = (t - gate) / release;
        return r >= 1 ? 0.0 : from * (1 - r);
    }
};

// Two-pole state-variable filter (trapezoidal form): stable at any cutoff.
struct Svf {
    double ic1 = 0, ic2 = 0;
    double low = 0, band = 0, high = 0;
    void Run(double x, double hz, double q) {
        if (hz > kRate * 0.45) hz = kRate * 0.45;
        double g = std::tan(kPi * hz / kRate);
        double k = 1.0 / q;
        double a1 = 1 / (1 + g * (g + k));
        double a2 = g * a1;
        double a3 = g * a2;
        double v3 = x - ic2;
        double v1 = a1 * ic1 + a2 * v3;
        double v2 = ic2 + a2 * ic1 + a3 * v3;
        ic1 = 2 * v1 - ic1;
        ic2 = 2 * v2 - ic2;
        low = v2;
        band = v1;
        high = x - k * v1 - v2;
    }
};

// xorshift32: the same "random" noise on every run.
struct Noise {
    uint32_t s = 0x9E3779B9u;
    double Next() {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        return double(s) / 2147483648.0 - 1.0;
    }
};

// A stereo buffer that wraps: whatever is written past the end lands at the
// start, which is what makes a looped piece seamless.
struct Loop {
    std::vector<float> left, right;
    explicit Loop(size_t n) : left(n, 0.0f), right(n, 0.0f) {}
    size_t Size() const { return left.size(); }
    void Add(long pos, double v, double pan) {   // pan -1..1, equal power
        size_t n = Size();
        size_t i = size_t(((pos % long(n)) + long(n)) % long(n));
        double a = (pan + 1) * kPi / 4;
        left[i] += float(v * std::cos(a));
        right[i] += float(v * std::sin(a));
    }
};

// 16-bit PCM writer; returns false when the file cannot be written.
bool WriteWav16(const std::string& path, const std::vector<float>& mono);

}  // namespace gen
