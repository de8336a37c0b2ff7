// The rack's block path, driven directly (no device): chunking, loop pieces and
// play-length limits, automation lookup, mono blend, module entries, preparation,
// seeking, device restarts and host/audio-thread interplay.
#include "rack/QuorvalenProcessingRackSource.h"
#include "rack/RackProcessingState.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

using namespace quorvalen;

namespace
{
// A stereo test signal that continues across blocks: different tones per channel.
class ToneSource final : public juce::AudioSource
{
public:
    void prepareToPlay (int, double) override {}
    void releaseResources() override {}
    void getNextAudioBlock (const juce::AudioSourceChannelInfo& info) override
    {
        for (int i = 0; i < info.numSamples; ++i, ++t)
            for (int c = 0; c < info.buffer->getNumChannels(); ++c)
                info.buffer->setSample (c, info.startSample + i, 0.5f * (float) std::sin (0.01 * (double) t * (c + 1)));
    }

private:
    long t = 0;
};

struct Dispatch
{
    const RackProcessingState* state;
    int module, start, count;
    std::int64_t position;
    const QuorvalenRackSettings* settings;
    float spaceHigh;
};

std::vector<Dispatch>& dispatches()
{
    static std::vector<Dispatch> list;
    return list;
}

void recordDispatch (const RackProcessingState& s, int module, int start, int count,
                     const QuorvalenRackSettings& settings)
{
    dispatches().push_back ({ &s, module, start, count, s.position, &settings, s.space.state().highState[0] });
}

// Records every module dispatch for the length of a test.
struct DispatchRecorder
{
    DispatchRecorder()
    {
        dispatches().clear();
        setRackDispatchObserver (&recordDispatch);
    }
    ~DispatchRecorder() { setRackDispatchObserver (nullptr); }
    std::vector<Dispatch> of (int module) const
    {
        std::vector<Dispatch> out;
        for (const auto& d : dispatches())
            if (d.module == module)
                out.push_back (d);
        return out;
    }
};

std::shared_ptr<const QuorvalenRackSettings> settingsFrom (const char* json)
{
    auto s = parseRackSettings (json);
    EXPECT_NE (s, nullptr);
    return s;
}

std::unique_ptr<RackProcessingState> preparedState (double rate = 48000.0, int block = 512)
{
    auto s = std::make_unique<RackProcessingState> (false);
    prepareRackState (*s, rate, block);
    return s;
}

constexpr const char* everyModuleOn = R"({"heatEnabled": true, "deEssEnabled": true, "transientEnabled": true,
    "freqShiftEnabled": true, "spectralDelayEnabled": true, "spaceEnabled": true, "stereoEnabled": true,
    "stereoMono": true, "automation": {"heatDrive": [{"x": 0, "y": 0}, {"x": 1, "y": 1}]}})";
} // namespace

TEST (RackBlockPath, LongDeviceBlocksAreSplitIntoMaxBlockChunksBitForBit)
{
    auto run = [] (int block, std::vector<float>& out, std::vector<Dispatch>* heat) {
        ToneSource tone;
        QuorvalenProcessingRackSource rack (&tone);
        rack.prepareToPlay (512, 48000.0);
        rack.publishSettings (settingsFrom (everyModuleOn));
        rack.prepareRackPlayback (48000, false, 0, false);
        rack.setProcessingEnabled (true);
        DispatchRecorder recorder;
        juce::AudioBuffer<float> buffer (2, block);
        for (int done = 0; done < 4096; done += block)
        {
            // Alternate the mono target so the blend ramps across chunk borders.
            if (done == 1024)
                rack.publishSettings (settingsFrom (R"({"stereoEnabled": true})"));
            rack.getNextAudioBlock (juce::AudioSourceChannelInfo (buffer));
            for (int c = 0; c < 2; ++c)
                out.insert (out.end(), buffer.getReadPointer (c), buffer.getReadPointer (c) + block);
        }
        if (heat != nullptr)
            *heat = recorder.of (rackModuleHeat);
        EXPECT_EQ (rack.playbackSnapshot().position, 4096);
    };

    std::vector<float> whole, halves;
    std::vector<Dispatch> heat;
    run (1024, whole, &heat);
    run (512, halves, nullptr);
    // Same samples, interleaved per block differently: compare per channel.
    auto channel = [] (const std::vector<float>& v, int block, int c) {
        std::vector<float> out;
        for (size_t b = 0; b < v.size(); b += (size_t) (2 * block))
            out.insert (out.end(), v.begin() + (long) b + c * block, v.begin() + (long) b + (c + 1) * block);
        return out;
    };
    for (int c = 0; c < 2; ++c)
        EXPECT_EQ (channel (whole, 1024, c), channel (halves, 512, c)) << "channel " << c;

    ASSERT_EQ (heat.size(), 8u);
    EXPECT_EQ (heat[0].count, 512);
    EXPECT_EQ (heat[0].position, 0);
    EXPECT_EQ (heat[1].start, 512);
    EXPECT_EQ (heat[1].position, 512);
}

