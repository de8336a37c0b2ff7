#pragma once
// The spectral editor's own in-place radix-2 complex FFT. Twiddles come from a
// running complex product rather than a table, so it allocates nothing and keeps
// no state; its precision is that of single-precision running products.
#include <complex>
#include <vector>

namespace quorvalen::dsp
{

// Forward: X[k] = sum x[j] e^(-2 pi i jk/n), unscaled. Inverse: scaled by 1/n.
// Sizes that are not a power of two (or below 2) leave the data unchanged.
void fftComplexInPlace (std::complex<float>* data, std::size_t size, bool inverse) noexcept;
inline void fftComplexInPlace (std::vector<std::complex<float>>& data, bool inverse) noexcept
{
    fftComplexInPlace (data.data(), data.size(), inverse);
}

} // namespace quorvalen::dsp
