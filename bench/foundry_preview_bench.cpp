// The Foundry preview's cost through the exports on the headless device: a
// three-layer preview of 1 s sounds at 48 kHz stereo with lanes on and body and
// tail joined, rendered and played (first render), refreshed while it loops,
// exported, and exported again unchanged (cache hit); the longest wait of a probe
// thread for the engine mutex while renders run (what other exports wait, which
// may span two stages back to back), and the longest single hold: the body
// layer's stages one by one, each of which holds the mutex for its whole run;
// render surprise on 10 s of stereo with the stretch. Wall times, median of runs.
#include "BenchNoiseSource.h"
#include "engine/QuorvalenEngine.h"
#include "foundry/FoundryCodes.h"
#include "foundry/FoundryLayerStages.h"
#include "platform/HeadlessConfig.h"

#include <quorvalen_dsp.h>

#include <juce_audio_formats/juce_audio_formats.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;
constexpr double rate = 48000.0;
constexpr int runs = 15;

int cacheNoise (int samples, juce::int64 seed, float level)
{
    juce::AudioBuffer<float> audio (2, samples);
    qvbench::NoiseSource noise (seed);
    noise.getNextAudioBlock (juce::AudioSourceChannelInfo (&audio, 0, samples));
    for (int i = 0; i < samples; ++i) // a decaying tone over the noise, like a hit
        for (int c = 0; c < 2; ++c)
            audio.setSample (c, i,
                             level * (audio.getSample (c, i) + 0.5f * std::sin (0.03f * (float) i))
                                 * std::exp (-3.0f * (float) i / (float) samples));
    juce::MemoryBlock bytes;
    {
        juce::WavAudioFormat wav;
        std::unique_ptr<juce::AudioFormatWriter> writer (
            wav.createWriterFor (new juce::MemoryOutputStream (bytes, false), rate, 2, 32, {}, 0));
        writer->writeFromAudioSampleBuffer (audio, 0, samples);
    }
    return quorvalen_engine_cache_wav_memory (bytes.getData(), bytes.getSize());
}

// Arguments of a typical preview; `variant` changes the final length so that every
// call renders anew.
struct Preview
{
    int transient, body, tail;
    float variant = 0.0f;

    int call (int kind, const char* path = nullptr) const
    {
#define QV_PREVIEW_ARGS                                                                                                \
    transient, body, tail, 120.0f, 520.0f, 30.0f, 80.0f, 0.0f, 100.0f, 0.0f, 40.0f, 1, 80.0f, 20.0f, 0, 20000.0f,      \
        0.0f, -2.0f, 90.0f, 0.0f, 30.0f, 1, 60.0f, 10.0f, 1, 9000.0f, 20.0f, 0.0f, 80.0f, 0.0f, 25.0f, 1, 40.0f, 0, 0, \
        0, 20.0f, 0.0f, 1, 12000.0f, 10.0f, 0, 0.0f, 0.0f, 0.0f, 0.0f, 100.0f, 0.0f, 0.0f, 0.0f, 0, 20.0f, 0,          \
        20000.0f, 1400.0f + variant, 0.0f, 20.0f
        if (kind == 0)
            return quorvalen_engine_play_foundry_preview (QV_PREVIEW_ARGS, 1);
        if (kind == 1)
            return quorvalen_engine_refresh_foundry_preview (QV_PREVIEW_ARGS);
        return quorvalen_engine_export_foundry_preview (QV_PREVIEW_ARGS, path);
#undef QV_PREVIEW_ARGS
    }
};

double median (std::vector<double> v)
{
    std::sort (v.begin(), v.end());
    return v[v.size() / 2];
}

double millisOf (const std::function<void()>& run)
{
    const auto t0 = Clock::now();
    run();
    return std::chrono::duration<double, std::milli> (Clock::now() - t0).count();
}

// Waits of a thread that takes the engine mutex again and again while `run` runs.
double longestMutexWait (const std::function<void()>& run)
{
    std::atomic<bool> stop { false };
    double longest = 0.0;
    std::thread probe ([&] {
        while (! stop.load())
        {
            const auto t0 = Clock::now();
            {
                std::lock_guard lock (quorvalen::engine().engineMutex);
            }
            longest = std::max (longest, std::chrono::duration<double, std::milli> (Clock::now() - t0).count());
            std::this_thread::sleep_for (std::chrono::microseconds (200));
        }
    });
    run();
    stop.store (true);
    probe.join();
    return longest;
}

