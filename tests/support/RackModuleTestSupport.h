#pragma once
// Shared by the rack module tests: a prepared state, records from JSON, renders
// and latency-aligned comparisons.
#include "TestAudio.h"
#include "rack/RackProcessingState.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>

namespace qvrack
{
using namespace quorvalen;

inline std::unique_ptr<RackProcessingState> makeState (std::int64_t playLength = 1 << 22)
{
    auto state = std::make_unique<RackProcessingState> (false);
    prepareRackState (*state, 48000.0, 512);
    state->playLength = state->loopLength = playLength;
    return state;
}

inline std::shared_ptr<const QuorvalenRackSettings> record (const std::string& json)
{
    auto s = parseRackSettings (json.c_str());
    EXPECT_NE (s, nullptr) << json;
    return s;
}

inline void render (RackProcessingState& state, juce::AudioBuffer<float>& b, const std::string& json)
{
    const auto r = record (json);
    for (int start = 0; start < b.getNumSamples(); start += 512)
        processRackBlock (state, b, start, std::min (512, b.getNumSamples() - start), *r);
}

// Sine at `frequency` (48 kHz), or the shared white noise when frequency is 0.
inline juce::AudioBuffer<float> signal (double frequency, int samples, float amplitude, int channels = 2, int seed = 1)
{
    if (frequency <= 0.0)
        return qvtest::noiseBuffer (samples, (std::uint64_t) seed, amplitude, channels);
    juce::AudioBuffer<float> b (channels, samples);
    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < samples; ++i)
            b.setSample (c, i, amplitude * (float) std::sin (2.0 * M_PI * frequency * i / 48000.0 + c));
    return b;
}

// The module's oversampler latency in base-rate samples.
template <typename Module>
int latency (const Module& module)
{
    return (int) std::lround (module.latencyInSamples());
}

// Largest |out[i] - shape(in[i - lag], in[i - lag - echo])| over both channels, once settled.
inline float shapeError (const juce::AudioBuffer<float>& in, const juce::AudioBuffer<float>& out, int lag,
                         const std::function<float (float, float)>& shape, int echo = 0)
{
    float worst = 0.0f;
    for (int c = 0; c < 2; ++c)
        for (int i = lag + echo + 256; i < out.getNumSamples(); ++i)
            worst = std::max (
                worst,
                std::abs (out.getSample (c, i) - shape (in.getSample (c, i - lag), in.getSample (c, i - lag - echo))));
    return worst;
}

inline float rmsOf (const juce::AudioBuffer<float>& b, int from, int count)
{
    double sum = 0.0;
    for (int i = from; i < from + count; ++i)
        sum += (double) b.getSample (0, i) * b.getSample (0, i);
    return (float) std::sqrt (sum / count);
}

inline bool identical (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b)
{
    for (int c = 0; c < a.getNumChannels(); ++c)
        if (std::memcmp (a.getReadPointer (c), b.getReadPointer (c), sizeof (float) * (size_t) a.getNumSamples()) != 0)
            return false;
    return a.getNumChannels() == b.getNumChannels();
}

// The rack generator's state after `draws` draws from a fresh state (its sequence
// itself is pinned by the dsp tests).
inline std::uint32_t seedAfter (long draws)
{
    dsp::NoiseGenerator noise;
    noise.reset (rackNoiseSeedStart);
    while (draws-- > 0)
        noise.next();
    return noise.state();
}

inline float softCeiling (float v)
{
    return std::tanh (v * 1.04f) / std::tanh (1.04f);
}

} // namespace qvrack
