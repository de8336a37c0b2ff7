#pragma once
// Signals and files for tests.
#include <juce_audio_formats/juce_audio_formats.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qvtest
{

juce::AudioBuffer<float> sine (double frequency, double rate, int samples, float amplitude = 0.5f, int channels = 2);

// White noise from the shared source (TestNoise.h), channel after channel from one seed.
juce::AudioBuffer<float> noiseBuffer (int samples, std::uint64_t seed, float amplitude = 0.5f, int channels = 2);
// Noise falling by e every `decaySamples`: a stand-in room response.
juce::AudioBuffer<float> decayingNoise (int samples, std::uint64_t seed, float decaySamples, int channels = 2);

// Writes a WAV file (16, 24 or 32-bit integer) and returns its path.
std::string writeWav (const std::string& path, const juce::AudioBuffer<float>& audio, double rate, int bits = 24);
juce::MemoryBlock wavBytes (const juce::AudioBuffer<float>& audio, double rate, int bits = 24);

// Decodes a file with the audio library's basic formats.
juce::AudioBuffer<float> readAudio (const std::string& path, double* rate = nullptr);

// A fresh empty folder for one test.
std::string tempDir();

// Frequency of the strongest spectral peak of `x` (Hann window, parabolic interpolation).
double dominantFrequency (const float* x, int n, double rate);
float peakAbs (const float* x, int n);
float rms (const float* x, int n);
bool allFinite (const juce::AudioBuffer<float>& b);

// Every playback passes the audition character's soft ceiling,
// tanh(1.035 x) / tanh(1.035): what a sample x sounds as, and back.
float throughCharacterCeiling (float x);
float beforeCharacterCeiling (float y);

} // namespace qvtest
