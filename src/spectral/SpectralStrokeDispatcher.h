#pragma once
// One stroke of a spectral session: the argument checks and the hand-over to the
// kernel of the stroke's tool.
#include "spectral/StrokeError.h"

#include <cstdint>

namespace quorvalen
{

class QuorvalenEngine;

inline constexpr std::int32_t maxStrokePoints = 20000;
inline constexpr int strokePointFloats = 5;

// Runs in the session's turn, taking the engine lock only in short holds (see
// SessionWork). The live cache id or a StrokeError (liveGone also when the
// knife's STFT state cannot be built; unknownSession also when the session ends
// before the stroke is in); the kernels' own codes pass through.
int applyCqtSpectralSessionStroke (QuorvalenEngine& engine, std::int32_t sessionId, const float* points,
                                   const std::uint32_t* tools, std::int32_t count);

} // namespace quorvalen
