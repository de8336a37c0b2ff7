// Audio cache exports.
#include "api/ExportGuard.h"
#include "cache/AudioCache.h"
#include "engine/CacheRemoval.h"
#include "engine/QuorvalenEngine.h"
#include "io/Utf8.h"

#include <quorvalen_dsp.h>

using namespace quorvalen;

extern "C" {

int32_t quorvalen_engine_cache_wav (const char* path)
{
    return guardedExport ("quorvalen_engine_cache_wav", (int) CacheWavError::badRate,
                          [&] { return cacheWav (engine(), io::validUtf8OrNull (path)); });
}

int32_t quorvalen_engine_cache_wav_memory (const void* bytes, uint64_t size)
{
    return guardedExport ("quorvalen_engine_cache_wav_memory", (int) CacheMemoryError::badRate,
                          [&] { return cacheWavMemory (engine(), bytes, size); });
}

int32_t quorvalen_engine_cache_wav_trimmed (const char* path, float trimStartMs, float fadeInMs)
{
    return guardedExport ("quorvalen_engine_cache_wav_trimmed", (int) TrimmedIntakeError::readFailed, [&] {
        return cacheWavTrimmed (engine(), io::validUtf8OrNull (path), trimStartMs, fadeInMs);
    });
}

int32_t quorvalen_engine_cache_wav_memory_trimmed (const void* bytes, uint64_t size, float trimStartMs, float fadeInMs)
{
    return guardedExport ("quorvalen_engine_cache_wav_memory_trimmed", (int) TrimmedIntakeError::readFailed,
                          [&] { return cacheWavMemoryTrimmed (engine(), bytes, size, trimStartMs, fadeInMs); });
}

int32_t quorvalen_engine_clone_cached (int32_t cacheId)
{
    return guardedExport ("quorvalen_engine_clone_cached", (int) CloneError::outOfMemory,
                          [&] { return cloneCached (engine(), cacheId); });
}

int32_t quorvalen_engine_unload_cached (int32_t cacheId)
{
    return guardedCode ("quorvalen_engine_unload_cached", UnloadResult::unknownId,
                        [&] { return unloadCached (engine(), cacheId); });
}

int32_t quorvalen_engine_clear_cache (void)
{
    return guardedExport ("quorvalen_engine_clear_cache", 0, [] { return clearCache (engine()); });
}

int32_t quorvalen_engine_export_cached_wav (int32_t cacheId, const char* path)
{
    return guardedCode ("quorvalen_engine_export_cached_wav", ExportResult::writeFailed,
                        [&] { return exportCachedWav (engine(), cacheId, io::validUtf8OrNull (path)); });
}

} // extern "C"
