#pragma once
// Process-wide settings of the headless output device and a capture of what it
// played. Internal to the library (tests and tools drive them); never exported.
#include <cstddef>
#include <vector>

namespace quorvalen::platform
{

struct HeadlessSettings
{
    int deviceCount = 1; // 0 behaves like a machine without any output
    double sampleRate = 48000.0;
    int blockSize = 512;
    int outputLatency = 512; // samples
};

void setHeadlessSettings (const HeadlessSettings& settings);
HeadlessSettings headlessSettings();

// When off, device managers offer only the headless type (deterministic tests on
// machines whose sound system lists devices that play nowhere).
void setPlatformDeviceTypesEnabled (bool enabled);
bool platformDeviceTypesEnabled();

struct CapturedAudio
{
    std::vector<float> left, right;
    double sampleRate = 0.0;
};

// Starts recording up to maxFrames of headless output (the storage is allocated
// here, never on the audio thread); stopCapture hands back what was recorded.
void startCapture (std::size_t maxFrames);
CapturedAudio stopCapture();
std::size_t capturedFrames();

// Called by the headless device after each callback.
void captureBlock (const float* const* channels, int numChannels, int numSamples, double sampleRate) noexcept;

} // namespace quorvalen::platform
