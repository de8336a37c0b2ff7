#include "dsp/RadixTwoFft.h"

#include <cmath>
#include <utility>

namespace quorvalen::dsp
{

void fftComplexInPlace (std::complex<float>* data, std::size_t n, bool inverse) noexcept
{
    if (n < 2 || (n & (n - 1)) != 0)
        return;

    for (std::size_t i = 1, j = 0; i < n; ++i)
    {
        std::size_t bit = n >> 1;
        for (; (j & bit) != 0; bit >>= 1)
            j ^= bit;
        j |= bit;
        if (i < j)
            std::swap (data[i], data[j]);
    }

    // Plain real arithmetic: std::complex multiplication would take the slow
    // NaN-recovery path on every butterfly.
    auto* a = reinterpret_cast<float*> (data);
    for (std::size_t len = 2; len <= n; len <<= 1)
    {
        const float angle = (inverse ? 6.2831855f : -6.2831855f) / (float) len;
        const float c = std::cos (angle), s = std::sin (angle);
        const std::size_t half = len >> 1;
        for (std::size_t start = 0; start < n; start += len)
        {
            float wr = 1.0f, wi = 0.0f;
            for (std::size_t k = 0; k < half; ++k)
            {
                float* u = a + 2 * (start + k);
                float* v = a + 2 * (start + k + half);
                const float vr = v[0] * wr - v[1] * wi;
                const float vi = v[0] * wi + v[1] * wr;
                const float ur = u[0], ui = u[1];
                u[0] = ur + vr;
                u[1] = ui + vi;
                v[0] = ur - vr;
                v[1] = ui - vi;
                const float nr = wr * c - wi * s;
                wi = wr * s + wi * c;
                wr = nr;
            }
        }
    }

    if (inverse)
    {
        const float scale = 1.0f / (float) n;
        for (std::size_t i = 0; i < 2 * n; ++i)
            a[i] *= scale;
    }
}

} // namespace quorvalen::dsp
