#pragma once
// The pitch track a constant-Q morph follows: a decimated autocorrelation tracker
// with octave-steadied, smoothed estimates and a confidence per frame.
#include <cstdint>
#include <vector>

namespace quorvalen::spectral
{

struct PitchFrame
{
    std::int64_t time = 0; // samples
    float f0 = 0.0f;       // Hz, 0 when none
    float confidence = 0.0f;
};

using PitchTrack = std::vector<PitchFrame>;

// Frames every 12 ms over x (n samples at sampleRate), searching 35..1200 Hz.
PitchTrack trackMorphPitch (const float* x, std::int64_t n, double sampleRate);

// The track at time t: the end frames beyond its ends, log-frequency interpolation
// between two confident frames, else no pitch.
PitchFrame samplePitchTrack (const PitchTrack& track, std::int64_t t);

} // namespace quorvalen::spectral