void lanesOn()
{
    const float t[] = { 0.0f, 0.3f, 1.0f }, v[] = { 0.9f, 0.5f, 0.2f };
    for (unsigned layer = 0; layer < 3; ++layer)
        for (unsigned p : { 1u, 3u })
            quorvalen_engine_set_foundry_automation (layer, p, t, v, 3);
}

// The body layer's stages one by one on a 1 s source: the longest of them.
double longestStageHold (int body)
{
    using namespace quorvalen::foundry;
    auto& e = quorvalen::engine();
    const LayerFilterSettings filters { true, 60.0f, 10.0f, true, 9000.0f, 20.0f };
    const std::int32_t id = bodyLayerId;
    const std::vector<std::function<int()>> stages {
        [&] { return renderFoundryProcessedRegion (e, body, id, -2.0f, 90.0f, 0.0f, false); },
        [&] { return applyFoundryLayerFilters (e, id, filters); },
        [&] { return applyFoundryLayerHeat (e, id, 30.0f, 0, true); },
        [&] { return applyFoundryMonoInvert (e, id, false, false); },
        [&] { return renderFoundryLayerStage (e, id, 1, 0, true, filters, 400.0f); },
        [&] { return applyFoundryEdgeFades (e, id, 3.0f); },
    };
    double longest = 0.0;
    for (int r = 0; r < runs; ++r)
        for (const auto& stage : stages)
            longest = std::max (longest, millisOf ([&] { stage(); }));
    std::lock_guard lock (e.engineMutex);
    e.cache.entries.erase ((std::uint32_t) id);
    return longest;
}

} // namespace

int main()
{
    quorvalen::platform::setHeadlessSettings ({ 1, rate, 512, 512 });
    if (quorvalen_engine_init() != 0)
        return 1;
    const int second = (int) rate;
    Preview preview { cacheNoise (second, 1, 0.9f), cacheNoise (second, 2, 0.6f), cacheNoise (second, 3, 0.4f) };
    lanesOn();
    const auto file = juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("qv_preview_bench.wav");
    const auto path = file.getFullPathName().toStdString();

    std::vector<double> first, refresh, exported, hit;
    double longest = 0.0;
    int failures = 0;
    for (int r = 0; r < runs; ++r)
    {
        preview.variant = (float) (3 * r);
        longest = std::max (longest, longestMutexWait ([&] {
                                first.push_back (millisOf ([&] { failures += preview.call (0) != 0; }));
                            }));
        preview.variant += 1.0f;
        refresh.push_back (millisOf ([&] { failures += preview.call (1) != 0; }));
        preview.variant += 1.0f;
        exported.push_back (millisOf ([&] { failures += preview.call (2, path.c_str()) != 0; }));
        hit.push_back (millisOf ([&] { failures += preview.call (2, path.c_str()) != 0; }));
    }

    quorvalen_engine_stop();
    const double hold = longestStageHold (preview.body);

    const int long10 = cacheNoise (10 * second, 4, 0.8f);
    std::vector<double> surprise;
    for (int r = 0; r < 3; ++r)
    {
        const int id = quorvalen_engine_clone_cached (long10);
        surprise.push_back (
            millisOf ([&] { failures += quorvalen_engine_apply_render_surprise (id, 60.0f, 50.0f, 1, 0) != 0; }));
        quorvalen_engine_unload_cached (id);
    }

    std::printf ("| Foundry preview (3 layers of 1 s, 48 kHz stereo, lanes on) | median wall time |\n|---|---|\n");
    std::printf ("| first render and play | %.1f ms |\n", median (first));
    std::printf ("| refresh while looping | %.1f ms |\n", median (refresh));
    std::printf ("| export (render and 24-bit WAV) | %.1f ms |\n", median (exported));
    std::printf ("| export unchanged (cache hit) | %.2f ms |\n", median (hit));
    std::printf ("| longest engine-mutex wait of another thread during a render | %.1f ms |\n", longest);
    std::printf ("| longest single stage (engine-mutex hold), body layer | %.1f ms |\n", hold);
    std::printf ("| render surprise, 10 s stereo, A 60, B 50 with stretch | %.0f ms |\n", median (surprise));
    file.deleteFile();
    quorvalen_engine_shutdown();
    return failures == 0 ? 0 : 2;
}
