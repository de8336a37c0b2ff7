// The published constant-Q library as a benchmark side, through its public
// calls only. Built into cqt_reference_bench alone, from the folder given at
// configuration; never part of the engine.
#include "CqtSide.h"

#include <gaborator/gaborator.h>

#include <array>
#include <climits>
#include <cstdint>
#include <optional>
#include <stdexcept>

namespace qvbench::cqt
{
namespace
{

gaborator::parameters params (double overlap)
{
    return gaborator::parameters (bandsPerOctave, minHz / rate, refHz / rate, overlap, maxError);
}

using Coefs = gaborator::coefs<float>;
using Analyzer = gaborator::analyzer<float>;

class ReferenceSide final : public CqtSide
{
public:
    std::string name() const override { return "reference"; }

    CallTimes freshCall (double overlap, std::span<const float> signal, std::span<float> out) override
    {
        const auto n = static_cast<std::int64_t> (signal.size());
        CallTimes t;
        double start = processCpuSeconds();
        {
            auto an = std::make_unique<Analyzer> (params (overlap));
            auto store = std::make_unique<Coefs> (*an);
            t.construct = processCpuSeconds() - start;
            start = processCpuSeconds();
            an->analyze (signal.data(), 0, n, *store);
            t.analysis = processCpuSeconds() - start;
            start = processCpuSeconds();
            an->synthesize (*store, 0, n, out.data());
            t.synthesis = processCpuSeconds() - start;
            start = processCpuSeconds();
        }
        t.release = processCpuSeconds() - start;
        return t;
    }

    // Analysis adds to what a store holds, so a kept store is cleared in place
    // (its memory stays) before each analysis; the clearing is timed with it.
    std::string reuseName() const override { return "one analyzer and coefs, zeroed in place by process()"; }

    void beginReuse (double overlap) override { reuse.emplace (overlap); }

    double reusedCall (std::span<const float> signal, std::span<float> out) override
    {
        const auto n = static_cast<std::int64_t> (signal.size());
        const double start = processCpuSeconds();
        gaborator::process ([] (int, std::int64_t, std::complex<float>& c) { c = 0.0f; }, INT_MIN, INT_MAX, INT64_MIN,
                            INT64_MAX, reuse->store);
        reuse->an.analyze (signal.data(), 0, n, reuse->store);
        reuse->an.synthesize (reuse->store, 0, n, out.data());
        return processCpuSeconds() - start;
    }

    void endReuse() override { reuse.reset(); }

    double storedCoefficients (double overlap, std::span<const float> signal) override
    {
        const Analyzer an (params (overlap));
        Coefs store (an);
        an.analyze (signal.data(), 0, static_cast<std::int64_t> (signal.size()), store);
        double count = 0;
        gaborator::process ([&] (int, std::int64_t, std::complex<float>&) { count += 1.0; }, INT_MIN, INT_MAX,
                            INT64_MIN, INT64_MAX, store);
        return count;
    }

    Neighbours neighbours (double overlap, std::span<const float> tone, double hz) override
    {
        const Analyzer an (params (overlap));
        Coefs store (an);
        const auto n = static_cast<std::int64_t> (tone.size());
        an.analyze (tone.data(), 0, n, store);
        std::array<double, 5> level {};
        for (int k = -2; k <= 2; ++k)
        {
            const int band = nearestBand (
                an.bandpass_bands_end(), [&] (int b) { return an.band_ff (b); },
                hz * std::exp2 (k / static_cast<double> (bandsPerOctave)));
            if (band < 0)
                throw std::runtime_error ("no band at the tone's neighbours");
            double sum = 0;
            int count = 0;
            gaborator::process (
                [&] (int, std::int64_t, std::complex<float>& c) {
                sum += std::abs (c);
                ++count;
                },
                band, band + 1, n / 4, 3 * n / 4, store);
            level[static_cast<std::size_t> (k + 2)] = count > 0 ? sum / count : 0.0;
        }
        const double centre = level[2];
        return { level[3] / centre, level[1] / centre, level[4] / centre, level[0] / centre };
    }

private:
    struct Reuse
    {
        explicit Reuse (double overlap) : an (params (overlap)), store (an) {}
        Analyzer an;
        Coefs store;
    };
    std::optional<Reuse> reuse;
};

} // namespace

std::unique_ptr<CqtSide> makeReferenceSide()
{
    return std::make_unique<ReferenceSide>();
}

} // namespace qvbench::cqt
