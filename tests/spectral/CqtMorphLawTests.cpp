// The constant-Q morph's pitch tracks, band lookups and per-coefficient law
// against a direct evaluation of their formulas on the same inputs: a tracker
// that sums each lag on its own, band lists of sorted (time, coefficient) records
// searched by bisection, and the law evaluated for one coefficient at a time
// with the C library's hypotf. The engine shares work between lags, bands and
// times; its results must be the same to the bit, and so must a whole morph
// made through the exports.
#include "HeadlessEngineFixture.h"

#include "dsp/Fades.h"
#include "dsp/LinearResample.h"
#include "dsp/OfflineOversampler.h"
#include "spectral/render/CqtMorph.h"
#include "spectral/render/CqtMorphLaw.h"
#include "spectral/cqt/CqtSettings.h"
#include "spectral/render/RenderLevels.h"

#include <gtest/gtest.h>
#include <quorvalen_dsp.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstring>
#include <optional>
#include <vector>

using namespace qvtest;
using namespace quorvalen;
using namespace quorvalen::spectral;

namespace
{
using Complex = std::complex<float>;

// ---- The formulas, one value at a time ----

PitchTrack directTrack (const float* x, std::int64_t n, double sr)
{
    PitchTrack track;
    if (n < 1 || ! (sr > 0.0))
        return track;
    const int D = std::max (1, (int) std::floor (sr / 11025.0));
    const float srD = (float) (sr / D);
    const std::int64_t W = std::min<std::int64_t> (std::max<std::int64_t> (512L * D, std::lround (0.092 * sr)), n);
    const std::int64_t H = std::max<std::int64_t> (1, std::lround (0.012 * sr));
    const int N = (int) std::max<std::int64_t> (32, W / D);
    const int minLag = std::max (2, (int) std::floor (srD / 1200.0f));
    const int maxLag = std::min (N - 3, (int) std::ceil (srD / 35.0f));
    if (maxLag <= minLag)
        return track;
    std::optional<float> previous;
    std::vector<float> y ((std::size_t) N), r;
    for (std::int64_t s = 0; s < n; s += H)
    {
        double mean = 0.0;
        for (int k = 0; k < N; ++k)
        {
            y[(std::size_t) k] = x[std::clamp<std::int64_t> ((std::int64_t) k * D + s - W / 2, 0, n - 1)];
            mean += y[(std::size_t) k];
        }
        mean /= N;
        double energy = 0.0;
        for (int k = 0; k < N; ++k)
        {
            const float w = 0.5f - 0.5f * std::cos (2.0f * 3.14159265358979f * (float) k / (float) std::max (1, N - 1));
            y[(std::size_t) k] = (y[(std::size_t) k] - (float) mean) * w;
            energy += (double) y[(std::size_t) k] * y[(std::size_t) k];
        }
        const float rms = (float) std::sqrt (energy / N);
        PitchFrame frame { s, 0.0f, 0.0f };
        if (rms > 1e-5f)
        {
            std::vector<double> squares ((std::size_t) N + 1, 0.0);
            for (int k = 0; k < N; ++k)
                squares[(std::size_t) k + 1] =
                    squares[(std::size_t) k] + (double) y[(std::size_t) k] * y[(std::size_t) k];
            r.assign ((std::size_t) (maxLag - minLag + 1), 0.0f);
            for (int lag = minLag; lag <= maxLag; ++lag)
            {
                double cross = 0.0;
                for (int k = 0; k < N - lag; ++k)
                    cross += (double) y[(std::size_t) k] * y[(std::size_t) (k + lag)];
                const double head = squares[(std::size_t) (N - lag)];
                const double tail = squares[(std::size_t) N] - squares[(std::size_t) lag];
                r[(std::size_t) (lag - minLag)] = (float) (cross / std::sqrt (std::max (head * tail, 1e-18)));
            }
            const auto rAt = [&] (int lag) { return r[(std::size_t) (lag - minLag)]; };
            const float threshold = std::max (0.72f * *std::max_element (r.begin(), r.end()), 0.38f);
            int taken = 0;
            float best = 0.0f;
            for (int lag = minLag + 1; lag <= maxLag - 1; ++lag)
            {
                const float v = rAt (lag);
                if (v < threshold || v < rAt (lag - 1) || v < rAt (lag + 1))
                    continue;
                if (! previous)
                {
                    taken = lag;
                    break;
                }
                const float score = v - std::min (0.18f * std::abs (std::log2 (srD / (float) lag) - *previous), 0.42f);
                if (taken == 0 || score > best)
                {
                    taken = lag;
                    best = score;
                }
            }
            if (taken != 0)
            {
                const float before = rAt (taken - 1), at = rAt (taken), after = rAt (taken + 1);
                const float den = before - 2.0f * at + after;
                const float offset =
                    std::abs (den) <= 1e-6f ? 0.0f : std::clamp (0.5f * (before - after) / den, -0.5f, 0.5f);
                float lf = std::log2 (std::max (srD / ((float) taken + offset), 1.0f));
                if (previous)
                {
                    while (lf - *previous > 0.75f)
                        lf -= 1.0f;
                    while (*previous - lf > 0.75f)
                        lf += 1.0f;
                    lf = 0.42f * lf + 0.58f * *previous;
                }
                frame.f0 = std::exp2 (lf);
                frame.confidence =
                    std::clamp (rms / 0.012f, 0.0f, 1.0f) * std::clamp ((at - 0.28f) / 0.55f, 0.0f, 1.0f);
                if (frame.confidence >= 0.1f)
                    previous = lf;
            }
        }
        track.push_back (frame);
    }
    return track;
}

struct BandSample
{
    std::int64_t time;
    Complex c;
};
using BandLists = std::vector<std::vector<BandSample>>;

BandLists collectBandCoefficients (const cqt::CoefStore& store, int bands, std::int64_t length)
{
    BandLists lists ((std::size_t) bands);
    cqt::visit (store, 0, bands, 0, length, [&] (int b, std::int64_t t, const Complex& c) {
        lists[(std::size_t) b].push_back ({ t, c });
    });
    for (auto& l : lists)
        std::sort (l.begin(), l.end(), [] (const BandSample& a, const BandSample& b) { return a.time < b.time; });
    return lists;
}

Complex sampleBandList (const std::vector<BandSample>& list, std::int64_t t)
{
    if (list.empty())
        return {};
    if (t <= list.front().time)
        return list.front().c;
    if (t >= list.back().time)
        return list.back().c;
    const auto e = std::lower_bound (list.begin(), list.end(), t,
                                     [] (const BandSample& s, std::int64_t time) { return s.time < time; });
    const auto& p = *(e - 1);
    const float frac = (float) (t - p.time) / (float) std::max<std::int64_t> (e->time - p.time, 1);
    return p.c + (e->c - p.c) * frac;
}

Complex sampleBandRecords (const BandLists& lists, float x, std::int64_t t)
{
    const int bands = (int) lists.size();
    x = std::clamp (x, 0.0f, (float) (bands - 1));
    const int i0 = (int) std::floor (x);
    const int i1 = std::min (i0 + 1, bands - 1);
    const auto z0 = sampleBandList (lists[(std::size_t) i0], t), z1 = sampleBandList (lists[(std::size_t) i1], t);
    return z0 + (z1 - z0) * (x - (float) i0);
}

float findStrongestBand (const BandLists& lists, float x, std::int64_t t)
{
    const int bands = (int) lists.size();
    const int c = std::clamp ((int) std::lroundf (x), 0, bands - 1);
    int best = std::clamp (c - 3, 0, bands - 1);
    float bestMagnitude = -1.0f;
    for (int k = c - 3; k <= c + 3; ++k)
    {
        const int band = std::clamp (k, 0, bands - 1);
        const float m = std::abs (sampleBandRecords (lists, (float) band, t));
        if (m > bestMagnitude)
        {
            bestMagnitude = m;
            best = band;
        }
    }
    return (float) best;
}

PitchFrame directPitchAt (const PitchTrack& track, std::int64_t t)
{
    if (track.empty())
        return {};
    if (t <= track.front().time)
        return track.front();
    if (t >= track.back().time)
        return track.back();
    std::size_t e = 0;
    while (track[e].time < t)
        ++e;
    const auto& p = track[e - 1];
    const auto& q = track[e];
    if (p.f0 > 0.0f && q.f0 > 0.0f && p.confidence >= 0.1f && q.confidence >= 0.1f)
    {
        const float u = (float) (t - p.time) / (float) std::max<std::int64_t> (q.time - p.time, 1);
        return { t, std::exp ((1.0f - u) * std::log (p.f0) + u * std::log (q.f0)),
                 std::min (p.confidence, q.confidence) };
    }
    return { t, 0.0f, 0.0f };
}

struct DirectLaw
{
    MorphContext c;
    BandLists listsA, listsB;
    int locked = 0; // coefficients the harmonic lock moved
};

Complex directMorphCoefficient (DirectLaw& law, int b, std::int64_t time, Complex A, Complex B)
{
    const auto& c = law.c;
    const int Bn = (int) law.listsA.size();
    const auto magnitude = [] (Complex z) { return std::hypot (z.real(), z.imag()); };
    const auto position = [&] (float f) { return (float) c.referenceBand - 48.0f * std::log2 (f / 440.0f); };
    const std::int64_t t = std::clamp<std::int64_t> (time, 0, c.length - 1);
    const Complex A0 = A;
    const auto pa = directPitchAt (*c.trackA, t), pb = directPitchAt (*c.trackB, t);
    if (Bn > 0 && pa.f0 > 0.0f && pb.f0 > 0.0f && pa.confidence >= 0.1f && pb.confidence >= 0.1f)
    {
        const float fA = pa.f0;
        float fB = pb.f0;
        while (fB / fA > 1.4142135f)
            fB *= 0.5f;
        while (fA / fB > 1.4142135f)
            fB *= 2.0f;
        const float sigma[4] = { 4.8f, 4.1f, 3.6f, 3.2f };
        int best = 0;
        float bestW = 0.0f, bestH = 0.0f;
        for (int h = 1; h <= 4; ++h)
        {
            const float bh = position ((float) h * fA);
            if (bh < -4.0f || bh > (float) Bn + 3.0f)
                continue;
            const float d = ((float) b - bh) / sigma[h - 1];
            const float w = std::exp (-0.5f * d * d);
            if (w > bestW)
                best = h, bestW = w, bestH = bh;
        }
        if (best != 0 && bestW > 0.015f)
        {
            const float conf = std::min (pa.confidence, pb.confidence);
            const float peakA = findStrongestBand (law.listsA, position ((float) best * fA), t);
            const float peakB = findStrongestBand (law.listsB, position ((float) best * fB), t);
            const auto vA = sampleBandRecords (law.listsA, ((float) b - bestH) + peakA, t);
            const auto vB = sampleBandRecords (law.listsB, ((float) b - bestH) + peakB, t);
            const float g = std::clamp (
                bestW * conf * std::clamp (4.0f * c.amount * (1.0f - c.amount), 0.0f, 1.0f) * 0.88f, 0.0f, 0.88f);
            A = A + (vA - A) * g;
            B = B + (vB - B) * g;
            law.locked += g > 0.0f ? 1 : 0;
        }
    }
    const float m = std::clamp (c.amount + c.swing * std::sin ((float) t * 6.2831855f / (float) c.period), 0.0f, 1.0f);
    float magA = magnitude (A), magB = magnitude (B), mix = m;
    if (c.kind == MorphKind::mangle && Bn > 0)
    {
        const auto S = [] (float u) {
            u = std::clamp (u, 0.0f, 1.0f);
            return (3.0f - 2.0f * u) * u * u;
        };
        const float fb = 440.0f * std::pow (2.0f, (float) (c.referenceBand - b) / 48.0f);
        const float s1 = S ((fb - 100.0f) / 35.0f);
        A = A0 + (A - A0) * s1;
        mix = m * s1;
        magA = magnitude (A);
        const float s2 = S ((fb - 100.0f) / 120.0f) * std::clamp (4.0f * m * (1.0f - m), 0.0f, 1.0f);
        if (s2 > 0.001f)
        {
            const float d = 10.0f * s2, k = 0.65f * s2;
            magA = magA + (magnitude (sampleBandRecords (law.listsA, (float) b + d, t)) - magA) * k;
            magB = magB + (magnitude (sampleBandRecords (law.listsB, (float) b - d, t)) - magB) * k;
        }
    }
    const float mag = (1.0f - mix) * magA + mix * magB;
    const auto unit = [&] (Complex z) { return magnitude (z) <= 1e-12f ? Complex { 1.0f, 0.0f } : z / magnitude (z); };
    const auto uA = unit (A), uB = unit (B);
    Complex u;
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

// ---- Test sounds ----

// A pitched sound: harmonics of a gliding root, a moving level, a silent gap (the
// tracks lose their confidence there) and a little noise.
std::vector<float> pitched (double root, double rate, int n, int seed)
{
    std::vector<float> x ((std::size_t) n);
    juce::Random r (seed);
    double phase = 0.0;
    for (int i = 0; i < n; ++i)
    {
        const double t = i / rate;
        phase += 2.0 * M_PI * root * (1.0 + 0.15 * t) / rate;
        double v = 0.0;
        for (int h = 1; h <= 5; ++h)
            v += 0.3 / h * std::sin (h * phase);
        const bool gap = t > 0.55 && t < 0.7;
        x[(std::size_t) i] =
            gap ? 0.0f : (float) (v * (0.6 + 0.4 * std::sin (2.0 * M_PI * 1.3 * t))) + 0.01f * (r.nextFloat() - 0.5f);
    }
    return x;
}

bool sameFrames (const PitchTrack& a, const PitchTrack& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].time != b[i].time || std::memcmp (&a[i].f0, &b[i].f0, sizeof (float)) != 0
            || std::memcmp (&a[i].confidence, &b[i].confidence, sizeof (float)) != 0)
            return false;
    return true;
}

