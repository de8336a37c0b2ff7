// Decode and export throughput of the audio cache, compared like for like on the
// same file in the same run: in process against libsndfile reading the file into
// float, and whole process (decode and write one file) against sox; and the master
// tap's cost on the audio thread.
#include "chain/MasterSpectrumSource.h"
#include "platform/HeadlessConfig.h"

#include <juce_audio_formats/juce_audio_formats.h>
#include <quorvalen_dsp.h>
#include <sndfile.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace
{
using Clock = std::chrono::steady_clock;

double bestSeconds (int runs, const std::function<void()>& work)
{
    double best = 1e30;
    for (int i = 0; i < runs; ++i)
    {
        const auto t0 = Clock::now();
        work();
        best = std::min (best, std::chrono::duration<double> (Clock::now() - t0).count());
    }
    return best;
}

class Noise final : public juce::AudioSource
{
public:
    void prepareToPlay (int, double) override {}
    void releaseResources() override {}
    void getNextAudioBlock (const juce::AudioSourceChannelInfo& info) override
    {
        for (int ch = 0; ch < info.buffer->getNumChannels(); ++ch)
            for (int i = 0; i < info.numSamples; ++i)
                info.buffer->setSample (ch, info.startSample + i, random.nextFloat() - 0.5f);
    }
    juce::Random random { 1 };
};
} // namespace

int main()
{
    quorvalen::platform::setPlatformDeviceTypesEnabled (false);
    if (quorvalen_engine_init() != 0)
        return 1;

    constexpr double rate = 48000.0;
    constexpr int seconds = 60;
    const auto dir = juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("qv-cache-bench");
    dir.createDirectory();
    const auto input = dir.getChildFile ("in.wav");
    {
        juce::AudioBuffer<float> audio (2, (int) rate * seconds);
        juce::Random r (7);
        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < audio.getNumSamples(); ++i)
                audio.setSample (ch, i, 0.5f * std::sin (0.01f * i) + 0.1f * (r.nextFloat() - 0.5f));
        juce::WavAudioFormat wav;
        std::unique_ptr<juce::AudioFormatWriter> w (
            wav.createWriterFor (new juce::FileOutputStream (input), rate, 2, 24, {}, 0));
        w->writeFromAudioSampleBuffer (audio, 0, audio.getNumSamples());
    }
    juce::MemoryBlock bytes;
    input.loadFileAsData (bytes);
    const auto in = input.getFullPathName().toStdString();
    const auto out = dir.getChildFile ("out.wav").getFullPathName().toStdString();

    const double file =
        bestSeconds (5, [&] { quorvalen_engine_unload_cached (quorvalen_engine_cache_wav (in.c_str())); });
    const double memory = bestSeconds (5, [&] {
        quorvalen_engine_unload_cached (quorvalen_engine_cache_wav_memory (bytes.getData(), bytes.getSize()));
    });
    const int id = quorvalen_engine_cache_wav (in.c_str());
    const double write = bestSeconds (5, [&] { quorvalen_engine_export_cached_wav (id, out.c_str()); });
    // In process: libsndfile reads the whole file into interleaved float.
    const double sndfileRead = bestSeconds (5, [&] {
        SF_INFO info {};
        SNDFILE* f = sf_open (in.c_str(), SFM_READ, &info);
        if (f == nullptr)
            std::exit (2);
        std::vector<float> samples ((size_t) (info.frames * info.channels));
        sf_readf_float (f, samples.data(), info.frames);
        sf_close (f);
    });
    // Whole process against whole process: the host program decodes the file into the
    // cache and exports it as 24-bit WAV; sox converts the same file to 24-bit WAV.
    const auto run = [] (const std::string& command) {
        if (std::system (command.c_str()) != 0)
            std::exit (3);
    };
    const std::string host = QV_HOST_PATH;
    const double hostConvert =
        bestSeconds (5, [&] { run ("'" + host + "' convert '" + in + "' '" + out + "' >/dev/null 2>&1"); });
    const double soxConvert = bestSeconds (5, [&] { run ("sox '" + in + "' -b 24 '" + out + "'"); });

    std::printf ("60 s of 48 kHz stereo 24-bit WAV (best of 5), seconds of audio per second:\n");
    std::printf ("In process:\n");
    std::printf ("  cache_wav (file)      %8.0f x real time   (libsndfile read to float %6.0f x; ratio %.2f)\n",
                 seconds / file, seconds / sndfileRead, sndfileRead / file);
    std::printf ("  cache_wav_memory      %8.0f x real time   (from memory: no file read to compare)\n",
                 seconds / memory);
    std::printf ("  export_cached_wav     %8.0f x real time\n", seconds / write);
    std::printf ("Whole process (start, decode, write 24-bit WAV, exit):\n");
    std::printf ("  quorvalen_host convert %7.0f x real time   (sox %6.0f x; ratio %.2f)\n", seconds / hostConvert,
                 seconds / soxConvert, soxConvert / hostConvert);

    Noise noise;
    quorvalen::MasterSpectrumSource tap (&noise);
    tap.prepareToPlay (512, rate);
    juce::AudioBuffer<float> block (2, 512);
    const int blocks = 20000;
    const double withTap = bestSeconds (3, [&] {
        for (int i = 0; i < blocks; ++i)
            tap.getNextAudioBlock (juce::AudioSourceChannelInfo (&block, 0, 512));
    });
    const double bare = bestSeconds (3, [&] {
        for (int i = 0; i < blocks; ++i)
            noise.getNextAudioBlock (juce::AudioSourceChannelInfo (&block, 0, 512));
    });
    const double perBlock = (withTap - bare) / blocks;
    std::printf ("  master tap            %8.2f us per 512-frame block (%.4f %% of the 10.7 ms period)\n",
                 perBlock * 1e6, 100.0 * perBlock / (512.0 / rate));

    quorvalen_engine_shutdown();
    dir.deleteRecursively();
    return 0;
}
