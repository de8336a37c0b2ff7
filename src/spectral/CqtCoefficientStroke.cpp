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
struct ReleaseCqt
{
    SpectralSession& session;
    ~ReleaseCqt() { releaseSessionCqt (session); }
};

struct Touched
{
    std::int64_t start, end;
};

// Scales the planned coefficients of every store; the samples that the changed
// coefficients reach in resynthesis, [start, end) (empty when nothing changed).
Touched scaleCoefficients (SpectralSession& session, const CqtStrokePlan& plan)
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
            for (const auto& span : spans)
                cqt::visit (*store, b, b + 1, std::max<std::int64_t> (span.first, 0), std::min (span.last + 1, n),
                            [&] (int, std::int64_t tau, std::complex<float>& c) {
                    const auto old = c;
                    c *= span.factor;
                    // |change| > 1e-12, squared in double (exact products of floats).
                    const double dr = (double) c.real() - old.real(), di = (double) c.imag() - old.imag();
                    if (dr * dr + di * di > 1e-24)
                    {
                        touched.start = std::min (touched.start, std::max<std::int64_t> (0, tau - support));
                        touched.end = std::max (touched.end, std::min (n, tau + support + 1));
                    }
                });
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
    const ReleaseCqt release { session };
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
        return (int) StrokeError::strokeFailed;
    if (! reanalyseSessionCqt (session, *live))
        return (int) StrokeError::liveGone;

    const auto plan = makePlan (session);
    const auto touched = scaleCoefficients (session, plan);
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
    const auto synthesis = synthesiseSessionRange (session, edit.start(), touched.end);
    const auto length = (std::size_t) (touched.end - edit.start());
    edit.detachPlayback();
    for (int c = 0; c < edit.channels() && (std::size_t) c < session.coefficients.size(); ++c)
    {
        float* out = live->getWritePointer (c) + edit.start();
        const float* in = synthesis.data() + (std::size_t) c * length;
        for (std::size_t i = 0; i < length; ++i)
            out[i] = std::clamp (in[i], -0.999f, 0.999f);
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
