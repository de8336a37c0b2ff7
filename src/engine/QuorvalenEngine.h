#pragma once
// The one engine object: its lock, the device, each layer's state, the session
// tables and the playback chain.
#include "cache/CacheState.h"
#include "cache/SessionTable.h"
#include "chain/MasterSpectrumSource.h"
#include "core/FairMutex.h"
#include "edit/EditSession.h"
#include "foundry/FoundryState.h"
#include "platform/JuceInitialiser.h"
#include "playback/PlaybackState.h"
#include "rack/QuorvalenProcessingRackSource.h"
#include "spectral/SpectralSession.h"

#include <juce_audio_devices/juce_audio_devices.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

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
    // Frees every spectral session, edit session, cache entry and path key, in that order.
    void clearSessionsAndCache();

    // Members in construction order; destruction runs in reverse. The chain runs
    // from playback's transport and resampler through the Foundry's stages and the
    // rack to the master tap; shutdown closes the device before any of it goes.
    FairMutex engineMutex;
    platform::JuceInitialiserPtr juceInitialiser;
    std::unique_ptr<juce::AudioDeviceManager> deviceManager;
    juce::AudioSourcePlayer sourcePlayer;
    PlaybackState playback;
    FoundryState foundry { playback.resamplingSource, playback.transportSource, playback.playhead };
    QuorvalenProcessingRackSource rackSource { &foundry.auditionCharacterSource };
    MasterSpectrumSource masterTap { &rackSource };
    CacheState cache;
    SessionTable<SpectralSession> spectralSessions;
    SessionTable<EditSession> editSessions;
    std::atomic<std::uint8_t> ready { 0 };
};

// The process-wide engine, constructed at its first use.
QuorvalenEngine& engine();

} // namespace quorvalen
