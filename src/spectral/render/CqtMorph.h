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

// The new id, or one of these (tested in the order: not ready, kind, preset,
// then the entries). Reads the entries under the engine lock, renders without it
// and takes it again to insert the result; a render whose sources moved stops at
// its next stage and inserts nothing.
enum class MorphError : std::int32_t
{
    notReady = -1, // also when the engine shut down during the render
    unknownA = -2, // also when A was unloaded or changed during the render, or the cache cleared
    unknownB = -3, // also when B was unloaded or changed during the render
    noBuffer = -4,
    badRate = -5,
    empty = -6, // no channels or samples
    renderFailed = -7,
    badKind = -8,   // above 1
    badPreset = -9, // outside 0..14
};
int createCqtMorph (QuorvalenEngine& engine, const MorphRequest& request);

// Note length of a swing preset in beats: 4, 2, 1, 1/2, 1/4, straight, triplet or dotted.
float morphPresetBeats (int preset);

// Soft ceiling at four times the rate: y = c tanh(x / c), latency compensated.
void softCeiling (juce::AudioBuffer<float>& buffer, float ceiling);

} // namespace quorvalen::spectral
