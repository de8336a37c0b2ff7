#pragma once
// One constant-Q implementation as the benchmark drives it: our module, or the
// published library it is compared against. Every side analyses and resynthesises
// mono 48 kHz sound on the engine's scale (48 bands per octave from 20 Hz,
// reference 440 Hz, maximum error 1e-5) at a given overlap.
#include <cmath>
#include <ctime>
#include <memory>
#include <span>
#include <string>

namespace qvbench::cqt
{

inline constexpr double rate = 48000.0;
inline constexpr int bandsPerOctave = 48;
inline constexpr double minHz = 20.0;
inline constexpr double refHz = 440.0;
inline constexpr double maxError = 1e-5;

// CPU seconds of the whole process (every thread, kernel time included).
inline double processCpuSeconds()
{
    timespec ts {};
    clock_gettime (CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double> (ts.tv_sec) + 1e-9 * static_cast<double> (ts.tv_nsec);
}

// CPU seconds of the process, split by step.
struct CallTimes
{
    double construct = 0; // analyzer and store
    double analysis = 0;
    double synthesis = 0;
    double release = 0; // store and analyzer given back
    double total() const { return construct + analysis + synthesis + release; }
};

// Steady-state coefficient magnitude of a tone in the bands k bands above and
// below the tone's band, relative to the tone's band.
struct Neighbours
{
    double above1 = 0, below1 = 0, above2 = 0, below2 = 0;
};

// The band among [0, count) whose centre (centre(b), a fraction of the rate)
// lies nearest to hz on a log scale; -1 when none lies within half a band step.
template <class Centre>
int nearestBand (int count, Centre&& centre, double hz)
{
    int best = -1;
    double bestDistance = 0.5 / bandsPerOctave;
    for (int b = 0; b < count; ++b)
    {
        const double c = centre (b);
        if (c <= 0.0)
            continue;
        const double d = std::fabs (std::log2 (c * rate / hz));
        if (d < bestDistance)
        {
            best = b;
            bestDistance = d;
        }
    }
    return best;
}

class CqtSide
{
public:
    virtual ~CqtSide() = default;
    virtual std::string name() const = 0;

    // A new analyzer and store: signal analysed, then resynthesised into out
    // (same length), then both released.
    virtual CallTimes freshCall (double overlap, std::span<const float> signal, std::span<float> out) = 0;

    // Repeated calls that keep what the side can keep between them. Empty name:
    // the side has no reuse.
    virtual std::string reuseName() const = 0;
    virtual void beginReuse (double overlap) = 0;
    virtual double reusedCall (std::span<const float> signal, std::span<float> out) = 0; // CPU seconds
    virtual void endReuse() = 0;

    // Every coefficient a store holds after analysing signal, all bands.
    virtual double storedCoefficients (double overlap, std::span<const float> signal) = 0;

    // A tone of frequency hz (one of the side's band centres) analysed; the
    // magnitudes are averaged over the middle half of the signal.
    virtual Neighbours neighbours (double overlap, std::span<const float> tone, double hz) = 0;
};

std::unique_ptr<CqtSide> makeOurSide();
// Null when the benchmark was built without the reference library.
std::unique_ptr<CqtSide> makeReferenceSide();

} // namespace qvbench::cqt
