#pragma once
// What playback holds: the transport and its resampler (the head of the engine's
// chain), the source they read, the engine's own playback buffer, the playing flags
// and the main preview's state. The engine owns it; playback reaches it and the
// output device through these functions, which the engine defines.
#include "playback/PlaybackTransport.h"

#include <juce_audio_devices/juce_audio_devices.h>

#include <atomic>
#include <cstdint>
#include <memory>

namespace quorvalen
{

class QuorvalenEngine;

// Where the main preview is and how it moves, shared with the audio thread: the
// Foundry's region filter advances the position, the telemetry reads it.
struct PreviewPlayhead
{
    std::atomic<bool> looping { false };
    std::atomic<double> speed { 1.0 };
    std::atomic<double> positionSeconds { 0.0 };
};

struct PlaybackState
{
    // The transport is built first and goes last: every later stage reads it.
    PlaybackTransport transportSource;
    juce::ResamplingAudioSource resamplingSource { &transportSource, false, 2 };
    PreviewPlayhead playhead;
    // The source reads the buffer, so it goes first.
    std::unique_ptr<juce::AudioBuffer<float>> playbackBuffer;
    std::unique_ptr<juce::PositionableAudioSource> currentSource;
    // The rate the transport reads the current source at (a pitch included); 0 without one.
    double sourceRate = 0.0;
    std::uint32_t playingCacheId = 0;
    bool playingLoops = false;
    bool playingThroughRack = false;
    bool mainPreviewLooping = false;
    // Written by the main-preview pitch setter without the engine mutex.
    std::atomic<double> mainPreviewSpeed { 1.0 };
    double finishedPreviewSampleRate = 44100.0;
};

PlaybackState& playbackState (QuorvalenEngine& engine);
const PlaybackState& playbackState (const QuorvalenEngine& engine);
// The running output device, or null. The caller holds the engine lock.
juce::AudioIODevice* outputDevice (QuorvalenEngine& engine);
// The lock the audio thread holds while it runs the chain; the engine holds a device.
const juce::CriticalSection& audioCallbackLock (QuorvalenEngine& engine);

} // namespace quorvalen