TEST (RackBlockPath, LoopWrapSplitsPiecesAndOnlySpaceRunsPastTheSound)
{
    const auto owner = preparedState();
    auto& state = *owner;
    state.playLength = 1000;
    state.loopLength = 1500;
    state.looping = true;
    state.position = 1400;
    state.space.state().highState = { 1.0f, 1.0f };
    const auto settings = settingsFrom ("{}");
    juce::AudioBuffer<float> buffer (2, 200);

    DispatchRecorder recorder;
    processRackBlock (state, buffer, 0, 200, *settings);
    EXPECT_EQ (state.position, 100);

    for (int module : { 0, 1, 2, 3, 4, 6 })
    {
        const auto runs = recorder.of (module);
        ASSERT_EQ (runs.size(), 1u) << module;
        EXPECT_EQ (runs[0].start, 100);
        EXPECT_EQ (runs[0].count, 100);
        EXPECT_EQ (runs[0].position, 0);
    }
    const auto space = recorder.of (rackModuleSpace);
    ASSERT_EQ (space.size(), 2u);
    EXPECT_EQ (space[0].start, 0);
    EXPECT_EQ (space[0].count, 100);
    EXPECT_EQ (space[0].position, 1400);
    EXPECT_EQ (space[0].spaceHigh, 1.0f);
    EXPECT_EQ (space[1].start, 100);
    EXPECT_EQ (space[1].position, 0);
    EXPECT_EQ (space[1].spaceHigh, 0.0f); // the tail was cleared at the wrap

    // keepTail carries the reverb across the wrap.
    state.position = 1400;
    state.keepTail = true;
    state.space.state().highState = { 1.0f, 1.0f };
    dispatches().clear();
    processRackBlock (state, buffer, 0, 200, *settings);
    EXPECT_EQ (recorder.of (rackModuleSpace).at (1).spaceHigh, 1.0f);
}

TEST (RackBlockPath, WithoutLoopModulesStopAtTheSoundButSpaceRunsOn)
{
    const auto owner = preparedState();
    auto& state = *owner;
    state.playLength = 1000;
    state.loopLength = 1000;
    state.position = 900;
    const auto settings = settingsFrom ("{}");
    juce::AudioBuffer<float> buffer (2, 256);
    DispatchRecorder recorder;
    processRackBlock (state, buffer, 0, 256, *settings);
    EXPECT_EQ (state.position, 1156);
    const auto heat = recorder.of (rackModuleHeat);
    ASSERT_EQ (heat.size(), 1u);
    EXPECT_EQ (heat[0].count, 100);
    const auto space = recorder.of (rackModuleSpace);
    ASSERT_EQ (space.size(), 1u);
    EXPECT_EQ (space[0].count, 256);

    dispatches().clear();
    processRackBlock (state, buffer, 0, 256, *settings); // wholly past the sound
    EXPECT_TRUE (recorder.of (rackModuleHeat).empty());
    EXPECT_EQ (recorder.of (rackModuleSpace).size(), 1u);
}

TEST (RackBlockPath, ModuleEntriesRunInListOrderOnTheirOwnChildren)
{
    RackProcessingState state (true);
    prepareRackState (state, 48000.0, 512);
    for (auto& child : state.children)
        child->playLength = child->loopLength = 100000;
    const auto settings = settingsFrom (R"({"chainOrder": ["stereo"], "heatEnabled": true, "rackModules": [
        {"effect": "transient", "settings": {"transientEnabled": true, "transientAttack": 1}},
        {"effect": "heat", "settings": {"heatEnabled": true}},
        {"effect": "transient", "settings": {"transientAttack": 2}}]})");
    juce::AudioBuffer<float> buffer (2, 256);
    DispatchRecorder recorder;
    processRackBlock (state, buffer, 0, 256, *settings);

    const auto& all = dispatches();
    ASSERT_EQ (all.size(), 3u);
    const int modules[] = { 2, 0, 2 };
    for (size_t i = 0; i < 3; ++i)
    {
        EXPECT_EQ (all[i].module, modules[i]);
        EXPECT_EQ (all[i].state, state.children[i].get());
        EXPECT_EQ (all[i].settings, settings->rackModules[i].settings.get());
    }
    EXPECT_EQ (all[2].settings->transient.attack, 2.0f);
    EXPECT_EQ (state.children[0]->position, 256);
    EXPECT_EQ (state.children[3]->position, 0); // serves no entry
    EXPECT_EQ (state.position, 256);
}

