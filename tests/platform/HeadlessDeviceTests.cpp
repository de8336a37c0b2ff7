#include "EngineTestSupport.h"

#include "platform/DeviceManagerFactory.h"
#include "platform/HeadlessConfig.h"
#include "platform/JuceInitialiser.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using namespace qvtest;
namespace qp = quorvalen::platform;

namespace
{
struct CountingCallback final : juce::AudioIODeviceCallback
{
    void audioDeviceIOCallbackWithContext (const float* const*, int, float* const* out, int numOut, int n,
                                           const juce::AudioIODeviceCallbackContext&) override
    {
        for (int ch = 0; ch < numOut; ++ch)
            for (int i = 0; i < n; ++i)
                out[ch][i] = (float) (frames + i) * (ch == 0 ? 1e-6f : -1e-6f);
        frames += n;
        channels = numOut;
    }
    void audioDeviceAboutToStart (juce::AudioIODevice* d) override { started = d->getCurrentSampleRate(); }
    void audioDeviceStopped() override { stopped = true; }

    std::atomic<long> frames { 0 };
    std::atomic<int> channels { 0 };
    std::atomic<double> started { 0.0 };
    std::atomic<bool> stopped { false };
};
} // namespace

TEST (HeadlessDevice, DeliversFramesInRealTimeAndCapturesThem)
{
    useHeadlessOnly (1, 48000.0, 256, 256);
    auto init = qp::makeJuceInitialiser();
    auto manager = qp::createDeviceManager();
    ASSERT_EQ (qp::checkOpenedOutput (*manager, manager->initialiseWithDefaultDevices (0, 2)), "");
    auto* device = manager->getCurrentAudioDevice();
    EXPECT_EQ (device->getOutputLatencyInSamples(), 256);
    EXPECT_EQ (device->getCurrentBufferSizeSamples(), 256);
    EXPECT_EQ (device->getActiveOutputChannels().countNumberOfSetBits(), 2);

    CountingCallback cb;
    const auto t0 = std::chrono::steady_clock::now();
    manager->addAudioCallback (&cb);
    // Capture starts once the callback delivers: blocks played before it was attached
    // are silence, not its ramp.
    ASSERT_TRUE (waitFor ([&] { return cb.frames.load() > 0; }, std::chrono::seconds (10)));
    qp::startCapture (48000);
    ASSERT_TRUE (waitFor ([] { return qp::capturedFrames() >= 1024; }, std::chrono::seconds (10)));
    std::this_thread::sleep_for (std::chrono::milliseconds (300));
    const long frames = cb.frames;
    const double elapsed = std::chrono::duration<double> (std::chrono::steady_clock::now() - t0).count();
    manager->removeAudioCallback (&cb);
    const auto captured = qp::stopCapture();

    EXPECT_EQ (cb.started.load(), 48000.0);
    EXPECT_TRUE (cb.stopped.load());
    EXPECT_EQ (cb.channels.load(), 2);
    // Real time: about one block per period, never a burst far ahead of the clock.
    EXPECT_LE (frames, (long) (elapsed * 48000.0) + 2 * 256);
    EXPECT_GE (frames, (long) (0.15 * 48000.0));
    ASSERT_GE (captured.left.size(), 1024u);
    EXPECT_EQ (captured.sampleRate, 48000.0);
    for (size_t i = 1; i < 1024; ++i)
    {
        ASSERT_NEAR (captured.left[i] - captured.left[i - 1], 1e-6f, 1e-9f);
        ASSERT_FLOAT_EQ (captured.right[i], -captured.left[i]);
    }
    manager->closeAudioDevice();
}

TEST (HeadlessDevice, ZeroDevicesOpensNothing)
{
    useHeadlessOnly (0);
    auto init = qp::makeJuceInitialiser();
    auto manager = qp::createDeviceManager();
    EXPECT_EQ (qp::checkOpenedOutput (*manager, manager->initialiseWithDefaultDevices (0, 2)),
               "No active output device was opened");
}
