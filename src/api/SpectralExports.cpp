// Spectral session exports.
#include "api/ExportGuard.h"
#include "engine/QuorvalenEngine.h"
#include "spectral/SpectralHistory.h"
#include "spectral/SpectralSessions.h"
#include "spectral/SpectralStrokeDispatcher.h"

#include <quorvalen_dsp.h>

using namespace quorvalen;

extern "C" {

int32_t quorvalen_engine_begin_cqt_spectral_session (int32_t cacheId, uint32_t* outLiveCacheId, float* outSeconds)
{
    return guardedExport ("quorvalen_engine_begin_cqt_spectral_session", (int) SessionOpenCode::outOfMemory,
                          [&] { return beginCqtSpectralSession (engine(), cacheId, outLiveCacheId, outSeconds); });
}

int32_t quorvalen_engine_apply_cqt_spectral_session_stroke (int32_t session, const float* points, const uint32_t* tools,
                                                             int32_t count)
{
    return guardedExport ("quorvalen_engine_apply_cqt_spectral_session_stroke", -5,
                          [&] { return applyCqtSpectralSessionStroke (engine(), session, points, tools, count); });
}

int32_t quorvalen_engine_undo_cqt_spectral_session (int32_t session)
{
    return guardedExport ("quorvalen_engine_undo_cqt_spectral_session", -3,
                          [&] { return undoCqtSpectralSession (engine(), session); });
}

int32_t quorvalen_engine_redo_cqt_spectral_session (int32_t session)
{
    return guardedExport ("quorvalen_engine_redo_cqt_spectral_session", -3,
                          [&] { return redoCqtSpectralSession (engine(), session); });
}

int32_t quorvalen_engine_end_cqt_spectral_session (int32_t session)
{
    return guardedExport ("quorvalen_engine_end_cqt_spectral_session", 1,
                          [&] { return endCqtSpectralSession (engine(), session); });
}

} // extern "C"
