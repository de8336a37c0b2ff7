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

// The new id, or -1 not ready; -2 bad arrays, count or primary; -3 unknown id;
// -4 entry without buffer; -5 bad rate; -6 no channels or samples, or a length at
// 44.1 kHz out of range; -7 out of memory. Holds the engine lock throughout.
int createManifoldClassic (QuorvalenEngine& engine, const ManifoldRequest& request);

} // namespace quorvalen::spectral
