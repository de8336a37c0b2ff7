#include "spectral/cqt/SpectralCqt.h"

#include "spectral/SpectralSession.h"

#include <algorithm>

namespace quorvalen
{

void prepareSessionCqt (SpectralSession& session)
{
    if (session.analyzer != nullptr)
        return;
    auto analyzer = std::make_unique<cqt::Analyzer> (spectralCqtParams (session.sampleRate));
    const int bands = analyzer->bandCount();
    const auto tableSize = (std::size_t) std::max (1, bands);
    std::vector<std::int32_t> shifts (tableSize);
    std::vector<float> hz (tableSize);
    for (std::size_t b = 0; b < tableSize; ++b)
    {
        shifts[b] = analyzer->bandTimeShift ((int) b);
        hz[b] = (float) (analyzer->bandCentre ((int) b) * session.sampleRate);
    }
    session.cqtFirstBand = 0;
    session.cqtBandCount = bands;
    session.bandTimeShift = std::move (shifts);
    session.bandHz = std::move (hz);
    session.analyzer = std::move (analyzer);
}

IndexSpan sessionAnalysisInput (const SpectralSession& session, std::span<const cqt::TimeSpan> bandTimes)
{
    const auto input = session.analyzer->analysisInput (session.numSamples, bandTimes);
    return { input.begin, input.end };
}

bool analyseSessionParts (SpectralSession& session, const SampleWindow& audio, std::span<const cqt::TimeSpan> bandTimes)
{
    const int channels = std::min (audio.channels, session.numChannels);
    if (session.analyzer == nullptr || channels < 1)
        return false;
    if (session.coefficients.size() != (std::size_t) channels)
    {
        session.coefficients.clear();
        for (int c = 0; c < channels; ++c)
            session.coefficients.push_back (std::make_unique<cqt::CoefStore> (*session.analyzer));
    }
    for (int c = 0; c < channels; ++c)
        session.analyzer->analyze ({ audio.channel (c), (std::size_t) audio.length }, audio.start, session.numSamples,
                                   bandTimes, *session.coefficients[(std::size_t) c], session.cqtWork);
    return true;
}

std::vector<float> synthesiseSessionRange (SpectralSession& session, std::int64_t start, std::int64_t end)
{
    const auto length = (std::size_t) std::max<std::int64_t> (0, end - start);
    std::vector<float> out (session.coefficients.size() * length);
    for (std::size_t c = 0; c < session.coefficients.size(); ++c)
        session.analyzer->synthesize (*session.coefficients[c], start, { out.data() + c * length, length },
                                      session.cqtWork);
    return out;
}

void releaseSessionCqt (SpectralSession& session) noexcept
{
    session.coefficients.clear();
    session.analyzer.reset();
    session.cqtWork = {};
}

} // namespace quorvalen
