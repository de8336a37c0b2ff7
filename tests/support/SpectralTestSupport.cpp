#include "SpectralTestSupport.h"

#include "EngineTestSupport.h"

#include "engine/QuorvalenEngine.h"

#include <cmath>
#include <quorvalen_dsp.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

namespace qvtest
{

SpectralFixture::Opened SpectralFixture::open (int cacheId)
{
    Opened o;
    o.session = quorvalen_engine_begin_cqt_spectral_session (cacheId, &o.live, &o.seconds);
    return o;
}

int SpectralFixture::stroke (int sessionId, const std::vector<StrokePoint>& points, std::uint32_t tool)
{
    const std::vector<std::uint32_t> tools (points.size(), tool);
    return quorvalen_engine_apply_cqt_spectral_session_stroke (sessionId, &points.data()->p0, tools.data(),
                                                               (int32_t) points.size());
}

quorvalen::SpectralSession& SpectralFixture::session (int id)
{
    return *quorvalen::engine().spectralSessions.at ((std::uint32_t) id);
}

juce::AudioBuffer<float>& SpectralFixture::audio (std::uint32_t cacheId)
{
    return *quorvalen::engine().cache.entries.at (cacheId).buffer;
}

quorvalen::platform::CapturedAudio SpectralFixture::record (std::chrono::milliseconds before,
                                                            const std::function<void()>& during,
                                                            std::chrono::milliseconds after)
{
    quorvalen::platform::startCapture (48000 * 10);
    std::this_thread::sleep_for (before);
    during();
    std::this_thread::sleep_for (after);
    return quorvalen::platform::stopCapture();
}

SpectralFixture::StrokeWhilePlaying SpectralFixture::strokeWhilePlaying (const std::function<int (int)>& play,
                                                                         StrokePoint point, std::uint32_t tool)
{
    StrokeWhilePlaying done;
    const auto r = open (cache (positionRamp(), 48000.0));
    done.live = r.live;
    if (play ((int) r.live) != 0)
        return done;
    std::this_thread::sleep_for (std::chrono::milliseconds (300));
    StderrCapture err;
    done.out = record (
        std::chrono::milliseconds (200), [&] { done.result = stroke (r.session, { point }, tool); },
        std::chrono::milliseconds (300));
    done.log = err.finish();
    return done;
}

juce::AudioBuffer<float> positionRamp (double seconds)
{
    const int samples = (int) (48000.0 * seconds);
    const float low = 0.05f, high = 0.35f;
    juce::AudioBuffer<float> b (2, samples);
    for (int i = 0; i < samples; ++i)
    {
        const float v = low + (high - low) * (float) i / (float) std::max (1, samples - 1);
        b.setSample (0, i, v);
        b.setSample (1, i, v);
    }
    return b;
}

namespace
{
struct RampDip
{
    float before, after;
};

RampDip rampAcrossDip (const std::vector<float>& out)
{
    // Skip the start: the capture may begin inside an earlier fade.
    const std::size_t from = 2048;
    std::size_t first = out.size(), last = 0;
    for (std::size_t i = from; i < out.size(); ++i)
        if (std::abs (out[i]) < 0.01f)
        {
            first = std::min (first, i);
            last = i;
        }
    const std::size_t fade = 600; // one device block and a little more
    if (first == out.size() || first < from + fade || last + fade >= out.size())
        return { std::nanf (""), std::nanf ("") };
    return { out[first - fade], out[last + fade] };
}

} // namespace

float rampSecondsSkipped (const std::vector<float>& out, float gainAfter, double rampSeconds)
{
    // Read the ramp's own values back through the character stage's soft ceiling.
    const auto dip = rampAcrossDip (out);
    const float slope = (float) (0.3 / rampSeconds);
    return (beforeCharacterCeiling (dip.after) / gainAfter - beforeCharacterCeiling (dip.before)) / slope;
}

float maxAbsDifference (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b)
{
    float worst = 0.0f;
    for (int c = 0; c < std::min (a.getNumChannels(), b.getNumChannels()); ++c)
        for (int i = 0; i < std::min (a.getNumSamples(), b.getNumSamples()); ++i)
            worst = std::max (worst, std::abs (a.getSample (c, i) - b.getSample (c, i)));
    return worst;
}

std::vector<StrokePoint> distinctCopies (int count, StrokePoint point)
{
    std::vector<StrokePoint> points ((std::size_t) count, point);
    for (int i = 0; i < count; ++i)
        points[(std::size_t) i].p0 += 1e-6f * (float) i;
    return points;
}

std::vector<StrokePoint> heavyKnife()
{
    // Each point's box spans a fifth of the frames and every bin (310,000 cells on
    // 10 s); 1700 of them stay under the budget of 2^29.
    return distinctCopies (1700, { 0.5f, 0.5f, 0.1f, 1.0f, 0.2f });
}

double longestTelemetryWaitMs (const std::function<void()>& work)
{
    std::atomic<bool> done { false };
    double longest = 0.0;
    std::thread watcher ([&] {
        while (! done)
        {
            double position = 0.0, length = 0.0;
            std::uint32_t playing = 0;
            const auto t0 = std::chrono::steady_clock::now();
            quorvalen_engine_get_playback_telemetry (&position, &length, &playing);
            const std::chrono::duration<double, std::milli> waited = std::chrono::steady_clock::now() - t0;
            longest = std::max (longest, waited.count());
            std::this_thread::sleep_for (std::chrono::milliseconds (5));
        }
    });
    work();
    done = true;
    watcher.join();
    return longest;
}

} // namespace qvtest
