// Processing edit session exports.
#include "api/ExportGuard.h"
#include "cache/AudioCache.h"
#include "edit/EditSessions.h"
#include "engine/QuorvalenEngine.h"

#include <quorvalen_dsp.h>

using namespace quorvalen;

extern "C" {

int32_t quorvalen_engine_begin_processing_edit_session (int32_t cacheId, uint32_t* outWorkCacheId)
{
    return guardedExport ("quorvalen_engine_begin_processing_edit_session", (int) SessionOpenCode::outOfMemory,
                          [&] { return beginProcessingEditSession (engine(), cacheId, outWorkCacheId); });
}

int32_t quorvalen_engine_crop_processing_edit_session (int32_t session, float start, float end)
{
    return guardedExport ("quorvalen_engine_crop_processing_edit_session", (int) EditShapeError::outOfMemory,
                          [&] { return cropProcessingEditSession (engine(), session, start, end); });
}

int32_t quorvalen_engine_end_fade_processing_edit_session (int32_t session, float fadeMs)
{
    return guardedExport ("quorvalen_engine_end_fade_processing_edit_session", (int) EditShapeError::outOfMemory,
                          [&] { return endFadeProcessingEditSession (engine(), session, fadeMs); });
}

int32_t quorvalen_engine_reverse_processing_edit_session (int32_t session)
{
    return guardedExport ("quorvalen_engine_reverse_processing_edit_session", (int) ReverseError::outOfMemory,
                          [&] { return reverseProcessingEditSession (engine(), session); });
}

int32_t quorvalen_engine_undo_processing_edit_session (int32_t session)
{
    return guardedExport ("quorvalen_engine_undo_processing_edit_session", (int) HistoryMoveError::outOfMemory,
                          [&] { return undoProcessingEditSession (engine(), session); });
}

int32_t quorvalen_engine_redo_processing_edit_session (int32_t session)
{
    return guardedExport ("quorvalen_engine_redo_processing_edit_session", (int) HistoryMoveError::outOfMemory,
                          [&] { return redoProcessingEditSession (engine(), session); });
}

int32_t quorvalen_engine_end_processing_edit_session (int32_t session)
{
    return guardedCode ("quorvalen_engine_end_processing_edit_session", EndEditResult::unknownSession,
                        [&] { return endProcessingEditSession (engine(), session); });
}

} // extern "C"
