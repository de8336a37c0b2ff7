#pragma once
// Spectral sessions on the headless device: a fixture that starts the engine and
// opens sessions through the exports, and helpers for stroke points.
#include "EngineTestSupport.h"
#include "TestAudio.h"

#include "platform/HeadlessConfig.h"
#include "spectral/SpectralSession.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qvtest
{

struct StrokePoint
{
    float p0, p1, p2, p3, p4;
};

class SpectralFixture : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Caches audio through the memory intake (32-bit float WAV bytes).
    static int cache (const juce::AudioBuffer<float>& audio, double rate);

    struct Opened
    {
        int session = 0;
        std::uint32_t live = 0;
        float seconds = 0.0f;
    };
    static Opened open (int cacheId);

    // Applies the points with one tool code for all of them.
    static int stroke (int session, const std::vector<StrokePoint>& points, std::uint32_t tool);

    static quorvalen::SpectralSession& session (int id);
    static juce::AudioBuffer<float>& audio (std::uint32_t cacheId);

    // Device output recorded while `during` runs and for `after` beyond it.
    static quorvalen::platform::CapturedAudio record (std::chrono::milliseconds before,
                                                      const std::function<void()>& during,
                                                      std::chrono::milliseconds after);
};

// Standard output written while the object lives (the spectral log lines).
class StdoutCapture
{
public:
    StdoutCapture();
    ~StdoutCapture();
    std::string finish();

private:
    bool active = true;
};

// A ramp from `low` to `high`, the same on both channels: a sample's value tells
// its position.
juce::AudioBuffer<float> ramp (int samples, float low, float high);

// Playback of a ramp above 0.01 was detached and restarted during `out`: the
// ramp's values before the dip (and the transport's fade out) and after it (and
// the fade in). NaN when there is no dip.
struct RampDip
{
    float before, after;
};
RampDip rampAcrossDip (const std::vector<float>& out);

float maxAbsDifference (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b);

} // namespace qvtest
