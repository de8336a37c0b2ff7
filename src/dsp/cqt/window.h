// The window every band uses, as a function of the distance d (in bands) from
// its centre on the log-frequency axis.
//
// w(d)^2 is a Gaussian-shaped bump averaged over one band width, so the squares
// of windows one band apart sum to exactly the same value everywhere: the
// synthesis windows are then the analysis windows scaled, and the synthesis
// atoms keep the analysis atoms' shape and length. Its width makes w answer a
// neighbour's centre as a Gaussian of the scale's standard deviation does. The
// bump is cut where w is near 3 maxError, with four vanishing derivatives: a
// step or a kink there would ring in time far beyond the atom.
#pragma once

#include <vector>

namespace quorvalen::cqt::detail
{

class WindowShape
{
public:
    WindowShape() = default;
    // w(0) = 1 and w(1) = neighbourResponse.
    WindowShape (double neighbourResponse, double maxError);

    double operator() (double d) const;
    // w is 0 from this distance on.
    double halfWidth() const { return cut_ + 0.5; }
    // Sum over all whole k of w(d - k)^2, the same for every d.
    double energySum() const { return 2.0 * tail_.front() / peak_; }

private:
    double bump (double u) const;
    // Integral of the bump from y to the cut (y >= 0).
    double tail (double y) const;
    // Integral of the bump over [x - 1/2, x + 1/2] (x >= 0).
    double averaged (double x) const;

    double width_ = 1.0; // Gaussian width of the bump, in bands
    double cut_ = 0.0;
    double floor_ = 0.0;        // where the bump is cut
    std::vector<double> tail_;  // tail() at evenly spaced nodes over [0, cut]
    std::vector<double> slope_; // its slope per node spacing there
    double peak_ = 1.0;         // averaged(0)
};

} // namespace quorvalen::cqt::detail
