#include "rack/modules/FilterModule.h"


#include <algorithm>
#include <cmath>
#include <limits>

namespace quorvalen
{

namespace
{
constexpr float pi = juce::MathConstants<float>::pi;
constexpr double twoPiD = juce::MathConstants<double>::twoPi;

// The upper bound wins when the bounds cross (only at absurdly low rates), so a
// cutoff can never reach the Nyquist limit of the rate it runs at.
inline float limit (float x, float lo, float hi) noexcept
{
    return std::min (std::max (x, lo), hi);
}

inline double fractionOf (double x) noexcept
{
    return x - std::floor (x);
}

bool filterStateFinite (const FilterState& filter) noexcept
{
    for (const auto& c : filter.channels)
        if (! std::isfinite (c.ic1 + c.ic2 + c.dirtS1 + c.dirtS2 + c.noiseS1 + c.noiseS2 + c.dirtEnvelope))
            return false;
    return true;
}

// Topology-preserving state-variable filter step; returns the band-pass output and
// leaves the low-pass output in `lp`.
inline float svfBandPass (float x, float g, float k, float& s1, float& s2, float& lp) noexcept
{
    const float a = 1.0f / (1.0f + g * (g + k));
    const float bp = (g * (x - s2) + s1) * a;
    lp = s2 + g * bp;
    s1 = 2.0f * bp - s1;
    s2 = 2.0f * lp - s2;
    return bp;
}

struct FilterBlockParameters
{
    float res = 0.0f, lfoDepth = 0.0f, drive = 0.0f, envAmount = 0.0f;
    float fc0 = 1000.0f, q = 0.707f, resGain = 0.0f, saturation = 1.0f;
    double lfoHz = 1.0;
    FilterEnvelope envelope;
};

FilterBlockParameters readFilterParameters (const RackLanes& lanes, const QuorvalenRackSettings& s, double sampleRate)
{
    namespace P = rackParameter;
    FilterBlockParameters b;
    b.res = lanes.read (P::filterRes, s.filter.res);
    const float lfo = lanes.read (P::filterLfo, s.filter.lfo);
    const float lfoRate = lanes.read (P::filterLfoRate, s.filter.lfoRate) / 100.0f;
    b.drive = lanes.read (P::filterDrive, s.filter.drive) / 100.0f;
    const float envDelay = lanes.read (P::filterEnvDelay, s.filter.envDelay);
    const float envAttack = lanes.read (P::filterEnvAttack, s.filter.envAttack);
    const float envDecay = lanes.read (P::filterEnvDecay, s.filter.envDecay);
    const float envSustain = lanes.read (P::filterEnvSustain, s.filter.envSustain);
    b.envAmount = lanes.read (P::filterEnvAmount, s.filter.envAmount) / 100.0f;
    const float freq = lanes.read (P::filterFreq, s.filter.freq);

    b.fc0 = 20.0f * std::pow (1000.0f, freq / 100.0f);
    float resDb = 0.0f;
    if (s.filter.mode == FilterMode::res)
    {
        b.q = 24.0f;
        resDb = 12.0f * b.res / 100.0f;
    }
    else
    {
        b.q = 11.0f * std::pow (b.res / 100.0f, 1.4f) + 0.707f;
    }
    b.q = limit (b.q, 0.5f, 32.0f);
    // Band-pass divided by Q has unity gain at the centre: the boost lands exactly there.
    b.resGain = (std::pow (10.0f, limit (resDb, 0.0f, 12.0f) / 20.0f) - 1.0f) / b.q;
    b.saturation = 1.0f + 1.4f * b.res / 100.0f;
    b.lfoDepth = (lfo / 100.0f) * 0.35f;
    b.lfoHz = filterLfoHz (s, lfoRate);
    b.envelope = makeFilterEnvelope (envDelay, envAttack, envDecay, envSustain, s.filter.envRelease, sampleRate,
                                     lanes.timeline().playLength);
    return b;
}
} // namespace

FilterModule::FilterModule (dsp::NoiseGenerator& noise) : noise (noise)
{
    resetCepstralState (cepstral, sampleRate);
}

void FilterModule::prepare (const RackModuleSpec& spec)
{
    sampleRate = spec.sampleRate;
    frame.prepare (spec.maxBlock);
    reset();
}

void FilterModule::reset()
{
    modulation = {};
    frame.reset();
    resetCepstralState (cepstral, sampleRate);
    filter = {};
}

void FilterModule::process (RackBlock block, const QuorvalenRackSettings& settings, const RackLanes& lanes)
{
    if (settings.filter.mode == FilterMode::ceps)
        processCepstral (block, settings, lanes);
    else if (settings.filter.enabled)
        processStateVariable (block, settings, lanes);
}

FilterEnvelope makeFilterEnvelope (float delay, float attack, float decay, float sustain, float release,
                                   double sampleRate, std::int64_t playLength) noexcept
{
    const double len = (double) std::max<std::int64_t> (playLength, 1);
    FilterEnvelope e;
    e.delay = (std::int64_t) std::trunc ((delay / 100.0) * sampleRate);
    e.attack = (std::int64_t) std::trunc ((attack / 100.0) * len * 0.9);
    e.decay = (std::int64_t) std::trunc ((decay / 100.0) * len * 0.35);
    e.release = (std::int64_t) std::trunc ((release / 100.0) * len * 0.35);
    e.sustain = sustain / 100.0f;
    e.decayEnd = e.delay + e.attack + e.decay;
    e.releaseStart = std::max (e.decayEnd, (std::int64_t) len - e.release);
    return e;
}

float filterEnvelopeAt (const FilterEnvelope& e, std::int64_t q) noexcept
{
    if (q < e.delay)
        return 0.0f;
    if (e.attack >= 1 && q < e.delay + e.attack)
        return (float) ((double) (q - e.delay) / (double) e.attack);
    if (e.decay >= 1 && q < e.decayEnd)
        return (float) (1.0 + ((double) (q - e.delay - e.attack) / (double) e.decay) * (e.sustain - 1.0));
    if (e.release >= 1 && q >= e.releaseStart)
    {
        const double t = std::clamp ((double) (q - e.releaseStart) / (double) e.release, 0.0, 1.0);
        return (float) (e.sustain * (1.0 - t));
    }
    return e.sustain;
}

float filterLfoHz (const QuorvalenRackSettings& s, float rate) noexcept
{
    if (! s.filter.lfoSync)
        return 0.05f + 9.95f * rate;

    static constexpr float beatsTable[] = { 4.0f, 2.0f, 1.0f, 0.5f, 0.25f };
    const long index = std::clamp (std::lround (rate * 4.0f), 0L, 4L);
    float beats = beatsTable[index];
    if (s.filter.lfoTiming == LfoTiming::dotted)
        beats *= 1.5f;
    else if (s.filter.lfoTiming == LfoTiming::triplet)
        beats *= 0.6666667f;
    return (s.filter.bpm / 60.0f) / std::max (beats, 0.05f);
}

float FilterLfo::advance (LfoShape shape, double hz, double rate, dsp::NoiseGenerator& noise) noexcept
{
    const double p = phase = fractionOf (phase + hz / rate);
    switch (shape)
    {
        case LfoShape::tri: return (float) (1.0 - std::abs (4.0 * p - 2.0));
        case LfoShape::saw: return (float) (2.0 * p - 1.0);
        case LfoShape::sqr: return p >= 0.5 ? 1.0f : -1.0f;
        case LfoShape::rnd:
            if (randomHold < 1)
            {
                randomValue = noise.next();
                // A very slow LFO at a very high rate would overflow the counter.
                const double hold = std::trunc (rate / hz);
                randomHold = hold >= (double) std::numeric_limits<std::int32_t>::max()
                    ? std::numeric_limits<std::int32_t>::max()
                    : std::max (1, (int) hold);
            }
            randomHold -= 1;
            return randomValue;
        default: return (float) std::sin (twoPiD * p);
    }
}

bool FilterLfo::repair() noexcept
{
    bool repaired = false;
    if (! (phase >= 0.0 && phase < 1.0))
    {
        phase = 0.0;
        repaired = true;
    }
    if (! (dirtboxPhase >= 0.0 && dirtboxPhase < 1.0))
    {
        dirtboxPhase = 0.0;
        repaired = true;
    }
    if (! std::isfinite (randomValue))
    {
        randomValue = 0.5f;
        randomHold = 0;
        repaired = true;
    }
    return repaired;
}

void FilterModule::processStateVariable (RackBlock block, const QuorvalenRackSettings& s, const RackLanes& lanes)
{
    juce::ScopedNoDenormals noDenormals;

    // A state poisoned by an earlier fault starts over rather than ringing NaN forever.
    const bool repaired = modulation.repair();
    if (repaired || ! filterStateFinite (filter))
    {
        filter = {};
        frame.filters().reset();
    }

    const auto& timeline = lanes.timeline();
    bool outputFinite = true;
    const bool ran = frame.run (block.buffer, block.start, block.count, outputFinite,
                                [&] (juce::dsp::AudioBlock<float>& up) {
        float* samples[2] = { up.getChannelPointer (0), up.getChannelPointer (1) };
        const int upCount = (int) up.getNumSamples();

        const auto b = readFilterParameters (lanes, s, sampleRate);
        const double rate = sampleRate;
        const double r4 = 4.0 * rate;
        const float r4f = (float) r4;
        const float maxCutoff = 0.45f * (float) rate;
        const float maxCutoffUp = 0.45f * r4f;
        const float k = 1.0f / b.q;
        const auto mode = s.filter.mode;
        const bool isRes = mode == FilterMode::res;
        const bool envOn = s.filter.envEnabled;
        const bool dirtbox = s.filter.dirtboxEnabled;
        const float dirtNorm = 1.0f / std::tanh (2.35f);
        const float outNorm = 1.0f / std::tanh (1.04f);
        const float dirtEnvCoefficient = 1.0f - std::pow (0.982f, 0.25f);
        constexpr float dirtK = 0.86956525f;
        constexpr float noiseK = 1.1111112f;

        for (int j = 0; j < upCount; ++j)
        {
            float env = 0.0f;
            if (envOn)
                env = filterEnvelopeAt (b.envelope, timeline.automationPosition (j / 4));

            float depth = b.lfoDepth;
            if (envOn && s.filter.envTargetLfo)
            {
                const float e = env * b.envAmount * 0.35f;
                depth = s.filter.envInvert ? std::max (b.lfoDepth - e, 0.0f) : std::min (b.lfoDepth + e, 0.45f);
            }

            const float shape = modulation.advance (s.filter.lfoShape, b.lfoHz, r4, noise);
            float mod = shape * depth;
            if (envOn && s.filter.envTargetFreq)
                mod += s.filter.envInvert ? -(env * b.envAmount) : env * b.envAmount;

            float fc = limit (b.fc0 * std::exp2 (6.0f * mod), 20.0f, maxCutoff);
            if (dirtbox)
            {
                modulation.dirtboxPhase = fractionOf (modulation.dirtboxPhase + 15.0 / r4);
                fc =
                    limit ((1.0f + 0.07f * (float) std::sin (twoPiD * modulation.dirtboxPhase)) * fc, 20.0f, maxCutoff);
            }

            float d = b.drive;
            if (envOn && s.filter.envTargetDrive)
            {
                const float e = env * b.envAmount;
                d = s.filter.envInvert ? std::max (b.drive - e, 0.0f) : std::min (b.drive + e, 1.0f);
            }

            const float g = std::tan (pi * limit (fc, 20.0f, maxCutoffUp) / r4f);

            for (int c = 0; c < 2; ++c)
            {
                auto& f = filter.channels[(size_t) c];
                const float x = samples[c][j];
                float lp = 0.0f;
                const float bp = svfBandPass (x, g, k, f.ic1, f.ic2, lp);
                const float hp = x - k * bp - lp;

                float y;
                switch (mode)
                {
                    case FilterMode::hp: y = hp; break;
                    case FilterMode::bp: y = bp; break;
                    case FilterMode::notch: y = lp + hp; break;
                    case FilterMode::res: y = x + b.resGain * bp; break;
                    default: y = lp; break;
                }

                if (! isRes && b.res > 0.0f)
                    y = std::tanh (b.saturation * y);
                if (d > 0.0f)
                    y = std::tanh ((1.0f + 3.0f * d) * y);

                if (dirtbox)
                {
                    float dirtLp = 0.0f;
                    const float band = svfBandPass (x, g, dirtK, f.dirtS1, f.dirtS2, dirtLp);
                    const float dirt = std::tanh (2.35f * band) * dirtNorm - band;
                    f.dirtEnvelope +=
                        (limit (5.0f * std::abs (band), 0.0f, 1.0f) - f.dirtEnvelope) * dirtEnvCoefficient;
                    const float r = noise.next();
                    float noiseLp = 0.0f;
                    const float bn = svfBandPass (2.0f * r, g, noiseK, f.noiseS1, f.noiseS2, noiseLp);
                    y = std::tanh ((bn * (0.01f * f.dirtEnvelope + 0.0028f) + 0.16f * dirt + y) * 1.04f) * outNorm;
                }

                samples[c][j] = y;
            }
        }
    });
    if (! ran)
        return;

    // Debug builds flag a blown-up block; every build keeps it from reaching the
    // modules downstream (the frame wrote its bad samples as 0) and starts the filter over.
    const bool finite = outputFinite && filterStateFinite (filter);
    jassert (finite);
    if (! finite)
    {
        filter = {};
        frame.filters().reset();
    }
}

} // namespace quorvalen
