// Refresh and export of the Foundry preview through the exports: refusal without
// an attached preview, refresh while stopped and while looping (the output stays
// continuous across the swap and keeps its pitch), failures that leave playback
// alone, and the export's codes and file.
#include "FoundryPreviewCall.h"
#include "HeadlessEngineFixture.h"

#include <cmath>
#include <thread>

using namespace qvtest;
using namespace std::chrono_literals;

namespace
{

struct Telemetry
{
    double position = 0, length = 0;
    uint32_t playing = 0;
};

Telemetry telemetry()
{
    Telemetry t;
    quorvalen_engine_get_playback_telemetry (&t.position, &t.length, &t.playing);
    return t;
}

// Longest run of silent samples after the first sound.
int longestSilence (const std::vector<float>& x)
{
    size_t i = 0;
    while (i < x.size() && std::abs (x[i]) < 1e-3f)
        ++i;
    int run = 0, longest = 0;
    for (; i < x.size(); ++i)
    {
        run = std::abs (x[i]) < 1e-4f ? run + 1 : 0;
        longest = std::max (longest, run);
    }
    return longest;
}

float largestStep (const std::vector<float>& x)
{
    float step = 0;
    for (size_t i = 1; i < x.size(); ++i)
        step = std::max (step, std::abs (x[i] - x[i - 1]));
    return step;
}

class FoundryRefresh : public HeadlessEngineTest
{
protected:
    void SetUp() override
    {
        HeadlessEngineTest::SetUp();
        clearFoundryLanes();
        // 200 whole periods in 0.5 s: the loop joins without a step.
        call.transientId = cache (sine (400.0, 48000.0, 24000));
    }
    FoundryPreviewCall call;
};

TEST_F (FoundryRefresh, RefusedWithoutAnAttachedPreview)
{
    EXPECT_EQ (call.refresh(), 1);
    ASSERT_EQ (call.play(), 0);
    ASSERT_EQ (quorvalen_engine_stop(), 0);
    EXPECT_EQ (call.refresh(), 1);
    quorvalen_engine_shutdown();
    EXPECT_EQ (call.refresh(), 1);
}

TEST_F (FoundryRefresh, WhileLoopingTheSwapIsContinuousAndKeepsPitchAndLoop)
{
    ASSERT_EQ (call.play (true), 0);
    ASSERT_EQ (quorvalen_engine_set_foundry_main_preview_pitch (12.0f), 0);
    std::this_thread::sleep_for (200ms);
    quorvalen::platform::startCapture (48000 * 4);
    ASSERT_TRUE (waitFor ([] { return quorvalen::platform::capturedFrames() >= 9600; }, 10s));
    call.tLevel = 50;
    ASSERT_EQ (call.refresh(), 0);
    const auto swappedAt = quorvalen::platform::capturedFrames();
    ASSERT_TRUE (waitFor ([&] { return quorvalen::platform::capturedFrames() >= swappedAt + 24000; }, 10s));
    const auto heard = quorvalen::platform::stopCapture();

    EXPECT_LT (longestSilence (heard.left), 32);
    EXPECT_LT (largestStep (heard.left), 0.2f);
    const int n = (int) heard.left.size();
    const float before = rms (heard.left.data(), 4800);
    const float after = rms (heard.left.data() + n - 8192, 8192);
    EXPECT_LT (after, 0.7f * before);
    EXPECT_GT (after, 0.3f * before);
    // The live pitch stays at +12 semitones.
    EXPECT_NEAR (dominantFrequency (heard.left.data() + n - 8192, 8192, 48000.0), 800.0, 15.0);
    const auto t = telemetry();
    EXPECT_EQ (t.playing, 1u);
    EXPECT_LE (t.position, 0.5);
}

TEST_F (FoundryRefresh, WhileStoppedStaysStoppedAtAClippedPosition)
{
    call.lengthMs = 100;
    ASSERT_EQ (call.play(), 0);
    ASSERT_TRUE (waitFor ([] { return telemetry().playing == 0; }, 10s));
    call.lengthMs = 50;
    ASSERT_EQ (call.refresh(), 0);
    std::this_thread::sleep_for (50ms);
    const auto t = telemetry();
    EXPECT_EQ (t.playing, 0u);
    EXPECT_NEAR (t.length, 0.05, 1e-6);
    EXPECT_LE (t.position, 0.05 + 1e-6);
}

TEST_F (FoundryRefresh, ARateChangeKeepsThePlayhead)
{
    call.transientId = cache (sine (400.0, 48000.0, 48000 * 3));
    ASSERT_EQ (call.play(), 0);
    std::this_thread::sleep_for (1500ms);
    call.transientId = cache (sine (400.0, 44100.0, 44100 * 3), 44100.0);
    const auto t0 = std::chrono::steady_clock::now();
    const auto before = telemetry();
    ASSERT_EQ (call.refresh(), 0);
    const auto after = telemetry();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - t0;
    ASSERT_EQ (before.playing, 1u);
    EXPECT_EQ (after.playing, 1u);
    EXPECT_NEAR (after.length, 3.0, 1e-6);
    // The new preview goes on from the old one's place in seconds: at most the time
    // the refresh took later, give or take a few device blocks.
    EXPECT_GT (after.position, before.position - 0.05);
    EXPECT_LT (after.position, before.position + elapsed.count() + 0.05);
}

TEST_F (FoundryRefresh, AFailedRenderLeavesPlaybackAlone)
{
    ASSERT_EQ (call.play (true), 0);
    auto broken = call;
    broken.transientId = 999;
    EXPECT_EQ (broken.refresh(), 2);
    const auto t = telemetry();
    EXPECT_EQ (t.playing, 1u);
    EXPECT_NEAR (t.length, 0.5, 1e-6);
    auto heard = recordFrames (4800);
    EXPECT_GT (rms (heard.left.data(), (int) heard.left.size()), 0.1f);
}

TEST_F (FoundryRefresh, ExportCodesAndFile)
{
    ASSERT_EQ (call.play (true), 0);
    EXPECT_EQ (call.exportTo (nullptr), 8);
    EXPECT_EQ (call.exportTo (""), 8);
    EXPECT_EQ (telemetry().playing, 1u); // a refused path stops nothing

    const auto dir = tempDir();
    EXPECT_EQ (call.exportTo ((dir + "/missing/folder/x.wav").c_str()), 9);
    EXPECT_EQ (telemetry().playing, 0u);

    const auto file = dir + "/ok.wav";
    ASSERT_EQ (call.exportTo (file.c_str()), 0);
    juce::AudioFormatManager formats;
    formats.registerBasicFormats();
    std::unique_ptr<juce::AudioFormatReader> reader (formats.createReaderFor (juce::File (file)));
    ASSERT_NE (reader, nullptr);
    EXPECT_EQ (reader->bitsPerSample, 24u);
    EXPECT_EQ (reader->sampleRate, 48000.0);
    EXPECT_EQ (reader->lengthInSamples, 24000);
    EXPECT_EQ (reader->numChannels, 2u);
    EXPECT_EQ (telemetry().playing, 0u);

    auto broken = call;
    broken.transientId = 999;
    const auto none = dir + "/none.wav";
    EXPECT_EQ (broken.exportTo (none.c_str()), 2);
    EXPECT_FALSE (juce::File (none).exists());
}

} // namespace
