#include "spectral/KnifeStroke.h"

#include "core/Log.h"
#include "spectral/SpectralSession.h"
#include "spectral/SpectralSessions.h"
#include "spectral/SpectralStft.h"
#include "spectral/SpectralStrokeEdit.h"
#include "spectral/stft/KnifeCut.h"
#include "spectral/stft/StrokeBudget.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace quorvalen
{
namespace
{
constexpr float peakTarget = 0.97f;

// The largest absolute sample; non-finite samples count as 0 (the stroke never
// wrote them, see finiteSpans).
float livePeak (const juce::AudioBuffer<float>& live)
{
    float peak = 0.0f;
    for (int c = 0; c < live.getNumChannels(); ++c)
    {
        const float* x = live.getReadPointer (c);
        for (int i = 0; i < live.getNumSamples(); ++i)
            if (std::isfinite (x[i]))
                peak = std::max (peak, std::abs (x[i]));
    }
    return peak;
}

// False when the resynthesis wrote a non-finite sample (bins overflowed by a huge depth).
bool finiteSpans (const juce::AudioBuffer<float>& live, const std::vector<IndexSpan>& spans)
{
    for (int c = 0; c < live.getNumChannels(); ++c)
    {
        const float* x = live.getReadPointer (c);
        for (const auto& s : spans)
            for (auto i = s.start; i < s.end; ++i)
                if (! std::isfinite (x[i]))
                    return false;
    }
    return true;
}

int knife (QuorvalenEngine& engine, SpectralSession& session, std::uint32_t sessionId, const float* points,
           std::int32_t count)
{
    const auto records = knifePoints (points, count);
    auto* live = sessionLiveBuffer (engine, session);
    if (live == nullptr)
        return (int) StrokeError::strokeFailed;

    const auto frames = (std::int64_t) session.stftFrames;
    std::vector<KnifeBox> boxes;
    boxes.reserve (records.size());
    std::int64_t cells = 0;
    for (const auto& p : records)
    {
        boxes.push_back (knifeBox (p, frames));
        cells += boxes.back().cells();
    }
    if (cells > maxStrokeCells)
        return (int) StrokeError::tooManyPoints;

    SpectralStrokeEdit edit (engine, session, *live);
    if (! edit.takeSnapshot())
    {
        edit.abandon();
        return (int) StrokeError::strokeFailed;
    }

    edit.markStftTouched();
    const auto changedFrames = cutKnifeBoxes (session.stftBins, frames, records, boxes);
    if (changedFrames.empty())
    {
        edit.abandon();
        return (int) session.liveCacheId;
    }

    // Only the samples the cut frames reach are resynthesised; the others would
    // come back as themselves.
    std::vector<IndexSpan> samples;
    for (const auto& f : changedFrames)
        samples.push_back ({ std::max<std::int64_t> (0, f.start * stftHop - stftSize / 2),
                             std::min<std::int64_t> (session.numSamples, (f.end - 1) * stftHop + stftSize / 2) });
    samples = mergeSpans (std::move (samples));
    edit.detachPlayback();
    for (const auto& s : samples)
        if (resynthesiseSessionStft (session, *live, s.start, s.end) != 0)
            return (int) StrokeError::strokeFailed; // rolled back by the edit frame

    // A huge depth can overflow the bins; such audio is refused rather than kept.
    if (! finiteSpans (*live, samples))
        return (int) StrokeError::strokeFailed;
    if (const float peak = livePeak (*live); peak > 0.0f)
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
        return knife (engine, session, sessionId, points, count);
    }
    catch (...)
    {
        return (int) StrokeError::strokeFailed;
    }
}

} // namespace quorvalen
