#include "dsp/Fft.h"

#include <juce_dsp/juce_dsp.h>

namespace quorvalen::dsp
{

Fft::Fft (int order) : bits (order), engine (std::make_unique<juce::dsp::FFT> (order)) {}
Fft::~Fft() = default;
Fft::Fft (Fft&&) noexcept = default;
Fft& Fft::operator= (Fft&&) noexcept = default;

void Fft::forward (const std::complex<float>* in, std::complex<float>* out) const noexcept
{
    engine->perform (in, out, false);
}

void Fft::inverse (const std::complex<float>* in, std::complex<float>* out) const noexcept
{
    engine->perform (in, out, true);
}

} // namespace quorvalen::dsp
