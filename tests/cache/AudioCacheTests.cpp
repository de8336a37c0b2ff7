#include "EngineTestSupport.h"
#include "HeadlessEngineFixture.h"
#include "HostileAudio.h"
#include "TestAudio.h"

#include "cache/AudioCache.h"
#include "engine/QuorvalenEngine.h"

#include <csignal>
#include <gtest/gtest.h>
#include <quorvalen_dsp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace qvtest;
using quorvalen::engine;

namespace
{
class AudioCache : public HeadlessEngineTest
{
protected:
    void SetUp() override
    {
        HeadlessEngineTest::SetUp();
        dir = tempDir();
    }

    const juce::AudioBuffer<float>& entry (int id)
    {
        auto* e = quorvalen::findCacheEntry (engine(), (std::uint32_t) id);
        EXPECT_NE (e, nullptr);
        return *e->buffer;
    }

    // A ramp so that every sample is distinguishable.
    static juce::AudioBuffer<float> ramp (int n, int channels = 2)
    {
        juce::AudioBuffer<float> b (channels, n);
        for (int ch = 0; ch < channels; ++ch)
            for (int i = 0; i < n; ++i)
                b.setSample (ch, i, (float) (i + 1) / (float) n * (ch == 0 ? 0.5f : -0.5f));
        return b;
    }

    std::string dir;
};

// A WAV whose data chunk claims far more frames than the file holds.
juce::MemoryBlock lyingWav()
{
    auto bytes = wavBytes (juce::AudioBuffer<float> (2, 16), 44100.0, 16);
    auto* data = static_cast<char*> (bytes.getData());
    for (size_t i = 0; i + 8 <= bytes.getSize(); ++i)
        if (std::memcmp (data + i, "data", 4) == 0)
        {
            const uint32_t huge = 0xF0000000u;
            std::memcpy (data + i + 4, &huge, 4);
            break;
        }
    return bytes;
}
} // namespace

TEST_F (AudioCache, FileIntakeDedupesByFullPathAndRecachesStaleKeys)
{
    const auto path = writeWav (dir + "/a.wav", ramp (1000), 44100.0, 24);
    const int id = quorvalen_engine_cache_wav (path.c_str());
    ASSERT_GT (id, 0);
    EXPECT_EQ (quorvalen_engine_cache_wav ((dir + "/./a.wav").c_str()), id);
    EXPECT_EQ (entry (id).getNumSamples(), 1000);
    EXPECT_NEAR (entry (id).getSample (1, 999), -0.5f, 1e-6f);

    // Unloading a trimmed entry of the same path string keeps the untrimmed entry's key.
    const int trimmed = quorvalen_engine_cache_wav_trimmed (path.c_str(), 0.0f, 0.0f);
    ASSERT_GT (trimmed, id);
    EXPECT_EQ (quorvalen_engine_unload_cached (trimmed), 0);
    EXPECT_EQ (quorvalen_engine_cache_wav (path.c_str()), id);
    EXPECT_EQ (quorvalen_engine_unload_cached (id), 0);
    const int again = quorvalen_engine_cache_wav (path.c_str());
    EXPECT_GT (again, trimmed);

    // A path key whose entry has gone is dropped and the file decoded anew.
    engine().cache.entries.erase ((std::uint32_t) again);
    const int fresh = quorvalen_engine_cache_wav (path.c_str());
    EXPECT_GT (fresh, again);
    EXPECT_NE (quorvalen::findCacheEntry (engine(), (std::uint32_t) fresh), nullptr);
}

