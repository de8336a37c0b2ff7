#pragma once
// Rack module 1 in modes LP, HP, BP, N and RES: a resonant state-variable filter at
// four times the rate with LFO, envelope, drive and dirtbox.
#include "dsp/NoiseGenerator.h"
#include "dsp/OversamplingFrame.h"
#include "rack/modules/CepstralFilter.h"
#include "rack/modules/RackModuleCommon.h"

#include <array>
#include <cstdint>

namespace quorvalen
{

struct FilterChannelState
{
    float ic1 = 0.0f, ic2 = 0.0f;         // SVF integrators
    float dirtS1 = 0.0f, dirtS2 = 0.0f;   // dirtbox band-pass integrators
    float noiseS1 = 0.0f, noiseS2 = 0.0f; // dirtbox noise band-pass integrators
    float dirtEnvelope = 0.0f;
};

struct FilterState
{
    std::array<FilterChannelState, 2> channels {};
};

// Delay-attack-decay-sustain-release laid over the length of the sound; the cepstral
// mode uses the same shape. Durations are in samples at the base rate.
struct FilterEnvelope
{
    std::int64_t delay = 0, attack = 0, decay = 0, release = 0;
    std::int64_t decayEnd = 0, releaseStart = 0;
    float sustain = 0.0f;
};

// Percentages 0..100; the delay is in hundredths of a second, the other times are
// fractions of the sound.
FilterEnvelope makeFilterEnvelope (float delay, float attack, float decay, float sustain, float release,
                                   double sampleRate, std::int64_t playLength) noexcept;
float filterEnvelopeAt (const FilterEnvelope& envelope, std::int64_t position) noexcept;

// LFO rate in Hz for a rate setting in 0..1 (tempo divisions when synced).
float filterLfoHz (const QuorvalenRackSettings& settings, float rate) noexcept;
// The LFO and dirtbox phases and the random shape's held value.
struct FilterLfo
{
    double phase = 0.0; // cycles in [0, 1)
    double dirtboxPhase = 0.0;
    float randomValue = 0.5f;
    std::int32_t randomHold = 0;

    // Advances the phase by one sample at `rate` and returns the shape value in
    // [-1, 1]; the random shape draws from `noise` when its hold ends.
    float advance (LfoShape shape, double hz, double rate, dsp::NoiseGenerator& noise) noexcept;
    // Puts non-finite phases or random value back to their start; true when
    // something had to be repaired.
    bool repair() noexcept;
};

class FilterModule
{
public:
    // The random LFO and the dirtbox draw from the rack's shared generator.
    explicit FilterModule (dsp::NoiseGenerator& noise);

    void prepare (const RackModuleSpec& spec);
    void reset();
    // The cepstral mode always runs (its on switch only limits its amount); the
    // other modes run when the module is on.
    void process (RackBlock block, const QuorvalenRackSettings& settings, const RackLanes& lanes);

    float latencyInSamples() const noexcept { return frame.latencyInSamples(); }
    FilterLfo& lfo() noexcept { return modulation; }
    const FilterLfo& lfo() const noexcept { return modulation; }
    FilterState& state() noexcept { return filter; }
    const FilterState& state() const noexcept { return filter; }
    CepstralFilterState& cepstralState() noexcept { return cepstral; }
    const CepstralFilterState& cepstralState() const noexcept { return cepstral; }

private:
    void processStateVariable (RackBlock block, const QuorvalenRackSettings& settings, const RackLanes& lanes);
    void processCepstral (RackBlock block, const QuorvalenRackSettings& settings, const RackLanes& lanes);

    dsp::NoiseGenerator& noise;
    dsp::OversamplingFrame frame;
    double sampleRate = 44100.0;
    FilterState filter;
    FilterLfo modulation;
    CepstralFilterState cepstral;
};

} // namespace quorvalen
