#pragma once
// Manifold classic: up to 16 cached sounds mixed into one new stereo entry at
// 44.1 kHz, each once from the start or tiled with short fades, by role.
#include <cstdint>

namespace quorvalen
{
class QuorvalenEngine;
}

namespace quorvalen::spectral
{

inline constexpr int manifoldMaxSources = 16;
inline constexpr double manifoldRate = 44100.0;
inline constexpr int manifoldOwnLayerRole = 8;

struct ManifoldRequest
{
    const std::uint32_t* ids = nullptr;
    const float* gains = nullptr;
    const std::int32_t* roles = nullptr;
    int count = 0;
    int primary = 0;
    float lengthSeconds = 0.0f;
    float fixedSeconds = 0.0f;
    bool rawLevels = false;
    std::uint32_t loopMask = 0;
};

// The new id, or one of these. Reads the sources under the engine lock, mixes
// without it and takes it again to insert the result; a mix whose sources moved
// stops before its next source and inserts nothing.
enum class ManifoldError : std::int32_t
{
    notReady = -1,     // also when the engine shut down during the mix
    badArguments = -2, // arrays, count or primary
    unknownId = -3,    // also when a source was unloaded or changed during the mix, or the cache cleared
    noBuffer = -4,
    badRate = -5,
    empty = -6, // no channels or samples, or a length at 44.1 kHz out of range
    outOfMemory = -7,
};
int createManifoldClassic (QuorvalenEngine& engine, const ManifoldRequest& request);

} // namespace quorvalen::spectral