TEST_F (AudioCache, IntakeFailureCodesInOrder)
{
    EXPECT_EQ (quorvalen_engine_cache_wav (nullptr), -1);
    EXPECT_EQ (quorvalen_engine_cache_wav ((dir + "/missing.wav").c_str()), -3);
    juce::File (dir + "/text.wav").replaceWithText ("plain words, not a riff header");
    EXPECT_EQ (quorvalen_engine_cache_wav ((dir + "/text.wav").c_str()), -4);
    const auto empty = writeWav (dir + "/empty.wav", juce::AudioBuffer<float> (2, 0), 44100.0, 16);
    EXPECT_EQ (quorvalen_engine_cache_wav (empty.c_str()), -5);

    const auto lie = lyingWav();
    juce::File (dir + "/lie.wav").replaceWithData (lie.getData(), lie.getSize());
    // A data size beyond the file decodes the frames present (as a streamed WAV).
    for (const int id : { quorvalen_engine_cache_wav ((dir + "/lie.wav").c_str()),
                          quorvalen_engine_cache_wav_memory (lie.getData(), lie.getSize()),
                          quorvalen_engine_cache_wav_memory_trimmed (lie.getData(), lie.getSize(), 0, 0),
                          quorvalen_engine_cache_wav_trimmed ((dir + "/lie.wav").c_str(), 0, 0) })
    {
        ASSERT_GT (id, 0);
        EXPECT_EQ (entry (id).getNumSamples(), 16);
    }
    quorvalen_engine_clear_cache();

    EXPECT_EQ (quorvalen_engine_cache_wav_memory (nullptr, 10), -1);
    EXPECT_EQ (quorvalen_engine_cache_wav_memory ("abc", 0), -1);
    EXPECT_EQ (quorvalen_engine_cache_wav_memory ("not audio at all", 16), -3);
    EXPECT_EQ (quorvalen_engine_cache_wav_trimmed ("", 0, 0), -1);
    EXPECT_EQ (quorvalen_engine_cache_wav_trimmed ((dir + "/missing.wav").c_str(), 0, 0), -3);
    EXPECT_TRUE (engine().cache.entries.empty());

    quorvalen_engine_shutdown();
    const auto path = writeWav (dir + "/a.wav", ramp (10), 44100.0);
    EXPECT_EQ (quorvalen_engine_cache_wav (path.c_str()), -2);
    EXPECT_EQ (quorvalen_engine_cache_wav_memory ("x", 1), -2);
    EXPECT_EQ (quorvalen_engine_cache_wav_trimmed (nullptr, 0, 0), -2); // ready is tested first
}

TEST_F (AudioCache, MemoryIntakesAndTrimAndFade)
{
    const auto bytes = wavBytes (ramp (1000), 1000.0, 24);
    const int id = quorvalen_engine_cache_wav_memory (bytes.getData(), bytes.getSize());
    ASSERT_GT (id, 0);
    EXPECT_EQ (engine().cache.entries[(std::uint32_t) id].name, "encrypted-memory-cache");
    EXPECT_EQ (engine().cache.entries[(std::uint32_t) id].sampleRate, 1000.0);

    // 1000 Hz: one sample per millisecond. Trim 100, fade over 10 (0 .. full).
    const int t = quorvalen_engine_cache_wav_memory_trimmed (bytes.getData(), bytes.getSize(), 100.0f, 10.0f);
    const auto& b = entry (t);
    ASSERT_EQ (b.getNumSamples(), 900);
    EXPECT_EQ (b.getSample (0, 0), 0.0f);
    EXPECT_NEAR (b.getSample (0, 9), 110.0f / 1000.0f * 0.5f, 1e-6f);
    EXPECT_NEAR (b.getSample (0, 5), 106.0f / 1000.0f * 0.5f * 5.0f / 9.0f, 1e-6f);
    EXPECT_NEAR (b.getSample (0, 10), 111.0f / 1000.0f * 0.5f, 1e-6f);

    // Trim past the end keeps exactly the last sample; so do infinite and NaN-free huge trims.
    for (float trim : { 5000.0f, std::numeric_limits<float>::infinity(), 3.0e38f })
    {
        const int last = quorvalen_engine_cache_wav_memory_trimmed (bytes.getData(), bytes.getSize(), trim, 0.0f);
        ASSERT_EQ (entry (last).getNumSamples(), 1);
        EXPECT_NEAR (entry (last).getSample (0, 0), 0.5f, 1e-6f);
    }
    // NaN counts as 0; a fade equal to the kept length ramps the whole entry from 0.
    const int whole = quorvalen_engine_cache_wav_memory_trimmed (bytes.getData(), bytes.getSize(), std::nanf (""),
                                                                 std::numeric_limits<float>::infinity());
    ASSERT_EQ (entry (whole).getNumSamples(), 1000);
    EXPECT_EQ (entry (whole).getSample (0, 0), 0.0f);
    EXPECT_NEAR (entry (whole).getSample (0, 999), 0.5f, 1e-6f);
    EXPECT_NEAR (entry (whole).getSample (1, 499), -0.5f * 500.0f / 1000.0f * 499.0f / 999.0f, 1e-6f);
}

