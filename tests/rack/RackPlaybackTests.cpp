// Playing cached sounds through the rack on the headless device, and swapping a
// new sound into running rack playback.
#include "EngineTestSupport.h"
#include "HeadlessEngineFixture.h"
#include "TestAudio.h"

#include "engine/QuorvalenEngine.h"
#include "platform/HeadlessConfig.h"
#include "rack/RackProcessingState.h"

#include <gtest/gtest.h>
#include <quorvalen_dsp.h>

#include <cmath>
#include <mutex>
#include <thread>

using namespace qvtest;
using namespace std::chrono_literals;
using quorvalen::engine;

namespace
{
class RackPlayback : public HeadlessEngineTest
{
protected:
    static int play (int id, const std::string& json, float volume = 100.0f, bool loop = false)
    {
        return quorvalen_engine_play_cached_with_processing (id, json.c_str(), volume, loop ? 1 : 0);
    }

    static std::string refresh (int playingId, const std::string& extra = "")
    {
        return "{\"spectroPreviewRefreshCacheId\": " + std::to_string (playingId) + extra + "}";
    }

    static quorvalen::RackPlaybackSnapshot rack() { return engine().rackSource.playbackSnapshot(); }
};

// The live state a module ran on in the last block, seen through the dispatch seam.
std::atomic<const quorvalen::RackProcessingState*> lastHeatState { nullptr };
void noteHeatState (const quorvalen::RackProcessingState& s, int module, int, int,
                    const quorvalen::QuorvalenRackSettings&)
{
    if (module == quorvalen::rackModuleHeat)
        lastHeatState.store (&s);
}

// Longest run of samples that are all but silent.
int longestSilence (const std::vector<float>& x, size_t from, size_t to)
{
    int longest = 0, run = 0;
    for (size_t i = from; i < to && i < x.size(); ++i)
    {
        run = std::abs (x[i]) < 1e-4f ? run + 1 : 0;
        longest = std::max (longest, run);
    }
    return longest;
}
} // namespace

TEST (RackPlaybackNotReady, RefusesBeforeInit)
{
    useHeadlessOnly();
    EXPECT_EQ (quorvalen_engine_play_cached_with_processing (1, "{}", 100.0f, 0), 1);
    EXPECT_EQ (quorvalen_engine_play_cached_with_processing (1, "{\"spectroPreviewRefreshCacheId\": 1}", 100.0f, 0), 1);
}

TEST_F (RackPlayback, PlayCodesFollowTheOrderOfTests)
{
    const int id = cache (sine (440.0, 48000.0, 4800), 48000.0);
    EXPECT_EQ (play (id + 100, "{}"), 2);
    EXPECT_EQ (play (id + 100, R"({"spectroPreviewRefreshCacheId": "x"})"), 4); // the refresh path answers first
    EXPECT_EQ (quorvalen_engine_play_cached_with_processing (id, nullptr, 100.0f, 0), 4);
    EXPECT_EQ (play (id, "[]"), 4);
    EXPECT_EQ (play (id, "not json"), 4);

    int empty = 0;
    {
        std::lock_guard lock (engine().engineMutex);
        empty = (int) engine().cache.nextId++;
        engine().cache.entries[(uint32_t) empty] = quorvalen::CacheEntry { nullptr, 48000.0, "x" };
    }
    EXPECT_EQ (play (empty, "{}"), 3);

    // A sound of no samples gets past the settings: those are published and what
    // played is stopped before the length is refused.
    const int other = cache (sine (440.0, 48000.0, 48000), 48000.0);
    ASSERT_EQ (play (other, "{}"), 0);
    {
        std::lock_guard lock (engine().engineMutex);
        engine().cache.entries[(uint32_t) empty].buffer = std::make_unique<juce::AudioBuffer<float>> (2, 0);
    }
    EXPECT_EQ (play (empty, R"({"heatDrive": 77})"), 5);
    EXPECT_EQ (engine().rackSource.currentSettings()->heat.drive, 77.0f);
    EXPECT_FALSE (engine().playback.transportSource.isPlaying());
    EXPECT_FALSE (engine().rackSource.isProcessingEnabled());

    StderrCapture log;
    EXPECT_EQ (play (id, R"({"heatDrive": 12})", 100.0f, true), 0);
    // The preparation's impulse-response load may log first; the start line closes the call.
    const auto text = log.finish();
    const auto started = "[QUORVALEN RACK 0.2.0] native preview started (cache " + std::to_string (id) + ", loop 1)\n";
    ASSERT_GE (text.size(), started.size());
    EXPECT_EQ (text.substr (text.size() - started.size()), started);
    EXPECT_EQ (engine().rackSource.currentSettings()->heat.drive, 12.0f);
    EXPECT_TRUE (engine().rackSource.isProcessingEnabled());
    EXPECT_TRUE (engine().playback.playingThroughRack);
    EXPECT_TRUE (engine().playback.playingLoops);
    EXPECT_EQ (engine().playback.playingCacheId, (uint32_t) id);
}

