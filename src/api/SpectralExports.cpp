// Spectral session exports.
#include "api/ExportGuard.h"
#include "engine/QuorvalenEngine.h"
#include "spectral/render/CqtRoundTrip.h"
#include "spectral/cqt/CqtSpectrogram.h"
#include "spectral/SessionImage.h"
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
    return guardedExport ("quorvalen_engine_apply_cqt_spectral_session_stroke", (int) StrokeError::strokeFailed,
                          [&] { return applyCqtSpectralSessionStroke (engine(), session, points, tools, count); });
}

int32_t quorvalen_engine_undo_cqt_spectral_session (int32_t session)
{
    return guardedExport ("quorvalen_engine_undo_cqt_spectral_session", (int) SpectralHistoryError::notApplied,
                          [&] { return undoCqtSpectralSession (engine(), session); });
}

int32_t quorvalen_engine_redo_cqt_spectral_session (int32_t session)
{
    return guardedExport ("quorvalen_engine_redo_cqt_spectral_session", (int) SpectralHistoryError::notApplied,
                          [&] { return redoCqtSpectralSession (engine(), session); });
}

int32_t quorvalen_engine_end_cqt_spectral_session (int32_t session)
{
    return guardedCode ("quorvalen_engine_end_cqt_spectral_session", EndSpectralResult::unknownSession,
                        [&] { return endCqtSpectralSession (engine(), session); });
}

int32_t quorvalen_engine_get_cqt_spectral_session_image (int32_t session, float* out, uint32_t width, int32_t height)
{
    return guardedCode ("quorvalen_engine_get_cqt_spectral_session_image", SessionImageResult::outOfMemory,
                        [&] { return renderCqtSpectralSessionImage (engine(), session, out, width, height); });
}

int32_t quorvalen_engine_get_cqt_spectrogram (int32_t cacheId, float* out, uint32_t width, int32_t height,
                                              float* outSeconds)
{
    return guardedCode ("quorvalen_engine_get_cqt_spectrogram", SpectrogramResult::outOfMemory,
                        [&] { return analyseCqtSpectrogram (engine(), cacheId, out, width, height, outSeconds); });
}

int32_t quorvalen_engine_play_cached_gaborator_roundtrip (int32_t cacheId)
{
    return guardedCode ("quorvalen_engine_play_cached_gaborator_roundtrip", RoundTripResult::outOfMemory,
                        [&] { return playCachedGaboratorRoundtrip (engine(), cacheId); });
}

} // extern "C"
