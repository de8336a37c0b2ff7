#pragma once
// The rack's one noise generator: a 32-bit linear congruential sequence. Heat
// bleed, the filter's random LFO and dirtbox and the spectral delay all draw from
// the same instance, so the order of their draws is part of the sound.
#include <cstdint>

namespace quorvalen::dsp
{

class NoiseGenerator
{
public:
    static constexpr std::uint32_t startSeed = 1949934109u;

    // A value in [-1, 1).
    float next() noexcept
    {
        seed = seed * 1664525u + 1013904223u;
        return (float) ((double) (seed >> 8) / 8388607.5 - 1.0);
    }

    void reset (std::uint32_t s = startSeed) noexcept { seed = s; }
    std::uint32_t state() const noexcept { return seed; }

private:
    std::uint32_t seed = startSeed;
};

} // namespace quorvalen::dsp
