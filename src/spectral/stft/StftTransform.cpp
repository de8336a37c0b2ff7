#include "spectral/stft/StftTransform.h"

#include "dsp/RadixTwoFft.h"

#include <cmath>
#include <cstdint>
#include <utility>

namespace quorvalen
{
namespace
{
class TwiddleTable
{
public:
    explicit TwiddleTable (std::size_t size) : n (size)
    {
        for (std::size_t i = 1, j = 0; i < n; ++i)
        {
            std::size_t bit = n >> 1;
            for (; (j & bit) != 0; bit >>= 1)
                j ^= bit;
            j |= bit;
            if (i < j)
                swaps.push_back ({ (std::uint32_t) i, (std::uint32_t) j });
        }
        // Per direction and stage, the twiddles of one block: the running product
        // w <- w x (cos, sin) from (1, 0), as the FFT forms it.
        for (int inverse = 0; inverse < 2; ++inverse)
            for (std::size_t len = 2; len <= n; len <<= 1)
            {
                const float angle = (inverse ? 6.2831855f : -6.2831855f) / (float) len;
                const float c = std::cos (angle), s = std::sin (angle);
                float wr = 1.0f, wi = 0.0f;
                for (std::size_t k = 0; k < len / 2; ++k)
                {
                    twiddles[inverse].push_back (wr);
                    twiddles[inverse].push_back (wi);
                    const float nr = wr * c - wi * s;
                    wi = wr * s + wi * c;
                    wr = nr;
                }
            }
    }

    void run (std::complex<float>* data, bool inverse) const noexcept
    {
        for (const auto& [i, j] : swaps)
            std::swap (data[i], data[j]);
        auto* a = reinterpret_cast<float*> (data);
        const float* t = twiddles[inverse ? 1 : 0].data();
        for (std::size_t len = 2; len <= n; len <<= 1)
        {
            const std::size_t half = len >> 1;
            for (std::size_t start = 0; start < n; start += len)
            {
                float* __restrict u = a + 2 * start;
                float* __restrict v = a + 2 * (start + half);
                for (std::size_t k = 0; k < half; ++k)
                {
                    const float wr = t[2 * k], wi = t[2 * k + 1];
                    const float vr = v[2 * k] * wr - v[2 * k + 1] * wi;
                    const float vi = v[2 * k] * wi + v[2 * k + 1] * wr;
                    const float ur = u[2 * k], ui = u[2 * k + 1];
                    u[2 * k] = ur + vr;
                    u[2 * k + 1] = ui + vi;
                    v[2 * k] = ur - vr;
                    v[2 * k + 1] = ui - vi;
                }
            }
            t += 2 * half;
        }
        if (inverse)
        {
            const float scale = 1.0f / (float) n;
            for (std::size_t i = 0; i < 2 * n; ++i)
                a[i] *= scale;
        }
    }

private:
    std::size_t n;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> swaps;
    std::vector<float> twiddles[2];
};
} // namespace

void stftTransform (std::vector<std::complex<float>>& data, bool inverse) noexcept
{
    // Built on first use; a table that cannot be allocated leaves the work to the FFT.
    static const auto* small = []() noexcept -> const TwiddleTable* {
        try
        {
            return new TwiddleTable (1024);
        }
        catch (...)
        {
            return nullptr;
        }
    }();
    static const auto* large = []() noexcept -> const TwiddleTable* {
        try
        {
            return new TwiddleTable (4096);
        }
        catch (...)
        {
            return nullptr;
        }
    }();
    const auto* table = data.size() == 1024 ? small : data.size() == 4096 ? large : nullptr;
    if (table != nullptr)
        table->run (data.data(), inverse);
    else
        dsp::fftComplexInPlace (data, inverse);
}

} // namespace quorvalen
