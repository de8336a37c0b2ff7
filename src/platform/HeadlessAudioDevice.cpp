#include "platform/HeadlessAudioDevice.h"

#include "platform/HeadlessConfig.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace quorvalen::platform
{
namespace
{

class HeadlessAudioDevice final : public juce::AudioIODevice
{
public:
    HeadlessAudioDevice (const juce::String& name, const HeadlessSettings& s)
            : juce::AudioIODevice (name, headlessTypeName), settings (s)
    {
        currentRate = settings.sampleRate;
        currentBlock = settings.blockSize;
    }

    ~HeadlessAudioDevice() override { close(); }

    juce::StringArray getOutputChannelNames() override { return { "Left", "Right" }; }
    juce::StringArray getInputChannelNames() override { return {}; }

    juce::Array<double> getAvailableSampleRates() override
    {
        juce::Array<double> rates { 44100.0, 48000.0, 96000.0 };
        rates.addIfNotAlreadyThere (settings.sampleRate);
        return rates;
    }

    juce::Array<int> getAvailableBufferSizes() override
    {
        juce::Array<int> sizes { 128, 256, 512, 1024, 2048 };
        sizes.addIfNotAlreadyThere (settings.blockSize);
        sizes.sort();
        return sizes;
    }

    int getDefaultBufferSize() override { return settings.blockSize; }

    juce::String open (const juce::BigInteger&, const juce::BigInteger& outputChannels, double sampleRate,
                       int bufferSize) override
    {
        close();
        currentRate = sampleRate > 0.0 ? sampleRate : settings.sampleRate;
        currentBlock = bufferSize > 0 ? bufferSize : settings.blockSize;
        activeOutputs = outputChannels;
        activeOutputs.setRange (2, activeOutputs.getHighestBit() + 1, false);
        opened = true;
        return {};
    }

    void close() override
    {
        stop();
        opened = false;
    }

    bool isOpen() override { return opened; }

    void start (juce::AudioIODeviceCallback* newCallback) override
    {
        if (! opened || newCallback == nullptr)
            return;
        stop();
        newCallback->audioDeviceAboutToStart (this);
        callback = newCallback;
        running = true;
        worker = std::thread ([this] { run(); });
    }

    void stop() override
    {
        if (! running)
            return;
        {
            std::lock_guard lock (wakeMutex);
            running = false;
        }
        wake.notify_all();
        if (worker.joinable())
            worker.join();
        if (auto* cb = std::exchange (callback, nullptr))
            cb->audioDeviceStopped();
    }

    bool isPlaying() override { return running; }
    juce::String getLastError() override { return {}; }
    int getCurrentBufferSizeSamples() override { return currentBlock; }
    double getCurrentSampleRate() override { return currentRate; }
    int getCurrentBitDepth() override { return 32; }
    juce::BigInteger getActiveOutputChannels() const override { return opened ? activeOutputs : juce::BigInteger(); }
    juce::BigInteger getActiveInputChannels() const override { return {}; }
    int getOutputLatencyInSamples() override { return settings.outputLatency; }
    int getInputLatencyInSamples() override { return 0; }

private:
    void run()
    {
        using clock = std::chrono::steady_clock;
        const int block = currentBlock;
        std::vector<float> left ((size_t) block), right ((size_t) block);
        float* outputs[2] = { left.data(), right.data() };
        const auto period =
            std::chrono::duration_cast<clock::duration> (std::chrono::duration<double> (block / currentRate));
        auto deadline = clock::now();

        std::unique_lock lock (wakeMutex);
        while (running)
        {
            lock.unlock();
            std::fill (left.begin(), left.end(), 0.0f);
            std::fill (right.begin(), right.end(), 0.0f);
            float* active[2] = { activeOutputs[0] ? outputs[0] : nullptr, activeOutputs[1] ? outputs[1] : nullptr };
            float* packed[2] {};
            int numOut = 0;
            for (auto* ch : active)
                if (ch != nullptr)
                    packed[numOut++] = ch;
            callback->audioDeviceIOCallbackWithContext (nullptr, 0, packed, numOut, block, {});
            captureBlock (outputs, 2, block, currentRate);

            deadline += period;
            const auto now = clock::now();
            if (now > deadline + 4 * period)
                deadline = now; // far behind: resynchronise instead of bursting
            lock.lock();
            wake.wait_until (lock, deadline, [this] { return ! running; });
        }
    }

    HeadlessSettings settings;
    double currentRate;
    int currentBlock;
    juce::BigInteger activeOutputs;
    bool opened = false;
    std::atomic<bool> running { false };
    juce::AudioIODeviceCallback* callback = nullptr;
    std::thread worker;
    std::mutex wakeMutex;
    std::condition_variable wake;
};

class HeadlessDeviceType final : public juce::AudioIODeviceType
{
public:
    HeadlessDeviceType() : juce::AudioIODeviceType (headlessTypeName) {}

    void scanForDevices() override
    {
        settings = headlessSettings();
        names.clear();
        for (int i = 0; i < settings.deviceCount; ++i)
            names.add (i == 0 ? juce::String ("Headless Output Device")
                              : "Headless Output Device " + juce::String (i + 1));
    }

    juce::StringArray getDeviceNames (bool wantInputNames) const override
    {
        return wantInputNames ? juce::StringArray() : names;
    }

    int getDefaultDeviceIndex (bool forInput) const override { return (forInput || names.isEmpty()) ? -1 : 0; }

    int getIndexOfDevice (juce::AudioIODevice* device, bool asInput) const override
    {
        return (device == nullptr || asInput) ? -1 : names.indexOf (device->getName());
    }

    bool hasSeparateInputsAndOutputs() const override { return true; }

    juce::AudioIODevice* createDevice (const juce::String& outputName, const juce::String&) override
    {
        const int index = outputName.isEmpty() ? getDefaultDeviceIndex (false) : names.indexOf (outputName);
        if (index < 0)
            return nullptr;
        return new HeadlessAudioDevice (names[index], settings);
    }

private:
    HeadlessSettings settings;
    juce::StringArray names;
};

} // namespace

juce::AudioIODeviceType* createHeadlessDeviceType()
{
    return new HeadlessDeviceType();
}

} // namespace quorvalen::platform
