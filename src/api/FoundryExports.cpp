// Foundry exports: automation lanes, pitch detection, the audition setters and the
// single-region audition.
#include "api/ExportGuard.h"
#include "engine/QuorvalenEngine.h"
#include "foundry/FoundryAutomation.h"
#include "foundry/FoundryPitchDetection.h"

#include <quorvalen_dsp.h>

using namespace quorvalen;

extern "C" {

int32_t quorvalen_engine_set_foundry_automation (uint32_t layer, uint32_t parameter, const float* times,
                                                 const float* values, int32_t count)
{
    return guardedExport ("quorvalen_engine_set_foundry_automation", 8, [&] {
        return foundry::setFoundryAutomation (engine(), layer, parameter, times, values, count);
    });
}

float quorvalen_engine_detect_foundry_pitch (int32_t cacheId, float startMs)
{
    return guardedExport ("quorvalen_engine_detect_foundry_pitch", 0.0f,
                          [&] { return foundry::detectFoundryPitch (engine(), cacheId, startMs); });
}

} // extern "C"
