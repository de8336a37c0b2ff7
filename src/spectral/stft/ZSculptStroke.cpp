#include "spectral/stft/ZSculptStroke.h"

#include "core/Log.h"
#include "dsp/cqt/cqt.h"
#include "spectral/SessionWork.h"
#include "spectral/SpectralSession.h"
#include "spectral/stft/SpectralStft.h"
#include "spectral/SpectralStrokeEdit.h"
#include "spectral/stft/StrokeBudget.h"
#include "spectral/stft/ZSculptCarve.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace quorvalen
{
namespace
{
float clampTo (float v, float low, float high)
{
    return v < low ? low : std::min (v, high);
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

// y of every bin on the axis, or -1 for bins below its lowest or above its highest
// frequency (those are never carved).
std::vector<float> binPositions (const FrequencyAxis& axis, double sampleRate)
{
    std::vector<float> y (zSculptBinCount, -1.0f);
    for (int k = 0; k < zSculptBinCount; ++k)
    {
        const double freq = k * sampleRate * 0.000244140625;
        if (freq >= axis.fLow && freq <= axis.fHigh)
            y[(std::size_t) k] =
                clampTo ((float) ((std::log (std::max (freq, 1.0)) - axis.lnHigh) / axis.span), 0.0f, 1.0f);
    }
    return y;
}

int zSculpt (SessionWork& work, SpectralSession& session, std::uint32_t sessionId, const float* points,
             std::int32_t count)
{
    if (points == nullptr || count < 1 || ! (session.sampleRate > 0.0))
        return (int) StrokeError::liveGone;
    SampleWindow before;
    if (const auto s = work.read ({}, before); s != LiveState::ok)
        return strokeCode (s);

    auto boxes = zSculptBoxes (points, count);
    const auto axis = frequencyAxis (session.sampleRate);
    if (! axis)
        return (int) StrokeError::strokeFailed;
    const ZSculptCarve carve (boxes, session.numSamples, binPositions (*axis, session.sampleRate));
    if (carve.cells() > maxStrokeCells)
        return (int) StrokeError::tooManyPoints;

    if (const auto s = ensureSessionStft (work, session, before.channels); s != LiveState::ok)
        return strokeCode (s);
    // What the carve reads, and what the STFT frames that see it read.
    const auto reached = stftSamplesRead (session, stftFramesSeeing (session, carve.samplesReached()));
    if (const auto s = work.read (reached, before); s != LiveState::ok)
        return strokeCode (s);
    SpectralStrokeEdit edit (work, session);
    SampleWindow after = before;
    const int channels = std::min (after.channels, 2);
    const float* const dry[2] = { before.channel (0), channels > 1 ? before.channel (1) : nullptr };
    float* const out[2] = { after.channel (0), channels > 1 ? after.channel (1) : nullptr };
    const auto written = carve.carve (dry, out, channels, after.start, [&work] { return work.stopped(); });
    if (work.stopped())
        return strokeCode (work.state());
    if (! written.empty())
    {
        auto frames = stftFramesSeeing (session, written);
        edit.stftChanging (frames, before);
        if (! refreshStftFrames (session, after, frames, [&work] { return work.stopped(); }))
            return work.stopped() ? strokeCode (work.state()) : (int) StrokeError::strokeFailed;
    }

    SpectralUndoRecord record;
    record.start = 0;
    record.end = session.numSamples;
    record.wholeSignal = 1;
    record.boxes = std::move (boxes);
    if (const auto s = edit.commit (before, std::move (after), written, std::move (record)); s != LiveState::ok)
        return strokeCode (s);

    logOut ("[QUORVALEN Z SCULPT STFT 1.9.0] session %d applied (%d points, FFT %d, hop %d, %.1f -> %.1f Hz)\n",
            (int) sessionId, (int) count, zSculptFftSize, zSculptHop, axis->fHigh, axis->fLow);
    return (int) session.liveCacheId;
}
} // namespace

std::vector<ZSculptBox> zSculptBoxes (const float* p, std::int32_t count)
{
    std::vector<ZSculptBox> boxes ((std::size_t) count);
    for (std::int32_t i = 0; i < count; ++i, p += 5)
        boxes[(std::size_t) i] = { clampTo (p[0], 0.0f, 1.0f), clampTo (p[1], 0.0f, 1.0f), clampTo (p[2], 0.001f, 0.5f),
                                   clampTo (p[3], 0.001f, 0.5f) };
    return boxes;
}

int applyZSculptStft (SessionWork& work, SpectralSession& session, std::uint32_t sessionId, const float* points,
                      std::int32_t count)
{
    try
    {
        return zSculpt (work, session, sessionId, points, count);
    }
    catch (...)
    {
        return (int) StrokeError::strokeFailed;
    }
}

} // namespace quorvalen