int confidentFrames (const PitchTrack& t)
{
    return (int) std::count_if (t.begin(), t.end(), [] (const PitchFrame& f) { return f.confidence >= 0.1f; });
}

// ---- A whole morph, made with the direct formulas ----

struct Sound
{
    juce::AudioBuffer<float> audio;
    double rate;
};

juce::AudioBuffer<float> directMorph (const Sound& A, const Sound& B, float amount, MorphKind kind, float tempo,
                                      int preset)
{
    const double sr = A.rate;
    const int len = (int) std::min<double> (A.audio.getNumSamples(),
                                            std::max (1.0, std::round (B.audio.getNumSamples() / (B.rate / sr))));
    const int nch = std::max (A.audio.getNumChannels(), B.audio.getNumChannels());
    juce::AudioBuffer<float> Bp (nch, len);
    for (int c = 0; c < nch; ++c)
        dsp::resampleLinear (B.audio.getReadPointer (std::min (c, B.audio.getNumChannels() - 1)),
                             B.audio.getNumSamples(), B.rate / sr, Bp.getWritePointer (c), len);
    std::vector<float> monoA ((std::size_t) len, 0.0f), monoB ((std::size_t) len, 0.0f);
    for (int c = 0; c < nch; ++c)
        for (int i = 0; i < len; ++i)
        {
            monoA[(std::size_t) i] += A.audio.getSample (std::min (c, A.audio.getNumChannels() - 1), i) / (float) nch;
            monoB[(std::size_t) i] += Bp.getSample (c, i) / (float) nch;
        }
    const auto trackA = directTrack (monoA.data(), len, sr), trackB = directTrack (monoB.data(), len, sr);
    const cqt::Analyzer analyzer (spectralCqtParams (sr, cqtOverlapShared));
    DirectLaw law;
    law.c.kind = kind;
    law.c.amount = std::clamp (amount / 100.0f, 0.0f, 1.0f);
    law.c.swing = std::min (law.c.amount, 1.0f - law.c.amount);
    law.c.period = std::max (sr * 60.0 / std::clamp (tempo, 20.0f, 400.0f) * morphPresetBeats (preset), 1.0);
    double nearest = 1e300;
    for (int b = 0; b < analyzer.bandCount(); ++b)
        if (const double d = std::abs (sr * analyzer.bandCentre (b) - 440.0); d < nearest)
            nearest = d, law.c.referenceBand = b;
    law.c.length = len;
    law.c.trackA = &trackA;
    law.c.trackB = &trackB;

    juce::AudioBuffer<float> out (nch, len);
    for (int ch = 0; ch < nch; ++ch)
    {
        const float* x = A.audio.getReadPointer (std::min (ch, A.audio.getNumChannels() - 1));
        std::vector<float> h ((std::size_t) len);
        const float p = std::exp (-628.31854f / (float) sr);
        float lp = Bp.getSample (ch, 0);
        for (int i = 0; i < len; ++i)
        {
            lp = (1.0f - p) * Bp.getSample (ch, i) + p * lp;
            h[(std::size_t) i] = Bp.getSample (ch, i) - lp;
        }
        cqt::CoefStore cA (analyzer), cB (analyzer);
        analyzer.analyze ({ x, (std::size_t) len }, cA);
        analyzer.analyze (h, cB);
        law.listsA = collectBandCoefficients (cA, analyzer.bandCount(), len);
        law.listsB = collectBandCoefficients (cB, analyzer.bandCount(), len);
        cqt::visit (cA, cB, 0, cA.bands(), -(std::int64_t { 1 } << 60), std::int64_t { 1 } << 60,
                    [&] (int b, std::int64_t t, Complex& ca, Complex& cb) {
            ca = directMorphCoefficient (law, b, t, ca, cb);
        });
        float* y = out.getWritePointer (ch);
        analyzer.synthesize (cA, 0, { y, (std::size_t) len });
        if (kind == MorphKind::mangle)
        {
            float previous = 0.0f;
            for (int i = 0; i < len; ++i)
            {
                const float s = (1.0f - law.c.amount) * x[i] + law.c.amount * h[(std::size_t) i];
                y[i] += 0.3f * (s - previous);
                previous = s;
            }
        }
    }
    const int fade = (int) std::min<long long> (len, std::max (1LL, std::llround (0.01 * sr)));
    for (int c = 0; c < nch; ++c)
    {
        float* y = out.getWritePointer (c, len - fade);
        if (fade == 1)
            y[0] = 0.0f;
        dsp::fadeOutLinear (y, fade);
    }
    dsp::runOversampledOffline (out, [] (juce::dsp::AudioBlock<float>& block, std::int64_t) {
        const float c = 0.8912509f;
        for (size_t ch = 0; ch < block.getNumChannels(); ++ch)
            for (size_t i = 0; i < block.getNumSamples(); ++i)
                block.getChannelPointer (ch)[i] = c * std::tanh (block.getChannelPointer (ch)[i] / c);
    });
    normalisePeak (out, 0.9942601f);
    return out;
}

