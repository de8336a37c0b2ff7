#pragma once
// The constant-Q strokes: the laser, which attenuates the coefficients along a
// stroke (each point snapped to a band, with neighbours in the lower part of the
// image), and region gain, which scales the coefficients inside boxes of time and
// bands (the reducer and harmonik tools).
#include <cstdint>

namespace quorvalen
{

class SessionWork;
struct SpectralSession;
struct CqtStrokePlan;

// In the session's turn; points checked by the dispatcher (count 1..20000,
// finite). The live cache id (also when nothing changed: no record, no log
// line); -3 the session ended meanwhile; -4 the live copy is gone or does not
// match the session; -5 the edit cannot be carried through, or the live copy
// changed meanwhile (nothing changed).
int applyCqtLaser (SessionWork& work, SpectralSession& session, std::uint32_t sessionId, const float* points,
                   std::int32_t count);
// modeName names the tool in the log line ("REGION" when null).
int applyCqtRegionGain (SessionWork& work, SpectralSession& session, std::uint32_t sessionId, const float* points,
                        std::int32_t count, float gain, const char* modeName);

// The coefficients each stroke scales, per band of the session's band tables:
// for the laser, every coefficient a hit of its band reaches keeps 1 - the
// largest strength (pressure x 0.95) among those hits; for region gain, every
// coefficient inside a box is scaled by gain once. firstBand receives the first
// point's centre band.
CqtStrokePlan laserStrokePlan (const SpectralSession& session, const float* points, std::int32_t count, int& firstBand);
CqtStrokePlan regionGainPlan (const SpectralSession& session, const float* points, std::int32_t count, float gain);

} // namespace quorvalen