TEST (RackBlockPath, AutomationLanesInterpolateAndMap)
{
    const auto s = settingsFrom (R"({"automation": {"heatDrive": [{"x": 0.8, "y": 0.9}, {"x": 0.2, "y": 0.3}],
                                                     "stereoCrossover": [{"x": 0, "y": 0.5}]}})");
    const std::int64_t length = 1001; // t = position / 1000
    auto lane0 = [&] (std::int64_t p) { return automationValue (*s, 0, -1.0f, 0.0f, 1.0f, p, length, false); };
    EXPECT_FLOAT_EQ (lane0 (0), 0.3f);
    EXPECT_FLOAT_EQ (lane0 (100), 0.3f);
    EXPECT_FLOAT_EQ (lane0 (500), 0.6f);
    EXPECT_FLOAT_EQ (lane0 (900), 0.9f);
    EXPECT_FLOAT_EQ (lane0 (5000), 0.9f); // held at the end
    EXPECT_FLOAT_EQ (automationValue (*s, 0, 0.0f, 0.0f, 100.0f, 500, length, false), 60.0f);
    EXPECT_FLOAT_EQ (automationValue (*s, rackLane::heatMix, 42.0f, 0.0f, 100.0f, 500, length, false), 42.0f);
    EXPECT_NEAR (automationValue (*s, rackLane::stereoCrossover, 500.0f, 20.0f, 20000.0f, 0, length, true), 632.4555f,
                 1e-3f);
    EXPECT_FLOAT_EQ (automationValue (*s, 99, 7.0f, 0.0f, 1.0f, 0, length, false), 7.0f);
    EXPECT_FLOAT_EQ (automationValue (*s, 0, 0.0f, 0.0f, 1.0f, 700, 1, false), 0.3f); // one-sample sound: t = 0

    // Modules read lanes inside the sound, wrapped into the loop.
    RackProcessingState state (false);
    state.playLength = 1000;
    state.loopLength = 1500;
    state.looping = true;
    state.position = 1400;
    EXPECT_EQ (rackAutomationPosition (state), 999);
    EXPECT_EQ (rackAutomationPosition (state, 150), 50);
    state.looping = false;
    EXPECT_EQ (rackAutomationPosition (state, 150), 999);

    EXPECT_FLOAT_EQ (onePoleCoefficient (std::nanf (""), 48000.0), onePoleCoefficient (5.0f, 48000.0));
    EXPECT_FLOAT_EQ (onePoleCoefficient (1e9f, 48000.0), onePoleCoefficient (21600.0f, 48000.0));
}

TEST (RackBlockPath, MonoBlendJumpsAfterResetThenRampsOver5Milliseconds)
{
    const auto owner = preparedState (48000.0, 512);
    auto& state = *owner;
    state.playLength = state.loopLength = 1 << 20;
    const auto mono = settingsFrom (R"({"stereoMono": true})");
    const auto stereo = settingsFrom ("{}");
    auto block = [&] (const QuorvalenRackSettings& s, int n) {
        juce::AudioBuffer<float> b (2, n);
        for (int i = 0; i < n; ++i)
        {
            b.setSample (0, i, 1.0f);
            b.setSample (1, i, -1.0f);
        }
        processRackBlock (state, b, 0, n, s);
        return b;
    };

    EXPECT_EQ (block (*mono, 64).getSample (0, 0), 0.0f); // first block after a reset: at once

    const auto off = block (*stereo, 512); // ramp back over floor(48000 x 0.005) = 240 samples
    EXPECT_NEAR (off.getSample (0, 0), 1.0f / 240.0f, 1e-5f);
    EXPECT_NEAR (off.getSample (0, 119), 0.5f, 1e-5f);
    EXPECT_NEAR (off.getSample (1, 119), -0.5f, 1e-5f);
    EXPECT_FLOAT_EQ (off.getSample (0, 239), 1.0f);
    EXPECT_FLOAT_EQ (off.getSample (0, 511), 1.0f);

    const auto on = block (*mono, 512);
    EXPECT_NEAR (on.getSample (0, 119), 0.5f, 1e-5f);
    EXPECT_FLOAT_EQ (on.getSample (0, 300), 0.0f);

    // A mono buffer is never touched.
    juce::AudioBuffer<float> single (1, 64);
    single.clear();
    single.setSample (0, 3, 0.25f);
    processRackBlock (state, single, 0, 64, *mono);
    EXPECT_EQ (single.getSample (0, 3), 0.25f);
}