using CqtMorphLaw = HeadlessEngineTest;
} // namespace

TEST (CqtMorphPitchTrack, FramesAreThoseOfTheDirectTrackerAtEveryDecimation)
{
    // 8 kHz runs undecimated, 22.05 kHz by 2, 44.1 and 48 kHz by 4, 96 kHz by 8;
    // the short signal has a window cut to its length.
    for (const double rate : { 8000.0, 22050.0, 44100.0, 48000.0, 96000.0 })
        for (const int n : { (int) (1.2 * rate), 700 })
        {
            const auto x = pitched (130.0, rate, n, 3);
            const auto track = trackMorphPitch (x.data(), n, rate);
            const auto direct = directTrack (x.data(), n, rate);
            EXPECT_TRUE (sameFrames (track, direct)) << rate << " Hz, " << n << " samples";
            if (n > 1000)
                EXPECT_GT (confidentFrames (direct), (int) direct.size() / 2) << rate;
        }
}

TEST (CqtMorphLawDirect, EveryCoefficientIsTheDirectLawsToTheBit)
{
    const double sr = 48000.0;
    const int n = 48000;
    const auto x = pitched (110.0, sr, n, 1);
    const auto y = pitched (165.0, sr, n, 2);
    const auto trackA = directTrack (x.data(), n, sr), trackB = directTrack (y.data(), n, sr);
    const cqt::Analyzer analyzer (spectralCqtParams (sr, cqtOverlapShared));
    cqt::CoefStore a (analyzer), b (analyzer);
    analyzer.analyze (x, a);
    analyzer.analyze (y, b);

    struct Case
    {
        MorphKind kind;
        float amount;
        double period;
    };
    for (const Case& k : { Case { MorphKind::covalent, 0.5f, 24000.0 }, Case { MorphKind::mangle, 0.5f, 24000.0 },
                           Case { MorphKind::covalent, 0.3f, 7000.0 }, Case { MorphKind::mangle, 0.8f, 33000.0 },
                           Case { MorphKind::mangle, 0.0f, 24000.0 } })
    {
        DirectLaw law;
        law.c.kind = k.kind;
        law.c.amount = k.amount;
        law.c.swing = std::min (k.amount, 1.0f - k.amount);
        law.c.period = k.period;
        law.c.referenceBand = 190;
        law.c.length = n;
        law.c.trackA = &trackA;
        law.c.trackB = &trackB;
        law.listsA = collectBandCoefficients (a, analyzer.bandCount(), n);
        law.listsB = collectBandCoefficients (b, analyzer.bandCount(), n);

        auto direct = a;
        auto other = b;
        cqt::visit (direct, other, 0, direct.bands(), -(std::int64_t { 1 } << 60), std::int64_t { 1 } << 60,
                    [&] (int band, std::int64_t t, Complex& ca, Complex& cb) {
            ca = directMorphCoefficient (law, band, t, ca, cb);
        });
        auto shared = a;
        cqt::CoefStore analysed (analyzer);
        morphCoefficients (law.c, shared, b, analyzer.bandCount(), analysed);

        std::int64_t differing = 0, total = 0;
        for (int band = 0; band < a.bands(); ++band)
        {
            const auto p = direct.band (band), q = shared.band (band);
            total += (std::int64_t) p.size();
            for (std::size_t i = 0; i < p.size(); ++i)
                differing += std::memcmp (&p[i], &q[i], sizeof (Complex)) != 0 ? 1 : 0;
        }
        EXPECT_EQ (differing, 0) << "of " << total << ", kind " << (int) k.kind << ", amount " << k.amount;
        if (k.amount > 0.0f)
            EXPECT_GT (law.locked, 1000) << "the harmonic lock was not exercised";
    }
}

