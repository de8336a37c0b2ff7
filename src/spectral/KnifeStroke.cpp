#include "spectral/KnifeStroke.h"

#include "core/Log.h"
#include "spectral/SpectralSession.h"
#include "spectral/SpectralSessions.h"
#include "spectral/SpectralStft.h"
#include "spectral/SpectralStrokeEdit.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace quorvalen
{
namespace
{
constexpr float peakTarget = 0.97f;
// Radii beyond any session's frame or bin count, kept well inside the integer range.
constexpr double radiusLimit = 1.0e9;

struct KnifePoint
{
    float t, y, timeRadius, frequencyRadius, depth;
    std::int32_t code;
};

struct KnifeBox
{
    std::int64_t centreFrame, centreBin, timeRadius, binRadius;
    std::int64_t t0, t1, b0, b1;
    bool empty() const { return t1 <= t0 || b1 <= b0; }
};

std::vector<KnifePoint> knifePoints (const float* p, const std::uint32_t* tools, std::int32_t count)
{
    std::vector<KnifePoint> out ((std::size_t) count);
    for (std::int32_t i = 0; i < count; ++i, p += 5)
        out[(std::size_t) i] = { std::clamp (p[0], 0.0f, 1.0f),
                                 std::clamp (p[1], 0.0f, 1.0f),
                                 p[2],
                                 p[3],
                                 p[4],
                                 (std::int32_t) std::min<std::uint32_t> (tools[i], 4) };
    return out;
}

std::int64_t radius (double r)
{
    return (std::int64_t) std::clamp (std::trunc (r), 1.0, radiusLimit);
}

// Upper half of the display on a steep curve, lower half on a gentle one; they
// meet at bin 32 for y = 0.5.
std::int64_t centreBin (double y)
{
    if (y <= 0.5)
        return (std::int64_t) std::trunc (stftBinCount * std::pow (1.0 - y, 4.0));
    const double v = std::max (0.0, 1.0 - 2.0 * (y - 0.5));
    return (std::int64_t) std::trunc (stftBinCount * 0.0625 * std::pow (v, 1.2));
}

KnifeBox knifeBox (const KnifePoint& p, std::int64_t frames)
{
    KnifeBox box;
    box.centreFrame = (std::int64_t) std::trunc ((double) frames * p.t);
    box.centreBin = centreBin (p.y);
    // Sizes in double and clamped before conversion: the radii are not bounded.
    const auto tr0 = radius ((double) frames * p.timeRadius);
    const auto fr0 = radius ((double) p.frequencyRadius * stftBinCount * (std::pow (1.0 - p.y, 4.5) * 32.0 + 1.6));
    box.timeRadius = radius ((double) tr0 * 1.1);
    box.binRadius = radius ((double) fr0 * 2.4);
    box.t0 = std::max<std::int64_t> (0, box.centreFrame - box.timeRadius);
    box.t1 = std::min<std::int64_t> (frames, box.centreFrame + box.timeRadius);
    box.b0 = std::max<std::int64_t> (0, box.centreBin - box.binRadius);
    box.b1 = std::min<std::int64_t> (stftBinCount, box.centreBin + box.binRadius);
    return box;
}

// Multiplies the bins inside the box, of every channel with the same gains (each
// channel still takes the points in input order); true when any gain differs from 1.
bool cut (std::vector<std::vector<std::complex<float>>>& channels, const KnifeBox& box, float depth,
          std::vector<float>& dy2)
{
    dy2.resize ((std::size_t) (box.b1 - box.b0));
    for (auto b = box.b0; b < box.b1; ++b)
    {
        const float dy = (float) (b - box.centreBin) / (float) box.binRadius;
        dy2[(std::size_t) (b - box.b0)] = dy * dy;
    }
    bool changed = false;
    for (auto f = box.t0; f < box.t1; ++f)
    {
        const float dx = (float) (f - box.centreFrame) / (float) box.timeRadius;
        for (auto b = box.b0; b < box.b1; ++b)
        {
            const float d = std::sqrt (dx * dx + dy2[(std::size_t) (b - box.b0)]);
            const float w = std::min (1.0f, std::max (0.0f, 1.0f - d));
            if (w <= 0.0f)
                continue; // gain exactly 1
            const float h = 1.0f - 0.5f * depth * std::pow (w, 1.9f);
            const float g = h * h;
            for (auto& bins : channels)
                bins[(std::size_t) (f * stftBinCount + b)] *= g;
            changed = changed || std::abs (g - 1.0f) > 1e-7f;
        }
    }
    return changed;
}

// The largest absolute sample, or infinity when any sample is not finite.
float livePeak (const juce::AudioBuffer<float>& live)
{
    float peak = 0.0f;
    bool finite = true;
    for (int c = 0; c < live.getNumChannels(); ++c)
    {
        const float* x = live.getReadPointer (c);
        for (int i = 0; i < live.getNumSamples(); ++i)
        {
            peak = std::max (peak, std::abs (x[i]));
            finite = finite && std::isfinite (x[i]);
        }
    }
    return finite ? peak : std::numeric_limits<float>::infinity();
}

int knife (QuorvalenEngine& engine, SpectralSession& session, std::uint32_t sessionId, const float* points,
           const std::uint32_t* tools, std::int32_t count)
{
    const auto records = knifePoints (points, tools, count);
    auto* live = sessionLiveBuffer (engine, session);
    if (live == nullptr)
        return (int) StrokeError::strokeFailed;

    SpectralStrokeEdit edit (engine, session, *live);
    if (! edit.takeSnapshot())
    {
        edit.abandon();
        return (int) StrokeError::strokeFailed;
    }

    edit.markStftTouched();
    const auto frames = (std::int64_t) session.stftFrames;
    bool changed = false;
    std::int64_t firstFrame = frames, endFrame = 0;
    std::vector<float> dy2;
    for (const auto& p : records)
    {
        const auto box = knifeBox (p, frames);
        if (! box.empty() && cut (session.stftBins, box, p.depth, dy2))
        {
            changed = true;
            firstFrame = std::min (firstFrame, box.t0);
            endFrame = std::max (endFrame, box.t1);
        }
    }
    if (! changed)
    {
        edit.abandon();
        return (int) session.liveCacheId;
    }

    // Samples outside the edited frames' reach would resynthesise to themselves.
    edit.detachPlayback();
    const auto start = firstFrame * stftHop - stftSize / 2;
    const auto end = (endFrame - 1) * stftHop + stftSize / 2;
    if (resynthesiseSessionStft (session, *live, start, end) != 0)
        return (int) StrokeError::strokeFailed; // rolled back by the edit frame

    // A huge depth can overflow the bins; such audio is refused rather than kept.
    const float peak = livePeak (*live);
    if (! std::isfinite (peak))
        return (int) StrokeError::strokeFailed;
    if (peak > 0.0f)
    {
        const float gain = peakTarget / peak;
        live->applyGain (gain);
        for (auto& bins : session.stftBins)
            for (auto& v : bins)
                v *= gain;
    }
    if (! edit.commit())
        return (int) StrokeError::strokeFailed;

    logOut ("[QUORVALEN WEB STFT DOUBLE KNIFE 1.0.2] session %d stroke applied (%d edits)\n", (int) sessionId,
            (int) count);
    return (int) session.liveCacheId;
}
} // namespace

int applyWebStftDoubleKnife (QuorvalenEngine& engine, SpectralSession& session, std::uint32_t sessionId,
                             const float* points, const std::uint32_t* tools, std::int32_t count)
{
    try
    {
        return knife (engine, session, sessionId, points, tools, count);
    }
    catch (...)
    {
        return (int) StrokeError::strokeFailed;
    }
}

} // namespace quorvalen
