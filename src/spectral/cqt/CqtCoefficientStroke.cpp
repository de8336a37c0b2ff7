#include "spectral/cqt/CqtCoefficientStroke.h"

#include "spectral/SessionWork.h"
#include "spectral/cqt/SpectralCqt.h"
#include "spectral/SpectralSession.h"
#include "spectral/stft/SpectralStft.h"
#include "spectral/SpectralStrokeEdit.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace quorvalen
{
namespace
{
// Per band, the times the stroke may edit: from its first span to its last.
std::vector<cqt::TimeSpan> editedTimes (const SpectralSession& session, const CqtStrokePlan& plan)
{
    const std::int64_t n = session.numSamples;
    const int bands = std::min<int> (session.cqtBandCount, (int) plan.bands.size());
    std::vector<cqt::TimeSpan> times ((std::size_t) std::max (bands, 0));
    for (int b = 0; b < bands; ++b)
        if (const auto& spans = plan.bands[(std::size_t) b]; ! spans.empty())
            times[(std::size_t) b] = { std::max<std::int64_t> (spans.front().first, 0),
                                       std::min (spans.back().last + 1, n) };
    return times;
}

// Turns the analysed coefficients into what the stroke adds to them (scaled
// minus as analysed; 0 where it does not reach), so that their synthesis is
// the change to the audio. Returns the samples that the changed coefficients
// reach in resynthesis, sorted and disjoint (none when nothing changed): boxes
// far apart change the audio around each, not between them.
std::vector<IndexSpan> toStrokeDeltas (SpectralSession& session, const CqtStrokePlan& plan)
{
    const std::int64_t n = session.numSamples;
    std::vector<IndexSpan> reached;
    const int bands = std::min<int> (session.cqtBandCount, (int) plan.bands.size());
    for (int b = 0; b < bands; ++b)
    {
        const auto& spans = plan.bands[(std::size_t) b];
        if (spans.empty())
            continue;
        const auto support = (std::int64_t) std::ceil (session.analyzer->bandSupport (b, 1.0));
        for (auto& store : session.coefficients)
        {
            auto span = spans.begin();
            const auto first = reached.size();
            cqt::visit (*store, b, b + 1, 0, n, [&] (int, std::int64_t tau, std::complex<float>& c) {
                while (span != spans.end() && span->last < tau)
                    ++span;
                if (span == spans.end() || tau < span->first)
                {
                    c = {};
                    return;
                }
                const auto scaled = c * span->factor;
                // |change| > 1e-12, squared in double (exact products of floats).
                const double dr = (double) scaled.real() - c.real(), di = (double) scaled.imag() - c.imag();
                if (dr * dr + di * di > 1e-24)
                {
                    const IndexSpan r { std::max<std::int64_t> (0, tau - support), std::min (n, tau + support + 1) };
                    // Times come in order: a run of changed coefficients is one span.
                    if (reached.size() > first && r.start <= reached.back().end)
                        reached.back().end = r.end;
                    else
                        reached.push_back (r);
                }
                c = scaled - c;
            });
        }
    }
    return mergeSpans (std::move (reached));
}

int runStroke (SessionWork& work, SpectralSession& session,
               const std::function<CqtStrokePlan (const SpectralSession&)>& makePlan, bool& changed)
{
    changed = false;
    if (! (session.sampleRate > 0.0))
        return (int) StrokeError::liveGone;
    SampleWindow before;
    if (const auto s = work.read ({}, before); s != LiveState::ok)
        return strokeCode (s);
    try
    {
        prepareSessionCqt (session);
    }
    catch (const cqt::Error&)
    {
        return (int) StrokeError::strokeFailed; // no analyzer for this rate
    }
    // No bandpass band (an absurd rate): nothing to address.
    if (session.cqtBandCount < 1)
    {
        releaseSessionCqt (session);
        return (int) StrokeError::strokeFailed;
    }

    const auto plan = makePlan (session);
    // Only the coefficients the stroke edits are analysed, from the samples they
    // read: by linearity their change alone, resynthesised, is what the stroke
    // adds to the audio.
    const auto times = editedTimes (session, plan);
    {
        SampleWindow input;
        if (const auto s = work.read (sessionAnalysisInput (session, times), input); s != LiveState::ok)
            return strokeCode (s);
        if (! analyseSessionParts (session, input, times))
            return (int) StrokeError::liveGone;
    }
    if (work.stopped())
        return strokeCode (work.state());
    const auto touched = toStrokeDeltas (session, plan);
    if (touched.empty())
        return (int) session.liveCacheId;

    if (const auto s = ensureSessionStft (work, session, before.channels); s != LiveState::ok)
        return strokeCode (s);
    std::vector<std::vector<float>> change;
    for (const auto& span : touched)
    {
        change.push_back (synthesiseSessionRange (session, span.start, span.end));
        if (work.stopped())
            return strokeCode (work.state());
    }
    // The samples the change reaches, and what the STFT frames that see them read.
    const auto frames = stftFramesSeeing (session, touched);
    const IndexSpan read { stftSamplesRead (session, frames.front()).start, stftSamplesRead (session, frames.back()).end };
    if (const auto s = work.read (read, before); s != LiveState::ok)
        return strokeCode (s);
    SpectralStrokeEdit edit (work, session);
    SampleWindow after = before;
    for (std::size_t k = 0; k < touched.size(); ++k)
    {
        const auto length = (std::size_t) (touched[k].end - touched[k].start);
        for (int c = 0; c < after.channels && (std::size_t) c < session.coefficients.size(); ++c)
        {
            float* out = after.channel (c) + (touched[k].start - after.start);
            const float* in = change[k].data() + (std::size_t) c * length;
            for (std::size_t i = 0; i < length; ++i)
                out[i] = std::clamp (out[i] + in[i], -0.999f, 0.999f);
        }
    }
    edit.stftChanging (frames, before);
    if (! refreshStftFrames (session, after, frames, [&work] { return work.stopped(); }))
        return work.stopped() ? strokeCode (work.state()) : (int) StrokeError::strokeFailed;

    SpectralUndoRecord record;
    record.start = touched.front().start;
    record.end = touched.back().end;
    record.laser = plan.laser;
    if (const auto s = edit.commit (before, std::move (after), touched, std::move (record)); s != LiveState::ok)
        return strokeCode (s);
    changed = true;
    return (int) session.liveCacheId;
}
} // namespace

int runCqtCoefficientStroke (SessionWork& work, SpectralSession& session,
                             const std::function<CqtStrokePlan (const SpectralSession&)>& plan, bool& changed)
{
    try
    {
        return runStroke (work, session, plan, changed);
    }
    catch (...)
    {
        // Most likely memory: give back what the session keeps.
        releaseSessionCqt (session);
        changed = false;
        return (int) StrokeError::strokeFailed;
    }
}

std::vector<CoefSpan> strongestAttenuation (std::vector<CoefSpan> intervals)
{
    // Sweep over interval ends, keeping the strengths that cover the current time.
    struct Event
    {
        std::int64_t time;
        bool opens;
        float strength;
    };
    std::vector<Event> events;
    events.reserve (intervals.size() * 2);
    for (const auto& i : intervals)
        if (i.first <= i.last && i.factor > 0.0f)
        {
            events.push_back ({ i.first, true, i.factor });
            events.push_back ({ i.last + 1, false, i.factor });
        }
    std::sort (events.begin(), events.end(), [] (const Event& a, const Event& b) { return a.time < b.time; });
    std::vector<CoefSpan> spans;
    std::multiset<float> open;
    for (std::size_t e = 0; e < events.size();)
    {
        const auto time = events[e].time;
        for (; e < events.size() && events[e].time == time; ++e)
        {
            if (events[e].opens)
                open.insert (events[e].strength);
            else
                open.erase (open.find (events[e].strength));
        }
        if (open.empty() || e == events.size())
            continue;
        const float factor = 1.0f - *open.rbegin();
        const auto last = events[e].time - 1;
        if (! spans.empty() && spans.back().last == time - 1 && spans.back().factor == factor)
            spans.back().last = last;
        else
            spans.push_back ({ time, last, factor });
    }
    return spans;
}

} // namespace quorvalen
