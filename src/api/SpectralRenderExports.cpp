// Offline constant-Q render exports: spectral edit, morphs, manifold mix.
#include "api/ExportGuard.h"
#include "engine/QuorvalenEngine.h"
#include "spectral/CqtSpectralEdit.h"

#include <quorvalen_dsp.h>

using namespace quorvalen;

extern "C" {

int32_t quorvalen_engine_create_cqt_spectral_edit (int32_t cacheId, const float* edits, const uint32_t* modes,
                                                   int32_t count)
{
    return guardedExport ("quorvalen_engine_create_cqt_spectral_edit", -7, [&] {
        return spectral::createCqtSpectralEdit (engine(), (uint32_t) cacheId, edits, modes, count);
    });
}

} // extern "C"
