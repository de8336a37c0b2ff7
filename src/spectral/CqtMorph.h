#pragma once
// Constant-Q morphs: a new sound moving between two cached sounds A and B inside
// the constant-Q domain, the blend swinging around the amount with a tempo-synced
// sine (covalent or mangle kind).
#include <juce_audio_basics/juce_audio_basics.h>

#include <cstdint>
#include <memory>

namespace quorvalen
{
class QuorvalenEngine;
}

namespace quorvalen::spectral
{

struct MorphRequest
{
    std::uint32_t idA = 0, idB = 0;
    float amount = 0.0f;     // percent
    std::uint32_t kind = 0;  // 0 mangle, 1 covalent
    float tempo = 120.0f;    // beats per minute, 20..400
    std::int32_t preset = 0; // note length of the swing, 0..14
};

// The new id, or -1 not ready; -8 kind above 1; -9 preset outside 0..14; -2 idA
// unknown; -3 idB unknown; -4 a buffer missing; -5 a bad rate; -6 no channels or
// samples; -7 failure while rendering. Holds the engine lock throughout.
int createCqtMorph (QuorvalenEngine& engine, const MorphRequest& request);

// Note length of a swing preset in beats: 4, 2, 1, 1/2, 1/4, straight, triplet or dotted.
float morphPresetBeats (int preset);

// Soft ceiling at four times the rate: y = c tanh(x / c), latency compensated.
void softCeiling (juce::AudioBuffer<float>& buffer, float ceiling);

} // namespace quorvalen::spectral
