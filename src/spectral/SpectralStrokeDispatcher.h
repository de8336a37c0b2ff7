#pragma once
// One stroke of a spectral session: the argument checks and the hand-over to the
// kernel of the stroke's tool.
#include <cstdint>

namespace quorvalen
{

class QuorvalenEngine;

inline constexpr std::int32_t maxStrokePoints = 20000;
inline constexpr int strokePointFloats = 5;

// Takes engineMutex across the kernel. The live cache id, or: -1 null arrays, a
// count below 1 or a non-finite point value; -2 more than 20000 points; -3
// unknown session; -4 the knife's STFT state cannot be built; -6 tool codes
// mixed or outside 0..4; the kernels' own codes (-4, -5) pass through.
int applyCqtSpectralSessionStroke (QuorvalenEngine& engine, std::int32_t sessionId, const float* points,
                                   const std::uint32_t* tools, std::int32_t count);

} // namespace quorvalen
