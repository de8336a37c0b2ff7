// The preview renderer and its cache through the exports: the log lines of each
// road, preview lengths, cache hits with byte-identical files and every miss,
// unknown sources, unusable arguments, infinities and times past the limit.
#include "FoundryPreviewCall.h"
#include "HeadlessEngineFixture.h"
#include "MemoryCap.h"

#include "engine/QuorvalenEngine.h"

#include <chrono>
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
    call.tPitch = INFINITY; // the clamp's end, +24 semitones
    call.character = NAN;
    call.bodyJoinMs = NAN;
    EXPECT_EQ (exportedLength (call), 1200);
    call.lengthMs = 1e30f;
    EXPECT_EQ (call.exportTo (path ("huge.wav").c_str()), 7);
    call.lengthMs = INFINITY; // sets no length, as NaN
    EXPECT_EQ (call.play(), 0);
    EXPECT_EQ (exportedLength (call), 1200);
    EXPECT_FALSE (hasNegativeIds());
}

TEST_F (FoundryPreview, InfinitiesTakeTheNearerEndOfEachClamp)
{
    // Every layer, filter and stage on, so that each argument is used; an infinite
    // or NaN argument must render exactly as the value it stands for.
    const auto shortSine = [&] (double hz) { return cache (sine (hz, 48000.0, 2400, 0.4f)); };
    FoundryPreviewCall base;
    base.transientId = shortSine (300.0);
    base.bodyId = shortSine (200.0);
    base.tailId = shortSine (150.0);
    base.overtoneId = shortSine (900.0);
    base.bodyJoinMs = 30;
    base.tailJoinMs = 60;
    base.tShaping = 30;
    base.bHeat = 30;
    base.tailHeat = 30;
    base.tailWidth = 50;
    base.tHpOn = base.bHpOn = base.tailHpOn = base.overtoneHpOn = 1;
    base.tLpOn = base.bLpOn = base.tailLpOn = base.overtoneLpOn = 1;
    base.tHpHz = base.bHpHz = base.tailHpHz = base.overtoneHpHz = 100;
    base.tLpHz = base.bLpHz = base.tailLpHz = base.overtoneLpHz = 6000;
    base.tHpRes = base.tLpRes = base.bHpRes = base.bLpRes = base.tailHpRes = base.tailLpRes = 30;
    base.overlayEndMs = 40;
    base.overtoneDrive = 30;
    base.overtoneFadeIn = base.overtoneFadeOut = 20;
    base.character = 20;

    using C = FoundryPreviewCall;
    struct Row
    {
        const char* name;
        float C::*field;
        float low, high, nan; // what -inf, +inf and NaN stand for
    };
    const float far = 1.0e9f; // past every source's end, above every cutoff
    const Row rows[] = {
        { "tPitch", &C::tPitch, -24, 24, 0 },
        { "tLevel", &C::tLevel, 0, 100, 100 },
        { "tStartMs", &C::tStartMs, 0, far, 0 },
        { "tShaping", &C::tShaping, 0, 100, 0 },
        { "tHpHz", &C::tHpHz, 20, far, 20 },
        { "tHpRes", &C::tHpRes, 0, 100, 0 },
        { "tLpHz", &C::tLpHz, 20, far, far },
        { "tLpRes", &C::tLpRes, 0, 100, 0 },
        { "bPitch", &C::bPitch, -24, 24, 0 },
        { "bLevel", &C::bLevel, 0, 100, 100 },
        { "bStartMs", &C::bStartMs, 0, far, 0 },
        { "bHeat", &C::bHeat, 0, 100, 0 },
        { "bHpHz", &C::bHpHz, 20, far, 20 },
        { "bHpRes", &C::bHpRes, 0, 100, 0 },
        { "bLpHz", &C::bLpHz, 20, far, far },
        { "bLpRes", &C::bLpRes, 0, 100, 0 },
        { "tailPitch", &C::tailPitch, -24, 24, 0 },
        { "tailLevel", &C::tailLevel, 0, 100, 100 },
        { "tailStartMs", &C::tailStartMs, 0, far, 0 },
        { "tailHeat", &C::tailHeat, 0, 100, 0 },
        { "tailWidth", &C::tailWidth, -100, 100, 0 },
        { "tailHpHz", &C::tailHpHz, 20, far, 20 },
        { "tailHpRes", &C::tailHpRes, 0, 100, 0 },
        { "tailLpHz", &C::tailLpHz, 20, far, far },
        { "tailLpRes", &C::tailLpRes, 0, 100, 0 },
        // Join points and crossfades have no upper bound: every non-number is 0.
        { "bodyJoinMs", &C::bodyJoinMs, 0, 0, 0 },
        { "tailJoinMs", &C::tailJoinMs, 0, 0, 0 },
        { "tbXfadeMs", &C::tbXfadeMs, 0, 0, 0 },
        { "ctXfadeMs", &C::ctXfadeMs, 0, 0, 0 },
        { "overlayStartMs", &C::overlayStartMs, 0, 0, 0 },
        { "overlayEndMs", &C::overlayEndMs, 0, 0, 0 }, // the start: nothing mixed
        { "overtoneStartMs", &C::overtoneStartMs, 0, far, 0 },
        { "overtonePitch", &C::overtonePitch, -24, 24, 0 },
        { "overtoneLevel", &C::overtoneLevel, 0, 100, 100 },
        { "overtoneDrive", &C::overtoneDrive, 0, 100, 0 },
        { "overtoneFadeIn", &C::overtoneFadeIn, 0, 100, 0 },
        { "overtoneFadeOut", &C::overtoneFadeOut, 0, 100, 0 },
        { "overtoneHpHz", &C::overtoneHpHz, 20, far, 20 },
        { "overtoneLpHz", &C::overtoneLpHz, 20, far, far },
        { "lengthMs", &C::lengthMs, 0, 0, 0 }, // no length set: the sound's own
        { "finalPitch", &C::finalPitch, -24, 24, 0 },
        { "character", &C::character, 0, 100, 0 },
    };
    const auto a = path ("a.wav"), b = path ("b.wav");
    for (const auto& row : rows)
        for (const auto& [value, standsFor] :
             { std::pair { -INFINITY, row.low }, std::pair { INFINITY, row.high }, std::pair { NAN, row.nan } })
        {
            SCOPED_TRACE (std::string (row.name) + " = " + std::to_string (value));
            auto odd = base, plain = base;
            odd.*row.field = value;
            plain.*row.field = standsFor;
            ASSERT_EQ (odd.exportTo (a.c_str()), 0);
            ASSERT_EQ (plain.exportTo (b.c_str()), 0);
            EXPECT_EQ (fileBytes (a), fileBytes (b));
        }
}

