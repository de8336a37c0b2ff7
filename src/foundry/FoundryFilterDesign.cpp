#include "foundry/FoundryFilterDesign.h"

#include <algorithm>
#include <cmath>

namespace quorvalen::foundry
{

double auditionQFromPercent (float percent) noexcept
{
    const double u = std::isnan (percent) ? 0.0 : std::clamp ((double) percent / 100.0, 0.0, 1.0);
    return 0.95 * std::pow (12.0 / 0.95, u);
}

double foundryCutoff (bool highPass, double cutoffHz, double rate) noexcept
{
    const double cap = std::min (std::max (0.495 * rate, 20.0), 20000.0);
    if (std::isnan (cutoffHz))
        return highPass ? 20.0 : cap;
    return cutoffHz < 20.0 ? 20.0 : std::min (cutoffHz, cap);
}

dsp::BiquadCoefficients makeFoundryFilterBiquad (bool highPass, double rate, double cutoffHz,
                                                 float resonancePercent) noexcept
{
    const double q = auditionQFromPercent (resonancePercent);
    const double w0 = 2.0 * 3.14159265358979323846 * foundryCutoff (highPass, cutoffHz, rate) / rate;
    const double cw = std::cos (w0);
    const double alpha = std::sin (w0) / (2.0 * q);
    if (highPass)
        return dsp::BiquadCoefficients::normalised ((1.0 + cw) / 2.0, -(1.0 + cw), (1.0 + cw) / 2.0, 1.0 + alpha,
                                                    -2.0 * cw, 1.0 - alpha);
    return dsp::BiquadCoefficients::normalised ((1.0 - cw) / 2.0, 1.0 - cw, (1.0 - cw) / 2.0, 1.0 + alpha, -2.0 * cw,
                                                1.0 - alpha);
}

} // namespace quorvalen::foundry
