#include "spectral/stft/KnifeStroke.h"

#include "core/Log.h"
#include "spectral/SessionWork.h"
#include "spectral/SpectralSession.h"
#include "spectral/stft/SpectralStft.h"
#include "spectral/SpectralStrokeEdit.h"
#include "spectral/stft/KnifeCut.h"
#include "spectral/stft/StrokeBudget.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace quorvalen
{
namespace
{
constexpr float peakTarget = 0.97f;

// Resynthesis runs in pieces of this many samples, so that a stroke over a long
// sound stops soon when its session ends (same samples: each is its own sum).
constexpr std::int64_t resynthesisPiece = std::int64_t { 1 } << 16;

// The largest absolute sample of x[from, to); non-finite samples count as 0 (the
// stroke never wrote them, see finiteSpans). Written to vectorise.
float peakOf (const float* x, std::int64_t from, std::int64_t to)
{
    float peak = 0.0f;
    for (auto i = from; i < to; ++i)
    {
        const float v = std::abs (x[i]);
        peak = std::max (peak, v <= std::numeric_limits<float>::max() ? v : 0.0f);
    }
    return peak;
}

// Calls f (from, to, inside) for the runs of [0, n) inside and between the
// sorted, disjoint spans, in order.
template <class F>
void forEachRun (std::int64_t n, const std::vector<IndexSpan>& spans, F&& f)
{
    std::int64_t at = 0;
    for (const auto& s : spans)
    {
        if (s.start > at)
            f (at, s.start, false);
        f (s.start, s.end, true);
        at = s.end;
    }
    if (at < n)
        f (at, n, false);
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
    const auto failed = [] (LiveState s) { return strokeCode (s, StrokeError::strokeFailed); };
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
    // The new sound: the cut frames' samples resynthesised, then all of it scaled
    // to the peak. Resynthesis keeps a sample whose window energy is tiny, so
    // those samples start as they were; the others are written once, below.
    SampleWindow after;
    after.length = before.length;
    after.channels = before.channels;
    after.audio.setSize (before.channels, (int) before.length, false, false, false);
    for (int c = 0; c < after.channels; ++c)
        for (const auto& s : samples)
            std::copy (before.channel (c) + s.start, before.channel (c) + s.end, after.channel (c) + s.start);
    for (const auto& s : samples)
        for (auto from = s.start; from < s.end; from += resynthesisPiece)
        {
            if (work.stopped())
                return failed (work.state());
            if (resynthesiseSessionStft (session, after.audio, from, std::min (s.end, from + resynthesisPiece)) != 0)
                return (int) StrokeError::strokeFailed;
        }

    // A huge depth can overflow the bins; such audio is refused rather than kept.
    if (! finiteSpans (after, samples))
        return (int) StrokeError::strokeFailed;
    float peak = 0.0f;
    for (int c = 0; c < after.channels; ++c)
        forEachRun (after.length, samples, [&] (std::int64_t from, std::int64_t to, bool cut) {
            peak = std::max (peak, peakOf (cut ? after.channel (c) : before.channel (c), from, to));
        });
    const float gain = peak > 0.0f ? peakTarget / peak : 1.0f;

    // One pass writes the new sound and its difference from the old one.
    SpectralUndoRecord record;
    record.start = 0;
    record.end = session.numSamples;
    record.wholeSignal = 1;
    record.channels = after.channels;
    record.delta.resize ((std::size_t) after.channels * (std::size_t) after.length);
    for (int c = 0; c < after.channels; ++c)
    {
        const float* x = before.channel (c);
        float* y = after.channel (c);
        float* d = record.delta.data() + (std::size_t) c * (std::size_t) after.length;
        forEachRun (after.length, samples, [&] (std::int64_t from, std::int64_t to, bool cut) {
            const float* v = cut ? y : x;
            if (peak > 0.0f)
                for (auto i = from; i < to; ++i)
                {
                    y[i] = v[i] * gain;
                    d[i] = y[i] - x[i];
                }
            else
                for (auto i = from; i < to; ++i)
                {
                    y[i] = v[i];
                    d[i] = y[i] - x[i];
                }
        });
    }
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
