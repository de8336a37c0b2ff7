// Thread CPU cost per second of 48 kHz stereo audio, measured by the processing
// thread's own CPU clock (the machine may be busy): the live shifter adapter against the
// stretcher's own real-time mode driven directly with the same blocks, the whole
// frequency-shift module, and the space module with a 10 s impulse response.
#include "LiveBlockSettings.h"
#include "ThreadCpuClock.h"
#include "dsp/stretch/LiveShifter.h"
#include "rack/ImpulseResponseLibrary.h"
#include "rack/RackProcessingState.h"

#include <juce_audio_formats/juce_audio_formats.h>
#include <rubberband/RubberBandStretcher.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

using namespace quorvalen;

namespace
{
using namespace qvbench;

// Best of three runs of `work`, as thread CPU seconds per second of audio.
double costPerSecond (const std::function<void()>& work)
{
    double best = 1e30;
    for (int run = 0; run < 3; ++run)
    {
        const double t0 = threadCpuSeconds();
        work();
        best = std::min (best, threadCpuSeconds() - t0);
    }
    return best / audioSeconds;
}

std::vector<float> noise (unsigned seed)
{
    juce::Random random ((juce::int64) seed);
    std::vector<float> x ((size_t) block * 64);
    for (auto& v : x)
        v = 0.6f * random.nextFloat() - 0.3f;
    return x;
}

// Pitch per block: fixed, or a slow sweep over +-7 semitones as automation would move it.
double pitchAt (int k, bool sweep)
{
    return std::exp2 ((sweep ? 7.0 * std::sin (k * 0.01) : 5.0) / 12.0);
}

double adapter (int options, bool sweep)
{
    const auto left = noise (1), right = noise (2);
    std::vector<float> outLeft ((size_t) block), outRight ((size_t) block);
    return costPerSecond ([&] {
        platform::LiveShifter shifter (rate, 2, options);
        float* out[2] = { outLeft.data(), outRight.data() };
        for (int k = 0; k < blocks; ++k)
        {
            const size_t at = (size_t) (k % 64) * block;
            const float* in[2] = { left.data() + at, right.data() + at };
            shifter.setPitchScale (pitchAt (k, sweep));
            shifter.shift (in, out);
        }
    });
}

double stretcherDirect (bool mediumWindow, bool sweep)
{
    using RB = RubberBand::RubberBandStretcher;
    const auto left = noise (1), right = noise (2);
    std::vector<float> outLeft (4096), outRight (4096);
    return costPerSecond ([&] {
        RB stretcher ((size_t) rate, 2,
                      RB::OptionProcessRealTime | RB::OptionEngineFiner | RB::OptionThreadingNever
                          | RB::OptionChannelsTogether
                          | (mediumWindow ? RB::OptionWindowStandard : RB::OptionWindowShort),
                      1.0, 1.0);
        stretcher.setMaxProcessSize (block);
        float* out[2] = { outLeft.data(), outRight.data() };
        for (int k = 0; k < blocks; ++k)
        {
            const size_t at = (size_t) (k % 64) * block;
            const float* in[2] = { left.data() + at, right.data() + at };
            stretcher.setPitchScale (pitchAt (k, sweep));
            stretcher.process (in, block, false);
            while (stretcher.available() > 0)
                stretcher.retrieve (out, std::min<size_t> ((size_t) stretcher.available(), 4096));
        }
    });
}

double module (int moduleIndex, const char* json, bool loadSpace)
{
    const auto settings = parseRackSettings (json);
    juce::AudioBuffer<float> audio (2, block * 64);
    juce::Random random (3);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < audio.getNumSamples(); ++i)
            audio.setSample (c, i, 0.6f * random.nextFloat() - 0.3f);
    juce::AudioBuffer<float> work (2, block);
    return costPerSecond ([&] {
        RackProcessingState state (false);
        prepareRackState (state, rate, block);
        state.playLength = state.loopLength = (std::int64_t) 1 << 40;
        state.freqShift.prepareShifter (*settings);
        if (loadSpace)
            state.space.loadImpulseResponse (*settings, 2, true);
        for (int k = 0; k < blocks; ++k)
        {
            for (int c = 0; c < 2; ++c)
                work.copyFrom (c, 0, audio, c, (k % 64) * block, block);
            runRackModule (state, work, 0, block, moduleIndex, *settings);
            state.position += block;
        }
    });
}

void writeTenSecondResponse()
{
    const auto dir = juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("qv-bench-irs");
    dir.deleteRecursively();
    dir.createDirectory();
    juce::AudioBuffer<float> ir (2, (int) (rate * 10.0));
    juce::Random random (4);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < ir.getNumSamples(); ++i)
            ir.setSample (c, i, (2.0f * random.nextFloat() - 1.0f) * std::exp (-0.5f * (float) i / (float) rate));
    juce::WavAudioFormat wav;
    auto file = dir.getChildFile ("hall.wav");
    std::unique_ptr<juce::AudioFormatWriter> writer (
        wav.createWriterFor (file.createOutputStream().release(), rate, 2, 24, {}, 0));
    writer->writeFromAudioSampleBuffer (ir, 0, ir.getNumSamples());
    setenv (impulseResponseDirVariable, dir.getFullPathName().toRawUTF8(), 1);
}

void row (const char* name, double cost)
{
    std::printf ("%-52s %14.4f %10.1fx\n", name, cost, 1.0 / cost);
    std::fflush (stdout);
}
} // namespace

int main()
{
    using platform::LiveShifter;
    std::printf ("48 kHz stereo, 512-frame blocks, %.0f s of audio, best of 3\n", audioSeconds);
    std::printf ("%-52s %14s %11s\n", "", "thread CPU s/s", "realtime");
    row ("stretcher real-time, short window, fixed pitch", stretcherDirect (false, false));
    row ("live shifter adapter, short window, fixed pitch", adapter (LiveShifter::channelsTogether, false));
    row ("stretcher real-time, short window, pitch sweep", stretcherDirect (false, true));
    row ("live shifter adapter, short window, pitch sweep", adapter (LiveShifter::channelsTogether, true));
    row ("stretcher real-time, standard window, fixed pitch", stretcherDirect (true, false));
    row ("live shifter adapter, medium window, fixed pitch",
         adapter (LiveShifter::channelsTogether | LiveShifter::windowMedium, false));
    row ("frequency-shift module (beat), +5 semitones",
         module (rackModuleFreqShift, R"({"freqShiftEnabled": true, "freqShift": 5})", false));

    writeTenSecondResponse();
    row ("space module, 10 s impulse response",
         module (rackModuleSpace, R"({"spaceEnabled": true, "spaceWet": 70})", true));
    return 0;
}
