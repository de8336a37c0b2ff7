#pragma once
// The one engine object: its locks, maps, id counters and the playback chain.
#include "cache/CacheEntry.h"
#include "cache/SessionTable.h"
#include "chain/MasterSpectrumSource.h"
#include "edit/EditSession.h"
#include "foundry/FoundryAuditionCharacterSource.h"
#include "foundry/FoundryAutomationLane.h"
#include "foundry/FoundryPreviewCache.h"
#include "foundry/FoundryRegionFilterSource.h"
#include "platform/JuceInitialiser.h"
#include "rack/QuorvalenProcessingRackSource.h"
#include "spectral/SpectralSession.h"

#include <juce_audio_devices/juce_audio_devices.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace quorvalen
{

class QuorvalenEngine
{
public:
    QuorvalenEngine();
    ~QuorvalenEngine();

    QuorvalenEngine (const QuorvalenEngine&) = delete;
    QuorvalenEngine& operator= (const QuorvalenEngine&) = delete;

    // Life cycle.
    int initialise();
    int shutdown();
    bool isReady() const { return ready.load() != 0; }
    // Ready and holding a device manager; callers that need the device hold engineMutex.
    bool hasDevice() const { return isReady() && deviceManager != nullptr; }

    // Detaches whatever plays, without a fade. Caller holds engineMutex.
    void stopPlayback();
    void resetFoundryPreviewCache (std::unique_ptr<FoundryPreviewCache> replacement);
    // Frees every spectral session, edit session, cache entry and path key, in that order.
    void clearSessionsAndCache();

    // Members in construction order; destruction runs in reverse.
    std::mutex engineMutex;
    std::recursive_mutex renderLock;
    std::unique_ptr<FoundryPreviewCache> foundryPreviewCache;
    std::uint64_t foundryGeneration = 0;
    std::array<std::array<FoundryAutomationLane, foundryParameterCount>, foundryLayerCount> automationLanes;
    platform::JuceInitialiserPtr juceInitialiser;
    std::unique_ptr<juce::AudioDeviceManager> deviceManager;
    juce::AudioSourcePlayer sourcePlayer;
    juce::AudioTransportSource transportSource;
    juce::ResamplingAudioSource resamplingSource { &transportSource, false, 2 };
    FoundryRegionFilterSource regionFilterSource { &resamplingSource, &transportSource };
    juce::IIRFilterAudioSource auditionHighPass { &regionFilterSource, false };
    juce::IIRFilterAudioSource auditionLowPass { &auditionHighPass, false };
    FoundryAuditionCharacterSource auditionCharacterSource { &auditionLowPass };
    QuorvalenProcessingRackSource rackSource { &auditionCharacterSource };
    MasterSpectrumSource masterTap { &rackSource };
    std::unique_ptr<juce::AudioBuffer<float>> playbackBuffer;
    std::unique_ptr<juce::PositionableAudioSource> currentSource;
    std::unordered_map<std::uint32_t, CacheEntry> cacheMap;
    SessionTable<SpectralSession> spectralSessions;
    SessionTable<EditSession> editSessions;
    std::unordered_map<std::string, std::uint32_t> pathMap;
    std::uint32_t cacheIdCounter = 1;
    // Advanced by every clear of the cache (clear and shutdown), so that work which
    // copied an entry out and ran unlocked inserts nothing into a cleared cache.
    std::uint64_t cacheGeneration = 0;
    std::uint32_t playingCacheId = 0;
    bool playingLoops = false;
    bool playingThroughRack = false;
    bool foundryMainPreviewLooping = false;
    // Written by the main-preview pitch setter without the engine mutex.
    std::atomic<double> foundryMainPreviewSpeed { 1.0 };
    double finishedPreviewSampleRate = 44100.0;
    std::atomic<std::uint8_t> ready { 0 };
};

// The process-wide engine, constructed at its first use.
QuorvalenEngine& engine();

} // namespace quorvalen
