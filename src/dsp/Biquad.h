#pragma once
// Second-order section in transposed direct form II, computed in double.
namespace quorvalen::dsp
{

// b0 b1 b2 a1 a2 with a0 divided out.
struct BiquadCoefficients
{
    double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;

    static BiquadCoefficients normalised (double b0, double b1, double b2, double a0, double a1, double a2) noexcept
    {
        return { b0 / a0, b1 / a0, b2 / a0, a1 / a0, a2 / a0 };
    }
};

class Biquad
{
public:
    void setCoefficients (const BiquadCoefficients& c) noexcept { k = c; }
    const BiquadCoefficients& coefficients() const noexcept { return k; }
    void reset() noexcept { z1 = z2 = 0.0; }

    double process (double x) noexcept
    {
        const double y = k.b0 * x + z1;
        z1 = k.b1 * x - k.a1 * y + z2;
        z2 = k.b2 * x - k.a2 * y;
        return y;
    }

    void process (float* samples, int count) noexcept
    {
        for (int i = 0; i < count; ++i)
            samples[i] = (float) process ((double) samples[i]);
    }

private:
    BiquadCoefficients k;
    double z1 = 0.0, z2 = 0.0;
};

} // namespace quorvalen::dsp
