// The rack's audio path allocates, frees and blocks on nothing. This executable
// replaces the global allocation functions and the mutex lock, counting only calls
// made inside the wrapped audio callback.
#include "HeapWatch.h"
#include "TestNoise.h"
#include "rack/QuorvalenProcessingRackSource.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <pthread.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <new>
#include <string>
#include <thread>

namespace
{
std::atomic<long> audioLocks { 0 };
} // namespace

// A blocking lock on the audio thread would show here; try-locks are allowed.
extern "C" int pthread_mutex_lock (pthread_mutex_t* mutex)
{
    using Lock = int (*) (pthread_mutex_t*);
    static const Lock next = reinterpret_cast<Lock> (dlsym (RTLD_NEXT, "pthread_mutex_lock"));
    if (qvtest::heap::watching)
        ++audioLocks;
    return next (mutex);
}

using namespace quorvalen;

namespace
{
class NoiseSource final : public juce::AudioSource
{
public:
    void prepareToPlay (int, double) override {}
    void releaseResources() override {}
    void getNextAudioBlock (const juce::AudioSourceChannelInfo& info) override
    {
        for (int c = 0; c < info.buffer->getNumChannels(); ++c)
            for (int i = 0; i < info.numSamples; ++i)
                info.buffer->setSample (c, info.startSample + i, 0.5f * noise.next());
    }

private:
    qvtest::NoiseStream noise { 7 };
};

// The device side of the stage: what the audio thread runs each block.
void audioCallback (QuorvalenProcessingRackSource& rack, juce::AudioBuffer<float>& buffer)
{
    qvtest::heap::watching = true;
    rack.getNextAudioBlock (juce::AudioSourceChannelInfo (buffer));
    qvtest::heap::watching = false;
}

std::string lane (int points)
{
    std::string s = "[";
    for (int i = 0; i < points; ++i)
        s += (i ? "," : "") + std::string ("{\"x\":") + std::to_string (i / (double) points)
            + ",\"y\":" + std::to_string (0.5 + 0.5 * std::sin (i)) + "}";
    return s + "]";
}

std::string documentWithEverything (bool mono)
{
    std::string lanes = "{";
    for (const char* key : { "heatDrive", "heatMix", "spaceSize", "spaceWet", "filterFreq", "stereoCrossover",
                             "freqShift", "spectralDelayTime", "filterCepsAmount" })
        lanes += std::string (lanes.size() > 1 ? "," : "") + "\"" + key + "\":" + lane (64);
    lanes += "}";
    const std::string modules =
        std::string ("\"heatEnabled\": true, \"deEssEnabled\": true, \"transientEnabled\": true, "
                     "\"freqShiftEnabled\": true, \"spectralDelayEnabled\": true, "
                     "\"spaceEnabled\": true, \"stereoEnabled\": true, \"stereoMono\": ")
        + (mono ? "true" : "false");
    return "{" + modules + ", \"automation\": " + lanes + "}";
}
} // namespace

TEST (RackAudioThread, BlocksAllocateFreeAndLockNothingWhileRecordsChange)
{
    NoiseSource noise;
    QuorvalenProcessingRackSource rack (&noise);
    rack.prepareToPlay (512, 48000.0);
    ASSERT_TRUE (updateSettings (rack, documentWithEverything (true).c_str()));
    rack.prepareRackPlayback (48000, true, 0, false);
    rack.setProcessingEnabled (true);

    const std::string documents[] = {
        documentWithEverything (false),
        documentWithEverything (true),
        "{\"rackModules\": [{\"effect\": \"stereo\", \"settings\": {\"stereoMono\": true}},"
        " {\"effect\": \"filter\", \"settings\": {}}, {\"effect\": \"deess\", \"settings\": "
            + documentWithEverything (true)
            + "},"
              " {\"effect\": \"space\", \"settings\": {\"spaceEnabled\": true}}]}",
    };

    // The host publishes new records (and drops old ones) while blocks run; the
    // audio thread must never be the one that frees a record.
    std::atomic<bool> stop { false };
    std::thread host ([&] {
        for (int i = 0; ! stop.load(); ++i)
        {
            updateSettings (rack, documents[i % 3].c_str());
            std::this_thread::yield();
        }
    });

    juce::AudioBuffer<float> buffer (2, 1024); // larger than maxBlock: exercises the split
    juce::AudioBuffer<float> small (2, 100);
    for (int block = 0; block < 3000; ++block)
        audioCallback (rack, block % 5 == 0 ? small : buffer);
    stop = true;
    host.join();

    EXPECT_EQ (qvtest::heap::allocations.load(), 0);
    EXPECT_EQ (qvtest::heap::frees.load(), 0);
    EXPECT_EQ (audioLocks.load(), 0);

    // The counters do see the audio thread: a deliberate allocation and lock count.
    std::mutex probe;
    qvtest::heap::watching = true;
    qvtest::heap::touchHeapOnce();
    probe.lock();
    probe.unlock();
    qvtest::heap::watching = false;
    EXPECT_EQ (qvtest::heap::allocations.load(), 1);
    EXPECT_EQ (audioLocks.load(), 1);
}
