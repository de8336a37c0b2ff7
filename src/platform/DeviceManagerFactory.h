#pragma once
// Every device manager the library creates comes from here, so the engine and the
// standalone utilities see the same device types: the platform's own first, the
// headless output last.
#include <juce_audio_devices/juce_audio_devices.h>

#include <memory>

namespace quorvalen::platform
{

std::unique_ptr<juce::AudioDeviceManager> createDeviceManager();

// The opened-device test: the audio library reported no error, a current device
// exists, it is open and has at least one active output. Returns the error text to
// report (empty when a device is open).
juce::String checkOpenedOutput (juce::AudioDeviceManager& manager, const juce::String& reportedError);

} // namespace quorvalen::platform
