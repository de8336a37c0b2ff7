#include "spectral/render/CqtMorph.h"

#include "core/FiniteSamples.h"
#include "dsp/Fades.h"
#include "dsp/LinearResample.h"
#include "dsp/OfflineOversampler.h"
#include "spectral/render/CqtMorphLaw.h"
#include "spectral/cqt/CqtSettings.h"
#include "spectral/render/RenderEngineAccess.h"
#include "spectral/render/RenderLevels.h"

#include <array>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

namespace quorvalen::spectral
{
namespace
{
constexpr float ceilingLevel = 0.8912509f;  // -1 dB
constexpr float finalPeak = 0.9942601f;     // -0.05 dB
constexpr float highPassPole = -628.31854f; // -2 pi 100 Hz
constexpr float edgeTermGain = 0.3f;

const char* labelOf (MorphKind kind)
{
    return kind == MorphKind::covalent ? "__manifold_covalent_cqt_morph__" : "__mangle_cqt_morph__";
}

struct Inputs
{
    SourceAudio a, b;
    double sr = 0.0;
    int length = 0;
    int channels = 0;
};

// B at A's rate, `length` samples, `channels` channels (B's last channel repeats).
juce::AudioBuffer<float> resampleB (const Inputs& in)
{
    const auto& B = *in.b.buffer;
    const int samples = B.getNumSamples();
    const double ratio = in.b.sampleRate / in.sr;
    juce::AudioBuffer<float> out (in.channels, in.length);
    for (int c = 0; c < in.channels; ++c)
        dsp::resampleLinear (B.getReadPointer (std::min (c, B.getNumChannels() - 1)), samples, ratio,
                             out.getWritePointer (c), in.length);
    return out;
}

// Mean over the output channels, each reading its source channel (non-finite samples as 0).
std::vector<float> monoMix (const juce::AudioBuffer<float>& x, int channels, int length)
{
    std::vector<float> m ((std::size_t) length, 0.0f);
    for (int c = 0; c < channels; ++c)
    {
        const float* s = x.getReadPointer (std::min (c, x.getNumChannels() - 1));
        for (int i = 0; i < length; ++i)
            m[(std::size_t) i] += finiteOrZero (s[i]) / (float) channels;
    }
    return m;
}

// B through a one-pole high-pass at 100 Hz, its low-pass state starting on the first sample.
std::vector<float> highPass100 (const float* x, int n, double sr)
{
    const float p = std::exp (highPassPole / (float) sr);
    std::vector<float> h ((std::size_t) n);
    float lp = x[0];
    for (int i = 0; i < n; ++i)
    {
        lp = (1.0f - p) * x[i] + p * lp;
        h[(std::size_t) i] = x[i] - lp;
    }
    return h;
}

// The band whose centre lies nearest 440 Hz (the first on a tie); 0 without bands.
int referenceBandOf (const cqt::Analyzer& analyzer, double sr)
{
    int best = 0;
    double bestDistance = 0.0;
    for (int b = 0; b < analyzer.bandCount(); ++b)
    {
        const double d = std::abs (sr * analyzer.bandCentre (b) - 440.0);
        if (b == 0 || d < bestDistance)
        {
            best = b;
            bestDistance = d;
        }
    }
    return best;
}

// The last 10 ms fall linearly to silence (a one-sample fade silences the last sample).
void fadeOutEnd (juce::AudioBuffer<float>& out, double sr)
{
    const int n = out.getNumSamples();
    const int fade = (int) std::min<long long> (n, std::max (1LL, std::llround (0.01 * sr)));
    for (int c = 0; c < out.getNumChannels(); ++c)
    {
        float* y = out.getWritePointer (c, n - fade);
        if (fade == 1)
            y[0] = 0.0f;
        dsp::fadeOutLinear (y, fade);
    }
}

// Null when `watch` tells the render to stop (it looks between stages).
std::unique_ptr<juce::AudioBuffer<float>> renderMorph (const Inputs& in, const MorphRequest& r, LongWorkWatch& watch)
{
    const int len = in.length;
    const auto& A = *in.a.buffer;
    const auto Bp = resampleB (in);

    const auto monoA = monoMix (A, in.channels, len);
    const auto monoB = monoMix (Bp, in.channels, len);
    const auto trackA = trackMorphPitch (monoA.data(), len, in.sr);
    if (watch.stopped())
        return nullptr;
    const auto trackB = trackMorphPitch (monoB.data(), len, in.sr);

    const cqt::Analyzer analyzer (spectralCqtParams (in.sr, cqtOverlapShared));
    MorphContext context;
    context.kind = r.kind == 1 ? MorphKind::covalent : MorphKind::mangle;
    context.amount = clampToRange (r.amount / 100.0f, 0.0f, 1.0f);
    context.swing = std::min (context.amount, 1.0f - context.amount);
    const float tempo = clampToRange (r.tempo, 20.0f, 400.0f);
    context.period = std::max (in.sr * 60.0 / tempo * morphPresetBeats (r.preset), 1.0);
    context.referenceBand = referenceBandOf (analyzer, in.sr);
    context.length = len;
    context.trackA = &trackA;
    context.trackB = &trackB;

    auto out = std::make_unique<juce::AudioBuffer<float>> (in.channels, len);
    // One set of stores for every channel: analysing into a store again reuses its memory.
    cqt::CoefStore cA (analyzer), cB (analyzer), analysedA (analyzer);
    for (int ch = 0; ch < in.channels; ++ch)
    {
        if (watch.stopped())
            return nullptr;
        const float* x = A.getReadPointer (std::min (ch, A.getNumChannels() - 1));
        const auto h = highPass100 (Bp.getReadPointer (ch), len, in.sr);
        analyzer.analyze ({ x, (std::size_t) len }, cA);
        analyzer.analyze ({ h.data(), h.size() }, cB);
        if (watch.stopped())
            return nullptr;

        // Every stored coefficient, the lowpass band and the times beyond the ends
        // included: amount 0 gives A and amount 100 gives B' throughout.
        if (watch.stopped())
            return nullptr;
        morphCoefficients (context, cA, cB, analyzer.bandCount(), analysedA);
        if (watch.stopped())
            return nullptr;
        float* y = out->getWritePointer (ch);
        analyzer.synthesize (cA, 0, { y, (std::size_t) len });

        if (context.kind == MorphKind::mangle)
        {
            const float a = context.amount;
            float previous = 0.0f;
            for (int i = 0; i < len; ++i)
            {
                const float s = (1.0f - a) * finiteOrZero (x[i]) + a * h[(std::size_t) i];
                y[i] += edgeTermGain * (s - previous);
                previous = s;
            }
        }
    }

    if (watch.stopped())
        return nullptr;
    fadeOutEnd (*out, in.sr);
    softCeiling (*out, ceilingLevel);
    normalisePeak (*out, finalPeak);
    return out;
}
} // namespace

float morphPresetBeats (int preset)
{
    static constexpr std::array<float, 5> base { 4.0f, 2.0f, 1.0f, 0.5f, 0.25f };
    static constexpr std::array<float, 3> multiplier { 1.0f, 0.6666667f, 1.5f };
    return base[(std::size_t) (preset % 5)] * multiplier[(std::size_t) (preset / 5)];
}

void softCeiling (juce::AudioBuffer<float>& buffer, float ceiling)
{
    dsp::runOversampledOffline (buffer, [ceiling] (juce::dsp::AudioBlock<float>& block, std::int64_t) {
        for (size_t c = 0; c < block.getNumChannels(); ++c)
        {
            float* x = block.getChannelPointer (c);
            for (size_t i = 0; i < block.getNumSamples(); ++i)
                x[i] = ceiling * std::tanh (x[i] / ceiling);
        }
    });
}

namespace
{
// The code of a render whose sources moved under it (the engine lock held): the
// engine shut down, or A or B was unloaded or changed (a cleared cache loses both).
int movedSourceCode (QuorvalenEngine& engine, const EntryCopy& a)
{
    if (! engineReadyWithDevice (engine))
        return (int) MorphError::notReady;
    return (int) (entryAsRead (engine, a) ? MorphError::unknownB : MorphError::unknownA);
}
} // namespace

int createCqtMorph (QuorvalenEngine& engine, const MorphRequest& r)
{
    // Read under the lock; the copies and the render run without it.
    std::optional<LongWorkWatch> watch;
    Inputs in;
    EntryCopy copyA, copyB;
    int bSamples = 0; // of B, as far as its resampling to A's rate reads
    {
        auto lock = lockEngine (engine);
        if (! engineReadyWithDevice (engine))
            return (int) MorphError::notReady;
        if (r.kind > 1)
            return (int) MorphError::badKind;
        if ((std::uint32_t) r.preset > 14)
            return (int) MorphError::badPreset;

        const auto lookA = lookupSource (engine, r.idA, in.a);
        const auto lookB = lookupSource (engine, r.idB, in.b);
        if (lookA == SourceLookup::unknownId)
            return (int) MorphError::unknownA;
        if (lookB == SourceLookup::unknownId)
            return (int) MorphError::unknownB;
        if (lookA == SourceLookup::noBuffer || lookB == SourceLookup::noBuffer)
            return (int) MorphError::noBuffer;
        if (lookA == SourceLookup::badRate || lookB == SourceLookup::badRate)
            return (int) MorphError::badRate;
        const auto& A = *in.a.buffer;
        const auto& B = *in.b.buffer;
        if (A.getNumChannels() < 1 || A.getNumSamples() < 1 || B.getNumChannels() < 1 || B.getNumSamples() < 1)
            return (int) MorphError::empty;

        in.sr = in.a.sampleRate;
        const double ratio = in.b.sampleRate / in.sr;
        const double bAtRate = std::round (B.getNumSamples() / ratio);
        in.length = (int) std::min<double> (A.getNumSamples(), std::max (1.0, bAtRate));
        in.channels = std::max (A.getNumChannels(), B.getNumChannels());
        // The resampling reads B up to the sample after the last position it
        // interpolates at: copying more would change nothing.
        bSamples = (int) std::min<double> (B.getNumSamples(), std::floor ((in.length - 1) * ratio) + 3.0);

        watch.emplace (engine);
        noteSourceRead (engine, *watch, r.idA, copyA);
        noteSourceRead (engine, *watch, r.idB, copyB);
    }
    try
    {
        const bool same = r.idA == r.idB;
        const int aSamples = same ? std::max (in.length, bSamples) : in.length;
        if (! copyEntryAudio (engine, *watch, copyA, copyA.channels, 0, aSamples)
            || (! same && ! copyEntryAudio (engine, *watch, copyB, copyB.channels, 0, bSamples)))
        {
            auto lock = lockEngine (engine);
            return movedSourceCode (engine, copyA);
        }
        in.a.buffer = &copyA.audio;
        in.b.buffer = same ? &copyA.audio : &copyB.audio;

        auto out = renderMorph (in, r, *watch);
        auto lock = lockEngine (engine);
        if (out == nullptr || ! watch->unchanged())
            return movedSourceCode (engine, copyA);
        return (int) insertRendered (engine, std::move (out), in.sr, labelOf ((MorphKind) r.kind));
    }
    catch (...)
    {
        return (int) MorphError::renderFailed;
    }
}

} // namespace quorvalen::spectral
