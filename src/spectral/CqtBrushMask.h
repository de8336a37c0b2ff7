#pragma once
// The brushes of an offline constant-Q edit and the gain (and phase turn) they give
// each coefficient. Positions are normalised: time 0..1 over the sound, band 0..1
// from the first band (highest) to the last bandpass band.
#include <array>
#include <complex>
#include <cstdint>
#include <vector>

namespace quorvalen::spectral
{

struct BrushRecord
{
    float centreTime = 0.0f;
    float centreBand = 0.0f;
    float timeRadius = 0.0005f;
    float bandRadius = 0.0005f;
    float strength = 0.0f;
    int mode = 0; // 0 soft cut, 1 hard cut, 2 gentle cut, 3 harmonic stack, 4 ring
};

// One record per edit of five floats (time, band, time radius, band radius,
// strength); every field clamped, non-finite values taking their low bound.
std::vector<BrushRecord> makeBrushRecords (const float* edits, const std::uint32_t* modes, int count);

class CqtBrushMask
{
public:
    static constexpr int buckets = 512;

    // bandCount: the analyzer's bandpass bands (the lowpass band is never edited).
    CqtBrushMask (std::vector<BrushRecord> brushes, int bandCount);

    // Coefficient c of band b at time t (samples) of a sound of n samples, with the
    // brushes that reach it applied. Outside the bandpass bands or [0, n) c is kept.
    std::complex<float> apply (int band, std::int64_t t, std::int64_t n, std::complex<float> c) const;

    int bandCount() const noexcept { return bands; }

private:
    std::vector<BrushRecord> brushes;
    int bands;
    int normCount;
    std::array<std::vector<int>, buckets> timeIndex;
};

} // namespace quorvalen::spectral
