// Untrusted strings and audio files through the public exports: every hostile case
// answers with its code, and what is kept is the audio really present.
#include "EngineTestSupport.h"
#include "HeadlessEngineFixture.h"
#include "HostileAudio.h"
#include "TestAudio.h"

#include "cache/AudioCache.h"
#include "engine/QuorvalenEngine.h"

#include <gtest/gtest.h>
#include <quorvalen_dsp.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <future>
#include <map>
#include <set>
#include <thread>

using namespace qvtest;
using quorvalen::engine;

namespace
{
class HostileInput : public HeadlessEngineTest
{
protected:
    void SetUp() override
    {
        HeadlessEngineTest::SetUp();
        dir = tempDir();
    }

    int frames (int id)
    {
        auto* e = quorvalen::findCacheEntry (engine(), (std::uint32_t) id);
        return e != nullptr && e->buffer != nullptr ? e->buffer->getNumSamples() : -1;
    }

    std::string dir;
};

// The memory intake's codes (-3 not audio, -4 shape, -6 rate) in another operation's terms.
int codeFor (int memoryCode, int notAudio, int shape, int rate)
{
    return memoryCode == -3 ? notAudio : memoryCode == -4 ? shape : rate;
}

const char invalidUtf8[] = "\xE0\xDF\xDF\xDF\xDF\xDF\xDD\x90";
} // namespace

TEST_F (HostileInput, EveryIntakeAndPlayerAnswersEachHostileFile)
{
    for (const auto& c : hostileFiles())
    {
        SCOPED_TRACE (c.name);
        const auto path = dir + "/" + c.name;
        ASSERT_TRUE (writeBytes (path, c.bytes));
        const int memory = quorvalen_engine_cache_wav_memory (c.bytes.data(), c.bytes.size());
        const int trimmedMemory = quorvalen_engine_cache_wav_memory_trimmed (c.bytes.data(), c.bytes.size(), 0, 0);
        const int file = quorvalen_engine_cache_wav (path.c_str());
        const int trimmedFile = quorvalen_engine_cache_wav_trimmed (path.c_str(), 0, 0);
        const int played = quorvalen_engine_play_wav (path.c_str());
        if (c.expected > 0)
        {
            for (const int id : { memory, trimmedMemory, file, trimmedFile })
            {
                ASSERT_GT (id, 0);
                EXPECT_EQ (frames (id), c.expected);
            }
            EXPECT_EQ (played, 0);
            continue;
        }
        EXPECT_EQ (memory, c.expected);
        EXPECT_EQ (trimmedMemory, codeFor (c.expected, -3, -4, -4));
        EXPECT_EQ (file, codeFor (c.expected, -4, -5, -7));
        EXPECT_EQ (trimmedFile, codeFor (c.expected, -3, -4, -4));
        EXPECT_EQ (played, codeFor (c.expected, 4, 5, 7));
        EXPECT_EQ (quorvalen_play_wav (path.c_str()), codeFor (c.expected, 3, 4, 4));
    }
    quorvalen_engine_stop();
}

TEST_F (HostileInput, EverySupportedShapeDecodesWhole)
{
    const std::map<std::string, int> expectedFrames { { "extensible.wav", 32 },
                                                      { "mono.flac", 3000 },
                                                      { "stereo.ogg", 3000 } };
    for (const auto& f : wellFormedFiles())
    {
        SCOPED_TRACE (f.name);
        const int id = quorvalen_engine_cache_wav_memory (f.bytes.data(), f.bytes.size());
        ASSERT_GT (id, 0);
        const auto it = expectedFrames.find (f.name);
        EXPECT_EQ (frames (id), it != expectedFrames.end() ? it->second : 64);
        if (f.name.find ("pcm") == 0 || f.name.find ("float") == 0 || f.name.find ("fl32") == 0)
        {
            const auto& b = *quorvalen::findCacheEntry (engine(), (std::uint32_t) id)->buffer;
            EXPECT_NEAR (b.getSample (0, 63), 0.5f, 0.01f);
            EXPECT_NEAR (b.getSample (1, 31), -0.25f, 0.01f);
        }
    }
}

TEST_F (HostileInput, StreamedWavExportsTheFramesItHeld)
{
    const auto bytes = riffWave ({ fmtChunk (2, 48000, 16), { "data", pcmFrames (500, 2, 16), 0xffffffff } });
    const int id = quorvalen_engine_cache_wav_memory (bytes.data(), bytes.size());
    ASSERT_GT (id, 0);
    ASSERT_EQ (quorvalen_engine_export_cached_wav (id, (dir + "/out.wav").c_str()), 0);
    double rate = 0.0;
    const auto audio = readAudio (dir + "/out.wav", &rate);
    EXPECT_EQ (rate, 48000.0);
    ASSERT_EQ (audio.getNumSamples(), 500);
    EXPECT_NEAR (audio.getSample (0, 499), 0.5f, 1e-3f);
    EXPECT_NEAR (audio.getSample (1, 249), -0.25f, 1e-3f);
}

