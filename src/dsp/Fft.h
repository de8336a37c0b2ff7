#pragma once
// The engine's complex FFT facade. Inverse transforms are scaled by 1/size, so a
// forward then inverse pass gives the input back.
#include <complex>
#include <memory>

namespace juce::dsp
{
class FFT;
}

namespace quorvalen::dsp
{

class Fft
{
public:
    explicit Fft (int order);
    ~Fft();
    Fft (Fft&&) noexcept;
    Fft& operator= (Fft&&) noexcept;

    int order() const noexcept { return bits; }
    int size() const noexcept { return 1 << bits; }

    // `in` and `out` hold size() values each and must not overlap.
    void forward (const std::complex<float>* in, std::complex<float>* out) const noexcept;
    void inverse (const std::complex<float>* in, std::complex<float>* out) const noexcept;

private:
    int bits;
    std::unique_ptr<juce::dsp::FFT> engine;
};

} // namespace quorvalen::dsp