TEST_F (FoundryPreview, TimesPastTenMinutesAreRefusedBeforeAnythingIsMade)
{
    // At 1 kHz ten minutes are 600000 samples: the limit itself still renders.
    const auto shortSine = [&] (double hz) { return cache (sine (hz, 1000.0, 200, 0.5f, 1), 1000.0); };
    FoundryPreviewCall call;
    call.transientId = shortSine (50.0);
    call.lengthMs = 600000.0f;
    EXPECT_EQ (exportedLength (call), 600000);

    call.lengthMs = 0.0f;
    call.bodyId = shortSine (40.0);
    call.tailId = shortSine (30.0);
    call.overtoneId = shortSine (100.0);
    call.bodyJoinMs = 100;
    call.tailJoinMs = 150;
    call.overlayEndMs = 100;
    ASSERT_EQ (call.play (true), 0);

    // Each time argument just past the limit, far past it and at the float's top.
    using C = FoundryPreviewCall;
    const long peak = peakResidentBytes();
    const auto start = std::chrono::steady_clock::now();
    for (const auto time : { &C::bodyJoinMs, &C::tbXfadeMs, &C::tailJoinMs, &C::ctXfadeMs, &C::overlayStartMs,
                             &C::overlayEndMs, &C::lengthMs })
        for (const float ms : { 600001.0f, 1.0e7f, 3.0e38f })
        {
            SCOPED_TRACE (ms);
            auto longer = call;
            longer.*time = ms;
            StderrCapture log;
            EXPECT_EQ (longer.play(), 7);
            EXPECT_EQ (longer.refresh(), 7);
            EXPECT_FALSE (has (log.finish(), "02 audition filters disabled")); // refused before the render
        }
    EXPECT_LT (std::chrono::steady_clock::now() - start, std::chrono::seconds (2));
    EXPECT_LT (peakResidentBytes() - peak, 32L << 20);

    // An export is refused as well, without a file; the looping preview was never stopped.
    auto longer = call;
    longer.overlayEndMs = 1.0e7f;
    EXPECT_EQ (longer.exportTo (path ("long.wav").c_str()), 7);
    EXPECT_FALSE (juce::File (path ("long.wav")).exists());
    uint32_t playing = 0;
    double p = 0, l = 0;
    quorvalen_engine_get_playback_telemetry (&p, &l, &playing);
    EXPECT_EQ (playing, 1u);
    EXPECT_FALSE (hasNegativeIds());
}

} // namespace
