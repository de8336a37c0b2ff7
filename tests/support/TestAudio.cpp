#include "TestAudio.h"

#include "TestNoise.h"

#include <juce_dsp/juce_dsp.h>

#include <cmath>
#include <complex>
#include <filesystem>
#include <string>
#include <vector>
#include <unistd.h>

namespace qvtest
{

juce::AudioBuffer<float> sine (double frequency, double rate, int samples, float amplitude, int channels)
{
    juce::AudioBuffer<float> b (channels, samples);
    for (int i = 0; i < samples; ++i)
    {
        const auto v = (float) (amplitude * std::sin (2.0 * M_PI * frequency * i / rate));
        for (int ch = 0; ch < channels; ++ch)
            b.setSample (ch, i, v);
    }
    return b;
}

juce::AudioBuffer<float> noiseBuffer (int samples, std::uint64_t seed, float amplitude, int channels)
{
    juce::AudioBuffer<float> b (channels, samples);
    NoiseStream stream (seed);
    for (int ch = 0; ch < channels; ++ch)
        for (int i = 0; i < samples; ++i)
            b.setSample (ch, i, amplitude * stream.next());
    return b;
}

juce::AudioBuffer<float> decayingNoise (int samples, std::uint64_t seed, float decaySamples, int channels)
{
    auto b = noiseBuffer (samples, seed, 1.0f, channels);
    for (int ch = 0; ch < channels; ++ch)
        for (int i = 0; i < samples; ++i)
            b.setSample (ch, i, b.getSample (ch, i) * std::exp (-(float) i / decaySamples));
    return b;
}

juce::MemoryBlock wavBytes (const juce::AudioBuffer<float>& audio, double rate, int bits)
{
    juce::MemoryBlock block;
    juce::WavAudioFormat wav;
    auto* stream = new juce::MemoryOutputStream (block, false);
    std::unique_ptr<juce::AudioFormatWriter> writer (
        wav.createWriterFor (stream, rate, (unsigned) audio.getNumChannels(), bits, {}, 0));
    if (writer == nullptr)
    {
        delete stream;
        return {};
    }
    writer->writeFromAudioSampleBuffer (audio, 0, audio.getNumSamples());
    writer.reset();
    return block;
}

std::string writeWav (const std::string& path, const juce::AudioBuffer<float>& audio, double rate, int bits)
{
    const auto bytes = wavBytes (audio, rate, bits);
    juce::File (path).replaceWithData (bytes.getData(), bytes.getSize());
    return path;
}

juce::AudioBuffer<float> readAudio (const std::string& path, double* rate)
{
    juce::AudioFormatManager formats;
    formats.registerBasicFormats();
    std::unique_ptr<juce::AudioFormatReader> reader (formats.createReaderFor (juce::File (path)));
    if (reader == nullptr)
        return {};
    juce::AudioBuffer<float> b ((int) reader->numChannels, (int) reader->lengthInSamples);
    reader->read (&b, 0, b.getNumSamples(), 0, true, true);
    if (rate != nullptr)
        *rate = reader->sampleRate;
    return b;
}

namespace
{
// Every folder a test process made, removed when the process ends: a test run
// leaves nothing behind in the temporary folder.
struct TempDirs
{
    std::vector<std::string> paths;
    ~TempDirs()
    {
        for (const auto& path : paths)
        {
            std::error_code ignored;
            std::filesystem::remove_all (path, ignored);
        }
    }
};
} // namespace

std::string tempDir()
{
    static TempDirs made;
    static int counter = 0;
    auto dir = juce::File::getSpecialLocation (juce::File::tempDirectory)
                   .getChildFile ("qvtest-" + juce::String (getpid()) + "-" + juce::String (counter++));
    dir.deleteRecursively();
    dir.createDirectory();
    made.paths.push_back (dir.getFullPathName().toStdString());
    return made.paths.back();
}

double dominantFrequency (const float* x, int n, double rate)
{
    int size = 1;
    while (size < n)
        size <<= 1;
    int order = 0;
    while ((1 << order) < size)
        ++order;
    juce::dsp::FFT fft (order);
    std::vector<float> data ((size_t) size * 2, 0.0f);
    for (int i = 0; i < n; ++i)
        data[(size_t) i] = x[i] * (float) (0.5 - 0.5 * std::cos (2.0 * M_PI * i / std::max (n - 1, 1)));
    fft.performFrequencyOnlyForwardTransform (data.data());
    int best = 1;
    for (int k = 1; k < size / 2; ++k)
        if (data[(size_t) k] > data[(size_t) best])
            best = k;
    double k = best;
    if (best > 1 && best < size / 2 - 1)
    {
        const double a = std::log (data[(size_t) best - 1] + 1e-12), b = std::log (data[(size_t) best] + 1e-12),
                     c = std::log (data[(size_t) best + 1] + 1e-12);
        const double den = a - 2 * b + c;
        if (std::abs (den) > 1e-12)
            k += 0.5 * (a - c) / den;
    }
    return k * rate / size;
}

float peakAbs (const float* x, int n)
{
    float p = 0.0f;
    for (int i = 0; i < n; ++i)
        p = std::max (p, std::abs (x[i]));
    return p;
}

float rms (const float* x, int n)
{
    double s = 0.0;
    for (int i = 0; i < n; ++i)
        s += (double) x[i] * x[i];
    return n > 0 ? (float) std::sqrt (s / n) : 0.0f;
}

bool allFinite (const juce::AudioBuffer<float>& b)
{
    for (int c = 0; c < b.getNumChannels(); ++c)
        for (int i = 0; i < b.getNumSamples(); ++i)
            if (! std::isfinite (b.getSample (c, i)))
                return false;
    return true;
}

float throughCharacterCeiling (float x)
{
    return std::tanh (1.035f * x) / std::tanh (1.035f);
}

float beforeCharacterCeiling (float y)
{
    return std::atanh (y * std::tanh (1.035f)) / 1.035f;
}

} // namespace qvtest
