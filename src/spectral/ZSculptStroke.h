#pragma once
// The Z sculpt stroke: soft elliptical holes carved into the time and
// log-frequency plane of the live audio through 4096-point STFT frames (hop 256),
// its vertical axis the constant-Q band plan (0 the highest band, 1 the lowest).
#include "spectral/SpectralUndoRecord.h"

#include <cstdint>
#include <vector>

namespace quorvalen
{

class QuorvalenEngine;
struct SpectralSession;

// engineMutex held; points checked by the dispatcher. The live cache id; -4 the
// live copy does not match the session (or no points); -5 the edit cannot be
// carried through (nothing changed).
int applyZSculptStft (QuorvalenEngine& engine, SpectralSession& session, std::uint32_t sessionId, const float* points,
                      std::int32_t count);

// Gain of one box at normalised elliptical distance d: 0 inside 48/56, rising to
// 0.05 at 53/56 and to 0.10 at the rim; 1 (no effect) from the rim on.
float zSculptBoxGain (float d);

std::vector<ZSculptBox> zSculptBoxes (const float* points, std::int32_t count);

} // namespace quorvalen
