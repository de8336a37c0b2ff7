// The preview renderer and its cache through the exports: the log lines of each
// road, preview lengths, cache hits with byte-identical files and every miss,
// unknown sources and unusable arguments.
#include "FoundryPreviewCall.h"
#include "HeadlessEngineFixture.h"

#include "engine/QuorvalenEngine.h"

#include <cmath>
#include <fstream>
#include <iterator>

using namespace qvtest;
using quorvalen::engine;

namespace
{

std::string fileBytes (const std::string& path)
{
    std::ifstream in (path, std::ios::binary);
    return { std::istreambuf_iterator<char> (in), {} };
}

bool has (const std::string& log, const std::string& line)
{
    return log.find ("[FOUNDRY DIAG] " + line + "\n") != std::string::npos;
}

bool hasNegativeIds()
{
    std::lock_guard lock (engine().engineMutex);
    for (const auto& [id, entry] : engine().cache.entries)
        if ((std::int32_t) id < 0 && (std::int32_t) id != -1000021)
            return true;
    return false;
}

class FoundryPreview : public HeadlessEngineTest
{
protected:
    void SetUp() override
    {
        HeadlessEngineTest::SetUp();
        clearFoundryLanes();
        dir = tempDir();
    }
    std::string path (const char* name) const { return dir + "/" + name; }

    // Samples of an exported preview (-1 when it failed or wrote nothing).
    int exportedLength (const FoundryPreviewCall& call, double* rate = nullptr)
    {
        const auto file = path ("len.wav");
        std::remove (file.c_str());
        if (call.exportTo (file.c_str()) != 0)
            return -1;
        return readAudio (file, rate).getNumSamples();
    }

