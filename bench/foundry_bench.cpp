// The Foundry's cost. Live sources (audition character in each mode, region filters
// with all three slots on, and both chained) on the calling thread: thread CPU
// seconds per second of 48 kHz stereo audio in 512-frame blocks, and the slowest
// block by thread CPU time as a share of the block period. Offline: each layer
// stage and each 4x runner on 10 s of 48 kHz stereo, as multiples of real time;
// pitch detection of a 10 s sound.
#include "BenchNoiseSource.h"
#include "LiveBlockSettings.h"
#include "ThreadCpuClock.h"
#include "cache/AudioCache.h"
#include "engine/QuorvalenEngine.h"
#include "foundry/FoundryAuditionCharacterSource.h"
#include "foundry/FoundryAutomationKernel.h"
#include "foundry/FoundryCodes.h"
#include "foundry/FoundryFilterDesign.h"
#include "foundry/FoundryLayerStages.h"
#include "foundry/FoundryNonlinear.h"
#include "foundry/FoundryPitchDetection.h"
#include "foundry/FoundryRegionFilterSource.h"
#include "platform/HeadlessConfig.h"

#include <quorvalen_dsp.h>

#include <cstdio>
#include <ctime>
#include <functional>
#include <string>

using namespace quorvalen;
using namespace quorvalen::foundry;

namespace
{
using namespace qvbench;

void live (const char* name, juce::AudioSource& stage, double& total)
{
    stage.prepareToPlay (block, rate);
    juce::AudioBuffer<float> buffer (2, block);
    const double period = block / rate;
    double worst = 0.0;
    const double start = threadCpuSeconds();
    for (int b = 0; b < blocks; ++b)
    {
        const double t0 = threadCpuSeconds();
        stage.getNextAudioBlock (juce::AudioSourceChannelInfo (&buffer, 0, block));
        if (b > 0)
            worst = std::max (worst, (threadCpuSeconds() - t0) / period);
    }
    const double perSecond = (threadCpuSeconds() - start) / audioSeconds;
    total += perSecond;
    std::printf ("| %s | %.4f | %.1f %% |\n", name, perSecond, 100.0 * worst);
}

juce::AudioBuffer<float> noise (int samples)
{
    juce::AudioBuffer<float> b (2, samples);
    juce::Random random (9);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < samples; ++i)
            b.setSample (c, i, 0.5f * random.nextFloat() - 0.25f);
    return b;
}

constexpr double offlineSeconds = 10.0;
const int offlineSamples = (int) (offlineSeconds * rate);

// Thread CPU time: the stages run on the calling thread, and the machine may be busy.
void offline (const char* name, const std::function<void()>& run)
{
    const double t0 = threadCpuSeconds();
    run();
    const double took = threadCpuSeconds() - t0;
    std::printf ("| %s | %.3f s | %.0f x |\n", name, took, offlineSeconds / took);
}

// Runs `stage` on a fresh layer entry holding 10 s of noise.
void stage (const char* name, int source, const std::function<int()>& run)
{
    renderFoundryProcessedRegion (engine(), source, transientLayerId, 0.0f, 100.0f, 0.0f, false);
    offline (name, [&] {
        if (run() != 0)
            std::printf ("stage %s failed\n", name);
    });
}
} // namespace

