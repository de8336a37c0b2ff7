#pragma once
// An output device without hardware: a worker thread pulls the audio callback once
// per block in real time, so the whole playback chain runs on machines with no
// sound card.
#include <juce_audio_devices/juce_audio_devices.h>

namespace quorvalen::platform
{

inline constexpr const char* headlessTypeName = "Headless Output";

juce::AudioIODeviceType* createHeadlessDeviceType();

} // namespace quorvalen::platform