TEST_F (HostileInput, InvalidUtf8IsRefusedLikeANullPointer)
{
    const auto wav = riffWave ({ fmtChunk (1, 44100, 16), { "data", pcmFrames (100, 1, 16) } });
    const int id = quorvalen_engine_cache_wav_memory (wav.data(), wav.size());
    ASSERT_GT (id, 0);
    const auto json = std::string ("{\"heatMode\": \"") + invalidUtf8 + "\"}";
    const auto path = dir + "/" + invalidUtf8 + ".wav";

    // Many updates: in a release build such text once corrupted the heap within 200.
    for (int i = 0; i < 300; ++i)
        ASSERT_EQ (quorvalen_engine_update_processing_rack (json.c_str()), 1);
    EXPECT_EQ (quorvalen_engine_update_processing_rack (invalidUtf8), 1);
    EXPECT_EQ (quorvalen_engine_play_cached_with_processing (id, json.c_str(), 100.0f, 0), 4);
    EXPECT_EQ (quorvalen_engine_render_cached_with_processing (id, json.c_str(), (dir + "/r.wav").c_str()), -1);
    EXPECT_EQ (quorvalen_engine_render_cached_with_processing (id, "{}", path.c_str()), -1);
    EXPECT_EQ (quorvalen_engine_cache_wav (path.c_str()), -1);
    EXPECT_EQ (quorvalen_engine_cache_wav_trimmed (path.c_str(), 0, 0), -1);
    EXPECT_EQ (quorvalen_engine_export_cached_wav (id, path.c_str()), -1);
    EXPECT_EQ (quorvalen_engine_play_wav (path.c_str()), 1);
    EXPECT_EQ (quorvalen_play_wav (path.c_str()), 1);

    // Well-formed multi-byte text still passes: a path with accents round-trips.
    const auto accented = dir + "/caf\xC3\xA9-\xE2\x82\xAC-\xF0\x9F\x8E\xB5.wav";
    ASSERT_EQ (quorvalen_engine_export_cached_wav (id, accented.c_str()), 0);
    EXPECT_GT (quorvalen_engine_cache_wav (accented.c_str()), 0);
    EXPECT_EQ (quorvalen_engine_update_processing_rack ("{\"heatMode\": \"caf\xC3\xA9\"}"), 0);
}

TEST_F (HostileInput, ConcurrentIntakesOfOnePathShareOneId)
{
    const auto path = writeWav (dir + "/a.wav", sine (440.0, 44100.0, 20000), 44100.0);
    for (int round = 0; round < 5; ++round)
    {
        std::vector<std::future<int>> intakes;
        for (int t = 0; t < 4; ++t)
            intakes.push_back (
                std::async (std::launch::async, [&] { return quorvalen_engine_cache_wav (path.c_str()); }));
        std::set<int> ids;
        for (auto& f : intakes)
            ids.insert (f.get());
        ASSERT_EQ (ids.size(), 1u);
        EXPECT_GT (*ids.begin(), 0);
        EXPECT_EQ (engine().cache.pathIds.size(), 1u);
        EXPECT_EQ (quorvalen_engine_unload_cached (*ids.begin()), 0);
    }
    EXPECT_TRUE (engine().cache.entries.empty());
}

TEST_F (HostileInput, AnIntakeStuckOnAPipeLeavesTheOtherExportsFree)
{
    const auto fifo = dir + "/pipe.wav";
    ASSERT_EQ (mkfifo (fifo.c_str(), 0600), 0);
    auto intake = std::async (std::launch::async, [&] { return quorvalen_engine_cache_wav (fifo.c_str()); });
    // Opening the writing end waits until the intake has opened the pipe to read.
    const int writer = open (fifo.c_str(), O_WRONLY);
    ASSERT_GE (writer, 0);
    double position = 0.0, length = 0.0;
    std::uint32_t playing = 0;
    EXPECT_EQ (quorvalen_engine_get_playback_telemetry (&position, &length, &playing), 0);
    const auto wav = riffWave ({ fmtChunk (1, 44100, 16), { "data", pcmFrames (10, 1, 16) } });
    EXPECT_GT (quorvalen_engine_cache_wav_memory (wav.data(), wav.size()), 0);
    close (writer);
    EXPECT_EQ (intake.get(), -4);
}

TEST_F (HostileInput, AShutdownDuringADecodeInsertsNothing)
{
    // The re-test at insertion: an intake that finds the engine gone answers -2.
    const auto path = writeWav (dir + "/a.wav", sine (440.0, 44100.0, 100), 44100.0);
    quorvalen_engine_shutdown();
    EXPECT_EQ (quorvalen_engine_cache_wav (path.c_str()), -2);
    EXPECT_TRUE (engine().cache.entries.empty());
}
