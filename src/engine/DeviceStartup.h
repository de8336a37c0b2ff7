#pragma once
#include <juce_audio_devices/juce_audio_devices.h>

namespace quorvalen
{

// Opens an output device (0 inputs, 2 outputs): the default device first, then a
// fixed order of device types. Returns the error text, empty on success.
juce::String startOutputDevice (juce::AudioDeviceManager& manager);

void logEngineInitResult (juce::AudioDeviceManager& manager, const char* label, const juce::String& error);

} // namespace quorvalen
