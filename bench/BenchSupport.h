#pragma once
// What the benchmarks share: wall-clock timing, medians, the process's memory,
// the test sounds and sounds cached exactly through the exports.
#include <juce_audio_basics/juce_audio_basics.h>
#include <juce_audio_formats/juce_audio_formats.h>
#include <quorvalen_dsp.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qvbench
{

inline double wallSeconds (const std::function<void()>& work)
{
    const auto t0 = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double> (std::chrono::steady_clock::now() - t0).count();
}

inline double median (std::vector<double> v)
{
    std::sort (v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

// A field of /proc/self/status in kB ("VmRSS:", "VmHWM:"), -1 if absent.
inline long statusKb (const char* field)
{
    std::ifstream status ("/proc/self/status");
    std::string line;
    while (std::getline (status, line))
        if (line.rfind (field, 0) == 0)
            return std::stol (line.substr (std::string (field).size()));
    return -1;
}

// A pitched stereo sound with a moving level and a little noise, different per
// channel; `root` sets its pitch.
inline juce::AudioBuffer<float> pitchedSound (double root, int seed, int lengthSeconds, double rate = 48000.0)
{
    juce::AudioBuffer<float> audio (2, (int) rate * lengthSeconds);
    juce::Random r (seed);
    for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < audio.getNumSamples(); ++i)
        {
            const double t = i / rate;
            double v = 0.0;
            for (int h = 1; h <= 6; ++h)
                v += 0.25 / h * std::sin (2 * M_PI * root * h * t + ch * 0.3 * h);
            v *= 0.6 + 0.4 * std::sin (2 * M_PI * 0.7 * t);
            audio.setSample (ch, i, (float) (v + 0.03 * (r.nextFloat() - 0.5f)));
        }
    return audio;
}

// The sound as a 32-bit float WAV file in memory.
inline juce::MemoryBlock floatWav (const juce::AudioBuffer<float>& audio, double rate)
{
    juce::MemoryBlock block;
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatWriter> writer (wav.createWriterFor (
        new juce::MemoryOutputStream (block, false), rate, (unsigned) audio.getNumChannels(), 32, {}, 0));
    writer->writeFromAudioSampleBuffer (audio, 0, audio.getNumSamples());
    writer.reset();
    return block;
}

// Cached through the memory intake; the samples come back exactly.
inline int cacheExactly (const juce::AudioBuffer<float>& audio, double rate)
{
    const auto block = floatWav (audio, rate);
    return quorvalen_engine_cache_wav_memory (block.getData(), block.getSize());
}

// Noise under a few tones, stereo 48 kHz, cached exactly: a dense spectrum like
// a real recording.
inline int cacheNoiseUnderTones (int lengthSeconds)
{
    const int n = 48000 * lengthSeconds;
    juce::AudioBuffer<float> audio (2, n);
    juce::Random r (3);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < n; ++i)
            audio.setSample (c, i,
                             0.1f * (r.nextFloat() - 0.5f) + 0.2f * std::sin (0.0577f * (float) i)
                                 + 0.1f * std::sin (0.0031f * (float) (i + c)));
    return cacheExactly (audio, 48000.0);
}

} // namespace qvbench
