#pragma once
// The STFT road's transform: the editor's radix-2 FFT (dsp::fftComplexInPlace)
// with each stage's twiddles read from a table instead of recomputed per block.
// The table holds the very running products the FFT forms, and the butterflies
// run in the same order, so every value comes out bit for bit as there, in well
// under half the time.
#include <complex>
#include <vector>

namespace quorvalen
{

// Transforms the whole array in place, as dsp::fftComplexInPlace does (inverse
// scaled by 1/size; sizes that are not a power of two left unchanged). 1024 and
// 4096 points use tables made once per process; other sizes go to the FFT itself.
void stftTransform (std::vector<std::complex<float>>& data, bool inverse) noexcept;

} // namespace quorvalen