TEST_F (CqtMorphLaw, AMorphThroughTheExportsIsTheDirectFormulasMorph)
{
    // A stereo A against a mono B at 44.1 kHz, pitched, with level changes and a gap.
    Sound A { juce::AudioBuffer<float> (2, 60000), 48000.0 };
    for (int c = 0; c < 2; ++c)
    {
        const auto x = pitched (98.0 + 12.0 * c, 48000.0, 60000, 5 + c);
        A.audio.copyFrom (c, 0, x.data(), 60000);
    }
    Sound B { juce::AudioBuffer<float> (1, 52000), 44100.0 };
    const auto y = pitched (147.0, 44100.0, 52000, 9);
    B.audio.copyFrom (0, 0, y.data(), 52000);
    const int idA = cacheAudio (A.audio, A.rate), idB = cacheAudio (B.audio, B.rate);
    ASSERT_GT (idA, 0);
    ASSERT_GT (idB, 0);

    struct Case
    {
        MorphKind kind;
        float amount, tempo;
        int preset;
    };
    for (const Case& k : { Case { MorphKind::covalent, 50.0f, 120.0f, 1 }, Case { MorphKind::mangle, 35.0f, 172.0f, 1 },
                           Case { MorphKind::mangle, 70.0f, 90.0f, 8 } })
    {
        const int id =
            quorvalen_engine_create_manifold_cqt_morph (idA, idB, k.amount, (uint32_t) k.kind, k.tempo, k.preset);
        ASSERT_GT (id, 0);
        const auto heard = exportedEntry (id);
        // Both through the host's 24-bit export, so that they are read alike.
        const auto direct =
            exportedEntry (cacheAudio (directMorph (A, B, k.amount, k.kind, k.tempo, k.preset), A.rate));
        ASSERT_EQ (heard.getNumChannels(), direct.getNumChannels());
        ASSERT_EQ (heard.getNumSamples(), direct.getNumSamples());
        float worst = 0.0f;
        for (int c = 0; c < direct.getNumChannels(); ++c)
            for (int i = 0; i < direct.getNumSamples(); ++i)
                worst = std::max (worst, std::abs (heard.getSample (c, i) - direct.getSample (c, i)));
        EXPECT_LE (worst, 1.0f / 8388608.0f) << "kind " << (int) k.kind << ", amount " << k.amount;
    }
}
