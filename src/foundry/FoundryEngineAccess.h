#pragma once
// The Foundry's only ways into engine internals: the engine mutex, cache entries
// under their ids, and detaching playback before an entry's audio is replaced.
#include "cache/AudioCache.h"
#include "foundry/FoundryAutomationLane.h"
#include "foundry/FoundryCodes.h"
#include "foundry/FoundryPreviewCache.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <array>

#include <cstdint>
#include <memory>
#include <mutex>

namespace quorvalen
{
class FoundryAuditionCharacterSource;
class FoundryRegionFilterSource;
} // namespace quorvalen

namespace quorvalen::foundry
{

using quorvalen::lockEngine;

// Which properties of an entry a stage needs, tested in the shared order.
enum class Needs
{
    buffer,        // codes 2, 4
    bufferAndRate, // codes 2, 4, 5
    audio,         // codes 2, 4, 5, 6
};

struct EntryLookup
{
    CacheEntry* entry = nullptr;
    int code = 0;
};

// Caller holds the engine mutex.
EntryLookup lookupEntry (QuorvalenEngine& engine, std::int32_t id, Needs needs);

// lookupEntry for a stage that writes or replaces the entry's audio: playback of
// the entry is detached first and the entry is marked changed (long work that
// copied it out then installs nothing). Caller holds the engine mutex.
EntryLookup lookupEntryForWriting (QuorvalenEngine& engine, std::int32_t id, Needs needs);

// The usual frame of an in-place stage: takes the engine mutex, looks the entry up
// for writing and runs `work (entry)`, or returns the lookup's code.
template <typename Work>
int withEntryForWriting (QuorvalenEngine& engine, std::int32_t id, Needs needs, Work&& work)
{
    const auto lock = lockEngine (engine);
    const auto found = lookupEntryForWriting (engine, id, needs);
    return found.entry == nullptr ? found.code : work (*found.entry);
}

// Stops playback when it reads the entry `id`, so that a stage may write or replace
// its audio. Caller holds the engine mutex.
void detachPlaybackOf (QuorvalenEngine& engine, std::int32_t id);

// Puts `entry` under `id`, erasing what was there (after detaching its playback).
// Caller holds the engine mutex.
void replaceEntry (QuorvalenEngine& engine, std::int32_t id, CacheEntry entry);
// Caller holds the engine mutex; a missing id is skipped.
void eraseEntry (QuorvalenEngine& engine, std::int32_t id);

// The playback buffer for writing in place: playback that reads it is detached
// first (the buffer is kept). Caller holds the engine mutex.
juce::AudioBuffer<float>* writablePlaybackBuffer (QuorvalenEngine& engine);
// Gives the engine a new playback buffer, detaching any playback that reads the
// old one first. Caller holds the engine mutex.
void replacePlaybackBuffer (QuorvalenEngine& engine, std::unique_ptr<juce::AudioBuffer<float>> buffer);
// The same as the engine's owning slot, for a stage that may lengthen it.
std::unique_ptr<juce::AudioBuffer<float>>& writablePlaybackBufferSlot (QuorvalenEngine& engine);

// Stops and detaches whatever plays (frees the playback buffer). Caller holds the
// engine mutex.
void stopEnginePlayback (QuorvalenEngine& engine);
// Plays the engine's playback buffer from its start at `rate` (not copied), as
// playback without a cache id. Caller holds the engine mutex and has stopped
// playback.
void playPlaybackBuffer (QuorvalenEngine& engine, double rate, bool loop);

// Ready with a device manager. Caller holds the engine mutex.
using quorvalen::engineHasDevice;
// The running device's sample rate, 0 without one. Caller holds the engine mutex.
double currentDeviceRate (QuorvalenEngine& engine);

// The Foundry's state (FoundryState, held by the engine): the automation lanes of each layer (the
// caller holds the engine mutex), the generation that every lane edit advances, and
// the audition stages of the playback chain.
using LayerLanes = std::array<FoundryAutomationLane, foundryParameterCount>;
LayerLanes& layerLanes (QuorvalenEngine& engine, std::uint32_t layer);
void advanceFoundryGeneration (QuorvalenEngine& engine);

struct AuditionStages
{
    FoundryAuditionCharacterSource& character;
    juce::IIRFilterAudioSource& highPass;
    juce::IIRFilterAudioSource& lowPass;
    FoundryRegionFilterSource& regionFilter;
};
AuditionStages auditionStages (QuorvalenEngine& engine);

// The preview cache and what keeps it honest. Callers hold the engine mutex.
using quorvalen::engineReady;
std::uint64_t foundryGenerationOf (QuorvalenEngine& engine);
FoundryPreviewCache* previewCacheOf (QuorvalenEngine& engine);
void setPreviewCache (QuorvalenEngine& engine, std::unique_ptr<FoundryPreviewCache> record);
const std::array<std::array<FoundryAutomationLane, foundryParameterCount>, foundryLayerCount>&
automationLanesOf (QuorvalenEngine& engine);
// The working entry of a processing edit session or the live copy of a spectral
// session (the engine defines it: the Foundry does not see the sessions).
bool isSessionWorkEntry (QuorvalenEngine& engine, std::int32_t id);
// The finished preview: the playback buffer (may be null) and its rate.
const juce::AudioBuffer<float>* playbackBufferOf (QuorvalenEngine& engine);
double finishedPreviewRateOf (QuorvalenEngine& engine);

// The recursive Foundry render lock, always taken before the engine mutex.
std::unique_lock<std::recursive_mutex> lockRender (QuorvalenEngine& engine);
// Audition filters off, the audition character neutral and the chain's resampler
// at the main preview's own speed (so a refresh keeps the live pitch).
void neutraliseFoundryAudition (QuorvalenEngine& engine);
// Caller holds the engine mutex.
void setFinishedPreviewRate (QuorvalenEngine& engine, double rate);
// The region filter's view of the main preview: speed, length, loop, position.
void publishPreviewPosition (QuorvalenEngine& engine, double lengthSeconds, bool loop, double position);
// Ready and holding a device.
bool previewDeviceReady (QuorvalenEngine& engine);
// Whether the main preview loops.
bool previewLooping (QuorvalenEngine& engine);
void setPreviewLooping (QuorvalenEngine& engine, bool loop);

// Installing a finished preview; the caller holds the engine mutex.
// Detaches playback and plays the preview from its start as the main preview.
void installAndPlayPreview (QuorvalenEngine& engine, std::unique_ptr<juce::AudioBuffer<float>> audio, double rate,
                            bool loop);
// Keeps the preview as the playback buffer (playback that read the old one is
// detached first).
void installPreviewBuffer (QuorvalenEngine& engine, std::unique_ptr<juce::AudioBuffer<float>> audio);
// Swaps the preview into the attached playback without stopping it: the audio
// thread is held outside the chain while the transport changes source, and the
// new source crossfades from the old sound; position, loop and speed carry over.
void swapPreviewIntoPlayback (QuorvalenEngine& engine, std::unique_ptr<juce::AudioBuffer<float>> audio, double rate);
// Stops the transport, keeping its source. Caller holds the engine mutex.
void stopTransport (QuorvalenEngine& engine);
// Something plays or is attached for the main preview (ready, device, buffer and source).
bool previewAttached (QuorvalenEngine& engine);

// Plays a cached entry from its start (the engine's own playback of an entry;
// takes the engine mutex). 0 or the playback codes.
int playEntry (QuorvalenEngine& engine, std::int32_t id, float semitones, float volumePercent);

} // namespace quorvalen::foundry
