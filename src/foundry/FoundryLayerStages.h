#pragma once
// The in-place stages that build a Foundry layer in a (reserved) cache entry, and
// the overtone overlay that mixes into the finished preview. Each returns a stage
// code (FoundryCodes.h) and takes the engine mutex itself.
#include <juce_audio_basics/juce_audio_basics.h>

#include <cstdint>
#include <memory>

namespace quorvalen
{
class QuorvalenEngine;
}

namespace quorvalen::foundry
{

// Cuts the source from startMs, resampled by semitones (the length follows) and
// scaled by levelPercent, into `targetId`. skipAttack skips a further 30 ms.
int renderFoundryProcessedRegion (QuorvalenEngine& engine, std::int32_t sourceId, std::int32_t targetId,
                                  float semitones, float levelPercent, float startMs, bool skipAttack);

struct LayerFilterSettings
{
    bool highPassOn = false;
    float highPassHz = 20.0f;
    float highPassResonance = 0.0f;
    bool lowPassOn = false;
    float lowPassHz = 20000.0f;
    float lowPassResonance = 0.0f;
};

int applyFoundryLayerFilters (QuorvalenEngine& engine, std::int32_t id, const LayerFilterSettings& filters);
int applyFoundryMonoInvert (QuorvalenEngine& engine, std::int32_t id, bool mono, bool invert);
int shapeFoundryTransient (QuorvalenEngine& engine, std::int32_t id, float amountPercent);
int applyFoundryLayerHeat (QuorvalenEngine& engine, std::int32_t id, float amountPercent, int mode, bool bodyVariant);
int applyFoundryStereoWidth (QuorvalenEngine& engine, std::int32_t id, float widthPercent);

// The automation lanes of `layer` (0..2, else 8) over a time base of timeBaseMs
// (0: the layer's own length).
int renderFoundryLayerStage (QuorvalenEngine& engine, std::int32_t id, std::uint32_t layer, int heatMode,
                             bool bodyVariant, const LayerFilterSettings& filters, float timeBaseMs);

int applyFoundryRegionWindow (QuorvalenEngine& engine, std::int32_t id, float fadeInPercent, float fadeOutPercent);
int applyFoundryEdgeFades (QuorvalenEngine& engine, std::int32_t id, float fadeMs);

struct OvertoneOverlay
{
    std::int32_t sourceId = 0;
    float overlayStartMs = 0.0f, overlayEndMs = 0.0f, sourceStartMs = 0.0f;
    float semitones = 0.0f, levelPercent = 100.0f, drivePercent = 0.0f;
    float fadeInPercent = 0.0f, fadeOutPercent = 0.0f;
    bool mono = false, invert = false;
    bool highPassOn = false;
    float highPassHz = 20.0f;
    bool lowPassOn = false;
    float lowPassHz = 20000.0f;
};

// Renders the overtone layer and mixes it into the engine's playback buffer.
int overlayFoundryOvertone (QuorvalenEngine& engine, const OvertoneOverlay& overtone, double renderSampleRate);
// The same into `preview`, a buffer private to the caller (the renderer's).
int overlayFoundryOvertone (QuorvalenEngine& engine, const OvertoneOverlay& overtone, double renderSampleRate,
                            std::unique_ptr<juce::AudioBuffer<float>>& preview);

} // namespace quorvalen::foundry
