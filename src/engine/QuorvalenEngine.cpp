#include "engine/QuorvalenEngine.h"

#include "core/Log.h"
#include "engine/DeviceStartup.h"
#include "platform/DeviceManagerFactory.h"
#include "playback/Playback.h"

#include <cstdlib>
#include <mutex>

namespace quorvalen
{

QuorvalenEngine::QuorvalenEngine() = default;

QuorvalenEngine::~QuorvalenEngine()
{
    shutdown();
}

int QuorvalenEngine::initialise()
{
    std::lock_guard lock (engineMutex);
    logLine ("[ENGINE INIT] entering initialise; ready=%d\n", isReady() ? 1 : 0);
    if (isReady())
        return 0;

    juceInitialiser.reset();
    juceInitialiser = platform::makeJuceInitialiser();
    deviceManager.reset();
    deviceManager = platform::createDeviceManager();
    const auto error = startOutputDevice (*deviceManager);
    logLine ("[ENGINE INIT] JUCE device init result=\"%s\"\n", error.toRawUTF8());
    if (error.isNotEmpty())
    {
        deviceManager.reset();
        juceInitialiser.reset();
        return 1;
    }

    foundry.auditionHighPass.makeInactive();
    foundry.auditionLowPass.makeInactive();
    foundry.regionFilterSource.enabled.exchange (false);
    foundry.regionFilterSource.resetRequested.exchange (true);
    sourcePlayer.setSource (&masterTap);
    deviceManager->addAudioCallback (&sourcePlayer);
    ready.exchange (1);
    // A host may exit without shutting down. Statics that the start-up just built
    // (device types, formats, the audio library's object counters) are destroyed at
    // exit before the engine itself, so shutdown goes ahead of them. The first start
    // builds them, so its handler serves however often a host starts again.
    static std::once_flag exitHandler;
    std::call_once (exitHandler, [] { std::atexit ([] { engine().shutdown(); }); });
    return 0;
}

void QuorvalenEngine::stopPlayback()
{
    rackSource.setProcessingEnabled (false);
    foundry.regionFilterSource.enabled.exchange (false);
    foundry.regionFilterSource.resetRequested.exchange (true);

    detachSource (*this);

    playback.playhead.speed.exchange (1.0);
    foundry.regionFilterSource.previewLengthSeconds.exchange (0.0);
    playback.playhead.looping.exchange (false);
    playback.playhead.positionSeconds.exchange (0.0);
}

void QuorvalenEngine::clearSessionsAndCache()
{
    // Spectral operations in flight hold their sessions and stop when they see this.
    spectralSessions.forEach ([] (SpectralSession& s) { s.turn.ended = true; });
    spectralSessions.clear();
    editSessions.clear();
    cache.entries.clear();
    cache.pathIds.clear();
    ++cache.generation;
    cache.removals.fetch_add (1);
}

int QuorvalenEngine::shutdown()
{
    std::lock_guard lock (engineMutex);
    if (! isReady())
        return 0;

    stopPlayback();
    foundry.previewCache.reset();
    ++foundry.generation;
    clearSessionsAndCache();

    // Lock-free exports read only the flag, so it drops before the device goes away.
    ready.exchange (0);
    if (deviceManager != nullptr)
        deviceManager->removeAudioCallback (&sourcePlayer);
    sourcePlayer.setSource (nullptr);
    if (deviceManager != nullptr)
    {
        deviceManager->closeAudioDevice();
        deviceManager.reset();
    }
    juceInitialiser.reset();
    return 0;
}

QuorvalenEngine& engine()
{
    // Built at the first call, never while the library loads: its members use the
    // audio library's own statics (the FFT engines among them), which exist only
    // once the library's static initialisers have all run. Built after them, it is
    // also destroyed before them.
    static QuorvalenEngine instance;
    return instance;
}

} // namespace quorvalen