TEST_F (RackPlayback, SpaceAddsATenSecondTailUnlessLooping)
{
    const int id = cache (sine (440.0, 44100.0, 44100), 44100.0);
    ASSERT_EQ (play (id, R"({"spaceEnabled": true})"), 0);
    {
        std::lock_guard lock (engine().engineMutex);
        ASSERT_NE (engine().playback.playbackBuffer, nullptr);
        EXPECT_EQ (engine().playback.playbackBuffer->getNumSamples(), 44100 * 11);
        EXPECT_EQ (engine().playback.currentSource->getTotalLength(), 44100 * 11);
    }
    // Lengths in device samples: 48000 of sound, 528000 with the tail.
    EXPECT_EQ (rack().playLength, 48000);
    EXPECT_EQ (rack().loopLength, 48000);
    EXPECT_FALSE (rack().looping);

    // Space inside a module entry counts too.
    ASSERT_EQ (play (id, R"({"rackModules": [{"effect": "space", "settings": {"spaceEnabled": true}}]})"), 0);
    {
        std::lock_guard lock (engine().engineMutex);
        EXPECT_EQ (engine().playback.currentSource->getTotalLength(), 44100 * 11);
    }

    ASSERT_EQ (play (id, R"({"spaceEnabled": true})", 100.0f, true), 0);
    {
        std::lock_guard lock (engine().engineMutex);
        EXPECT_EQ (engine().playback.playbackBuffer, nullptr);
        EXPECT_EQ (engine().playback.currentSource->getTotalLength(), 44100);
    }
    EXPECT_TRUE (rack().looping);
    EXPECT_EQ (rack().loopLength, 48000);

    ASSERT_EQ (play (id, "{}"), 0);
    std::lock_guard lock (engine().engineMutex);
    EXPECT_EQ (engine().playback.currentSource->getTotalLength(), 44100);
}

TEST_F (RackPlayback, VolumeIsClampedAndTheResamplerLeftAtUnity)
{
    const int id = cache (sine (440.0, 48000.0, 48000), 48000.0);
    engine().playback.resamplingSource.setResamplingRatio (0.5); // as a Foundry pitch change leaves it
    ASSERT_EQ (play (id, "{}", 150.0f), 0);
    EXPECT_EQ (engine().playback.transportSource.getGain(), 1.0f);
    EXPECT_EQ (engine().playback.resamplingSource.getResamplingRatio(), 1.0);
    ASSERT_EQ (play (id, "{}", -5.0f), 0);
    EXPECT_EQ (engine().playback.transportSource.getGain(), 0.0f);
    ASSERT_EQ (play (id, "{}", std::nanf ("")), 0);
    EXPECT_EQ (engine().playback.transportSource.getGain(), 0.0f);
    ASSERT_EQ (play (id, "{}", 40.0f), 0);
    EXPECT_FLOAT_EQ (engine().playback.transportSource.getGain(), 0.4f);
}

