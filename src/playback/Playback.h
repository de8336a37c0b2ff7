#pragma once
// The only code that writes the transport, the current source, the resampler's
// ratio and the playing flags: starting a source, swapping the source of running
// playback without a gap, detaching, the stop fade, the Foundry main-preview
// setters and telemetry. Callers hold engineMutex unless a function says otherwise.
#include "chain/EngineMemorySource.h"
#include "core/Units.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace quorvalen
{

class QuorvalenEngine;

// What a started playback reads and how.
struct SourceStart
{
    // Read in place: a cache entry's buffer or the engine's own playback buffer.
    juce::AudioBuffer<float>* audio = nullptr;
    // The rate the transport reads it at; a pitch moves it along with the speed.
    double sourceRate = 0.0;
    // Unset: the transport keeps the gain it has.
    std::optional<float> gain;
    double positionSeconds = 0.0;
    // When set, the sample of `audio` to start at, exactly (positionSeconds unused).
    std::optional<juce::int64> positionSample;
    bool loop = false;
    bool throughRack = false;
    // 0 for the engine's own playback buffer.
    std::uint32_t cacheId = 0;
    // Back to 1: the Foundry pitch setter may have left another ratio.
    bool resetRatio = false;
};

// Attaches `start.audio` (the previous playback detached by the caller), sets the
// gain, position, ratio and flags, runs `beforeStart` and starts the transport.
void startSource (QuorvalenEngine& engine, const SourceStart& start, const std::function<void()>& beforeStart = {});

// What replaces the source of running playback.
struct SourceSwap
{
    juce::AudioBuffer<float>* audio = nullptr;
    double sourceRate = 0.0;
    float gain = 1.0f;
    bool loop = false;
    std::uint32_t cacheId = 0;
};

// Swaps the source of running playback with the audio thread held outside the
// chain, so that no block is lost: `placeAt (position)` gives the new source's
// start from the old one's position, or nothing to refuse; `duringSwap (start)`
// runs inside. The engine's playback buffer (a tail copy) is let go, the ratio
// goes back to 1. False, with nothing changed, when playback stopped or was refused.
bool swapRunningSource (QuorvalenEngine& engine, const SourceSwap& swap,
                        const std::function<std::optional<double> (double)>& placeAt,
                        const std::function<void (double)>& duringSwap);

// What a caller's own replacement source is built from, inside the swap.
struct RunningSource
{
    bool wasPlaying = false;
    // The old source's next read position, in its own samples (not below 0), and
    // the rate the transport read it at.
    juce::int64 readPosition = 0;
    double sourceRate = 0.0;
    // The engine's playback buffer being replaced (may be null).
    const juce::AudioBuffer<float>* playbackAudio = nullptr;
};
struct BuiltSource
{
    std::unique_ptr<juce::PositionableAudioSource> source;
    double positionSeconds = 0.0;
};
// The same swap with a source of the caller's own (a crossfade, say): `audio`
// becomes the engine's playback buffer and `build` makes the source that reads it
// from the running source's state, under the callback lock. Unlike the swap above
// an attached but paused source is replaced too (and stays paused), the ratio is
// kept, the gain goes to 1 and the cache id to 0. `duringSwap (position)` runs
// inside. The caller makes sure a source is attached.
void swapRunningSource (QuorvalenEngine& engine, std::unique_ptr<juce::AudioBuffer<float>> audio, double sourceRate,
                        const std::function<BuiltSource (const RunningSource&)>& build,
                        const std::function<void (double)>& duringSwap);
// Stops the transport, keeping its source.
void stopTransport (QuorvalenEngine& engine);

// Stops the transport and lets go of the source, the playback buffer and the
// playing flags (the engine's stopPlayback also resets the chain's stages).
void detachSource (QuorvalenEngine& engine);
// Detaches the whole chain (QuorvalenEngine::stopPlayback; the engine defines it).
void stopPlayback (QuorvalenEngine& engine);
// Stops playback when it reads the cache entry `id`.
void stopPlaybackOf (QuorvalenEngine& engine, std::uint32_t id);

// What plays: the cache id (0 for the engine's own buffer or nothing), whether a
// source is attached, and the captured state of running playback.
std::uint32_t playingEntry (const QuorvalenEngine& engine);
bool hasSource (const QuorvalenEngine& engine);
struct RunningPlayback
{
    bool wasPlaying = false;
    // The transport's position: the source's sample over the rate it is read at.
    double positionSeconds = 0.0;
    // The source's next sample (not below 0) and the rate it is read at, a pitch included.
    juce::int64 readPosition = 0;
    double sourceRate = 0.0;
    float gain = 1.0f;
    bool loops = false;
    bool throughRack = false;
};
RunningPlayback runningPlayback (QuorvalenEngine& engine);
// The transport's position, playing or not.
double playbackPosition (QuorvalenEngine& engine);

// The engine's own playback buffer (no cache id).
juce::AudioBuffer<float>* playbackBuffer (QuorvalenEngine& engine);
// The playback buffer for writing in place: playback that reads it is detached
// first (the buffer is kept).
juce::AudioBuffer<float>* writablePlaybackBuffer (QuorvalenEngine& engine);
// Gives the engine a new playback buffer, detaching any playback that reads the
// old one first.
void replacePlaybackBuffer (QuorvalenEngine& engine, std::unique_ptr<juce::AudioBuffer<float>> buffer);

// The speed the telemetry reads the Foundry main preview at; safe without engineMutex.
void setMainPreviewSpeed (QuorvalenEngine& engine, double ratio);
// The resampler's ratio; safe without engineMutex (the resampler has its own lock).
void setResamplingRatio (QuorvalenEngine& engine, double ratio);

// Results of the exported operations; the numbers are those the public header
// documents.
enum class PlayCachedResult : std::int32_t
{
    ok = 0,
    notReady = 1,
    unknownId = 2,
    noAudio = 3,
};
enum class PlayFileResult : std::int32_t
{
    ok = 0,
    nullPath = 1,
    notReady = 2,
    missing = 3,
    notAudio = 4,
    badShape = 5,
    readFailed = 6,
    badRate = 7,
};
// The stop fade and the main-preview setters.
enum class PlaybackSetResult : std::int32_t
{
    ok = 0,
    notReady = 1,
};
enum class TelemetryResult : std::int32_t
{
    ok = 0,
    notReady = 1,
    nullPointer = 2,
};

// Exports: these take engineMutex themselves.
PlayCachedResult playCached (QuorvalenEngine& engine, std::int32_t id, float semitones, float volumePercent);
PlayFileResult playWavFile (QuorvalenEngine& engine, const char* path);
PlaybackSetResult stopWithFade (QuorvalenEngine& engine);
PlaybackSetResult setMainPreviewLooping (QuorvalenEngine& engine, bool looping);
PlaybackSetResult setMainPreviewPitch (QuorvalenEngine& engine, float semitones);
TelemetryResult getPlaybackTelemetry (QuorvalenEngine& engine, double* position, double* length,
                                      std::uint32_t* playing);

// A 0..100 volume as the transport's gain; a non-finite volume is silence.
float volumeGain (float volumePercent);

// The current output device's sample rate when it has a usable one, else `fallback`.
double outputDeviceRate (QuorvalenEngine& engine, double fallback);

} // namespace quorvalen
