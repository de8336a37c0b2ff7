#include "spectral/ZSculptStroke.h"

#include "core/Log.h"
#include "dsp/cqt/cqt.h"
#include "spectral/SpectralSession.h"
#include "spectral/SpectralSessions.h"
#include "spectral/SpectralStft.h"
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

int zSculpt (QuorvalenEngine& engine, SpectralSession& session, std::uint32_t sessionId, const float* points,
             std::int32_t count)
{
    auto* live = sessionLiveBuffer (engine, session);
    if (live == nullptr || points == nullptr || count < 1 || ! (session.sampleRate > 0.0))
        return (int) StrokeError::liveGone;

    auto boxes = zSculptBoxes (points, count);
    const auto axis = frequencyAxis (session.sampleRate);
    if (! axis)
        return (int) StrokeError::strokeFailed;
    const ZSculptCarve carve (boxes, session.numSamples, binPositions (*axis, session.sampleRate));
    if (carve.cells() > maxStrokeCells)
        return (int) StrokeError::tooManyPoints;

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
    const auto written = carve.carve (dry, out, channels);
    if (! written.empty() && ! refreshStftState (session, *live, written))
        return (int) StrokeError::strokeFailed; // rolled back by the edit frame
    if (! edit.commit (std::move (boxes)))
        return (int) StrokeError::strokeFailed;

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
