// Offline rack render: result codes and the files they leave, the peak limit, the
// space tail, the offline frequency-shift and drone stages, the library's silence
// on standard error, repeatability, and memory exhaustion.
#include "EngineTestSupport.h"
#include "HeadlessEngineFixture.h"
#include "MemoryCap.h"
#include "TestAudio.h"

#include "cache/AudioCache.h"
#include "engine/QuorvalenEngine.h"
#include "rack/OfflineRender.h"
#include "rack/RackProcessingState.h"

#include <gtest/gtest.h>
#include <quorvalen_dsp.h>


#include <cmath>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <vector>

using namespace quorvalen;
using namespace qvtest;

namespace
{
std::string fileBytes (const std::string& path)
{
    std::ifstream in (path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool sameAudio (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b, int samples)
{
    for (int ch = 0; ch < a.getNumChannels(); ++ch)
        if (std::memcmp (a.getReadPointer (ch), b.getReadPointer (ch), sizeof (float) * (size_t) samples) != 0)
            return false;
    return true;
}

// Several sines: broadband enough to locate in time, quiet enough to stay unclipped.
juce::AudioBuffer<float> chord (double rate, int samples, int channels = 2)
{
    juce::AudioBuffer<float> b (channels, samples);
    for (int ch = 0; ch < channels; ++ch)
        for (int i = 0; i < samples; ++i)
        {
            const double t = i / rate;
            b.setSample (ch, i,
                         (float) (0.2 * std::sin (2 * M_PI * 220 * t) + 0.15 * std::sin (2 * M_PI * 331 * t + ch)
                                  + 0.1 * std::sin (2 * M_PI * 1497 * t)));
        }
    return b;
}

class OfflineRender : public HeadlessEngineTest
{
protected:
    void SetUp() override
    {
        HeadlessEngineTest::SetUp();
        dir = tempDir();
    }

    static int put (juce::AudioBuffer<float> audio, double rate)
    {
        std::lock_guard lock (engine().engineMutex);
        return (int) insertCacheEntry (
            engine(),
            CacheEntry { std::make_unique<juce::AudioBuffer<float>> (std::move (audio)), rate, "offline-render-test" });
    }

    std::string path (const std::string& name) const { return dir + "/" + name; }

    static int render (int id, const std::string& json, const std::string& out)
    {
        return quorvalen_engine_render_cached_with_processing (id, json.c_str(), out.c_str());
    }

    std::string dir;
};
} // namespace

TEST (OfflineRenderBeforeInit, NullArgumentsThenUncachedId)
{
    useHeadlessOnly();
    const auto out = tempDir() + "/x.wav";
    EXPECT_EQ (quorvalen_engine_render_cached_with_processing (1, nullptr, out.c_str()), -1);
    EXPECT_EQ (quorvalen_engine_render_cached_with_processing (1, "{}", nullptr), -1);
    // The render needs no device: before init an unknown id is just unknown.
    EXPECT_EQ (quorvalen_engine_render_cached_with_processing (1, "{}", out.c_str()), -2);
    EXPECT_EQ (quorvalen_engine_render_cached_with_processing (-7, "not json", out.c_str()), -2);
    EXPECT_FALSE (juce::File (out).exists());
}

TEST_F (OfflineRender, CodesFollowTheOrderOfTestsAndFailuresKeepOldFiles)
{
    const int good = put (sine (440.0, 48000.0, 4800), 48000.0);
    int noBuffer, zeroRate, nanRate;
    {
        std::lock_guard lock (engine().engineMutex);
        noBuffer = (int) insertCacheEntry (engine(), CacheEntry { nullptr, 48000.0, "none" });
    }
    zeroRate = put (sine (440.0, 48000.0, 100), 0.0);
    nanRate = put (sine (440.0, 48000.0, 100), std::nan (""));

    const auto fresh = path ("fresh.wav");
    EXPECT_EQ (render (noBuffer, "not json", fresh), -3);
    EXPECT_EQ (render (zeroRate, "{}", fresh), -4);
    EXPECT_EQ (render (nanRate, "{}", fresh), -4);
    for (const char* refused : { "not json", "[1, 2]", "42", "\"text\"", "" })
        EXPECT_EQ (render (good, refused, fresh), -5) << refused;
    EXPECT_FALSE (juce::File (fresh).exists());

    // A refused render leaves an earlier file exactly as it was.
    const auto old = path ("old.wav");
    writeWav (old, sine (100.0, 48000.0, 1000), 48000.0);
    const auto before = fileBytes (old);
    EXPECT_EQ (render (good, "[1]", old), -5);
    EXPECT_EQ (fileBytes (old), before);

    // A folder in the way cannot be opened as a file, and stays a folder.
    EXPECT_EQ (render (good, "{}", dir), -6);
    EXPECT_TRUE (juce::File (dir).isDirectory());

    // Success creates missing folders, replaces the old file and logs the path.
    const auto nested = path ("a/b/c/out.wav");
    StderrCapture err;
    EXPECT_EQ (render (good, "{}", nested), 0);
    EXPECT_EQ (render (good, "{}", old), 0);
    const auto log = err.finish();
    EXPECT_NE (log.find ("[QUORVALEN RACK 0.2.0] processed WAV written: " + nested + "\n"), std::string::npos);
    EXPECT_EQ (readAudio (nested).getNumSamples(), 4800);
    EXPECT_EQ (readAudio (old).getNumSamples(), 4800);
}

TEST_F (OfflineRender, PeaksAboveTheCeilingComeDownQuieterOnesStay)
{
    // Every module off, mono blend off: only the limit can change the sound.
    for (const float peak : { 1.5f, 0.5f })
    {
        const auto input = sine (440.0, 48000.0, 4800, peak, 2);
        const auto out = path ("peak.wav");
        ASSERT_EQ (render (put (input, 48000.0), "{}", out), 0);
        double rate = 0;
        const auto written = readAudio (out, &rate);
        ASSERT_EQ (written.getNumSamples(), 4800);
        EXPECT_EQ (rate, 48000.0);
        const float gain = peak > 0.98f ? 0.98f / peak : 1.0f;
        float worst = 0.0f;
        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < 4800; ++i)
                worst = std::max (worst, std::abs (written.getSample (ch, i) - gain * input.getSample (ch, i)));
        EXPECT_LT (worst, 3.0e-7f) << peak;
        EXPECT_NEAR (peakAbs (written.getReadPointer (0), 4800), std::min (peak, 0.98f), 1.0e-4f);
    }
}

TEST (OfflineRackRender, SpaceAddsOneTenSecondTailAndLanesSeeTheLengthThenCurrent)
{
    constexpr double rate = 8000.0;
    const auto tail = (int) std::llround (rate * 10.0);
    auto lengthAfter = [&] (const std::string& json) {
        auto b = sine (300.0, rate, 1000);
        EXPECT_TRUE (renderRackOffline (b, rate, json.c_str())) << json;
        return b.getNumSamples();
    };
    EXPECT_EQ (lengthAfter ("{\"spaceEnabled\": true}"), 1000 + tail);
    EXPECT_EQ (lengthAfter ("{\"spaceEnabled\": true, \"spectroNoTail\": true}"), 1000);
    EXPECT_EQ (lengthAfter ("{\"spaceEnabled\": false}"), 1000);
    const std::string space = "{\"effect\": \"space\", \"settings\": {\"spaceEnabled\": true}}";
    EXPECT_EQ (lengthAfter ("{\"rackModules\": [" + space + ", " + space + "]}"), 1000 + tail);

    // Lanes of a module after the tail span the sound plus the tail.
    static std::vector<std::pair<int, std::int64_t>> seen;
    seen.clear();
    setRackDispatchObserver ([] (const RackProcessingState& s, int module, int, int, const QuorvalenRackSettings&) {
        if (seen.empty() || seen.back().first != module)
            seen.emplace_back (module, s.playLength);
    });
    const std::string heat = "{\"effect\": \"heat\", \"settings\": {}}";
    lengthAfter ("{\"rackModules\": [" + heat + ", " + space + ", " + heat + "]}");
    setRackDispatchObserver (nullptr);
    ASSERT_EQ (seen.size(), 3u);
    EXPECT_EQ (seen[0], std::make_pair ((int) rackModuleHeat, (std::int64_t) 1000));
    EXPECT_EQ (seen[2], std::make_pair ((int) rackModuleHeat, (std::int64_t) 1000 + tail));

    // A tail that would take the buffer past 2^31-1 samples fails the render.
    auto b = sine (300.0, rate, 1000);
    EXPECT_FALSE (renderRackOffline (b, 3.0e8, ("{\"rackModules\": [" + space + "]}").c_str()));
}

TEST (OfflineRackRender, FrequencyShiftPitchesAlignsAndKeepsTheDryLeadIn)
{
    constexpr double rate = 48000.0;
    const auto input = chord (rate, 24000);

    // Mix 50: 2400 samples untouched, then the 12-sample crossfade to the shifted sound.
    auto shifted = input;
    ASSERT_TRUE (renderRackOffline (
        shifted, rate, R"({"freqShiftEnabled": true, "freqShiftMode": "synth", "freqShift": 7, "freqShiftMix": 50})"));
    EXPECT_NEAR (shifted.getNumSamples(), 24000, 2);
    EXPECT_TRUE (sameAudio (shifted, input, 2400));
    EXPECT_NE (shifted.getSample (0, 2411), input.getSample (0, 2411));

    // The shift is the field's, in both engines.
    auto up = sine (440.0, rate, 24000);
    ASSERT_TRUE (
        renderRackOffline (up, rate, R"({"freqShiftEnabled": true, "freqShiftMode": "synth", "freqShift": 12})"));
    EXPECT_NEAR (dominantFrequency (up.getReadPointer (0, 6000), 12000, rate), 880.0, 6.0);
    auto down = sine (440.0, rate, 24000);
    ASSERT_TRUE (renderRackOffline (down, rate, R"({"freqShiftEnabled": true, "freqShift": -12})"));
    EXPECT_NEAR (dominantFrequency (down.getReadPointer (1, 6000), 12000, rate), 220.0, 4.0);

    // No shift: the saturation's oversampler adds no delay.
    auto still = input;
    ASSERT_TRUE (renderRackOffline (still, rate, R"({"freqShiftEnabled": true, "freqShift": 0, "freqShiftMix": 0})"));
    int bestLag = 0;
    double best = -1e30;
    for (int lag = -64; lag <= 64; ++lag)
    {
        double c = 0;
        for (int i = 4000; i < 20000; ++i)
            c += (double) input.getSample (0, i) * still.getSample (0, i + lag);
        if (c > best)
            best = c, bestLag = lag;
    }
    EXPECT_LE (std::abs (bestLag), 1);
}

TEST (OfflineRackRender, DroneIsCappedAt106Seconds)
{
    // The limits at 44.1 kHz on a 60 s sound.
    const int sixty = 60 * 44100;
    auto l = droneLengths (44100.0, 20.0f, sixty);
    EXPECT_EQ (l.maxOutput, 4674600);
    EXPECT_EQ (l.sourceLength, 233730); // no run-out at 12x and above
    l = droneLengths (44100.0, 2.0f, sixty);
    EXPECT_EQ (l.sourceLength, 2337300 + 11025);
    EXPECT_EQ (droneLengths (44100.0, 11.99f, sixty).sourceLength, (int) (4674600 / (double) 11.99f) + 11025);
    EXPECT_EQ (droneLengths (44100.0, 1.0f, 1000).stretch, 2.0);
    EXPECT_EQ (droneLengths (44100.0, 50.0f, sixty).stretch, 20.0);
    EXPECT_EQ (droneLengths (44100.0, 2.0f, 1000).sourceLength, 1000);

    // A real 20x drone keeps every sample the stretch makes (80000 from 4000);
    // a 2x ambi drone of 60 s (fast engine) would make 852000 and is cut to the
    // 106 s cap.
    constexpr double rate = 8000.0;
    auto twenty = sine (200.0, rate, 4000, 0.5f, 1);
    ASSERT_TRUE (renderRackOffline (twenty, rate,
                                    R"({"freqShiftEnabled": true, "pitchAdvancedOpen": true, "droneStretch": 20})"));
    EXPECT_NEAR (twenty.getNumSamples(), 80000, 8);
    EXPECT_GT (rms (twenty.getReadPointer (0, 70000), 8000), 0.1f);

    auto long2x = sine (200.0, rate, 60 * 8000, 0.5f, 1);
    ASSERT_TRUE (renderRackOffline (
        long2x, rate,
        R"({"freqShiftEnabled": true, "pitchAdvancedOpen": true, "freqShiftMode": "ambi", "droneStretch": 2})"));
    EXPECT_EQ (long2x.getNumSamples(), 848000);
    EXPECT_GT (rms (long2x.getReadPointer (0, 840000), 8000), 0.1f);

    // The ambi drone (library defaults, threads of its own) keeps its whole output.
    auto ambi = chord (rate, 8000);
    ASSERT_TRUE (renderRackOffline (
        ambi, rate,
        R"({"freqShiftEnabled": true, "pitchAdvancedOpen": true, "freqShiftMode": "ambi", "droneStretch": 4, "dronePitch": 3})"));
    EXPECT_EQ (ambi.getNumChannels(), 2);
    EXPECT_NEAR (ambi.getNumSamples(), 32000, 8);
}

TEST_F (OfflineRender, PitchLanesLeaveTheStaticPitchAndTheLibraryQuiet)
{
    const auto input = chord (48000.0, 24000);
    const int id = put (input, 48000.0);
    const std::string lanes = R"("automation": {"freqShift": [{"x": 0, "y": 0}, {"x": 1, "y": 1}],
                                                "dronePitch": [{"x": 0, "y": 1}, {"x": 1, "y": 0}]})";
    StderrCapture err;
    ASSERT_EQ (
        render (id, R"({"freqShiftEnabled": true, "freqShiftMode": "synth", "freqShift": 4})", path ("plain.wav")), 0);
    ASSERT_EQ (render (id, R"({"freqShiftEnabled": true, "freqShiftMode": "synth", "freqShift": 4, )" + lanes + "}",
                       path ("lane.wav")),
               0);
    ASSERT_EQ (render (id, R"({"freqShiftEnabled": true, "pitchAdvancedOpen": true, "droneStretch": 3, )" + lanes + "}",
                       path ("drone.wav")),
               0);
    ASSERT_EQ (render (id, R"({"freqShiftEnabled": true, "freqShift": -3, )" + lanes + "}", path ("beat.wav")), 0);
    const auto log = err.finish();

    // Only our own tagged lines.
    std::istringstream lines (log);
    for (std::string line; std::getline (lines, line);)
        EXPECT_EQ (line.rfind ("[", 0), 0u) << line;
    EXPECT_EQ (log.find ("Stretcher"), std::string::npos);
    EXPECT_EQ (log.find ("Cannot set"), std::string::npos);

    EXPECT_EQ (fileBytes (path ("plain.wav")), fileBytes (path ("lane.wav")));
}

