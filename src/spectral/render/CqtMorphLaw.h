#pragma once
// The per-coefficient law of a constant-Q morph: harmonic lock, the swinging blend
// position, and for the mangle kind the low-band hold and the magnitude smear.
#include "dsp/cqt/cqt.h"
#include "spectral/render/MorphPitchTrack.h"

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
};

// Rewrites every stored coefficient of `a` (the lowpass band and the times
// beyond the ends included, evaluated at the nearest end) from itself and b's
// coefficient at the same band and time, the band lookups reading both as
// analysed over [0, length) in bands [0, bandCount) (with none, the
// band-indexed steps are skipped). The stores must have the same layout (else
// cqt::Error). `analysed` receives a copy of a as analysed, for the lookups: a
// caller that morphs channel after channel passes the same store each time, so
// that its memory is reused.
//
// Everything a time shares (pitches, blend position, harmonic positions and
// peaks) is worked out once per time for all the bands that hold a coefficient
// there; each coefficient still goes through the same float operations, so the
// result is that of the law applied to one coefficient at a time.
void morphCoefficients (const MorphContext& context, cqt::CoefStore& a, const cqt::CoefStore& b, int bandCount,
                        cqt::CoefStore& analysed);

} // namespace quorvalen::spectral