TEST_F (RackPlayback, RefreshCodesFollowTheOrderOfTests)
{
    const int a = cache (sine (440.0, 48000.0, 48000 * 2), 48000.0);
    const int b = cache (sine (660.0, 48000.0, 48000 * 2), 48000.0);

    // The refresh id must be an integer 1..2147483647.
    EXPECT_EQ (play (b, refresh (a)), 6); // well-formed, but nothing plays yet
    EXPECT_EQ (play (b, R"({"spectroPreviewRefreshCacheId": "1"})"), 4);
    EXPECT_EQ (play (b, R"({"spectroPreviewRefreshCacheId": 0})"), 4);
    EXPECT_EQ (play (b, R"({"spectroPreviewRefreshCacheId": 2147483648})"), 4);
    EXPECT_EQ (play (b, R"({"spectroPreviewRefreshCacheId": 1.5})"), 4);
    EXPECT_EQ (play (b, R"(["spectroPreviewRefreshCacheId"])"), 4);

    // Not the playback named: without the rack, another id, another loop setting.
    ASSERT_EQ (quorvalen_engine_play_cached (a, 0.0f, 100.0f), 0);
    EXPECT_EQ (play (b, refresh (a), 100.0f, false), 6);
    ASSERT_EQ (play (a, "{}", 100.0f, true), 0);
    EXPECT_EQ (play (b, refresh (b), 100.0f, true), 6);
    EXPECT_EQ (play (b, refresh (a), 100.0f, false), 6);

    EXPECT_EQ (play (b + 100, refresh (a), 100.0f, true), 2);
    int hollow = 0;
    {
        std::lock_guard lock (engine().engineMutex);
        hollow = (int) engine().cache.nextId++;
        engine().cache.entries[(uint32_t) hollow] =
            quorvalen::CacheEntry { std::make_unique<juce::AudioBuffer<float>> (2, 0), 48000.0, "x" };
    }
    EXPECT_EQ (play (hollow, refresh (a), 100.0f, true), 3);
    {
        std::lock_guard lock (engine().engineMutex);
        engine().cache.entries[(uint32_t) hollow].buffer->setSize (2, 100);
        engine().cache.entries[(uint32_t) hollow].sampleRate = std::nan ("");
    }
    EXPECT_EQ (play (hollow, refresh (a), 100.0f, true), 3);

    // Refused refreshes left settings and playback as they were.
    EXPECT_EQ (engine().rackSource.currentSettings()->heat.drive, 25.0f);
    EXPECT_EQ (engine().playback.playingCacheId, (uint32_t) a);

    EXPECT_EQ (play (b, refresh (a, ", \"heatDrive\": 3"), 30.0f, true), 0);
    EXPECT_EQ (engine().playback.playingCacheId, (uint32_t) b);
    EXPECT_EQ (engine().rackSource.currentSettings()->heat.drive, 3.0f);
    EXPECT_FLOAT_EQ (engine().playback.transportSource.getGain(), 0.3f);
    EXPECT_EQ (play (a, refresh (a), 100.0f, true), 6); // a no longer plays
    EXPECT_EQ (engine().playback.playingCacheId, (uint32_t) b);
    EXPECT_TRUE (engine().playback.transportSource.isPlaying());
}

TEST_F (RackPlayback, RefreshPastTheEndOfAShorterSoundIsRefusedUnlessLooping)
{
    const int longSound = cache (sine (440.0, 48000.0, 48000 * 2), 48000.0);
    const int shortSound = cache (sine (660.0, 48000.0, 4800), 48000.0);
    ASSERT_EQ (play (longSound, "{}"), 0);
    std::this_thread::sleep_for (300ms);
    const auto before = engine().rackSource.currentSettings();
    EXPECT_EQ (play (shortSound, refresh (longSound, ", \"heatDrive\": 3")), 6);
    EXPECT_EQ (engine().rackSource.currentSettings(), before);
    EXPECT_EQ (engine().playback.playingCacheId, (uint32_t) longSound);

    ASSERT_EQ (play (longSound, "{}", 100.0f, true), 0);
    std::this_thread::sleep_for (300ms);
    ASSERT_EQ (play (shortSound, refresh (longSound), 100.0f, true), 0);
    const double position = engine().playback.transportSource.getCurrentPosition();
    EXPECT_LT (position, 0.1 + 1e-9); // wrapped into the new length
    // Another length: the rack was prepared afresh for it.
    EXPECT_EQ (rack().playLength, 4800);
    EXPECT_EQ (rack().loopLength, 4800);
    EXPECT_LT (rack().position, 4800);
}

TEST_F (RackPlayback, SameLengthRefreshKeepsModuleStateAndPlaysOnWithoutAGap)
{
    const int a = cache (sine (400.0, 48000.0, 48000 * 2, 0.5f), 48000.0);
    const int b = cache (sine (800.0, 48000.0, 48000 * 2, 0.5f), 48000.0);
    const int c = cache (sine (600.0, 48000.0, 48000, 0.5f), 48000.0);
    quorvalen::setRackDispatchObserver (&noteHeatState);

    // Waits on captured frames rather than the clock: a loaded machine may run the
    // device late.
    const auto playFor = [] (std::size_t frames) {
        const auto until = quorvalen::platform::capturedFrames() + frames;
        waitFor ([&] { return quorvalen::platform::capturedFrames() >= until; }, 10s);
    };
    quorvalen::platform::startCapture (48000 * 6);
    ASSERT_EQ (play (a, "{}", 100.0f, true), 0);
    playFor (19200);
    const auto* stateBefore = lastHeatState.load();
    const auto framesAtRefresh = quorvalen::platform::capturedFrames();
    ASSERT_EQ (play (b, refresh (a), 100.0f, true), 0);
    playFor (19200);
    const auto* stateAfterSameLength = lastHeatState.load();
    ASSERT_EQ (play (c, refresh (b), 100.0f, true), 0);
    playFor (4800);
    const auto* stateAfterNewLength = lastHeatState.load();
    const auto captured = quorvalen::platform::stopCapture();
    quorvalen::setRackDispatchObserver (nullptr);

    ASSERT_NE (stateBefore, nullptr);
    EXPECT_EQ (stateAfterSameLength, stateBefore); // modules kept their state
    EXPECT_NE (stateAfterNewLength, stateBefore);  // re-prepared for the new length

    // From well after the start to well past the refresh: sound all the way.
    const size_t onset = 4096;
    ASSERT_GT (framesAtRefresh, onset + 4096);
    ASSERT_GT (captured.left.size(), framesAtRefresh + 8192);
    EXPECT_LT (longestSilence (captured.left, onset, framesAtRefresh + 8192), 8);
    EXPECT_NEAR (dominantFrequency (captured.left.data() + framesAtRefresh - 8192, 8192, 48000.0), 400.0, 3.0);
    EXPECT_NEAR (dominantFrequency (captured.left.data() + framesAtRefresh + 4096, 8192, 48000.0), 800.0, 3.0);
}