TEST_F (AudioCache, NonFiniteSamplesBecomeSilenceWithOneLineOnEveryIntake)
{
    // 50 stereo frames of a ramp with NaN, +inf and -inf among them.
    std::vector<float> frames;
    for (int i = 0; i < 50; ++i)
        frames.insert (frames.end(), { 0.01f * (float) (i + 1), -0.01f * (float) (i + 1) });
    frames[2 * 10] = std::numeric_limits<float>::quiet_NaN();
    frames[2 * 20 + 1] = std::numeric_limits<float>::infinity();
    frames[2 * 30] = -std::numeric_limits<float>::infinity();
    const auto bytes = floatWav (frames, 2, 48000);
    const auto path = dir + "/nan.wav";
    ASSERT_TRUE (writeBytes (path, bytes));
    const std::string line = "[QUORVALEN API] audio intake: 3 non-finite samples set to 0\n";

    const auto expectSilenced = [&] (int id) {
        ASSERT_GT (id, 0);
        const auto& b = entry (id);
        ASSERT_EQ (b.getNumSamples(), 50);
        for (int i = 0; i < 50; ++i)
            for (int ch = 0; ch < 2; ++ch)
            {
                const float x = frames[(size_t) (2 * i + ch)];
                EXPECT_EQ (b.getSample (ch, i), std::isfinite (x) ? x : 0.0f) << "frame " << i;
            }
    };
    const std::vector<std::function<int()>> intakes {
        [&] { return quorvalen_engine_cache_wav_memory (bytes.data(), bytes.size()); },
        [&] { return quorvalen_engine_cache_wav (path.c_str()); },
        [&] { return quorvalen_engine_cache_wav_memory_trimmed (bytes.data(), bytes.size(), 0.0f, 0.0f); },
        [&] { return quorvalen_engine_cache_wav_trimmed (path.c_str(), 0.0f, 0.0f); },
    };
    for (const auto& intake : intakes)
    {
        StderrCapture err;
        const int id = intake();
        EXPECT_EQ (err.finish(), line);
        expectSilenced (id);
    }
    StderrCapture err;
    EXPECT_EQ (quorvalen_engine_play_wav (path.c_str()), 0);
    EXPECT_EQ (err.finish(), line);

    // Finite audio says nothing.
    const auto clean = wavBytes (ramp (10), 48000.0, 32);
    StderrCapture quiet;
    EXPECT_GT (quorvalen_engine_cache_wav_memory (clean.getData(), clean.getSize()), 0);
    EXPECT_EQ (quiet.finish(), "");
}

