// Our constant-Q module as a benchmark side.
#include "CqtSide.h"

#include "dsp/cqt/cqt.h"

#include <array>
#include <optional>
#include <stdexcept>

namespace qvbench::cqt
{
namespace
{
namespace qc = quorvalen::cqt;

qc::CqtParams params (double overlap)
{
    qc::CqtParams p;
    p.scale = { bandsPerOctave, minHz / rate, refHz / rate };
    p.overlap = overlap;
    p.maxError = maxError;
    return p;
}

class OurSide final : public CqtSide
{
public:
    std::string name() const override { return "ours"; }

    CallTimes freshCall (double overlap, std::span<const float> signal, std::span<float> out) override
    {
        CallTimes t;
        double start = processCpuSeconds();
        {
            auto an = std::make_unique<qc::Analyzer> (params (overlap));
            auto store = std::make_unique<qc::CoefStore> (*an);
            t.construct = processCpuSeconds() - start;
            start = processCpuSeconds();
            an->analyze (signal, *store);
            t.analysis = processCpuSeconds() - start;
            start = processCpuSeconds();
            an->synthesize (*store, 0, out);
            t.synthesis = processCpuSeconds() - start;
            start = processCpuSeconds();
        }
        t.release = processCpuSeconds() - start;
        return t;
    }

    std::string reuseName() const override { return "one analyzer, CoefStore and Workspace"; }

    void beginReuse (double overlap) override { reuse.emplace (overlap); }

    double reusedCall (std::span<const float> signal, std::span<float> out) override
    {
        const double start = processCpuSeconds();
        reuse->an.analyze (signal, reuse->store, reuse->work);
        reuse->an.synthesize (reuse->store, 0, out, reuse->work);
        return processCpuSeconds() - start;
    }

    void endReuse() override { reuse.reset(); }

    double storedCoefficients (double overlap, std::span<const float> signal) override
    {
        const qc::Analyzer an (params (overlap));
        qc::CoefStore store (an);
        an.analyze (signal, store);
        double count = 0;
        for (int b = 0; b < store.bands(); ++b)
            count += static_cast<double> (store.band (b).size());
        return count;
    }

    Neighbours neighbours (double overlap, std::span<const float> tone, double hz) override
    {
        const qc::Analyzer an (params (overlap));
        qc::CoefStore store (an);
        an.analyze (tone, store);
        const auto n = static_cast<std::int64_t> (tone.size());
        std::array<double, 5> level {};
        for (int k = -2; k <= 2; ++k)
        {
            const int band = nearestBand (
                an.bandCount(), [&] (int b) { return an.bandCentre (b); },
                hz * std::exp2 (k / static_cast<double> (bandsPerOctave)));
            if (band < 0)
                throw std::runtime_error ("no band at the tone's neighbours");
            double sum = 0;
            int count = 0;
            quorvalen::cqt::visit (store, band, band + 1, n / 4, 3 * n / 4,
                                   [&] (int, std::int64_t, const std::complex<float>& c) {
                sum += std::abs (c);
                ++count;
            });
            level[static_cast<std::size_t> (k + 2)] = count > 0 ? sum / count : 0.0;
        }
        const double centre = level[2];
        return { level[3] / centre, level[1] / centre, level[4] / centre, level[0] / centre };
    }

private:
    struct Reuse
    {
        explicit Reuse (double overlap) : an (params (overlap)), store (an) {}
        qc::Analyzer an;
        qc::CoefStore store;
        qc::Workspace work;
    };
    std::optional<Reuse> reuse;
};

} // namespace

std::unique_ptr<CqtSide> makeOurSide()
{
    return std::make_unique<OurSide>();
}

} // namespace qvbench::cqt
