#include "EngineTestSupport.h"

#include "engine/DeviceStartup.h"
#include "engine/QuorvalenEngine.h"
#include "platform/JuceInitialiser.h"

#include <gtest/gtest.h>
#include <quorvalen_dsp.h>

#include <cstdio>
#include <cstdlib>

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
        e.cache.entries[e.cache.nextId++] =
            quorvalen::CacheEntry { std::make_unique<juce::AudioBuffer<float>> (1, 4), 44100.0, "x" };
        e.cache.pathIds["x"] = 1;
    }
    quorvalen_engine_shutdown();
    EXPECT_TRUE (e.cache.entries.empty());
    EXPECT_TRUE (e.cache.pathIds.empty());
    EXPECT_EQ (e.cache.nextId, 2u);
    EXPECT_EQ (e.foundry.generation, 1u);
    ASSERT_EQ (quorvalen_engine_init(), 0);
    EXPECT_EQ (e.cache.nextId, 2u);
    quorvalen_engine_shutdown();
}

TEST (Lifecycle, OneExitHandlerShutsTheEngineDownHoweverOftenItStarted)
{
    // In a fresh process (the case runs again for the statement): five starts and
    // shutdowns, then a start left running at exit. Exit handlers run last
    // registered first: one registered before that start still sees the engine
    // running, so the start added none; one registered before the first start sees
    // it shut down. The engine object, built before both, outlives them.
    GTEST_FLAG_SET (death_test_style, "threadsafe");
    EXPECT_EXIT (
        {
            useHeadlessOnly();
            quorvalen_engine_is_ready();
            std::atexit ([] { std::fprintf (stderr, "first: ready=%d\n", quorvalen_engine_is_ready()); });
            for (int cycle = 0; cycle < 5; ++cycle)
                if (quorvalen_engine_init() != 0 || quorvalen_engine_shutdown() != 0)
                    std::_Exit (2);
            std::atexit ([] { std::fprintf (stderr, "last: ready=%d\n", quorvalen_engine_is_ready()); });
            std::exit (quorvalen_engine_init());
        },
        testing::ExitedWithCode (0), "last: ready=1\n.*first: ready=0\n");
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

namespace
{
// A fake device type for the fallback path: its one device opens, but reports
// active outputs only from the type's `workingFromOpen`-th open onwards.
class FakeDevice final : public juce::AudioIODevice
{
public:
    FakeDevice (const juce::String& typeName, int& opens, int workingFromOpen)
            : juce::AudioIODevice ("Fake Speakers", typeName), opens (opens), workingFromOpen (workingFromOpen)
    {}

    juce::StringArray getOutputChannelNames() override { return { "L", "R" }; }
    juce::StringArray getInputChannelNames() override { return {}; }
    juce::Array<double> getAvailableSampleRates() override { return { 44100.0 }; }
    juce::Array<int> getAvailableBufferSizes() override { return { 441, 1024 }; }
    int getDefaultBufferSize() override { return 441; }
    juce::String open (const juce::BigInteger&, const juce::BigInteger& outs, double, int size) override
    {
        working = ++opens >= workingFromOpen;
        outputs = working ? outs : juce::BigInteger();
        block = size > 0 ? size : 441;
        opened = true;
        return {};
    }
    void close() override { opened = false; }
    bool isOpen() override { return opened; }
    void start (juce::AudioIODeviceCallback*) override {}
    void stop() override {}
    bool isPlaying() override { return opened; }
    juce::String getLastError() override { return {}; }
    int getCurrentBufferSizeSamples() override { return block; }
    double getCurrentSampleRate() override { return 44100.0; }
    int getCurrentBitDepth() override { return 32; }
    juce::BigInteger getActiveOutputChannels() const override { return opened ? outputs : juce::BigInteger(); }
    juce::BigInteger getActiveInputChannels() const override { return {}; }
    int getOutputLatencyInSamples() override { return 0; }
    int getInputLatencyInSamples() override { return 0; }

private:
    int& opens;
    int workingFromOpen;
    bool working = false, opened = false;
    juce::BigInteger outputs;
    int block = 441;
};

class FakeType final : public juce::AudioIODeviceType
{
public:
    FakeType (const juce::String& name, bool hasDevice, int workingFromOpen)
            : juce::AudioIODeviceType (name), hasDevice (hasDevice), workingFromOpen (workingFromOpen)
    {}

    void scanForDevices() override {}
    juce::StringArray getDeviceNames (bool wantInputs) const override
    {
        return (wantInputs || ! hasDevice) ? juce::StringArray() : juce::StringArray ("Fake Speakers");
    }
    int getDefaultDeviceIndex (bool forInput) const override { return (forInput || ! hasDevice) ? -1 : 0; }
    int getIndexOfDevice (juce::AudioIODevice* d, bool asInput) const override
    {
        return (d != nullptr && ! asInput && hasDevice) ? 0 : -1;
    }
    bool hasSeparateInputsAndOutputs() const override { return true; }
    juce::AudioIODevice* createDevice (const juce::String& out, const juce::String&) override
    {
        return (hasDevice && (out.isEmpty() || out == "Fake Speakers"))
            ? new FakeDevice (getTypeName(), opens, workingFromOpen)
            : nullptr;
    }

private:
    bool hasDevice;
    int workingFromOpen;
    int opens = 0;
};

// Our own lines only: the audio library's MIDI set-up may add ALSA notes to stderr.
std::string engineLines (const std::string& text)
{
    std::string out;
    std::size_t start = 0;
    while (start < text.size())
    {
        auto end = text.find ('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        if (text.compare (start, 14, "[ENGINE INIT] ") == 0)
            out += text.substr (start, end - start);
        start = end;
    }
    return out;
}

struct FakeTypeSpec
{
    const char* name;
    bool hasDevice;
    int workingFromOpen;
};

class FakeManager final : public juce::AudioDeviceManager
{
public:
    explicit FakeManager (std::vector<FakeTypeSpec> s) : specs (std::move (s)) {}
    void createAudioDeviceTypes (juce::OwnedArray<juce::AudioIODeviceType>& types) override
    {
        for (const auto& s : specs)
            types.add (new FakeType (s.name, s.hasDevice, s.workingFromOpen));
    }

private:
    std::vector<FakeTypeSpec> specs;
};
} // namespace

TEST (Lifecycle, FallbackTriesTheDeviceTypesInOrderAndLogsEachAttempt)
{
    auto initialiser = quorvalen::platform::makeJuceInitialiser();
    {
        // No type ever yields an active output: every attempt is logged, the last
        // error comes back and no device stays open.
        FakeManager manager ({ { "Windows Audio", false, 0 }, { "DirectSound", true, 1000 } });
        StderrCapture log;
        EXPECT_EQ (quorvalen::startOutputDevice (manager), "No active output device was opened");
        EXPECT_EQ (engineLines (log.finish()),
                   "[ENGINE INIT] output startup v2\n"
                   "[ENGINE INIT] default backend=\"DirectSound\" output=\"Fake Speakers\" rate=44100 buffer=441 "
                   "result=\"No active output device was opened\"\n"
                   "[ENGINE INIT] backend=\"Windows Audio\" has no default output\n"
                   "[ENGINE INIT] retry backend=\"DirectSound\" default_output=\"Fake Speakers\" requested_buffer=0\n"
                   "[ENGINE INIT] retry backend=\"DirectSound\" output=\"Fake Speakers\" rate=44100 buffer=441 "
                   "result=\"No active output device was opened\"\n");
        EXPECT_EQ (manager.getCurrentAudioDevice(), nullptr);
    }
    {
        // The first retry asks for a 1024-frame buffer and its device works.
        FakeManager manager ({ { "Windows Audio", true, 2 }, { "DirectSound", true, 1 } });
        StderrCapture log;
        EXPECT_EQ (quorvalen::startOutputDevice (manager), "");
        const auto text = engineLines (log.finish());
        EXPECT_NE (text.find ("[ENGINE INIT] retry backend=\"Windows Audio\" default_output=\"Fake Speakers\" "
                              "requested_buffer=1024\n"
                              "[ENGINE INIT] retry backend=\"Windows Audio\" output=\"Fake Speakers\" rate=44100 "
                              "buffer=1024 result=\"\"\n"),
                   std::string::npos)
            << text;
        EXPECT_EQ (text.find ("DirectSound"), std::string::npos) << text;
        ASSERT_NE (manager.getCurrentAudioDevice(), nullptr);
        EXPECT_TRUE (manager.getCurrentAudioDevice()->isOpen());
        manager.closeAudioDevice();
    }
}
