// Random sequences of exports on four host threads at once, over a few cached
// sounds and sessions; the sanitizers and the engine's own invariants judge.
#include "FuzzSupport.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

namespace
{
const juce::MemoryBlock& smallWav()
{
    static const juce::MemoryBlock bytes = qvfuzz::toneWav (22050.0, 2205);
    return bytes;
}

const char* const racks[] = {
    "{}",
    "{\"heatEnabled\": true, \"heatDrive\": 90, \"stereoEnabled\": true, \"stereoWidth\": -10}",
    "{\"spaceEnabled\": true, \"spectroNoTail\": true, \"spectralDelayEnabled\": true}",
    "{\"deEssEnabled\": true, \"filterMode\": \"CEPS\", \"filterCepsAmount\": 80}",
    "{\"freqShiftEnabled\": true, \"freqShift\": 7, \"rackModules\": [{\"effect\": \"heat\", \"settings\": "
    "{\"heatEnabled\": true}}]}",
    "[1, 2]",
};

std::atomic<int> lastId { 0 };

void runOp (qvfuzz::Bytes& in, const std::string& exportPath)
{
    // Mostly recent ids, sometimes unknown ones (0, negative, not yet issued).
    const auto pick = [&] { return lastId.load() + 2 - (int) (in.byte() % 10); };
    const auto& wav = smallWav();
    std::uint32_t u = 0;
    double p = 0.0, l = 0.0;
    float f[64];
    switch (in.byte() % 24)
    {
        case 0:
            lastId = std::max (lastId.load(), quorvalen_engine_cache_wav_memory (wav.getData(), wav.getSize()));
            break;
        case 1:
            lastId = std::max (lastId.load(),
                               quorvalen_engine_cache_wav_memory_trimmed (wav.getData(), wav.getSize(),
                                                                          in.unit() * 200.0f, in.unit() * 50.0f));
            break;
        case 2: lastId = std::max (lastId.load(), quorvalen_engine_clone_cached (pick())); break;
        case 3: quorvalen_engine_unload_cached (pick()); break;
        case 4:
            if (in.byte() < 16)
                quorvalen_engine_clear_cache();
            break;
        case 5: quorvalen_engine_play_cached (pick(), in.unit() * 60.0f - 30.0f, in.unit() * 120.0f); break;
        case 6:
            if (in.byte() < 32)
                quorvalen_engine_stop();
            break;
        case 7: quorvalen_engine_get_playback_telemetry (&p, &l, &u); break;
        case 8: quorvalen_engine_get_master_stereo_scope (f, f + 32, 32); break;
        case 9: quorvalen_engine_get_master_spectrum (f, 64); break;
        case 10: quorvalen_engine_get_master_pitch (f); break;
        case 11: quorvalen_engine_begin_processing_edit_session (pick(), &u); break;
        case 12: quorvalen_engine_crop_processing_edit_session (in.byte() % 6, in.unit(), in.unit()); break;
        case 13: quorvalen_engine_end_fade_processing_edit_session (in.byte() % 6, in.unit() * 100.0f); break;
        case 14: quorvalen_engine_reverse_processing_edit_session (in.byte() % 6); break;
        case 15: quorvalen_engine_undo_processing_edit_session (in.byte() % 6); break;
        case 16: quorvalen_engine_redo_processing_edit_session (in.byte() % 6); break;
        case 17: quorvalen_engine_end_processing_edit_session (in.byte() % 6); break;
        case 18: quorvalen_engine_update_processing_rack (racks[in.byte() % 6]); break;
        case 19:
            quorvalen_engine_play_cached_with_processing (pick(), racks[in.byte() % 6], in.unit() * 100.0f,
                                                          in.byte() & 1);
            break;
        case 20: quorvalen_engine_export_cached_wav (pick(), exportPath.c_str()); break;
        case 21: quorvalen_engine_set_foundry_main_preview_looping (in.byte() & 1); break;
        case 22: quorvalen_engine_set_foundry_main_preview_pitch (in.unit() * 60.0f - 30.0f); break;
        case 23:
            if (in.byte() < 4)
            {
                quorvalen_engine_shutdown();
                quorvalen_engine_init();
            }
            break;
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size)
{
    qvfuzz::startEngine();
    constexpr int threads = 4;
    const auto dir = juce::File::getSpecialLocation (juce::File::tempDirectory).getFullPathName().toStdString();
    std::vector<std::thread> pool;
    // Each thread takes every fourth byte-run of the input as its own op stream.
    const auto slice = size / threads;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back ([&, t] {
            qvfuzz::Bytes in (data + (size_t) t * slice, slice);
            const auto path = dir + "/qv-fuzz-api-" + std::to_string (getpid()) + "-" + std::to_string (t) + ".wav";
            for (int ops = 0; ! in.empty() && ops < 64; ++ops)
                runOp (in, path);
            std::remove (path.c_str()); // no file left behind per input
        });
    for (auto& th : pool)
        th.join();
    // Each input starts from an empty cache on a running engine.
    if (quorvalen_engine_is_ready() == 0)
        quorvalen_engine_init();
    quorvalen_engine_clear_cache();
    return 0;
}