TEST (RackBlockPath, PlaybackPreparationSetsLengthsAndSeekingStaysInside)
{
    const auto plan = RackPlaybackPlan::make (1000, true, 400, false);
    EXPECT_EQ (plan.loopLength, 1000); // shorter than the sound: the sound's length
    EXPECT_EQ (RackPlaybackPlan::make (1000, true, 1500, false).loopLength, 1500);
    EXPECT_EQ (RackPlaybackPlan::make (1000, false, 5000, false).loopLength, 1000);

    QuorvalenProcessingRackSource rack (nullptr);
    rack.prepareRackPlayback (1000, false, 0, false);
    rack.seekRack (-5);
    EXPECT_EQ (rack.playbackSnapshot().position, 0);
    rack.seekRack (5000);
    EXPECT_EQ (rack.playbackSnapshot().position, 999);
    rack.prepareRackPlayback (1000, true, 1500, false);
    rack.seekRack (3100);
    const auto snap = rack.playbackSnapshot();
    EXPECT_EQ (snap.position, 100);
    EXPECT_EQ (snap.loopLength, 1500);
    EXPECT_EQ (snap.childPosition0, 0); // a child serving no entry keeps its reset length of 1
}

TEST (RackBlockPath, DeviceRestartReprepareKeepsPlaybackWhereItStood)
{
    ToneSource tone;
    QuorvalenProcessingRackSource rack (&tone);
    rack.prepareToPlay (512, 48000.0);
    rack.prepareRackPlayback (96000, true, 0, false);
    rack.setProcessingEnabled (true);
    juce::AudioBuffer<float> buffer (2, 512);
    for (int i = 0; i < 10; ++i)
        rack.getNextAudioBlock (juce::AudioSourceChannelInfo (buffer));
    ASSERT_EQ (rack.playbackSnapshot().position, 5120);

    // The device stops, then comes back at another rate and block size.
    rack.releaseResources();
    rack.prepareToPlay (256, 96000.0);
    auto snap = rack.playbackSnapshot();
    EXPECT_EQ (snap.sampleRate, 96000.0);
    EXPECT_EQ (snap.maxBlock, 256);
    EXPECT_EQ (snap.playLength, 192000);
    EXPECT_TRUE (snap.looping);
    EXPECT_EQ (snap.position, 10240);

    DispatchRecorder recorder;
    rack.getNextAudioBlock (juce::AudioSourceChannelInfo (buffer)); // 512 > maxBlock: two chunks
    const auto heat = recorder.of (rackModuleHeat);
    ASSERT_EQ (heat.size(), 2u);
    EXPECT_EQ (heat[0].position, 10240);
    EXPECT_EQ (heat[1].count, 256);

    // Restarting while nothing plays through the rack leaves it reset.
    rack.setProcessingEnabled (false);
    rack.prepareToPlay (512, 44100.0);
    EXPECT_EQ (rack.playbackSnapshot().playLength, 1);
}

TEST (RackBlockPath, HostPreparationsNeverPullStateFromUnderARunningBlock)
{
    // Rebuilding state and publishing records while an audio thread processes:
    // run under the address sanitizer, a use after free would show here.
    ToneSource tone;
    QuorvalenProcessingRackSource rack (&tone);
    rack.prepareToPlay (512, 48000.0);
    rack.publishSettings (settingsFrom (everyModuleOn));
    rack.prepareRackPlayback (48000, true, 0, false);
    rack.setProcessingEnabled (true);

    std::atomic<bool> stop { false };
    std::atomic<long> blocks { 0 };
    std::thread audio ([&] {
        juce::AudioBuffer<float> buffer (2, 512);
        while (! stop.load())
        {
            rack.getNextAudioBlock (juce::AudioSourceChannelInfo (buffer));
            ++blocks;
        }
    });

    const char* docs[] = { everyModuleOn, R"({"rackModules": [{"effect": "space", "settings": {"spaceEnabled": true}},
                                              {"effect": "freqshift", "settings": {"freqShiftEnabled": true}}]})" };
    for (int i = 0; i < 200; ++i)
    {
        rack.setProcessingEnabled (false);
        ASSERT_TRUE (updateSettings (rack, docs[i % 2]));
        rack.prepareRackPlayback (1000 + i, i % 3 == 0, 0, false);
        rack.setProcessingEnabled (true);
        rack.seekRack (i * 7);
        const auto settings = rack.currentSettings();
        rack.stageRackPlayback (RackPlaybackPlan::make (500 + i, false, 0, false), settings);
        rack.commitStagedRackPlayback();
    }
    stop = true;
    audio.join();
    EXPECT_GT (blocks.load(), 0);
}
