#include "cache/AudioCache.h"
#include "edit/EditSessions.h"
#include "engine/QuorvalenEngine.h"
#include "rack/RackPlayback.h"
#include "spectral/SpectralSessions.h"

// The narrow ways into the engine object that the subsystems are handed.
namespace quorvalen
{

std::unique_lock<std::mutex> lockEngine (QuorvalenEngine& engine)
{
    return std::unique_lock<std::mutex> (engine.engineMutex);
}

bool engineReady (const QuorvalenEngine& engine)
{
    return engine.isReady();
}

bool engineHasDevice (const QuorvalenEngine& engine)
{
    return engine.hasDevice();
}

std::uint64_t cacheGeneration (const QuorvalenEngine& engine)
{
    return engine.cacheGeneration;
}

QuorvalenProcessingRackSource& liveRack (QuorvalenEngine& engine)
{
    return engine.rackSource;
}

SessionTable<EditSession>& editSessionTable (QuorvalenEngine& engine)
{
    return engine.editSessions;
}

SessionTable<SpectralSession>& spectralSessionTable (QuorvalenEngine& engine)
{
    return engine.spectralSessions;
}

} // namespace quorvalen
