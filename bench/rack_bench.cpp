// The live rack's cost on the audio thread: CPU seconds per second of 48 kHz stereo
// audio in 512-frame blocks, measured by the processing thread's own CPU clock (so
// that other work on a shared machine does not count) beside the wall time, and the
// slowest single block by CPU and by wall time as a fraction of the block period, for the rack with every module off,
// each module alone, all seven on (10 s impulse response; frequency shifter in beat and synth modes) and 24 rackModules
// entries.
#include "BenchNoiseSource.h"
#include "LiveBlockSettings.h"
#include "ThreadCpuClock.h"
#include "rack/QuorvalenProcessingRackSource.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

using namespace quorvalen;

namespace
{
using namespace qvbench;

struct Cost
{
    double cpuPerSecond = 0.0;       // thread CPU time per second of audio
    double wallPerSecond = 0.0;      // wall time per second of audio
    double firstBlockFraction = 0.0; // CPU; pays for first-touch page faults of a fresh playback
    double worstCpuFraction = 0.0;   // every later block, by CPU time
    double worstWallFraction = 0.0;  // every later block, by wall time
};

Cost measure (const std::string& json)
{
    NoiseSource noise;
    QuorvalenProcessingRackSource rack (&noise);
    rack.prepareToPlay (block, rate);
    if (! updateSettings (rack, json.c_str()))
    {
        std::fprintf (stderr, "settings refused: %s\n", json.c_str());
        std::exit (1);
    }
    const auto length = (std::int64_t) (audioSeconds * rate);
    rack.prepareRackPlayback (length, true, length, false);
    rack.setProcessingEnabled (true);

    juce::AudioBuffer<float> buffer (2, block);
    const double period = block / rate;
    Cost cost;
    const auto start = Clock::now();
    const double cpuStart = threadCpuSeconds();
    for (int b = 0; b < blocks; ++b)
    {
        const auto t0 = Clock::now();
        const double c0 = threadCpuSeconds();
        rack.getNextAudioBlock (juce::AudioSourceChannelInfo (&buffer, 0, block));
        const double cpu = threadCpuSeconds() - c0;
        const double wall = std::chrono::duration<double> (Clock::now() - t0).count();
        if (b == 0)
        {
            cost.firstBlockFraction = cpu / period;
            continue;
        }
        cost.worstCpuFraction = std::max (cost.worstCpuFraction, cpu / period);
        cost.worstWallFraction = std::max (cost.worstWallFraction, wall / period);
    }
    cost.cpuPerSecond = (threadCpuSeconds() - cpuStart) / audioSeconds;
    cost.wallPerSecond = std::chrono::duration<double> (Clock::now() - start).count() / audioSeconds;
    rack.releaseResources();
    return cost;
}

void writeImpulseResponse (const juce::File& folder)
{
    folder.createDirectory();
    juce::AudioBuffer<float> ir (2, (int) (10.0 * rate));
    juce::Random random (9);
    for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < ir.getNumSamples(); ++i)
            ir.setSample (ch, i, (random.nextFloat() - 0.5f) * std::exp (-3.0f * (float) i / (float) rate));
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatWriter> writer (
        wav.createWriterFor (new juce::FileOutputStream (folder.getChildFile ("hall.wav")), rate, 2, 24, {}, 0));
    writer->writeFromAudioSampleBuffer (ir, 0, ir.getNumSamples());
}

void row (const char* name, const std::string& json)
{
    const auto c = measure (json);
    std::printf ("| %-34s | %8.4f | %8.4f | %6.1f %% | %6.1f %% | %6.1f %% |\n", name, c.cpuPerSecond, c.wallPerSecond,
                 100.0 * c.firstBlockFraction, 100.0 * c.worstCpuFraction, 100.0 * c.worstWallFraction);
}
} // namespace

int main()
{
    const auto irFolder = juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("qv-rack-bench-irs");
    writeImpulseResponse (irFolder);
    setenv ("QUORVALEN_IR_DIR", irFolder.getFullPathName().toRawUTF8(), 1);

    std::printf ("| Rack (48 kHz stereo, 512-frame blocks) | thread CPU s per s | wall s per s | first block (CPU) |"
                 " slowest later block (CPU) | slowest later block (wall) |\n");
    std::printf ("|---|---|---|---|---|---|\n");
    row ("all modules off", "{}");
    row ("heat (tube)", R"({"heatEnabled": true, "heatMode": "tube", "heatDrive": 60})");
    row ("filter (LP, LFO, dirtbox)", R"({"deEssEnabled": true, "filterLfo": 40, "filterDirtboxEnabled": true})");
    row ("filter (cepstral)",
         R"({"deEssEnabled": true, "filterMode": "CEPS", "filterCepsShift": 5, "filterCepsAmount": 60})");
    row ("transient", R"({"transientEnabled": true, "transientAttack": 40, "transientSustain": -20})");
    row ("frequency shift (beat)", R"({"freqShiftEnabled": true, "freqShift": 5})");
    row ("frequency shift (synth)", R"({"freqShiftEnabled": true, "freqShiftMode": "synth", "freqShift": 5})");
    row ("spectral delay", R"({"spectralDelayEnabled": true})");
    row ("space (10 s impulse response)", R"({"spaceEnabled": true})");
    row ("stereo", R"({"stereoEnabled": true, "stereoWidth": 50})");
    const std::string allOn = R"("heatEnabled": true, "deEssEnabled": true, "filterLfo": 40, "transientEnabled": true,
        "freqShiftEnabled": true, "freqShift": 5, "spectralDelayEnabled": true, "spaceEnabled": true,
        "stereoEnabled": true, "stereoWidth": 50)";
    row ("all seven, shifter beat", "{" + allOn + "}");
    row ("all seven, shifter synth", "{" + allOn + R"(, "freqShiftMode": "synth"})");

    std::string entries;
    const char* cycle[] = { "heat", "deess", "transient", "spectraldelay", "stereo", "heat" };
    for (int i = 0; i < 24; ++i)
        entries += std::string (i ? "," : "") + R"({"effect": ")" + cycle[i % 6]
            + R"(", "settings": {"heatEnabled": true, "deEssEnabled": true, "transientEnabled": true,
                        "spectralDelayEnabled": true, "stereoEnabled": true, "stereoWidth": 20}})";
    row ("24 rackModules entries", R"({"rackModules": [)" + entries + "]}");

    irFolder.deleteRecursively();
    return 0;
}
