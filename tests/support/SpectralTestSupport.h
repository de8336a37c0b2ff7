#pragma once
// Spectral sessions on the headless device: a fixture that starts the engine and
// opens sessions through the exports, and helpers for stroke points.
#include "HeadlessEngineFixture.h"

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

class SpectralFixture : public HeadlessEngineTest
{
protected:
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
    static quorvalen::platform::CapturedAudio
    record (std::chrono::milliseconds before, const std::function<void()>& during, std::chrono::milliseconds after);

    // A session on the position ramp, played by `play (liveId)`; one stroke of `point`
    // with `tool` lands while the device output is recorded.
    struct StrokeWhilePlaying
    {
        int result = 0;
        std::uint32_t live = 0;
        std::string log; // standard error during the stroke (the resume line)
        quorvalen::platform::CapturedAudio out;
    };
    static StrokeWhilePlaying strokeWhilePlaying (const std::function<int (int)>& play, StrokePoint point,
                                                  std::uint32_t tool);
};

// A ramp at 48 kHz from 0.05 to 0.35 over `seconds`, the same on both channels:
// a sample's value tells its position. Long enough by default that a stroke
// slowed down by the sanitizers on a busy machine lands while it still plays.
inline constexpr double positionRampSeconds = 12.0;
juce::AudioBuffer<float> positionRamp (double seconds = positionRampSeconds);
// Playback of a ramp of `rampSeconds` was detached and restarted while `out` was
// recorded: the seconds of ramp skipped between before the dip (and the
// transport's fade out) and after it (and the fade in); the ramp after it was
// scaled by `gainAfter`. Negative when playback went back, NaN when there is no dip.
float rampSecondsSkipped (const std::vector<float>& out, float gainAfter = 1.0f,
                          double rampSeconds = positionRampSeconds);

float maxAbsDifference (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b);

// count copies of point, each a little later than the one before (0.000001 of
// the sound): distinct points, which the cell budgets count one by one, whose
// boxes cover what the point's box covers, give or take a frame.
std::vector<StrokePoint> distinctCopies (int count, StrokePoint point);

// A knife stroke that cuts nearly every cell of a 10 s sound many times over, just
// within the cell budget: more than a second of work.
std::vector<StrokePoint> heavyKnife();

// The longest a call of the playback telemetry took on another thread, which
// calls it every 5 ms while `work` runs.
double longestTelemetryWaitMs (const std::function<void()>& work);

} // namespace qvtest
