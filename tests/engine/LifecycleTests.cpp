#include "EngineTestSupport.h"

#include "engine/QuorvalenEngine.h"

#include <gtest/gtest.h>
#include <quorvalen_dsp.h>

using namespace qvtest;

TEST (Lifecycle, InitTwiceLogsOnlyTheEnteringLineTheSecondTime)
{
    useHeadlessOnly();
    StderrCapture first;
    ASSERT_EQ (quorvalen_engine_init(), 0);
    const auto firstLog = first.finish();
    EXPECT_NE (firstLog.find ("[ENGINE INIT] entering initialise; ready=0\n"), std::string::npos);
    EXPECT_NE (firstLog.find ("[ENGINE INIT] output startup v2\n"), std::string::npos);
    EXPECT_NE (firstLog.find ("[ENGINE INIT] default backend=\"Headless Output\" output=\"Headless Output Device\" "
                              "rate=48000 buffer=512 result=\"\"\n"),
               std::string::npos)
        << firstLog;
    EXPECT_NE (firstLog.find ("[ENGINE INIT] JUCE device init result=\"\"\n"), std::string::npos);
    EXPECT_EQ (quorvalen_engine_is_ready(), 1);

    StderrCapture second;
    EXPECT_EQ (quorvalen_engine_init(), 0);
    EXPECT_EQ (second.finish(), "[ENGINE INIT] entering initialise; ready=1\n");
    EXPECT_EQ (quorvalen_engine_shutdown(), 0);
    EXPECT_EQ (quorvalen_engine_is_ready(), 0);
}

TEST (Lifecycle, InitWithoutDeviceFailsCleanlyThenSucceedsOnceOneExists)
{
    useHeadlessOnly (0);
    StderrCapture log;
    EXPECT_EQ (quorvalen_engine_init(), 1);
    const auto text = log.finish();
    EXPECT_NE (text.find ("result=\"No active output device was opened\""), std::string::npos) << text;
    EXPECT_EQ (text.find ("retry backend"), std::string::npos);
    EXPECT_EQ (quorvalen_engine_is_ready(), 0);
    EXPECT_EQ (quorvalen::engine().deviceManager, nullptr);
    EXPECT_EQ (quorvalen::engine().juceInitialiser, nullptr);

    useHeadlessOnly (1);
    EXPECT_EQ (quorvalen_engine_init(), 0);
    EXPECT_EQ (quorvalen_engine_is_ready(), 1);
    EXPECT_NE (quorvalen::engine().deviceManager, nullptr);
    // Formats are registered once, however often init runs.
    const int formats = quorvalen::engine().formatManager.getNumKnownFormats();
    quorvalen_engine_shutdown();
    quorvalen_engine_init();
    EXPECT_EQ (quorvalen::engine().formatManager.getNumKnownFormats(), formats);
    quorvalen_engine_shutdown();
}

TEST (Lifecycle, ShutdownBeforeInitChangesNothingAndLogsNothing)
{
    useHeadlessOnly();
    StderrCapture log;
    EXPECT_EQ (quorvalen_engine_shutdown(), 0);
    EXPECT_EQ (log.finish(), "");
    EXPECT_EQ (quorvalen_engine_is_ready(), 0);
}

TEST (Lifecycle, ShutdownClearsStateButIdCountersGoOn)
{
    useHeadlessOnly();
    auto& e = quorvalen::engine();
    ASSERT_EQ (quorvalen_engine_init(), 0);
    {
        std::lock_guard lock (e.engineMutex);
        e.cacheMap[e.cacheIdCounter++] = quorvalen::CacheEntry { std::make_unique<juce::AudioBuffer<float>> (1, 4), 44100.0, "x" };
        e.pathMap["x"] = 1;
    }
    quorvalen_engine_shutdown();
    EXPECT_TRUE (e.cacheMap.empty());
    EXPECT_TRUE (e.pathMap.empty());
    EXPECT_EQ (e.cacheIdCounter, 2u);
    EXPECT_EQ (e.foundryGeneration, 1u);
    ASSERT_EQ (quorvalen_engine_init(), 0);
    EXPECT_EQ (e.cacheIdCounter, 2u);
    quorvalen_engine_shutdown();
}

TEST (Lifecycle, ChainRunsOnTheDeviceOnceReady)
{
    useHeadlessOnly();
    ASSERT_EQ (quorvalen_engine_init(), 0);
    auto* device = quorvalen::engine().deviceManager->getCurrentAudioDevice();
    ASSERT_NE (device, nullptr);
    EXPECT_TRUE (device->isPlaying());
    EXPECT_EQ (device->getCurrentSampleRate(), 48000.0);
    quorvalen_engine_shutdown();
}
