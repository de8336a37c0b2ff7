#include "engine/StandaloneUtilities.h"

#include "chain/EngineMemorySource.h"
#include "io/AudioDecode.h"
#include "io/AudioIntake.h"
#include "platform/DeviceManagerFactory.h"
#include "platform/JuceInitialiser.h"
#include "playback/PlaybackTransport.h"

#include <chrono>
#include <cmath>
#include <thread>

namespace quorvalen
{
namespace
{
class QuorvalenTestTone final : public juce::AudioIODeviceCallback
{
public:
    void audioDeviceIOCallbackWithContext (const float* const*, int, float* const* outputs, int numOutputs,
                                           int numSamples, const juce::AudioIODeviceCallbackContext&) override
    {
        if (sampleRate <= 0.0 || numSamples < 1)
        {
            // Never leave the device's buffer unwritten.
            for (int ch = 0; ch < numOutputs; ++ch)
                if (outputs[ch] != nullptr && numSamples > 0)
                    juce::FloatVectorOperations::clear (outputs[ch], numSamples);
            return;
        }
        constexpr double twoPi = 6.283185307179586;
        const double increment = 2764.601535159018 / sampleRate;
        for (int i = 0; i < numSamples; ++i)
        {
            const auto s = (float) (0.1 * std::sin (phase));
            phase += increment;
            if (phase > twoPi)
                phase -= twoPi;
            for (int ch = 0; ch < numOutputs; ++ch)
                if (outputs[ch] != nullptr)
                    outputs[ch][i] = s;
        }
    }

    void audioDeviceAboutToStart (juce::AudioIODevice* device) override
    {
        if (device != nullptr)
            sampleRate = device->getCurrentSampleRate();
        phase = 0.0;
    }

    void audioDeviceStopped() override {}
    void audioDeviceError (const juce::String&) override {}

private:
    double sampleRate = 44100.0;
    double phase = 0.0;
};

// Opens the default output (0 inputs, 2 outputs); null when none opened.
std::unique_ptr<juce::AudioDeviceManager> openDefaultOutput()
{
    auto manager = platform::createDeviceManager();
    if (platform::checkOpenedOutput (*manager, manager->initialiseWithDefaultDevices (0, 2)).isNotEmpty())
        return nullptr;
    return manager;
}
} // namespace

void applyGain (float* samples, int count, float gain)
{
    if (samples == nullptr || count < 1)
        return;
    juce::FloatVectorOperations::multiply (samples, gain, count);
}

int playWavBlocking (const char* path)
{
    if (path == nullptr)
        return 1;
    auto initialiser = platform::makeJuceInitialiser();

    const juce::File file (juce::String::fromUTF8 (path));
    if (! file.existsAsFile())
        return 2;
    // Same decode road as the engine's intakes; a bad shape, a failed read and an
    // implausible rate all answer 4.
    auto decoded = io::decodeAudioFile (file);
    if (decoded.stage == io::DecodedAudio::Stage::notAudio)
        return 3;
    if (decoded.stage != io::DecodedAudio::Stage::ok)
        return 4;
    auto buffer = std::move (decoded.buffer);
    const double rate = decoded.sampleRate;

    auto manager = openDefaultOutput();
    if (manager == nullptr)
        return 5;

    juce::AudioSourcePlayer player;
    PlaybackTransport transport;
    EngineMemorySource source (*buffer, false);
    transport.setSourceChannels (buffer->getNumChannels());
    transport.setSource (&source, 0, nullptr, rate, 2);
    player.setSource (&transport);
    manager->addAudioCallback (&player);
    transport.setPosition (0.0);
    transport.start();

    // Give up when the device stops pulling: never wait forever.
    const auto lengthSeconds = rate > 0.0 ? buffer->getNumSamples() / rate : 0.0;
    const auto deadline = std::chrono::steady_clock::now()
        + std::chrono::duration_cast<std::chrono::steady_clock::duration> (
                              std::chrono::duration<double> (lengthSeconds + 2.0));
    bool finished = true;
    while (transport.isPlaying())
    {
        if (std::chrono::steady_clock::now() > deadline)
        {
            finished = false;
            break;
        }
        std::this_thread::sleep_for (std::chrono::milliseconds (10));
    }

    transport.stop();
    transport.setSource (nullptr);
    manager->removeAudioCallback (&player);
    player.setSource (nullptr);
    manager->closeAudioDevice();
    return finished ? 0 : 5;
}

int playTestTone()
{
    auto initialiser = platform::makeJuceInitialiser();
    auto manager = openDefaultOutput();
    if (manager == nullptr)
        return 1;

    QuorvalenTestTone tone;
    manager->addAudioCallback (&tone);
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < std::chrono::nanoseconds (500000000))
        std::this_thread::sleep_for (std::chrono::milliseconds (10));
    manager->removeAudioCallback (&tone);
    manager->closeAudioDevice();
    return 0;
}

} // namespace quorvalen
