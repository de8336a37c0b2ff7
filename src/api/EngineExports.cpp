// Life-cycle exports and the standalone utilities.
#include "api/ExportGuard.h"
#include "engine/QuorvalenEngine.h"
#include "engine/StandaloneUtilities.h"
#include "io/Utf8.h"

#include <quorvalen_dsp.h>

using namespace quorvalen;

extern "C" {

void quorvalen_apply_gain (float* samples, int32_t count, float gain)
{
    guardedExportVoid ("quorvalen_apply_gain", [&] { applyGain (samples, count, gain); });
}

int32_t quorvalen_play_wav (const char* path)
{
    return guardedExport ("quorvalen_play_wav", 5, [&] { return playWavBlocking (io::validUtf8OrNull (path)); });
}

int32_t quorvalen_test_audio (void)
{
    return guardedExport ("quorvalen_test_audio", 1, [] { return playTestTone(); });
}

int32_t quorvalen_engine_init (void)
{
    return guardedExport ("quorvalen_engine_init", 1, [] { return engine().initialise(); });
}

int32_t quorvalen_engine_is_ready (void)
{
    return engine().isReady() ? 1 : 0;
}

int32_t quorvalen_engine_shutdown (void)
{
    return guardedExport ("quorvalen_engine_shutdown", 0, [] { return engine().shutdown(); });
}

} // extern "C"
