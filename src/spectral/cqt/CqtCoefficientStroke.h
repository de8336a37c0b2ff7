#pragma once
// The pipeline of the strokes that edit constant-Q coefficients (laser, region
// gain): analyse the coefficients the stroke reaches, scale them, resynthesise
// their change over the samples they reach and record those for undo.
#include "spectral/SpectralUndoRecord.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace quorvalen
{

class SessionWork;
struct SpectralSession;

// Coefficients of one band at sample times [first, last], scaled by factor.
struct CoefSpan
{
    std::int64_t first = 0, last = -1;
    float factor = 1.0f;
};

struct CqtStrokePlan
{
    // One list per bandpass band, its spans disjoint and in time order.
    std::vector<std::vector<CoefSpan>> bands;
    // The laser geometry the undo record keeps (empty for other strokes).
    std::vector<LaserStrokeRecord> laser;
};

// In the session's turn. `plan` is called once the session's band tables are
// filled. The live cache id (changed tells whether anything was written); -3 the
// session ended meanwhile; -4 the live copy is gone, does not match the session
// or cannot be analysed; -5 the edit cannot be carried through, or the live copy
// changed meanwhile (nothing changed). The session keeps its analyzer, stores
// and workspace for the next stroke.
int runCqtCoefficientStroke (SessionWork& work, SpectralSession& session,
                             const std::function<CqtStrokePlan (const SpectralSession&)>& plan, bool& changed);

// Disjoint spans of the pointwise largest strength over the intervals (sample
// times [first, last], strength in `factor`), each span's factor 1 - strength;
// times where the largest strength is not above 0 are left out.
std::vector<CoefSpan> strongestAttenuation (std::vector<CoefSpan> intervals);

} // namespace quorvalen
