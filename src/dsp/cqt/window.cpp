#include "cqt/window.h"

#include <algorithm>
#include <cmath>

namespace quorvalen::cqt::detail
{

namespace
{

// w(1) / w(0) for a plain Gaussian bump of the given width (the cut changes it
// by about maxError^2).
double neighbourRatio (double width)
{
    const double k = 1.0 / (width * std::sqrt (2.0));
    const double at0 = std::erf (0.5 * k) - std::erf (-0.5 * k);
    const double at1 = std::erf (1.5 * k) - std::erf (0.5 * k);
    return std::sqrt (at1 / at0);
}

} // namespace

WindowShape::WindowShape (double neighbourResponse, double maxError)
{
    // The ratio grows with the width: bisect for the response.
    double lo = 1e-3, hi = 100.0;
    for (int i = 0; i < 200; ++i)
    {
        const double mid = 0.5 * (lo + hi);
        (neighbourRatio (mid) < neighbourResponse ? lo : hi) = mid;
    }
    width_ = 0.5 * (lo + hi);
    // w is about the square root of the bump: cutting the bump at (3 maxError)^2
    // cuts w near 3 maxError. Reconstruction stays exact (the duals divide by
    // the sampled windows), the atoms keep their supports within the budget,
    // and the bands are as wide as the published transform's (as many
    // coefficients per sample).
    floor_ = 9.0 * maxError * maxError;
    cut_ = width_ * std::sqrt (2.0 * std::log (1.0 / floor_));

    // Integrals from each node to the cut, by Simpson's rule from the top.
    constexpr std::size_t nodes = 4097, sub = 8;
    tail_.assign (nodes, 0.0);
    slope_.assign (nodes, 0.0);
    const double h = cut_ / static_cast<double> (nodes - 1);
    for (std::size_t j = 0; j < nodes; ++j)
        slope_[j] = -bump (static_cast<double> (j) * h) * h;
    for (std::size_t j = nodes - 1; j-- > 0;)
    {
        const double a = static_cast<double> (j) * h, dh = h / sub;
        double acc = 0.0;
        for (std::size_t q = 0; q < sub; ++q)
        {
            const double l = a + static_cast<double> (q) * dh;
            acc += dh / 6.0 * (bump (l) + 4.0 * bump (l + 0.5 * dh) + bump (l + dh));
        }
        tail_[j] = tail_[j + 1] + acc;
    }
    peak_ = averaged (0.0);
}

double WindowShape::bump (double u) const
{
    if (! (std::abs (u) < cut_))
        return 0.0;
    // The Gaussian less the start of its own series at the cut, in
    // y = (cut^2 - u^2) / (2 width^2): zero there with four vanishing
    // derivatives, so that the atoms' far tails stay short.
    const double y = (cut_ * cut_ - u * u) / (2.0 * width_ * width_);
    const double series = 1.0 + y * (1.0 + y * (0.5 + y * (1.0 / 6.0 + y / 24.0)));
    return std::max (0.0, std::exp (-0.5 * u * u / (width_ * width_)) - floor_ * series);
}

double WindowShape::tail (double y) const
{
    if (y >= cut_)
        return 0.0;
    // Cubic Hermite between nodes with the exact slope, -bump.
    const double h = cut_ / static_cast<double> (tail_.size() - 1);
    const double pos = y / h;
    const auto j = std::min (static_cast<std::size_t> (pos), tail_.size() - 2);
    const double u = pos - static_cast<double> (j);
    const double u2 = u * u, u3 = u2 * u;
    return std::max (0.0,
                     (2 * u3 - 3 * u2 + 1) * tail_[j] + (u3 - 2 * u2 + u) * slope_[j]
                         + (-2 * u3 + 3 * u2) * tail_[j + 1] + (u3 - u2) * slope_[j + 1]);
}

double WindowShape::averaged (double x) const
{
    const double a = x - 0.5, b = x + 0.5;
    // The bump is even: integrals from below 0 come from the other half.
    const double fromA = a >= 0.0 ? tail (a) : 2.0 * tail_.front() - tail (-a);
    return std::max (0.0, fromA - tail (b));
}

double WindowShape::operator() (double d) const
{
    d = std::abs (d);
    if (! (d < halfWidth()))
        return 0.0;
    return std::sqrt (averaged (d) / peak_);
}

} // namespace quorvalen::cqt::detail
