#include "spectral/KnifeStroke.h"

#include "core/Log.h"
#include "spectral/SessionWork.h"
#include "spectral/SpectralSession.h"
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

// Resynthesis runs in pieces of this many samples, so that a stroke over a long
// sound stops soon when its session ends (same samples: each is its own sum).
constexpr std::int64_t resynthesisPiece = std::int64_t { 1 } << 16;

// The largest absolute sample; non-finite samples count as 0 (the stroke never
// wrote them, see finiteSpans).
float peakOf (const SampleWindow& audio)
{
    float peak = 0.0f;
    for (int c = 0; c < audio.channels; ++c)
    {
        const float* x = audio.channel (c);
        for (std::int64_t i = 0; i < audio.length; ++i)
            if (std::isfinite (x[i]))
                peak = std::max (peak, std::abs (x[i]));
    }
    return peak;
}

// False when the resynthesis wrote a non-finite sample (bins overflowed by a huge depth).
bool finiteSpans (const SampleWindow& audio, const std::vector<IndexSpan>& spans)
{
    for (int c = 0; c < audio.channels; ++c)
    {
        const float* x = audio.channel (c);
        for (const auto& s : spans)
            for (auto i = s.start; i < s.end; ++i)
                if (! std::isfinite (x[i]))
                    return false;
    }
    return true;
}

int knife (SessionWork& work, SpectralSession& session, std::uint32_t sessionId, const float* points,
           std::int32_t count)
{
    const auto records = knifePoints (points, count);
    // The knife reports a lost live copy as a failed stroke.
    const auto failed = [&work] (LiveState s) { return strokeCode (s, StrokeError::strokeFailed); };
    SampleWindow before;
    if (const auto s = work.read ({}, before); s != LiveState::ok)
        return failed (s);

    const auto frames = (std::int64_t) session.stftFrames;
    std::vector<KnifeBox> boxes;
    boxes.reserve (records.size());
    std::int64_t cells = 0;
    std::vector<IndexSpan> reached;
    for (const auto& p : records)
    {
        boxes.push_back (knifeBox (p, frames));
        cells += boxes.back().cells();
        if (! boxes.back().empty())
            reached.push_back ({ boxes.back().t0, boxes.back().t1 });
    }
    if (cells > maxStrokeCells)
        return (int) StrokeError::tooManyPoints;

    // The whole sound: the peak gain scales every sample.
    if (const auto s = work.read ({ 0, session.numSamples }, before); s != LiveState::ok)
        return failed (s);
    if (before.length < 1)
        return (int) StrokeError::strokeFailed;
    SpectralStrokeEdit edit (work, session);
    edit.stftChanging (std::move (reached), before);
    const auto changedFrames =
        cutKnifeBoxes (session.stftBins, frames, records, boxes, knifeKeptWeights, [&work] { return work.stopped(); });
    if (work.stopped())
        return failed (work.state());
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
    SampleWindow after = before;
    // `after` holds the whole sound, so it resynthesises as the live copy would.
    auto& out = after.audio;
    for (const auto& s : samples)
        for (auto from = s.start; from < s.end; from += resynthesisPiece)
        {
            if (work.stopped())
                return failed (work.state());
            if (resynthesiseSessionStft (session, out, from, std::min (s.end, from + resynthesisPiece)) != 0)
                return (int) StrokeError::strokeFailed;
        }

    // A huge depth can overflow the bins; such audio is refused rather than kept.
    if (! finiteSpans (after, samples))
        return (int) StrokeError::strokeFailed;
    const float peak = peakOf (after);
    const float gain = peak > 0.0f ? peakTarget / peak : 1.0f;
    if (peak > 0.0f)
        for (int c = 0; c < after.channels; ++c)
            juce::FloatVectorOperations::multiply (after.channel (c), gain, (int) after.length);

    SpectralUndoRecord record;
    record.start = 0;
    record.end = session.numSamples;
    record.wholeSignal = 1;
    if (const auto s = edit.commit (before, std::move (after), { { 0, session.numSamples } }, std::move (record));
        s != LiveState::ok)
        return failed (s);
    // The state stays the transform of the audio.
    if (peak > 0.0f)
        for (auto& bins : session.stftBins)
            for (auto& v : bins)
                v *= gain;

    logOut ("[QUORVALEN WEB STFT DOUBLE KNIFE 1.0.2] session %d stroke applied (%d edits)\n", (int) sessionId,
            (int) count);
    return (int) session.liveCacheId;
}
} // namespace

int applyWebStftDoubleKnife (SessionWork& work, SpectralSession& session, std::uint32_t sessionId, const float* points,
                             const std::uint32_t* tools, std::int32_t count)
{
    try
    {
        return knife (work, session, sessionId, points, count);
    }
    catch (...)
    {
        return (int) StrokeError::strokeFailed;
    }
}

} // namespace quorvalen
