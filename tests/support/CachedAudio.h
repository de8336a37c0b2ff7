#pragma once
// Puts test audio into the engine's cache and reads cached entries back, both
// through the exported interface as a host would.
#include <juce_audio_basics/juce_audio_basics.h>

#include <string>

namespace qvtest
{

// Caches `audio` exactly (a 32-bit float WAV through the memory intake); the id or
// the intake's negative code.
int cacheAudio (const juce::AudioBuffer<float>& audio, double rate);

// Exports an entry as the host does (24-bit WAV) and decodes it again. Empty when
// the export failed.
juce::AudioBuffer<float> exportedEntry (int id, double* rate = nullptr);

} // namespace qvtest
