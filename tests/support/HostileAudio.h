#pragma once
// Audio files as an attacker or a careless recorder writes them, built byte by byte:
// the regression cases of the intakes and the fuzzers' seed corpora.
#include <juce_core/juce_core.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qvtest
{

using Bytes = std::vector<std::uint8_t>;

struct Chunk
{
    std::string id;
    Bytes body;
    std::int64_t claimedSize = -1; // the size field written; -1 for the body's size
};

// RIFF/RF64 "WAVE" (little-endian sizes) or FORM "AIFF"/"AIFC" (big-endian), chunks padded to even.
Bytes riffWave (const std::vector<Chunk>& chunks, const char* magic = "RIFF");
Bytes formAiff (const std::vector<Chunk>& chunks, const char* type = "AIFF");

Chunk fmtChunk (int channels, std::uint32_t rate, int bits, int tag = 1);
Chunk extensibleFmtChunk (int channels, std::uint32_t rate, int bits, bool isFloat);
Chunk commChunk (int channels, std::uint32_t frames, int bits, double rate, const char* compression = nullptr);
Chunk ssndChunk (const Bytes& audio);
// A ramp of `frames` frames: little-endian (WAV) or big-endian (AIFF) integers, or floats.
Bytes pcmFrames (int frames, int channels, int bits, bool bigEndian = false, bool isFloat = false);

// A 32-bit float WAV of the interleaved samples exactly as given, NaN and infinity included.
Bytes floatWav (const std::vector<float>& interleaved, int channels, std::uint32_t rate);

// Encoded with the audio library's own writers.
Bytes flacFile (int frames, double rate, int channels = 1);
Bytes oggFile (int frames, double rate, int channels = 2);

struct NamedBytes
{
    std::string name;
    Bytes bytes;
};

// Every supported shape: PCM 8/16/24/32, float, extensible, AIFF/AIFC, RF64, FLAC, Ogg.
std::vector<NamedBytes> wellFormedFiles();

// The hostile cases, each with what the memory intake must answer: the number of
// frames it keeps, or the intake's refusal code (negative).
struct HostileCase
{
    std::string name;
    Bytes bytes;
    int expected;
};
std::vector<HostileCase> hostileFiles();

bool writeBytes (const std::string& path, const Bytes& bytes);

} // namespace qvtest
