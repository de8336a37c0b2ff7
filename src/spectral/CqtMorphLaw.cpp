#include "spectral/CqtMorphLaw.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace quorvalen::spectral
{
namespace
{
constexpr std::array<float, 4> harmonicSigma { 4.8f, 4.1f, 3.6f, 3.2f };
constexpr float confidenceFloor = 0.1f;
constexpr float lockCeiling = 0.88f;

float smoothStep (float u)
{
    u = std::clamp (u, 0.0f, 1.0f);
    return (3.0f - 2.0f * u) * u * u;
}

// Band position of frequency f: 48 bands per octave from the 440 Hz band.
float bandPosition (const MorphContext& c, float f)
{
    return (float) c.referenceBand - 48.0f * std::log2 (f / 440.0f);
}

float magnitude (std::complex<float> z)
{
    return std::hypot (z.real(), z.imag());
}

std::complex<float> unitOr (std::complex<float> z, float mag, std::complex<float> fallback)
{
    return mag <= 1e-12f ? fallback : z / mag;
}

// Re-centres the neighbourhood of A's nearest harmonic on the measured peaks of
// both sounds, so that B's matching harmonic (folded to A's octave) lands on A's.
void harmonicLock (const MorphContext& c, int b, std::int64_t t, std::complex<float>& A, std::complex<float>& B)
{
    const auto pa = samplePitchTrack (*c.trackA, t);
    const auto pb = samplePitchTrack (*c.trackB, t);
    if (! (pa.f0 > 0.0f && pb.f0 > 0.0f && pa.confidence >= confidenceFloor && pb.confidence >= confidenceFloor))
        return;
    const float fA = pa.f0;
    float fB = pb.f0;
    while (fB / fA > 1.4142135f)
        fB *= 0.5f;
    while (fA / fB > 1.4142135f)
        fB *= 2.0f;

    const int bands = c.listsA->bandCount();
    int best = 0;
    float bestWeight = 0.0f, bestPosition = 0.0f;
    for (int h = 1; h <= 4; ++h)
    {
        const float position = bandPosition (c, (float) h * fA);
        if (position < -4.0f || position > (float) bands + 3.0f)
            continue;
        const float d = ((float) b - position) / harmonicSigma[(std::size_t) h - 1];
        const float w = std::exp (-0.5f * d * d);
        if (w > bestWeight)
        {
            best = h;
            bestWeight = w;
            bestPosition = position;
        }
    }
    if (best == 0 || ! (bestWeight > 0.015f))
        return;

    const float confidence = std::min (pa.confidence, pb.confidence);
    const float peakA = c.listsA->strongestBand (bandPosition (c, (float) best * fA), t);
    const float peakB = c.listsB->strongestBand (bandPosition (c, (float) best * fB), t);
    const float offset = (float) b - bestPosition;
    const auto vA = c.listsA->sampleBands (offset + peakA, t);
    const auto vB = c.listsB->sampleBands (offset + peakB, t);
    const float g = std::clamp (bestWeight * confidence * std::clamp (4.0f * c.amount * (1.0f - c.amount), 0.0f, 1.0f)
                                    * lockCeiling,
                                0.0f, lockCeiling);
    A += (vA - A) * g;
    B += (vB - B) * g;
}
} // namespace

std::complex<float> morphCqtCoefficient (const MorphContext& c, int b, std::int64_t time, std::complex<float> A,
                                         std::complex<float> B)
{
    const std::int64_t t = std::clamp<std::int64_t> (time, 0, c.length - 1);
    const bool bandSteps = c.listsA->bandCount() > 0;
    const std::complex<float> enteredA = A;
    if (bandSteps)
        harmonicLock (c, b, t, A, B);

    const float m = std::clamp (c.amount + c.swing * std::sin ((float) t * 6.2831855f / (float) c.period), 0.0f, 1.0f);
    float magA = magnitude (A);
    float magB = magnitude (B);
    float mix = m;

    if (c.kind == MorphKind::mangle && bandSteps)
    {
        const float fb = 440.0f * std::pow (2.0f, (float) (c.referenceBand - b) / 48.0f);
        const float hold = smoothStep ((fb - 100.0f) / 35.0f);
        A = enteredA + (A - enteredA) * hold;
        mix = m * hold;
        magA = magnitude (A);
        const float smear = smoothStep ((fb - 100.0f) / 120.0f) * std::clamp (4.0f * m * (1.0f - m), 0.0f, 1.0f);
        if (smear > 0.001f)
        {
            const float d = 10.0f * smear, k = 0.65f * smear;
            magA += (magnitude (c.listsA->sampleBands ((float) b + d, t)) - magA) * k;
            magB += (magnitude (c.listsB->sampleBands ((float) b - d, t)) - magB) * k;
        }
    }

    const float mag = (1.0f - mix) * magA + mix * magB;
    const auto uA = unitOr (A, magnitude (A), { 1.0f, 0.0f });
    const auto uB = unitOr (B, magnitude (B), { 1.0f, 0.0f });
    std::complex<float> u;
    if (c.kind == MorphKind::covalent)
        u = mix < 0.5f ? uA : uB;
    else
    {
        u = (1.0f - mix) * uA + mix * uB;
        const float len = magnitude (u);
        u = len > 1e-12f ? u / len : (mix < 0.5f ? uA : uB);
    }
    return mag * u;
}

} // namespace quorvalen::spectral
