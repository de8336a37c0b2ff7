#pragma once
// The knife stroke: soft elliptical holes cut into a session's STFT bins, turned
// back into audio by overlap-add, with the live copy's peak set to 0.97.
#include <cstdint>

namespace quorvalen
{

class SessionWork;
struct SpectralSession;

// In the session's turn, the STFT state built; points checked by the dispatcher
// (the tool codes are all 0 and not read again). The live cache id (also when no
// bin changed: then nothing else happens); -2 the boxes cover more than
// maxStrokeCells cells; -3 the session ended meanwhile; -5 the live copy is gone
// or changed, or the stroke could not be carried through. Nothing changes on
// failure.
int applyWebStftDoubleKnife (SessionWork& work, SpectralSession& session, std::uint32_t sessionId, const float* points,
                             const std::uint32_t* tools, std::int32_t count);

} // namespace quorvalen
