// Whole audio files as memory blocks through both memory intakes; whatever is
// cached is cloned and edited, so the decoded shapes reach the code that uses them.
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size)
{
    qvfuzz::startEngine();
    if (size == 0)
        return 0;
    // Trim and fade come from the size, so every seed stays a plain audio file.
    const float trimMs = (float) (size % 97);
    const float fadeMs = (float) (size % 31);
    const int ids[] = { quorvalen_engine_cache_wav_memory (data, size),
                        quorvalen_engine_cache_wav_memory_trimmed (data, size, trimMs, fadeMs) };
    for (const int id : ids)
    {
        if (id <= 0)
            continue;
        const int clone = quorvalen_engine_clone_cached (id);
        std::uint32_t work = 0;
        const int session = quorvalen_engine_begin_processing_edit_session (clone > 0 ? clone : id, &work);
        if (session > 0)
        {
            quorvalen_engine_crop_processing_edit_session (session, 0.1f, 0.9f);
            quorvalen_engine_end_fade_processing_edit_session (session, 5.0f);
            quorvalen_engine_reverse_processing_edit_session (session);
            quorvalen_engine_undo_processing_edit_session (session);
            quorvalen_engine_redo_processing_edit_session (session);
            quorvalen_engine_end_processing_edit_session (session);
        }
        if (clone > 0)
            quorvalen_engine_unload_cached (clone);
        quorvalen_engine_unload_cached (id);
    }
    return 0;
}
