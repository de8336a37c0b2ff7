#pragma once
// The Z sculpt stroke: soft elliptical holes carved into the time and
// log-frequency plane of the live audio through 4096-point STFT frames (hop 256),
// its vertical axis the constant-Q band plan (0 the highest band, 1 the lowest).
#include "spectral/SpectralUndoRecord.h"
#include "spectral/stft/ZSculptCarve.h"

#include <cstdint>
#include <vector>

namespace quorvalen
{

class QuorvalenEngine;
struct SpectralSession;

// engineMutex held; points checked by the dispatcher. The live cache id; -2 the
// boxes reach more than maxStrokeCells cells; -4 the live copy does not match the
// session (or no points); -5 the edit cannot be carried through. Nothing changes
// on failure.
int applyZSculptStft (QuorvalenEngine& engine, SpectralSession& session, std::uint32_t sessionId, const float* points,
                      std::int32_t count);

std::vector<ZSculptBox> zSculptBoxes (const float* points, std::int32_t count);

} // namespace quorvalen