    std::string dir;
};

TEST_F (FoundryPreview, LogLinesOfEachRoad)
{
    FoundryPreviewCall call;
    call.transientId = cache (sine (300.0, 48000.0, 9600));
    {
        StderrCapture log;
        ASSERT_EQ (call.play(), 0);
        const auto text = log.finish();
        for (const char* line :
             { "01 playCachedFoundryPreview ENTER", "02 audition filters disabled", "03 audition character neutralised",
               "04 transient processed", "05 transient filters complete", "06 transient fade complete",
               "07 render sample rate acquired", "09 body stage complete", "11 tail stage complete" })
            EXPECT_TRUE (has (text, line)) << line;
        EXPECT_EQ (text.find ("[FOUNDRY DIAG] 08"), std::string::npos);
        for (int n = 12; n <= 19; ++n)
            EXPECT_EQ (text.find ("[FOUNDRY DIAG] " + std::to_string (n)), std::string::npos) << n;
    }
    auto heard = recordFrames (4096);
    EXPECT_GT (peakAbs (heard.left.data(), (int) heard.left.size()), 0.05f);

    call.bodyId = cache (sine (200.0, 48000.0, 9600));
    call.bodyJoinMs = 50;
    call.tbXfadeMs = 10;
    {
        StderrCapture log;
        ASSERT_EQ (call.play(), 0);
        const auto text = log.finish();
        EXPECT_TRUE (has (text, "08 processing body"));
        EXPECT_EQ (text.find ("[FOUNDRY DIAG] 12"), std::string::npos);
    }

    call.tailId = cache (sine (100.0, 48000.0, 9600));
    call.tailJoinMs = 120;
    call.ctXfadeMs = 60;
    StderrCapture log;
    ASSERT_EQ (call.play(), 0);
    const auto text = log.finish();
    size_t at = 0;
    for (const char* line :
         { "12 starting T->B morph", "13 T->B composite cached", "14 starting composite->Tail morph",
           "15 composite->Tail morph complete; overtone next", "16 overtone complete; finalise next",
           "17 finalise returned", "18 cleanup temporary caches", "19 playCachedFoundryPreview EXIT" })
    {
        const auto p = text.find (std::string ("[FOUNDRY DIAG] ") + line + "\n", at);
        ASSERT_NE (p, std::string::npos) << line;
        at = p;
    }
    EXPECT_FALSE (hasNegativeIds());
}

TEST_F (FoundryPreview, LengthsOfTheFinish)
{
    FoundryPreviewCall call;
    call.transientId = cache (sine (300.0, 48000.0, 12000));
    EXPECT_EQ (exportedLength (call), 12000);
    call.lengthMs = 500;
    EXPECT_EQ (exportedLength (call), 24000);
    call.character = 30;
    EXPECT_EQ (exportedLength (call), 24000);
    call.character = 100;
    EXPECT_EQ (exportedLength (call), 7200);
    call.character = 0;
    call.lengthMs = 0;
    call.finalPitch = 12;
    EXPECT_EQ (exportedLength (call), 6000);

    // Body and tail: the transient to the body join, the composite to the tail join, the tail after.
    call.finalPitch = 0;
    call.bodyId = cache (sine (200.0, 48000.0, 9600));
    call.tailId = cache (sine (100.0, 48000.0, 4800));
    call.bodyJoinMs = 100;
    call.tailJoinMs = 150;
    EXPECT_EQ (exportedLength (call), 7200 + 4800);

    // A rate of its own is kept in the file.
    FoundryPreviewCall other;
    other.transientId = cache (sine (300.0, 44100.0, 4410), 44100.0);
    double rate = 0;
    EXPECT_EQ (exportedLength (other, &rate), 4410);
    EXPECT_EQ (rate, 44100.0);
}

TEST_F (FoundryPreview, IdenticalExportIsACacheHitWithAnIdenticalFile)
{
    FoundryPreviewCall call;
    call.transientId = cache (sine (300.0, 48000.0, 9600));
    call.bodyId = cache (sine (200.0, 48000.0, 9600));
    call.tailId = cache (sine (150.0, 48000.0, 9600));
    call.bodyJoinMs = 60;
    call.tailJoinMs = 140;
    call.tbXfadeMs = 20;
    call.ctXfadeMs = 50;
    call.bHeat = 40;
    call.character = 50;
    ASSERT_EQ (call.exportTo (path ("a.wav").c_str()), 0);
    StderrCapture log;
    ASSERT_EQ (call.exportTo (path ("b.wav").c_str()), 0);
    const auto text = log.finish();
    EXPECT_TRUE (has (text, "CACHE HIT completed clean preview reused"));
    EXPECT_EQ (text.find ("[FOUNDRY DIAG] 04"), std::string::npos);
    EXPECT_EQ (fileBytes (path ("a.wav")), fileBytes (path ("b.wav")));
    EXPECT_GT (fileBytes (path ("a.wav")).size(), 1000u);
}

TEST_F (FoundryPreview, MissesAfterEveryChangeTheCacheNames)
{
    FoundryPreviewCall call;
    call.transientId = cache (sine (300.0, 48000.0, 9600));
    const auto out = path ("x.wav");
    const auto hit = [&] {
        StderrCapture log;
        EXPECT_EQ (call.exportTo (out.c_str()), 0);
        return has (log.finish(), "CACHE HIT completed clean preview reused");
    };
    ASSERT_FALSE (hit());
    ASSERT_TRUE (hit());

    const float t[] = { 0.0f, 1.0f }, v[] = { 0.2f, 0.8f };
    ASSERT_EQ (quorvalen_engine_set_foundry_automation (0, 1, t, v, 2), 0);
    EXPECT_FALSE (hit());
    EXPECT_TRUE (hit());

    // A source that is the working copy of an edit session is never cached.
    uint32_t work = 0;
    ASSERT_GT (quorvalen_engine_begin_processing_edit_session (call.transientId, &work), 0);
    call.transientId = (int) work;
    EXPECT_FALSE (hit());
    EXPECT_FALSE (hit());

    // Nor is the live copy of a spectral session.
    uint32_t live = 0;
    float seconds = 0.0f;
    ASSERT_GT (quorvalen_engine_begin_cqt_spectral_session (cache (sine (300.0, 48000.0, 9600)), &live, &seconds), 0);
    call.transientId = (int) live;
    EXPECT_FALSE (hit());
    EXPECT_FALSE (hit());

    // A NaN argument never matches.
    call.transientId = cache (sine (300.0, 48000.0, 9600));
    call.tShaping = NAN;
    EXPECT_FALSE (hit());
    EXPECT_FALSE (hit());
}

TEST_F (FoundryPreview, OversizedSourcesAreNeverCached)
{
    // 2 x 8.4 M samples: above the 64 MiB budget. The cut starts near the end so
    // the render itself stays short.
    juce::AudioBuffer<float> big (2, 8400000);
    big.clear();
    big.setSample (0, 8399000, 0.5f);
    FoundryPreviewCall call;
    call.transientId = cache (big);
    call.tStartMs = 174970.0f;
    const auto out = path ("big.wav");
    ASSERT_EQ (call.exportTo (out.c_str()), 0);
    StderrCapture log;
    ASSERT_EQ (call.exportTo (out.c_str()), 0);
    EXPECT_FALSE (has (log.finish(), "CACHE HIT completed clean preview reused"));
}

TEST_F (FoundryPreview, UnknownTransientFailsWithoutFileOrTemporaries)
{
    FoundryPreviewCall call;
    call.transientId = 777;
    call.bodyId = cache (sine (200.0, 48000.0, 4800));
    const auto out = path ("none.wav");
    StderrCapture log;
    EXPECT_EQ (call.exportTo (out.c_str()), 2);
    const auto text = log.finish();
    EXPECT_TRUE (has (text, "FAIL transient process"));
    EXPECT_TRUE (text.find ("[FOUNDRY DIAG] E02 renderer returned 2\n") != std::string::npos);
    EXPECT_FALSE (juce::File (out).exists());
    EXPECT_FALSE (hasNegativeIds());
    call.transientId = 0;
    EXPECT_EQ (call.play(), 2);
    uint32_t playing = 1;
    double p = 0, l = 0;
    quorvalen_engine_get_playback_telemetry (&p, &l, &playing);
    EXPECT_EQ (playing, 0u);
}

TEST_F (FoundryPreview, UnusableArgumentsAreNeutralOrRefused)
{
    FoundryPreviewCall call;
    call.transientId = cache (sine (300.0, 48000.0, 4800));
    call.finalPitch = NAN;
    call.tPitch = INFINITY;
    call.character = NAN;
    call.bodyJoinMs = NAN;
    EXPECT_EQ (exportedLength (call), 4800);
    call.lengthMs = 1e30f;
    EXPECT_EQ (call.exportTo (path ("huge.wav").c_str()), 7);
    call.lengthMs = INFINITY;
    EXPECT_EQ (call.play(), 7);
    EXPECT_FALSE (hasNegativeIds());
}

} // namespace
