// The spectral editor's radix-2 FFT against the direct transform.
#include "TestNoise.h"
#include "dsp/RadixTwoFft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

namespace
{
using quorvalen::dsp::fftComplexInPlace;
using Spectrum = std::vector<std::complex<float>>;

Spectrum noise (std::size_t n, unsigned seed)
{
    qvtest::NoiseStream draws (seed);
    Spectrum x (n);
    for (auto& v : x)
        v = { draws.next(), draws.next() };
    return x;
}

TEST (RadixTwoFft, SizesThatAreNotPowersOfTwoAreLeftUnchanged)
{
    for (std::size_t n : { 0u, 1u, 3u, 4095u })
    {
        const auto x = noise (n, 7);
        auto y = x;
        fftComplexInPlace (y, false);
        EXPECT_EQ (y, x) << n;
        fftComplexInPlace (y, true);
        EXPECT_EQ (y, x) << n;
    }
}

TEST (RadixTwoFft, ImpulseGivesAllOnesAndTheForwardPassMatchesTheDirectSum)
{
    Spectrum impulse (1024);
    impulse[0] = 1.0f;
    fftComplexInPlace (impulse, false);
    for (const auto& v : impulse)
        ASSERT_EQ (v, std::complex<float> (1.0f, 0.0f));

    const auto x = noise (64, 3);
    auto y = x;
    fftComplexInPlace (y, false);
    for (std::size_t k = 0; k < 64; ++k)
    {
        std::complex<double> sum;
        for (std::size_t j = 0; j < 64; ++j)
            sum += std::complex<double> (x[j]) * std::polar (1.0, -2.0 * M_PI * double (j * k) / 64.0);
        EXPECT_NEAR (std::abs (std::complex<double> (y[k]) - sum), 0.0, 1e-4) << k;
    }
}

TEST (RadixTwoFft, ForwardThenInverseReturnsTheInput)
{
    // Running-product twiddles lose about one float step per stage.
    for (std::size_t n : { 1024u, 4096u })
    {
        const auto x = noise (n, 11);
        auto y = x;
        fftComplexInPlace (y, false);
        fftComplexInPlace (y, true);
        double worst = 0.0;
        for (std::size_t i = 0; i < n; ++i)
            worst = std::max (worst, (double) std::abs (y[i] - x[i]));
        EXPECT_LT (worst, n == 1024 ? 2e-5 : 1e-4) << n;
    }
}
} // namespace
