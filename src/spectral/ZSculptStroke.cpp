#include "spectral/ZSculptStroke.h"

#include "core/Log.h"
#include "dsp/RadixTwoFft.h"
#include "dsp/cqt/cqt.h"
#include "spectral/SpectralSession.h"
#include "spectral/SpectralSessions.h"
#include "spectral/SpectralStft.h"
#include "spectral/SpectralStrokeEdit.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <optional>

namespace quorvalen
{
namespace
{
constexpr int fftSize = 4096;
constexpr int hop = 256;
constexpr int centreOffset = fftSize / 2;
constexpr int binCount = fftSize / 2 + 1;
constexpr int bucketCount = 256;
// Frames whose spans overlap: |f - g| * hop < fftSize.
constexpr int overlappingFrames = fftSize / hop - 1;

float clampTo (float v, float low, float high)
{
    return v < low ? low : std::min (v, high);
}

int bucketOf (float t)
{
    return std::clamp ((int) std::floor (t * (float) bucketCount), 0, bucketCount - 1);
}

using TimeIndex = std::vector<std::vector<std::int32_t>>;

TimeIndex timeIndex (const std::vector<ZSculptBox>& boxes)
{
    TimeIndex index (bucketCount);
    for (std::size_t i = 0; i < boxes.size(); ++i)
    {
        const auto& b = boxes[i];
        const int b0 = bucketOf (b.centreTime - b.halfWidth);
        const int b1 = std::max (
            b0, std::min ((int) std::floor ((b.centreTime + b.halfWidth) * (float) bucketCount), bucketCount - 1));
        for (int k = b0; k <= b1; ++k)
            index[(std::size_t) k].push_back ((std::int32_t) i);
    }
    return index;
}

// The log-frequency axis: y = 0 at the highest band's centre, 1 at the lowest
// bandpass band's, read from the shared constant-Q band plan.
struct FrequencyAxis
{
    double fHigh = 0.0, fLow = 0.0, lnHigh = 0.0, span = 0.0;
};

std::optional<FrequencyAxis> frequencyAxis (double sampleRate)
{
    cqt::CqtParams params;
    params.scale = { 48, 20.0 / sampleRate, 440.0 / sampleRate };
    params.overlap = 0.7;
    params.maxError = 1e-5;
    params.resynthesis = false; // only the band centres are read
    try
    {
        const cqt::Analyzer analyzer (params);
        const int bands = analyzer.bandCount();
        // No band at all (an absurd rate): there is no axis to draw on.
        if (bands < 1)
            return std::nullopt;
        FrequencyAxis axis;
        axis.fHigh = std::max (analyzer.bandCentre (0) * sampleRate, 1.0);
        axis.fLow = std::max (analyzer.bandCentre (bands - 1) * sampleRate, 1.0);
        axis.lnHigh = std::log (axis.fHigh);
        axis.span = std::log (axis.fLow) - axis.lnHigh;
        if (std::abs (axis.span) < 1e-12)
            return std::nullopt;
        return axis;
    }
    catch (const cqt::Error&)
    {
        return std::nullopt;
    }
}

// Per-stroke working state, allocated before the first write.
struct Frames
{
    std::vector<float> window;
    std::vector<std::complex<float>> frame;
    std::vector<float> out[2], wsum;
    std::vector<float> gains; // per bin, 1 for bins outside every box
    std::vector<char> carved; // per frame: its bucket holds boxes
    std::vector<char> needed; // per frame: it overlaps a carved frame
};

// y of every bin on the axis, or -1 for bins below its lowest or above its highest
// frequency (those are never carved).
std::vector<float> binPositions (const FrequencyAxis& axis, double sampleRate)
{
    std::vector<float> y (binCount, -1.0f);
    for (int k = 0; k < binCount; ++k)
    {
        const double freq = k * sampleRate * 0.000244140625;
        if (freq >= axis.fLow && freq <= axis.fHigh)
            y[(std::size_t) k] =
                clampTo ((float) ((std::log (std::max (freq, 1.0)) - axis.lnHigh) / axis.span), 0.0f, 1.0f);
    }
    return y;
}

// Gains of the bins of one frame at time t; false when every gain is 1.
bool frameGains (const std::vector<ZSculptBox>& boxes, const std::vector<std::int32_t>& bucket, float t,
                 const std::vector<float>& binY, std::vector<float>& gains)
{
    bool any = false;
    for (int k = 0; k < binCount; ++k)
    {
        float g = 1.0f;
        if (const float y = binY[(std::size_t) k]; y >= 0.0f)
            for (const auto i : bucket)
            {
                const auto& b = boxes[(std::size_t) i];
                const float dx = (t - b.centreTime) / b.halfWidth;
                const float dy = (y - b.centreY) / b.halfHeight;
                const float d2 = dy * dy + dx * dx;
                if (d2 >= 1.0f)
                    continue;
                g = std::min (g, zSculptBoxGain (std::sqrt (d2)));
                if (g <= 0.0f)
                    break;
            }
        gains[(std::size_t) k] = g;
        any = any || g < 0.999999f;
    }
    return any;
}

// Carves up to two channels at once: channel 0 rides in the real part of each
// frame and channel 1 in the imaginary part. The gains are real and the same for
// bins k and size - k, so one transform pair carves both exactly as two would.
void carveChannels (Frames& s, const float* const dry[2], float* const live[2], int channels, std::int64_t numSamples,
                    std::int64_t frameCount, const std::vector<ZSculptBox>& boxes, const TimeIndex& index,
                    const std::vector<float>& binY)
{
    for (int c = 0; c < channels; ++c)
        std::fill (s.out[c].begin(), s.out[c].end(), 0.0f);
    std::fill (s.wsum.begin(), s.wsum.end(), 0.0f);
    const float* w = s.window.data();
    const float* dry1 = channels > 1 ? dry[1] : nullptr;
    for (std::int64_t f = 0; f < frameCount; ++f)
    {
        if (! s.needed[(std::size_t) f])
            continue;
        const auto origin = f * hop - centreOffset;
        const auto from = std::max<std::int64_t> (0, origin),
                   to = std::min<std::int64_t> (numSamples, origin + fftSize);
        for (auto n = from; n < to; ++n)
            s.wsum[(std::size_t) n] += w[n - origin] * w[n - origin];
        const float t = numSamples < 2 ? 0.0f : clampTo ((float) (f * hop) / (float) (numSamples - 1), 0.0f, 1.0f);
        const auto& bucket = index[(std::size_t) bucketOf (t)];
        if (! (s.carved[(std::size_t) f] && frameGains (boxes, bucket, t, binY, s.gains)))
        {
            // An untouched frame resynthesises to its own windowed input.
            for (int c = 0; c < channels; ++c)
                for (auto n = from; n < to; ++n)
                    s.out[c][(std::size_t) n] += w[n - origin] * w[n - origin] * dry[c][n];
            continue;
        }
        for (int i = 0; i < fftSize; ++i)
        {
            const auto n = origin + i;
            const bool inside = n >= 0 && n < numSamples;
            s.frame[(std::size_t) i] = { inside ? dry[0][n] * w[i] : 0.0f,
                                         inside && dry1 != nullptr ? dry1[n] * w[i] : 0.0f };
        }
        dsp::fftComplexInPlace (s.frame, false);
        s.frame[0] *= s.gains[0];
        s.frame[fftSize / 2] *= s.gains[fftSize / 2];
        for (int k = 1; k < fftSize / 2; ++k)
            if (const float g = s.gains[(std::size_t) k]; g < 0.999999f)
            {
                s.frame[(std::size_t) k] *= g;
                s.frame[(std::size_t) (fftSize - k)] *= g;
            }
        dsp::fftComplexInPlace (s.frame, true);
        for (auto n = from; n < to; ++n)
        {
            const auto j = (std::size_t) (n - origin);
            s.out[0][(std::size_t) n] += w[j] * s.frame[j].real();
            if (channels > 1)
                s.out[1][(std::size_t) n] += w[j] * s.frame[j].imag();
        }
    }
    // Only samples within reach of a carved frame are rewritten; the rest would
    // resynthesise to themselves.
    std::int64_t written = 0;
    for (std::int64_t f = 0; f < frameCount; ++f)
    {
        if (! s.carved[(std::size_t) f])
            continue;
        const auto from = std::max<std::int64_t> (written, f * hop - centreOffset);
        const auto to = std::min<std::int64_t> (numSamples, f * hop + centreOffset);
        for (int c = 0; c < channels; ++c)
            for (auto n = from; n < to; ++n)
                if (s.wsum[(std::size_t) n] > 1e-8f)
                    live[c][n] = s.out[c][(std::size_t) n] / s.wsum[(std::size_t) n];
        written = std::max (written, to);
    }
}

// Which frames have boxes in their bucket, and which overlap one of those.
std::pair<std::int64_t, std::int64_t> markFrames (Frames& s, std::int64_t numSamples, std::int64_t frameCount,
                                                  const TimeIndex& index)
{
    s.carved.assign ((std::size_t) frameCount, 0);
    s.needed.assign ((std::size_t) frameCount, 0);
    std::int64_t first = frameCount, last = -1;
    for (std::int64_t f = 0; f < frameCount; ++f)
    {
        const float t = numSamples < 2 ? 0.0f : clampTo ((float) (f * hop) / (float) (numSamples - 1), 0.0f, 1.0f);
        if (index[(std::size_t) bucketOf (t)].empty())
            continue;
        s.carved[(std::size_t) f] = 1;
        first = std::min (first, f);
        last = f;
        for (auto g = std::max<std::int64_t> (0, f - overlappingFrames);
             g <= std::min (frameCount - 1, f + overlappingFrames); ++g)
            s.needed[(std::size_t) g] = 1;
    }
    return { first, last };
}

int zSculpt (QuorvalenEngine& engine, SpectralSession& session, std::uint32_t sessionId, const float* points,
             std::int32_t count)
{
    auto* live = sessionLiveBuffer (engine, session);
    if (live == nullptr || points == nullptr || count < 1 || ! (session.sampleRate > 0.0))
        return (int) StrokeError::liveGone;

    auto boxes = zSculptBoxes (points, count);
    const auto index = timeIndex (boxes);
    const auto axis = frequencyAxis (session.sampleRate);
    if (! axis)
        return (int) StrokeError::strokeFailed;

    const auto numSamples = (std::int64_t) session.numSamples;
    const auto frameCount = std::max<std::int64_t> (1, numSamples / hop + 1);
    Frames s;
    s.window.resize (fftSize);
    for (int i = 0; i < fftSize; ++i)
        s.window[(std::size_t) i] = 0.5f - 0.5f * std::cos ((float) i * 6.2831855f * 0.00024414062f);
    s.frame.resize (fftSize);
    for (auto& o : s.out)
        o.resize ((std::size_t) numSamples);
    s.wsum.resize ((std::size_t) numSamples);
    s.gains.assign (binCount, 1.0f);
    const auto [firstCarved, lastCarved] = markFrames (s, numSamples, frameCount, index);
    const auto binY = binPositions (*axis, session.sampleRate);

    SpectralStrokeEdit edit (engine, session, *live);
    if (! edit.takeSnapshot())
    {
        edit.abandon();
        return (int) StrokeError::strokeFailed;
    }
    edit.detachPlayback();
    const int channels = std::min (edit.channels(), 2);
    const float* const dry[2] = { edit.before (0), channels > 1 ? edit.before (1) : nullptr };
    float* const out[2] = { live->getWritePointer (0), channels > 1 ? live->getWritePointer (1) : nullptr };
    carveChannels (s, dry, out, channels, numSamples, frameCount, boxes, index, binY);

    if (lastCarved >= firstCarved)
    {
        const auto start = firstCarved * hop - centreOffset;
        const auto end = lastCarved * hop + centreOffset;
        if (! refreshStftState (session, *live, start, end))
            return (int) StrokeError::strokeFailed; // rolled back by the edit frame
    }
    if (! edit.commit (std::move (boxes)))
        return (int) StrokeError::strokeFailed;

    logOut ("[QUORVALEN Z SCULPT STFT 1.9.0] session %d applied (%d points, FFT %d, hop %d, %.1f -> %.1f Hz)\n",
            (int) sessionId, (int) count, fftSize, hop, axis->fHigh, axis->fLow);
    return (int) session.liveCacheId;
}
} // namespace

float zSculptBoxGain (float d)
{
    if (d >= 1.0f)
        return 1.0f;
    if (d <= 0.85714287f)
        return 0.0f;
    if (d <= 0.9464286f)
        return 0.05f * clampTo ((d - 0.85714287f) / 0.08928573f, 0.0f, 1.0f);
    return 0.05f + 0.05f * clampTo ((d - 0.9464286f) / 0.053571403f, 0.0f, 1.0f);
}

std::vector<ZSculptBox> zSculptBoxes (const float* p, std::int32_t count)
{
    std::vector<ZSculptBox> boxes ((std::size_t) count);
    for (std::int32_t i = 0; i < count; ++i, p += 5)
        boxes[(std::size_t) i] = { clampTo (p[0], 0.0f, 1.0f), clampTo (p[1], 0.0f, 1.0f), clampTo (p[2], 0.001f, 0.5f),
                                   clampTo (p[3], 0.001f, 0.5f) };
    return boxes;
}

int applyZSculptStft (QuorvalenEngine& engine, SpectralSession& session, std::uint32_t sessionId, const float* points,
                      std::int32_t count)
{
    try
    {
        return zSculpt (engine, session, sessionId, points, count);
    }
    catch (...)
    {
        return (int) StrokeError::strokeFailed;
    }
}

} // namespace quorvalen
