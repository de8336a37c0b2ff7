#pragma once
// The one test fixture with the engine started on one headless device (48 kHz, 512-frame
// blocks), sounds cached through the public interface and the output recorded.
#include "CachedAudio.h"
#include "EngineTestSupport.h"
#include "TestAudio.h"

#include <gtest/gtest.h>
#include <quorvalen_dsp.h>

#include <chrono>
#include <functional>
#include <thread>

namespace qvtest
{

class HeadlessEngineTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        useHeadlessOnly (1, 48000.0, 512, 512);
        ASSERT_EQ (quorvalen_engine_init(), 0);
    }
    void TearDown() override { quorvalen_engine_shutdown(); }

    // Caches `audio` exactly through the memory intake; the id or the intake's code.
    static int cache (const juce::AudioBuffer<float>& audio, double rate = 48000.0) { return cacheAudio (audio, rate); }

    // Runs `start`, then records the device output for `duration`.
    static quorvalen::platform::CapturedAudio record (
        std::chrono::milliseconds duration, const std::function<void()>& start = [] {})
    {
        quorvalen::platform::startCapture (48000 * 8);
        start();
        std::this_thread::sleep_for (duration);
        return quorvalen::platform::stopCapture();
    }

    // Records until `frames` frames were captured (or 10 s passed): robust under load.
    static quorvalen::platform::CapturedAudio recordFrames (
        std::size_t frames, const std::function<void()>& start = [] {})
    {
        quorvalen::platform::startCapture (frames + 48000);
        start();
        waitFor ([&] { return quorvalen::platform::capturedFrames() >= frames; }, std::chrono::seconds (10));
        return quorvalen::platform::stopCapture();
    }
};

} // namespace qvtest
