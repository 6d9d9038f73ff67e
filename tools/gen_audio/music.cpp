// "Internet", the demo's music: 24 bars of A minor at 140 beats a minute,
// three eight-bar sections over Am F C G Am F G E; and the game template's
// short loop, four bars of the same band. Every voice is written into a
// wrapping buffer, so tails that run past the last bar sound at the start
// and the loop has no seam.
#include <cstdlib>
#include <sstream>

#include "effects.h"

namespace gen {

namespace {

const int kStep = kRate * 60 / 140 / 4;   // a sixteenth: 4725 samples, exactly
const int kBar = kStep * 16;
const int kBars = 24;

int Midi(const std::string& name) {
    static const int semis[7] = {9, 11, 0, 2, 4, 5, 7};   // A B C D E F G
    int n = semis[name[0] - 'A'];
    size_t i = 1;
    if (name[i] == '#') {
        n++;
        i++;
    }
    return 12 * (atoi(name.c_str() + i) + 1) + n;
}

struct Chord {
    int bass;       // root for the bass line
    int pad[3];     // close voicing around middle C
};

const Chord kProgression[8] = {
    {45, {57, 60, 64}},   // Am
    {41, {57, 60, 65}},   // F
    {48, {55, 60, 64}},   // C
    {43, {55, 59, 62}},   // G
    {45, {57, 60, 64}},   // Am
    {41, {57, 60, 65}},   // F
    {43, {55, 59, 62}},   // G
    {40, {56, 59, 64}},   // E, leading back to Am
};

// Melody bars as "note:step:length" in sixteenths.
const char* const kTheme[8] = {
    "A4:0:3 C5:3:3 E5:6:2 A5:8:4 G5:12:2 E5:14:2",
    "F5:0:6 E5:6:2 C5:8:4 A4:12:4",
    "G4:0:3 C5:3:3 E5:6:2 G5:8:6 E5:14:2",
    "D5:0:6 B4:6:2 G4:8:4 B4:12:2 D5:14:2",
    "E5:0:3 A5:3:3 C6:6:2 B5:8:4 A5:12:2 G5:14:2",
    "A5:0:6 F5:6:2 C5:8:4 F5:12:4",
    "G5:0:4 F5:4:2 E5:6:2 D5:8:4 B4:12:4",
    "E5:0:4 G#4:4:2 B4:6:2 E5:8:6",
};
const char* const kBridge[8] = {
    "C6:0:6 B5:6:2 A5:8:6 E5:14:2",
    "F5:0:4 A5:4:4 C6:8:4 A5:12:4",
    "G5:0:6 E5:6:2 G5:8:4 C6:12:4",
    "B5:0:8 A5:8:2 G5:10:2 D5:12:4",
    "E5:0:2 A5:2:2 C6:4:4 E6:8:6 D6:14:2",
    "C6:0:4 A5:4:4 F5:8:4 A5:12:4",
    "B5:0:4 D6:4:4 G5:8:4 B5:12:4",
    "G#5:0:8 B5:8:4 E5:12:2",
};

// Drum rows: one character per sixteenth. x hit, o open hi-hat.
struct Groove {
    const char* kick;
    const char* snare;
    const char* hat;
};
const Groove kGrooves[3] = {
    {"x.......x.x.....", "....x.......x...", "x.x.x.x.x.x.x.x."},
    {"x.....x.x.....x.", "....x.......x...", "xxxxxxxxxxxxxxxx"},
    {"x.....x.x.....x.", "....x.......x...", "xxxxxxxxxxxxxxo."},
};
const Groove kFill = {"x.....x.x.......", "....x.......xxxx", "x.x.x.x.x.x....."};

Noise noise;

// Lead: a square with delayed vibrato through an enveloped low-pass.
void Lead(Loop& out, long start, int gate, int note, double level, double pan) {
    Adsr env{0.006, 0.18, 0.65, 0.09};
    Osc o;
    Svf lp;
    double hz = MidiToHz(note);
    int len = env.Length(gate);
    for (int i = 0; i < len; i++) {
        double t = double(i) / kRate;
        double vib = t > 0.15 ? 0.004 * std::sin(2 * kPi * 5.5 * t) * std::min(1.0, (t - 0.15) * 4) : 0;
        double e = env.At(i, gate);
        lp.Run(o.Step(Wave::Pulse, hz * (1 + vib), 0.5), 1800 + 2600 * e, 0.9);
        out.Add(start + i, level * e * lp.low, pan);
    }
}

// Bass: a narrow pulse over a triangle, plucked by the filter.
void Bass(Loop& out, long start, int gate, int note, double level) {
    Adsr env{0.003, 0.09, 0.55, 0.03};
    Osc a, b;
    Svf lp;
    double hz = MidiToHz(note);
    int len = env.Length(gate);
    for (int i = 0; i < len; i++) {
        double e = env.At(i, gate);
        double x = 0.55 * a.Step(Wave::Pulse, hz, 0.25) + 0.7 * b.Step(Wave::Triangle, hz);
        lp.Run(x, 250 + 1500 * e * e, 1.1);
        out.Add(start + i, level * e * lp.low, 0);
    }
}

// Pad: two detuned saws per chord note, slow to swell, darkly filtered.
void Pad(Loop& out, long start, int gate, int note, double level, double pan) {
    Adsr env{0.28, 0.6, 0.75, 0.4};
    Osc a, b;
    a.phase = 0.31;
    Svf lp;
    double hz = MidiToHz(note);
    int len = env.Length(gate);
    for (int i = 0; i < len; i++) {
        double x = a.Step(Wave::Saw, hz * 1.0035) + b.Step(Wave::Saw, hz * 0.9965);
        lp.Run(x, 1100, 0.7);
        out.Add(start + i, level * env.At(i, gate) * lp.low, pan);
    }
}

// Arpeggio: a thin pulse, short and bright.
void Arp(Loop& out, long start, int note, double level, double pan) {
    Adsr env{0.002, 0.05, 0.15, 0.04};
    int gate = kStep * 6 / 10;
    Osc o;
    Svf lp;
    double hz = MidiToHz(note);
    int len = env.Length(gate);
    for (int i = 0; i < len; i++) {
        lp.Run(o.Step(Wave::Pulse, hz, 0.125), 5000, 0.7);
        out.Add(start + i, level * env.At(i, gate) * lp.low, pan);
    }
}

// The drums end on an exact zero: the envelopes are tapered to their length.
double Taper(int i, int len) { return 1.0 - double(i) / len; }

void Kick(Loop& out, long start, double level) {
    int len = int(0.32 * kRate);
    Osc o;
    for (int i = 0; i < len; i++) {
        double t = double(i) / kRate;
        double hz = 45 + 125 * std::exp(-t / 0.028);
        double x = o.Step(Wave::Sine, hz) * std::exp(-t / 0.13) + 0.25 * noise.Next() * std::exp(-t / 0.002);
        out.Add(start + i, level * x * Taper(i, len), 0);
    }
}

void Snare(Loop& out, long start, double level) {
    int len = int(0.2 * kRate);
    Osc o;
    Svf bp;
    for (int i = 0; i < len; i++) {
        double t = double(i) / kRate;
        bp.Run(noise.Next(), 1900, 0.9);
        double x = 1.3 * bp.band * std::exp(-t / 0.05) + 0.45 * o.Step(Wave::Sine, 185) * std::exp(-t / 0.03);
        out.Add(start + i, level * x * Taper(i, len), 0.05);
    }
}

void Hat(Loop& out, long start, double level, bool open) {
    int len = int((open ? 0.22 : 0.06) * kRate);
    double decay = open ? 0.06 : 0.012;
    Svf hp;
    for (int i = 0; i < len; i++) {
        double t = double(i) / kRate;
        hp.Run(noise.Next(), 7500, 0.8);
        out.Add(start + i, level * hp.high * std::exp(-t / decay) * Taper(i, len), -0.25);
    }
}

// Echo of the lead: the delayed copies wrap too, two taps, spread wide.
void Echo(const Loop& dry, Loop& out, long delay) {
    long n = long(dry.Size());
    for (long i = 0; i < n; i++) {
        long a = (i - delay + n) % n, b = (i - 2 * delay + 2 * n) % n;
        double l = 0.28 * dry.right[size_t(a)] + 0.12 * dry.left[size_t(b)];
        double r = 0.28 * dry.left[size_t(a)] + 0.12 * dry.right[size_t(b)];
        out.left[size_t(i)] += float(dry.left[size_t(i)] + l);
        out.right[size_t(i)] += float(dry.right[size_t(i)] + r);
    }
}

// Peak-normalised to 0.85, as a track to write.
Track Normalised(const Loop& mix) {
    double peak = 0;
    for (size_t i = 0; i < mix.Size(); i++) peak = std::max(peak, double(std::max(std::fabs(mix.left[i]), std::fabs(mix.right[i]))));
    double scale = peak > 0 ? 0.85 / peak : 1;
    Track track;
    track.left.resize(mix.Size());
    track.right.resize(mix.Size());
    for (size_t i = 0; i < mix.Size(); i++) {
        track.left[i] = float(mix.left[i] * scale);
        track.right[i] = float(mix.right[i] * scale);
    }
    return track;
}

// The theme's melody notes of one bar, into `lead` from `at`.
void Melody(Loop& lead, long at, const char* bar, double level) {
    std::istringstream melody(bar);
    std::string token;
    while (melody >> token) {
        size_t c1 = token.find(':'), c2 = token.rfind(':');
        int note = Midi(token.substr(0, c1));
        int step = atoi(token.c_str() + c1 + 1);
        int length = atoi(token.c_str() + c2 + 1);
        int gate = length * kStep - (length <= 2 ? kStep / 3 : kStep / 6);
        Lead(lead, at + long(step) * kStep, gate, note, level, 0.12);
    }
}

}  // namespace

Track Music() {
    Loop mix(size_t(kBar) * kBars);
    Loop lead(mix.Size());

    for (int bar = 0; bar < kBars; bar++) {
        int section = bar / 8;
        const Chord& chord = kProgression[bar % 8];
        long at = long(bar) * kBar;

        // Melody: the theme, the bridge, then the theme over the arpeggio.
        Melody(lead, at, section == 1 ? kBridge[bar % 8] : kTheme[bar % 8], section == 2 ? 0.2 : 0.22);

        // Octave bass in eighths, the last one up a fifth on a chord change.
        for (int e = 0; e < 8; e++) {
            int note = chord.bass + (e % 2 ? 12 : 0);
            if (e == 7 && bar % 2 == 1) note = chord.bass + 7;
            Bass(mix, at + long(e) * 2 * kStep, kStep * 3 / 2, note, 0.3);
        }

        for (int v = 0; v < 3; v++) Pad(mix, at, kBar - kStep, chord.pad[v], 0.045, -0.3 + 0.3 * v);

        if (section > 0) {
            static const int shape[8] = {0, 1, 2, 3, 4, 5, 4, 3};
            for (int s = 0; s < 16; s++) {
                int k = shape[s % 8];
                int note = chord.pad[k % 3] + 12 * (k / 3) + 12;
                Arp(mix, at + long(s) * kStep, note, section == 1 ? 0.05 : 0.075, s % 2 ? 0.4 : -0.4);
            }
        }

        const Groove& g = bar % 8 == 7 ? kFill : kGrooves[section];
        for (int s = 0; s < 16; s++) {
            long t = at + long(s) * kStep;
            if (g.kick[s] == 'x') Kick(mix, t, 0.55);
            if (g.snare[s] == 'x') Snare(mix, t, bar % 8 == 7 && s > 12 ? 0.16 + 0.03 * (s - 12) : 0.24);
            if (g.hat[s] != '.') Hat(mix, t, s % 2 ? 0.05 : 0.08, g.hat[s] == 'o');
        }
    }
    Echo(lead, mix, 3 * kStep);
    return Normalised(mix);
}

Track TemplateMusic() {
    const int bars = 4;
    Loop mix(size_t(kBar) * bars);
    Loop lead(mix.Size());
    for (int bar = 0; bar < bars; bar++) {
        const Chord& chord = kProgression[bar];
        long at = long(bar) * kBar;
        Melody(lead, at, kTheme[bar], 0.2);
        for (int e = 0; e < 8; e++) Bass(mix, at + long(e) * 2 * kStep, kStep * 3 / 2, chord.bass + (e % 2 ? 12 : 0), 0.3);
        for (int v = 0; v < 3; v++) Pad(mix, at, kBar - kStep, chord.pad[v], 0.045, -0.3 + 0.3 * v);
        const Groove& g = kGrooves[0];
        for (int s = 0; s < 16; s++) {
            long t = at + long(s) * kStep;
            if (g.kick[s] == 'x') Kick(mix, t, 0.55);
            if (g.snare[s] == 'x') Snare(mix, t, 0.24);
            if (g.hat[s] != '.') Hat(mix, t, s % 2 ? 0.05 : 0.08, false);
        }
    }
    Echo(lead, mix, 3 * kStep);
    return Normalised(mix);
}

}  // namespace gen