TEST_F (OfflineRender, RenderingTwiceWritesTheSameFile)
{
    // An impulse response for the space module, through the folder variable.
    const auto irs = path ("irs");
    juce::File (irs).createDirectory();
    auto ir = decayingNoise (4000, 3, 800.0f);
    ir.applyGain (0.5f);
    writeWav (irs + "/room.wav", ir, 48000.0);
    setenv ("QUORVALEN_IR_DIR", irs.c_str(), 1);

    const int id = put (chord (48000.0, 48000), 48000.0);
    const std::string json = R"({"heatEnabled": true, "heatDrive": 60, "deEssEnabled": true, "filterMode": "BP",
        "filterLfo": 40, "filterDirtboxEnabled": true, "transientEnabled": true, "transientAttack": 5,
        "freqShiftEnabled": true, "freqShiftMode": "synth", "freqShift": 3, "spectralDelayEnabled": true,
        "spaceEnabled": true, "stereoEnabled": true, "stereoWidth": 4, "stereoMono": true,
        "chainOrder": ["stereo", "space", "freqshift", "heat", "deess", "transient", "spectraldelay"]})";
    ASSERT_EQ (render (id, json, path ("one.wav")), 0);
    ASSERT_EQ (render (id, json, path ("two.wav")), 0);
    const auto one = fileBytes (path ("one.wav"));
    EXPECT_GT (one.size(), 48000u * 6);
    EXPECT_EQ (one, fileBytes (path ("two.wav")));
}

TEST_F (OfflineRender, ExhaustedMemoryFailsTheRenderAndKeepsTheOldFile)
{
    if (! kAddressSpaceCapWorks)
        GTEST_SKIP() << "sanitizers reserve address space of their own";
    // A 20x drone at 192 kHz wants 106 s of output (over 80 MB a channel); cap the
    // address space well below what it needs on top of what is in use.
    const int id = put (sine (300.0, 192000.0, 192000 * 6, 0.5f, 2), 192000.0);
    const auto old = path ("keep.wav");
    writeWav (old, sine (100.0, 48000.0, 1000), 48000.0);
    const auto before = fileBytes (old);

    const int result = withAddressSpaceCap (120L * 1024 * 1024, [&] {
        return render (id, R"({"freqShiftEnabled": true, "pitchAdvancedOpen": true, "droneStretch": 20})", old);
    });

    EXPECT_EQ (result, -5);
    EXPECT_EQ (fileBytes (old), before);
}
