// Processing rack exports.
#include "api/ExportGuard.h"
#include "engine/QuorvalenEngine.h"
#include "io/Utf8.h"
#include "rack/OfflineRender.h"
#include "rack/RackPlayback.h"

#include <quorvalen_dsp.h>

using namespace quorvalen;

extern "C" {

int32_t quorvalen_engine_update_processing_rack (const char* json)
{
    // No engine lock and no ready test: publication only swaps the rack's record.
    return guardedExport ("quorvalen_engine_update_processing_rack", 2, [&] {
        // Invalid UTF-8 is refused like a missing text, before any conversion.
        if (! io::isValidUtf8 (json))
            return 1;
        return updateSettings (engine().rackSource, json) ? 0 : 2;
    });
}

int32_t quorvalen_engine_play_cached_with_processing (int32_t cacheId, const char* settingsJson, float volumePercent,
                                                      int32_t loop)
{
    return guardedCode ("quorvalen_engine_play_cached_with_processing", RackPlayResult::notReady, [&] {
        return playCachedWithProcessing (engine(), cacheId, io::validUtf8OrNull (settingsJson), volumePercent,
                                         loop != 0);
    });
}

int32_t quorvalen_engine_render_cached_with_processing (int32_t cacheId, const char* json, const char* outPath)
{
    return guardedExport ("quorvalen_engine_render_cached_with_processing", (int) renderFailed, [&] {
        return renderCachedWithProcessing (engine(), (uint32_t) cacheId, io::validUtf8OrNull (json),
                                           io::validUtf8OrNull (outPath));
    });
}

} // extern "C"
