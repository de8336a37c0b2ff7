// Offline constant-Q render exports: spectral edit, morphs, manifold mix.
#include "api/ExportGuard.h"
#include "engine/QuorvalenEngine.h"
#include "spectral/render/CqtMorph.h"
#include "spectral/render/CqtSpectralEdit.h"
#include "spectral/render/ManifoldClassic.h"

#include <quorvalen_dsp.h>

using namespace quorvalen;

extern "C" {

int32_t quorvalen_engine_create_cqt_spectral_edit (int32_t cacheId, const float* edits, const uint32_t* modes,
                                                   int32_t count)
{
    return guardedExport ("quorvalen_engine_create_cqt_spectral_edit", (int) spectral::SpectralEditError::renderFailed,
                          [&] {
        return spectral::createCqtSpectralEdit (engine(), (uint32_t) cacheId, edits, modes, count);
    });
}

int32_t quorvalen_engine_create_manifold_cqt_morph (int32_t cacheIdA, int32_t cacheIdB, float amount, uint32_t kind,
                                                    float tempo, int32_t preset)
{
    return guardedExport ("quorvalen_engine_create_manifold_cqt_morph", (int) spectral::MorphError::renderFailed, [&] {
        return spectral::createCqtMorph (engine(),
                                         { (uint32_t) cacheIdA, (uint32_t) cacheIdB, amount, kind, tempo, preset });
    });
}

// The mangle kind at 172 beats per minute with a two-beat swing.
int32_t quorvalen_engine_create_reese_cqt_morph (int32_t cacheIdA, int32_t cacheIdB, float amount)
{
    return guardedExport ("quorvalen_engine_create_reese_cqt_morph", (int) spectral::MorphError::renderFailed, [&] {
        return spectral::createCqtMorph (engine(), { (uint32_t) cacheIdA, (uint32_t) cacheIdB, amount, 0, 172.0f, 1 });
    });
}

int32_t quorvalen_engine_create_manifold_classic (const uint32_t* ids, const float* gains, const int32_t* roles,
                                                  int32_t count, int32_t primary, float lengthSeconds,
                                                  float fixedSeconds, int32_t rawLevels, uint32_t loopMask)
{
    return guardedExport ("quorvalen_engine_create_manifold_classic", (int) spectral::ManifoldError::outOfMemory, [&] {
        return spectral::createManifoldClassic (
            engine(), { ids, gains, roles, count, primary, lengthSeconds, fixedSeconds, rawLevels != 0, loopMask });
    });
}

} // extern "C"