TEST_F (AudioCache, CloneUnloadClear)
{
    const auto bytes = wavBytes (ramp (100), 8000.0, 24);
    const int id = quorvalen_engine_cache_wav_memory (bytes.getData(), bytes.getSize());
    const int clone = quorvalen_engine_clone_cached (id);
    ASSERT_GT (clone, id);
    EXPECT_EQ (engine().cache.entries[(std::uint32_t) clone].name, "__native_cache_clone__");
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ (entry (clone).getSample (1, i), entry (id).getSample (1, i));
    EXPECT_NE (entry (clone).getReadPointer (0), entry (id).getReadPointer (0));

    EXPECT_EQ (quorvalen_engine_clone_cached (999), -1);
    engine().cache.entries[(std::uint32_t) clone].buffer.reset();
    EXPECT_EQ (quorvalen_engine_clone_cached (clone), -2);
    engine().cache.entries[(std::uint32_t) id].sampleRate = 0.0;
    EXPECT_EQ (quorvalen_engine_clone_cached (id), -3);

    EXPECT_EQ (quorvalen_engine_unload_cached (clone), 0);
    EXPECT_EQ (quorvalen_engine_unload_cached (clone), 1);
    EXPECT_EQ (quorvalen_engine_clear_cache(), 0);
    EXPECT_TRUE (engine().cache.entries.empty());
    const auto next = engine().cache.nextId;
    quorvalen_engine_shutdown();
    EXPECT_EQ (quorvalen_engine_clear_cache(), 0); // no ready test
    ASSERT_EQ (quorvalen_engine_init(), 0);
    EXPECT_EQ (quorvalen_engine_cache_wav_memory (bytes.getData(), bytes.getSize()), (int) next);
}

TEST_F (AudioCache, ExportRoundTripsWithin24BitPrecision)
{
    auto audio = sine (997.0, 48000.0, 4800, 0.8f);
    audio.applyGain (1, 0, 4800, -0.5f);
    const auto bytes = wavBytes (audio, 48000.0, 32);
    const int id = quorvalen_engine_cache_wav_memory (bytes.getData(), bytes.getSize());
    const auto out = dir + "/out.wav";
    juce::File (out).replaceWithText ("old contents");
    ASSERT_EQ (quorvalen_engine_export_cached_wav (id, out.c_str()), 0);
    double rate = 0.0;
    const auto back = readAudio (out, &rate);
    EXPECT_EQ (rate, 48000.0);
    ASSERT_EQ (back.getNumSamples(), 4800);
    ASSERT_EQ (back.getNumChannels(), 2);
    for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < 4800; ++i)
            ASSERT_NEAR (back.getSample (ch, i), audio.getSample (ch, i), 1.0f / 8388608.0f * 1.01f);
    // No temporary file is left beside the target.
    EXPECT_EQ (juce::File (dir).getNumberOfChildFiles (juce::File::findFiles), 1);

    EXPECT_EQ (quorvalen_engine_export_cached_wav (id, nullptr), -1);
    EXPECT_EQ (quorvalen_engine_export_cached_wav (12345, out.c_str()), -2);
    EXPECT_EQ (quorvalen_engine_export_cached_wav (id, (dir + "/no/such/folder/x.wav").c_str()), -5);
    EXPECT_EQ (quorvalen_engine_export_cached_wav (id, dir.c_str()), -5);
    EXPECT_TRUE (juce::File (dir).isDirectory());
}

TEST_F (AudioCache, FailedExportKeepsTheOldFile)
{
    const int id = quorvalen::insertCacheEntry (
        engine(), { std::make_unique<juce::AudioBuffer<float>> (sine (440.0, 48000.0, 480000)), 48000.0, "big" });
    const auto out = dir + "/keep.wav";
    juce::File (out).replaceWithText ("precious");

    // A file size limit far below the export's size makes the writes fail.
    const pid_t child = fork();
    ASSERT_GE (child, 0);
    if (child == 0)
    {
        std::signal (SIGXFSZ, SIG_IGN);
        rlimit limit { 65536, 65536 };
        setrlimit (RLIMIT_FSIZE, &limit);
        _exit (quorvalen_engine_export_cached_wav (id, out.c_str()) == -7 ? 0 : 1);
    }
    int status = 0;
    waitpid (child, &status, 0);
    ASSERT_TRUE (WIFEXITED (status));
    EXPECT_EQ (WEXITSTATUS (status), 0);
    EXPECT_EQ (juce::File (out).loadFileAsString(), "precious");
}
