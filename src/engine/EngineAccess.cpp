#include "cache/AudioCache.h"
#include "engine/QuorvalenEngine.h"
#include "rack/RackPlayback.h"

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

} // namespace quorvalen