namespace
{
// Plays through the rack and records the device output until the transport stops
// (at most `limit`), plus a little more.
quorvalen::platform::CapturedAudio recordPlayback (const std::function<int()>& start, std::chrono::milliseconds limit)
{
    quorvalen::platform::startCapture (48000 * 6);
    EXPECT_EQ (start(), 0);
    EXPECT_TRUE (waitFor ([] { return ! engine().playback.transportSource.isPlaying(); }, limit));
    std::this_thread::sleep_for (100ms);
    return quorvalen::platform::stopCapture();
}

double energy (const float* x, size_t n)
{
    double e = 0.0;
    for (size_t i = 0; i < n; ++i)
        e += (double) x[i] * x[i];
    return e;
}

struct IrFolder
{
    IrFolder() : path (tempDir())
    {
        juce::AudioBuffer<float> ir (2, 4800);
        ir.clear();
        ir.setSample (0, 0, 1.0f);
        ir.setSample (1, 0, 1.0f);
        writeWav (path + "/room.wav", ir, 48000.0);
        setenv ("QUORVALEN_IR_DIR", path.c_str(), 1);
    }
    ~IrFolder() { unsetenv ("QUORVALEN_IR_DIR"); }
    std::string path;
};
} // namespace

TEST_F (RackPlayback, LiveFrequencyShiftPlaysOutAShortSoundInBothModes)
{
    // 150 ms one-shot: the shifter's start delay must not cut it off at the end.
    auto shot = sine (300.0, 48000.0, 7200, 0.4f);
    auto heard = shot;
    for (int i = 0; i < 7200; ++i)
        heard.setSample (0, i, throughCharacterCeiling (shot.getSample (0, i)));
    const double dry = energy (heard.getReadPointer (0), 7200);
    const int id = cache (shot, 48000.0);
    for (const char* mode : { "beat", "synth" })
    {
        const auto json =
            std::string (R"({"freqShiftEnabled": true, "freqShift": 0, "freqShiftMode": ")") + mode + "\"}";
        const auto captured = recordPlayback ([&] { return play (id, json); }, 3000ms);
        const double wet = energy (captured.left.data(), captured.left.size());
        EXPECT_GT (wet / dry, 0.7) << mode;
        EXPECT_LT (wet / dry, 1.4) << mode;
    }
    // Looping keeps the loop exactly the sound.
    ASSERT_EQ (play (id, R"({"freqShiftEnabled": true})", 100.0f, true), 0);
    EXPECT_EQ (rack().loopLength, 7200);
    std::lock_guard lock (engine().engineMutex);
    EXPECT_EQ (engine().playback.currentSource->getTotalLength(), 7200);
}

TEST_F (RackPlayback, ASecondIdenticalPlayReusesTheLoadedResponse)
{
    IrFolder irs;
    const int id = cache (sine (440.0, 48000.0, 48000 * 2), 48000.0);
    StderrCapture log;
    ASSERT_EQ (play (id, R"({"spaceEnabled": true})"), 0);
    ASSERT_EQ (play (id, R"({"spaceEnabled": true})"), 0);
    const auto text = log.finish();
    const auto first = text.find ("[QUORVALEN SPACE] loaded IR 1/1: room.wav");
    ASSERT_NE (first, std::string::npos) << text;
    EXPECT_EQ (text.find ("[QUORVALEN SPACE]", first + 1), std::string::npos) << text;
}

TEST_F (RackPlayback, ARefusedRefreshPreparesNothing)
{
    IrFolder irs;
    const int longSound = cache (sine (440.0, 48000.0, 48000 * 2), 48000.0);
    const int shortSound = cache (sine (660.0, 48000.0, 4800), 48000.0);
    ASSERT_EQ (play (longSound, R"({"spaceEnabled": true})"), 0);
    std::this_thread::sleep_for (300ms);
    StderrCapture log;
    EXPECT_EQ (play (shortSound, refresh (longSound, R"(, "spaceEnabled": true)")), 6); // past its end
    EXPECT_EQ (log.finish(), "");
    EXPECT_EQ (engine().playback.playingCacheId, (uint32_t) longSound);
}
