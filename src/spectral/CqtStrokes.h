#pragma once
// The constant-Q strokes: the laser, which attenuates the coefficients along a
// stroke (each point snapped to a band, with neighbours in the lower part of the
// image), and region gain, which scales the coefficients inside boxes of time and
// bands (the reducer and harmonik tools).
#include <cstdint>

namespace quorvalen
{

class QuorvalenEngine;
struct SpectralSession;

// engineMutex held; points checked by the dispatcher (count 1..20000, finite).
// The live cache id (also when nothing changed: no record, no log line); -4 the
// live copy does not match the session; -5 the edit cannot be carried through
// (nothing changed).
int applyCqtLaser (QuorvalenEngine& engine, SpectralSession& session, std::uint32_t sessionId, const float* points,
                   std::int32_t count);
// modeName names the tool in the log line ("REGION" when null).
int applyCqtRegionGain (QuorvalenEngine& engine, SpectralSession& session, std::uint32_t sessionId,
                        const float* points, std::int32_t count, float gain, const char* modeName);

} // namespace quorvalen
