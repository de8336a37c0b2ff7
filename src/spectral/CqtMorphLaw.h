#pragma once
// The per-coefficient law of a constant-Q morph: harmonic lock, the swinging blend
// position, and for the mangle kind the low-band hold and the magnitude smear.
#include "spectral/MorphBandLists.h"
#include "spectral/MorphPitchTrack.h"

#include <complex>
#include <cstdint>

namespace quorvalen::spectral
{

enum class MorphKind : std::uint32_t
{
    mangle = 0,
    covalent = 1
};

struct MorphContext
{
    MorphKind kind = MorphKind::covalent;
    float amount = 0.0f;   // a, 0..1
    float swing = 0.0f;    // e = min(a, 1 - a)
    double period = 1.0;   // of the blend's sine, in samples
    int referenceBand = 0; // the band nearest 440 Hz
    std::int64_t length = 1;
    const PitchTrack* trackA = nullptr;
    const PitchTrack* trackB = nullptr;
    // Band lookups of both channels' coefficients as analysed (bandpass bands only;
    // with none, the band-indexed steps are skipped).
    const MorphBandLists* listsA = nullptr;
    const MorphBandLists* listsB = nullptr;
};

// The new coefficient for band b at time t from A's and B's coefficients there.
// Times outside [0, length) are evaluated at the nearest end.
std::complex<float> morphCqtCoefficient (const MorphContext& context, int band, std::int64_t t, std::complex<float> a,
                                         std::complex<float> b);

} // namespace quorvalen::spectral
