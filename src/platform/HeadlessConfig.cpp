#include "platform/HeadlessConfig.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

namespace quorvalen::platform
{
namespace
{
std::mutex settingsMutex;
HeadlessSettings settings;
std::atomic<bool> platformTypesOn { true };

struct CaptureState
{
    std::mutex hostMutex; // serialises start and stop; never taken by the audio thread
    std::atomic<bool> active { false };
    std::atomic<int> writers { 0 };
    std::atomic<std::size_t> frames { 0 };
    std::atomic<double> rate { 0.0 };
    std::vector<float> left, right;
};

CaptureState& capture()
{
    static CaptureState state;
    return state;
}
} // namespace

void setHeadlessSettings (const HeadlessSettings& s)
{
    std::lock_guard lock (settingsMutex);
    settings = s;
}

HeadlessSettings headlessSettings()
{
    std::lock_guard lock (settingsMutex);
    return settings;
}

void setPlatformDeviceTypesEnabled (bool enabled)
{
    platformTypesOn.store (enabled);
}
bool platformDeviceTypesEnabled()
{
    return platformTypesOn.load();
}

void startCapture (std::size_t maxFrames)
{
    auto& c = capture();
    std::lock_guard lock (c.hostMutex);
    c.active.store (false);
    while (c.writers.load() != 0)
        std::this_thread::yield();
    c.left.assign (maxFrames, 0.0f);
    c.right.assign (maxFrames, 0.0f);
    c.frames.store (0);
    c.rate.store (0.0);
    c.active.store (true);
}

CapturedAudio stopCapture()
{
    auto& c = capture();
    std::lock_guard lock (c.hostMutex);
    c.active.store (false);
    while (c.writers.load() != 0)
        std::this_thread::yield();
    CapturedAudio out;
    const auto n = std::min (c.frames.load(), c.left.size());
    out.left.assign (c.left.begin(), c.left.begin() + (std::ptrdiff_t) n);
    out.right.assign (c.right.begin(), c.right.begin() + (std::ptrdiff_t) n);
    out.sampleRate = c.rate.load();
    c.left.clear();
    c.right.clear();
    c.frames.store (0);
    return out;
}

std::size_t capturedFrames()
{
    return capture().frames.load();
}

void captureBlock (const float* const* channels, int numChannels, int numSamples, double sampleRate) noexcept
{
    auto& c = capture();
    if (! c.active.load (std::memory_order_acquire) || numSamples < 1 || numChannels < 1)
        return;
    c.writers.fetch_add (1, std::memory_order_acq_rel);
    if (c.active.load (std::memory_order_acquire))
    {
        const auto start = c.frames.load (std::memory_order_relaxed);
        const auto n = std::min ((std::size_t) numSamples, c.left.size() - std::min (start, c.left.size()));
        const float* l = channels[0];
        const float* r = numChannels > 1 ? channels[1] : channels[0];
        for (std::size_t i = 0; i < n; ++i)
        {
            c.left[start + i] = l != nullptr ? l[i] : 0.0f;
            c.right[start + i] = r != nullptr ? r[i] : 0.0f;
        }
        c.rate.store (sampleRate, std::memory_order_relaxed);
        c.frames.store (start + n, std::memory_order_release);
    }
    c.writers.fetch_sub (1, std::memory_order_acq_rel);
}

} // namespace quorvalen::platform
