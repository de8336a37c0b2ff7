#include "spectral/SpectralStrokeDispatcher.h"

#include "spectral/cqt/CqtStrokes.h"
#include "spectral/stft/KnifeStroke.h"
#include "spectral/SessionWork.h"
#include "spectral/SpectralSession.h"
#include "spectral/SpectralStrokeEdit.h"
#include "spectral/stft/ZSculptStroke.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace quorvalen
{
namespace
{
enum StrokeTool : std::uint32_t
{
    knifeTool = 0,
    laserTool = 1,
    reducerTool = 2,
    harmonikTool = 3,
    zSculptTool = 4
};

// Non-finite values would reach float-to-int conversions and index the bins.
bool allFinite (const float* points, std::int32_t count)
{
    return std::all_of (points, points + (std::size_t) count * strokePointFloats,
                        [] (float v) { return std::isfinite (v); });
}

} // namespace

int applyCqtSpectralSessionStroke (QuorvalenEngine& engine, std::int32_t sessionId, const float* points,
                                   const std::uint32_t* tools, std::int32_t count)
{
    if (points == nullptr || tools == nullptr || count < 1)
        return (int) StrokeError::badPoints;
    if (count > maxStrokePoints)
        return (int) StrokeError::tooManyPoints;
    if (! allFinite (points, count))
        return (int) StrokeError::badPoints;

    SessionWork work (engine, (std::uint32_t) sessionId);
    auto* session = work.session();
    if (session == nullptr)
        return (int) StrokeError::unknownSession;
    const auto tool = tools[0];
    if (tool > zSculptTool || ! std::all_of (tools, tools + count, [tool] (std::uint32_t t) { return t == tool; }))
        return (int) StrokeError::badTools;

    switch (tool)
    {
        case knifeTool:
            try
            {
                if (const auto s = ensureSessionStft (work, *session); s != LiveState::ok)
                    return strokeCode (s);
            }
            catch (const std::bad_alloc&)
            {
                return (int) StrokeError::liveGone;
            }
            return applyWebStftDoubleKnife (work, *session, (std::uint32_t) sessionId, points, tools, count);
        case zSculptTool: return applyZSculptStft (work, *session, (std::uint32_t) sessionId, points, count);
        case laserTool: return applyCqtLaser (work, *session, (std::uint32_t) sessionId, points, count);
        case reducerTool:
            return applyCqtRegionGain (work, *session, (std::uint32_t) sessionId, points, count, 0.7f, "REDUCER");
        case harmonikTool:
            return applyCqtRegionGain (work, *session, (std::uint32_t) sessionId, points, count, 1.3f, "HARMONIK");
        default: return (int) StrokeError::badTools;
    }
}

} // namespace quorvalen
