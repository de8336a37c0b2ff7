#pragma once
// The constant-Q side of spectral editing: the shared settings, a session's
// analyzer with its band tables and per-channel coefficient stores, and the
// mapping between sample times and positions along the file.
#include "dsp/cqt/cqt.h"
#include "spectral/IndexSearch.h"
#include "spectral/cqt/CqtSettings.h"
#include "spectral/stft/SampleWindow.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <cstdint>
#include <span>
#include <vector>

namespace quorvalen
{

struct SpectralSession;

// Builds the session's analyzer for its rate, once, and fills its band tables
// (first band 0, the band count, time shifts and centre frequencies): the
// session keeps it, its coefficient stores and its workspace from stroke to
// stroke. Throws cqt::Error or std::bad_alloc; on a throw the session holds no
// analyzer.
void prepareSessionCqt (SpectralSession& session);

// The samples of the live copy that analysing the coefficients of band b at times
// in bandTimes[b] reads (the session's analyzer prepared).
IndexSpan sessionAnalysisInput (const SpectralSession& session, std::span<const cqt::TimeSpan> bandTimes);

// Analyses, for every channel of `audio` (a copy of the live copy holding at least
// sessionAnalysisInput), the coefficients of band b at times in bandTimes[b]
// into the session's stores (reused), exactly as an analysis of the whole
// channel gives them. False without an analyzer or channels.
bool analyseSessionParts (SpectralSession& session, const SampleWindow& audio,
                          std::span<const cqt::TimeSpan> bandTimes);

// Synthesis of every coefficient store over [start, end), channel-major. Nothing
// is written to the live copy here.
std::vector<float> synthesiseSessionRange (SpectralSession& session, std::int64_t start, std::int64_t end);

// Drops the analyzer, the coefficient stores and the workspace.
void releaseSessionCqt (SpectralSession& session) noexcept;

// Position along the file of sample time tau, as the strokes compare it.
inline float fileFraction (std::int64_t tau, std::int64_t numSamples)
{
    return numSamples < 2 ? 0.0f : (float) ((double) tau / (double) (numSamples - 1));
}

// Inclusive sample-time range [first, last] of [0, numSamples) over which
// `from(tau)` holds and `upTo(tau)` holds; `from` must turn from false to true
// and `upTo` from true to false as tau grows. first > last when empty.
struct TimeRange
{
    std::int64_t first = 0, last = -1;
};
template <class From, class UpTo>
TimeRange monotoneTimeRange (std::int64_t numSamples, From&& from, UpTo&& upTo)
{
    const auto first = firstFailing (std::int64_t { 0 }, numSamples, [&] (std::int64_t tau) { return ! from (tau); });
    const auto past = firstFailing (first, numSamples, upTo);
    return { first, past - 1 };
}

} // namespace quorvalen