int main()
{
    std::printf ("Live sources (thread CPU s per s of audio, slowest block)\n\n| Source | CPU s per s | Slowest block "
                 "|\n|---|---|---|\n");
    double total = 0.0;
    const char* modes[] = { "character, main preview (-1)", "character, transient", "character, body heat",
                            "character, tail heat + width", "character, overtone drive" };
    for (int mode = -1; mode <= 3; ++mode)
    {
        NoiseSource input (5);
        FoundryAuditionCharacterSource character (&input);
        character.mode = mode;
        character.transientAmount = 80.0f;
        character.bodyHeat = character.tailHeat = character.overtoneDrive = 70.0f;
        character.heatMode = 2;
        character.width = 40.0f;
        live (modes[mode + 1], character, total);
    }
    NoiseSource input (5);
    PreviewPlayhead playhead;
    FoundryRegionFilterSource regions (&input, nullptr, playhead);
    for (std::uint32_t s = 0; s < 3; ++s)
        regions.setFoundryMainPreviewRegionFilter (s, true, 150.0f * (float) (s + 1), 40.0f, true, 6000.0f, 60.0f);
    regions.region1On = regions.region2On = true;
    regions.region1Start = 5.0f;
    regions.region2Start = 12.0f;
    regions.previewLengthSeconds = audioSeconds;
    regions.enabled = true;
    live ("region filters, three slots", regions, total);
    std::printf ("| all of the above together | %.4f | |\n\n", total);

    platform::setPlatformDeviceTypesEnabled (false);
    platform::setHeadlessSettings ({ 1, rate, block, block });
    quorvalen_engine_init();
    int source = 0;
    {
        std::lock_guard lock (engine().engineMutex);
        source = (int) insertCacheEntry (
            engine(), { std::make_unique<juce::AudioBuffer<float>> (noise (offlineSamples)), rate, "bench" });
    }

    std::printf ("Offline on 10 s of 48 kHz stereo\n\n| Stage | Thread CPU | Real time |\n|---|---|---|\n");
    SoftClipFilterParams filters { true, makeFoundryFilterBiquad (true, 4 * rate, 200.0, 30.0f), true,
                                   makeFoundryFilterBiquad (false, 4 * rate, 6000.0, 30.0f) };
    auto b = noise (offlineSamples);
    offline ("4x runner: soft-clip filters", [&] { softClipOversampled (b, filters); });
    offline ("4x runner: heat", [&] { heatOversampled (b, { false, 0.7f, 1 }); });
    offline ("4x runner: tanh drive mix", [&] { tanhDriveMixOversampled (b, 5.0f, std::tanh (5.0f), 0.5f); });
    offline ("4x runner: tanh drive", [&] { tanhDriveOversampled (b, 3.0f); });
    LayerLanes lanes;
    for (int p : { lane::lowPassCutoff, lane::heat, lane::highPassResonance })
    {
        lanes[(size_t) p].times = { 0.0f, 0.3f, 0.7f, 1.0f };
        lanes[(size_t) p].values = { 0.2f, 0.9f, 0.4f, 0.6f };
    }
    offline ("4x runner: automated kernel (low-pass, resonance, heat lanes)", [&] {
        AutomatedLayerContext k;
        k.lanes = &lanes;
        k.timeBase = offlineSamples;
        k.highPassOn = k.lowPassOn = true;
        k.oversampledRate = 4 * rate;
        automatedLayerOversampled (b, k);
    });

    const auto id = transientLayerId;
    stage ("cut and pitch (+5 semitones)", source,
           [&] { return renderFoundryProcessedRegion (engine(), source, id, 5.0f, 80.0f, 0.0f, true); });
    stage ("layer filters", source, [&] {
        return applyFoundryLayerFilters (engine(), id, { true, 200.0f, 30.0f, true, 6000.0f, 30.0f });
    });
    stage ("mono and invert", source, [&] { return applyFoundryMonoInvert (engine(), id, true, true); });
    stage ("transient shaping 70 %", source, [&] { return shapeFoundryTransient (engine(), id, 70.0f); });
    stage ("heat 70 %", source, [&] { return applyFoundryLayerHeat (engine(), id, 70.0f, 1, false); });
    stage ("width 60 %", source, [&] { return applyFoundryStereoWidth (engine(), id, 60.0f); });
    const float t[] = { 0.0f, 0.5f, 1.0f }, v[] = { 0.3f, 0.8f, 0.5f };
    for (std::uint32_t p = 0; p < 8; ++p)
        quorvalen_engine_set_foundry_automation (2, p, t, v, 3);
    stage ("lane stage, all eight lanes", source, [&] {
        return renderFoundryLayerStage (engine(), id, 2, 1, false, { true, 200.0f, 30.0f, true, 6000.0f, 30.0f }, 0.0f);
    });
    stage ("region window", source, [&] { return applyFoundryRegionWindow (engine(), id, 20.0f, 30.0f); });
    stage ("edge fades", source, [&] { return applyFoundryEdgeFades (engine(), id, 3.0f); });
    {
        std::lock_guard lock (engine().engineMutex);
        engine().playback.playbackBuffer = std::make_unique<juce::AudioBuffer<float>> (noise (offlineSamples));
    }
    OvertoneOverlay o;
    o.sourceId = source;
    o.overlayEndMs = 10000.0f;
    o.drivePercent = 50.0f;
    o.highPassOn = true;
    o.highPassHz = 300.0f;
    stage ("overtone overlay (cut, filter, drive, mix)", source,
           [&] { return overlayFoundryOvertone (engine(), o, rate); });

    int tone = 0;
    {
        juce::AudioBuffer<float> sine (2, offlineSamples);
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < offlineSamples; ++i)
                sine.setSample (c, i,
                                0.5f * (float) std::sin (2.0 * juce::MathConstants<double>::pi * 220.0 * i / rate));
        std::lock_guard lock (engine().engineMutex);
        tone = (int) insertCacheEntry (engine(),
                                       { std::make_unique<juce::AudioBuffer<float>> (std::move (sine)), rate, "tone" });
    }
    const double t0 = threadCpuSeconds();
    const float hz = detectFoundryPitch (engine(), tone, 2000.0f);
    std::printf ("\nPitch detection of a 10 s sound: %.2f ms of thread CPU (%.1f Hz)\n",
                 1000.0 * (threadCpuSeconds() - t0), hz);
    quorvalen_engine_shutdown();
    return 0;
}
