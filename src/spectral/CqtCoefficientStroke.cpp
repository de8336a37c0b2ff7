#include "spectral/CqtCoefficientStroke.h"

#include "spectral/SpectralCqt.h"
#include "spectral/SpectralSession.h"
#include "spectral/SpectralSessions.h"
#include "spectral/SpectralStft.h"
#include "spectral/SpectralStrokeEdit.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace quorvalen
{
namespace
{
struct Touched
{
    std::int64_t start, end;
};

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
// reach in resynthesis, [start, end) (empty when nothing changed).
Touched toStrokeDeltas (SpectralSession& session, const CqtStrokePlan& plan)
{
    const std::int64_t n = session.numSamples;
    Touched touched { n, 0 };
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
                    touched.start = std::min (touched.start, std::max<std::int64_t> (0, tau - support));
                    touched.end = std::max (touched.end, std::min (n, tau + support + 1));
                }
                c = scaled - c;
            });
        }
    }
    return touched;
}

int runStroke (QuorvalenEngine& engine, SpectralSession& session,
               const std::function<CqtStrokePlan (const SpectralSession&)>& makePlan, bool& changed)
{
    changed = false;
    auto* live = sessionLiveBuffer (engine, session);
    if (live == nullptr || ! (session.sampleRate > 0.0))
        return (int) StrokeError::liveGone;
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
    // Only the coefficients the stroke edits are analysed: by linearity their
    // change alone, resynthesised, is what the stroke adds to the audio.
    if (! analyseSessionParts (session, *live, editedTimes (session, plan)))
        return (int) StrokeError::liveGone;
    const auto touched = toStrokeDeltas (session, plan);
    if (touched.end <= touched.start)
        return (int) session.liveCacheId;

    SpectralStrokeEdit edit (engine, session, *live);
    edit.limitTo (touched.start, touched.end);
    if (! edit.takeSnapshot())
    {
        edit.abandon();
        return (int) StrokeError::strokeFailed;
    }
    // Synthesised before playback is detached: a failure here changes nothing.
    const auto change = synthesiseSessionRange (session, edit.start(), touched.end);
    const auto length = (std::size_t) (touched.end - edit.start());
    edit.detachPlayback();
    for (int c = 0; c < edit.channels() && (std::size_t) c < session.coefficients.size(); ++c)
    {
        float* out = live->getWritePointer (c) + edit.start();
        const float* in = change.data() + (std::size_t) c * length;
        for (std::size_t i = 0; i < length; ++i)
            out[i] = std::clamp (out[i] + in[i], -0.999f, 0.999f);
    }
    if (! refreshStftState (session, *live, touched.start, touched.end))
        return (int) StrokeError::strokeFailed; // rolled back by the edit frame
    if (! edit.commit ({}, plan.laser))
        return (int) StrokeError::strokeFailed;
    changed = true;
    return (int) session.liveCacheId;
}
} // namespace

int runCqtCoefficientStroke (QuorvalenEngine& engine, SpectralSession& session,
                             const std::function<CqtStrokePlan (const SpectralSession&)>& plan, bool& changed)
{
    try
    {
        return runStroke (engine, session, plan, changed);
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
