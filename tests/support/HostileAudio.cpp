#include "HostileAudio.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <cmath>
#include <cstring>

namespace qvtest
{
namespace
{
void put16 (Bytes& b, std::uint32_t v, bool big)
{
    if (big)
        b.insert (b.end(), { (std::uint8_t) (v >> 8), (std::uint8_t) v });
    else
        b.insert (b.end(), { (std::uint8_t) v, (std::uint8_t) (v >> 8) });
}

void put32 (Bytes& b, std::uint32_t v, bool big)
{
    if (big)
        b.insert (b.end(),
                  { (std::uint8_t) (v >> 24), (std::uint8_t) (v >> 16), (std::uint8_t) (v >> 8), (std::uint8_t) v });
    else
        b.insert (b.end(),
                  { (std::uint8_t) v, (std::uint8_t) (v >> 8), (std::uint8_t) (v >> 16), (std::uint8_t) (v >> 24) });
}

void putId (Bytes& b, const std::string& id)
{
    b.insert (b.end(), id.begin(), id.begin() + 4);
}

Bytes container (const std::vector<Chunk>& chunks, const char* magic, const char* type, bool big)
{
    Bytes body;
    putId (body, type);
    for (const auto& c : chunks)
    {
        putId (body, c.id);
        put32 (body, c.claimedSize >= 0 ? (std::uint32_t) c.claimedSize : (std::uint32_t) c.body.size(), big);
        body.insert (body.end(), c.body.begin(), c.body.end());
        if (c.body.size() % 2 != 0)
            body.push_back (0);
    }
    Bytes out;
    putId (out, magic);
    put32 (out, std::strcmp (magic, "RF64") == 0 ? 0xffffffffu : (std::uint32_t) body.size(), big);
    out.insert (out.end(), body.begin(), body.end());
    return out;
}

Bytes encode (juce::AudioFormat& format, int frames, double rate, int channels, int bits, int quality)
{
    juce::AudioBuffer<float> audio (channels, frames);
    for (int ch = 0; ch < channels; ++ch)
        for (int i = 0; i < frames; ++i)
            audio.setSample (ch, i, 0.5f * (float) std::sin (0.05 * i + ch));
    juce::MemoryBlock block;
    auto* stream = new juce::MemoryOutputStream (block, false);
    std::unique_ptr<juce::AudioFormatWriter> writer (
        format.createWriterFor (stream, rate, (unsigned) channels, bits, {}, quality));
    if (writer == nullptr)
    {
        delete stream;
        return {};
    }
    writer->writeFromAudioSampleBuffer (audio, 0, frames);
    writer.reset();
    const auto* p = static_cast<const std::uint8_t*> (block.getData());
    return Bytes (p, p + block.getSize());
}

// A FLAC of 3000 frames whose stream info claims another rate or frame count (0: keep).
Bytes patchedFlac (std::uint32_t rate, std::uint64_t frames)
{
    auto flac = flacFile (3000, 44100.0);
    if (flac.size() < 26)
        return flac;
    std::uint64_t field = 0; // rate (20 bits), channels, bits, frame count (36 bits)
    for (int k = 0; k < 8; ++k)
        field = (field << 8) | flac[18 + (size_t) k];
    if (rate != 0)
        field = (field & ((1ull << 44) - 1)) | ((std::uint64_t) rate << 44);
    if (frames != 0)
        field = (field & ~((1ull << 36) - 1)) | frames;
    for (int k = 0; k < 8; ++k)
        flac[18 + (size_t) k] = (std::uint8_t) (field >> (56 - 8 * k));
    return flac;
}

Bytes repeated (std::size_t n, std::uint8_t v)
{
    return Bytes (n, v);
}

Bytes withCount (std::uint32_t count, bool big, std::size_t pad = 16)
{
    Bytes b;
    if (big)
        put16 (b, count > 0xffff ? 0xffff : count, true);
    else
        put32 (b, count, false);
    b.resize (b.size() + pad, 0x41);
    return b;
}
} // namespace

Bytes riffWave (const std::vector<Chunk>& chunks, const char* magic)
{
    return container (chunks, magic, "WAVE", false);
}
Bytes formAiff (const std::vector<Chunk>& chunks, const char* type)
{
    return container (chunks, "FORM", type, true);
}

Chunk fmtChunk (int channels, std::uint32_t rate, int bits, int tag)
{
    Bytes b;
    put16 (b, (std::uint32_t) tag, false);
    put16 (b, (std::uint32_t) channels, false);
    put32 (b, rate, false);
    put32 (b, rate * (std::uint32_t) (channels * bits / 8), false);
    put16 (b, (std::uint32_t) (channels * bits / 8), false);
    put16 (b, (std::uint32_t) bits, false);
    return { "fmt ", b };
}

Chunk extensibleFmtChunk (int channels, std::uint32_t rate, int bits, bool isFloat)
{
    auto c = fmtChunk (channels, rate, bits, 0xfffe);
    put16 (c.body, 22, false);
    put16 (c.body, (std::uint32_t) bits, false);
    put32 (c.body, channels == 2 ? 3u : 4u, false);
    put32 (c.body, isFloat ? 3u : 1u, false);
    c.body.insert (c.body.end(), { 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71 });
    return c;
}

Chunk commChunk (int channels, std::uint32_t frames, int bits, double rate, const char* compression)
{
    Bytes b;
    put16 (b, (std::uint32_t) channels, true);
    put32 (b, frames, true);
    put16 (b, (std::uint32_t) bits, true);
    // 80-bit extended rate.
    int e = 0;
    const auto n = (std::uint64_t) std::max (1.0, std::round (rate));
    while ((n >> (e + 1)) != 0)
        ++e;
    put16 (b, (std::uint32_t) (16383 + e), true);
    const std::uint64_t mantissa = n << (63 - e);
    put32 (b, (std::uint32_t) (mantissa >> 32), true);
    put32 (b, (std::uint32_t) mantissa, true);
    if (compression != nullptr)
    {
        putId (b, compression);
        b.insert (b.end(), { 0, 0 });
    }
    return { "COMM", b };
}

Chunk ssndChunk (const Bytes& audio)
{
    Bytes b (8, 0);
    b.insert (b.end(), audio.begin(), audio.end());
    return { "SSND", b };
}

Bytes pcmFrames (int frames, int channels, int bits, bool bigEndian, bool isFloat)
{
    Bytes b;
    const int bytes = bits / 8;
    for (int i = 0; i < frames; ++i)
        for (int ch = 0; ch < channels; ++ch)
        {
            const double v = 0.5 * (double) (i + 1) / frames * (ch == 0 ? 1.0 : -1.0);
            std::uint32_t word;
            if (isFloat)
            {
                const float f = (float) v;
                std::memcpy (&word, &f, 4);
            }
            else if (bits == 8)
                word = (std::uint32_t) (128 + (int) std::lround (v * 127.0));
            else
                word = (std::uint32_t) (std::int32_t) std::llround (v * (double) ((1ll << (bits - 1)) - 1));
            for (int k = 0; k < bytes; ++k)
                b.push_back ((std::uint8_t) (word >> (8 * (bigEndian ? bytes - 1 - k : k))));
        }
    return b;
}

Bytes floatWav (const std::vector<float>& interleaved, int channels, std::uint32_t rate)
{
    Bytes data;
    for (const float f : interleaved)
    {
        std::uint32_t word;
        std::memcpy (&word, &f, 4);
        put32 (data, word, false);
    }
    return riffWave ({ fmtChunk (channels, rate, 32, 3), { "data", data } });
}

Bytes flacFile (int frames, double rate, int channels)
{
    juce::FlacAudioFormat flac;
    return encode (flac, frames, rate, channels, 16, 5);
}

Bytes oggFile (int frames, double rate, int channels)
{
    juce::OggVorbisAudioFormat ogg;
    return encode (ogg, frames, rate, channels, 16, 4);
}

std::vector<NamedBytes> wellFormedFiles()
{
    std::vector<NamedBytes> files;
    for (int bits : { 8, 16, 24, 32 })
        files.push_back ({ "pcm" + std::to_string (bits) + ".wav",
                           riffWave ({ fmtChunk (2, 44100, bits), { "data", pcmFrames (64, 2, bits) } }) });
    files.push_back (
        { "float.wav", riffWave ({ fmtChunk (2, 48000, 32, 3), { "data", pcmFrames (64, 2, 32, false, true) } }) });
    files.push_back ({ "extensible.wav",
                       riffWave ({ extensibleFmtChunk (4, 48000, 24, false), { "data", pcmFrames (32, 4, 24) } }) });
    Bytes ds64;
    for (std::uint64_t v : { (std::uint64_t) 0, (std::uint64_t) 256, (std::uint64_t) 64 })
        for (int k = 0; k < 8; ++k)
            ds64.push_back ((std::uint8_t) (v >> (8 * k)));
    ds64.resize (28, 0);
    files.push_back (
        { "rf64.wav",
          riffWave ({ { "ds64", ds64 }, fmtChunk (2, 44100, 16), { "data", pcmFrames (64, 2, 16), 0xffffffff } },
                    "RF64") });
    files.push_back (
        { "pcm16.aiff", formAiff ({ commChunk (2, 64, 16, 44100.0), ssndChunk (pcmFrames (64, 2, 16, true)) }) });
    files.push_back (
        { "sowt.aifc",
          formAiff ({ commChunk (1, 64, 16, 22050.0, "sowt"), ssndChunk (pcmFrames (64, 1, 16)) }, "AIFC") });
    files.push_back (
        { "fl32.aifc",
          formAiff ({ commChunk (2, 64, 32, 96000.0, "fl32"), ssndChunk (pcmFrames (64, 2, 32, true, true)) },
                    "AIFC") });
    files.push_back ({ "mono.flac", flacFile (3000, 44100.0) });
    files.push_back ({ "stereo.ogg", oggFile (3000, 44100.0) });
    return files;
}

std::vector<HostileCase> hostileFiles()
{
    const auto fmt = fmtChunk (1, 44100, 16);
    const Chunk data { "data", pcmFrames (100, 1, 16) };
    std::vector<HostileCase> cases;

    // Metadata chunks with hostile sizes and counts: dropped unread, the audio kept.
    cases.push_back (
        { "list-adtl-huge-after-data.wav",
          riffWave ({ fmt, data, { "LIST", Bytes { 'a', 'd', 't', 'l', 'l', 't', 'x', 't' }, 0xfffffff0 } }), 100 });
    cases.push_back ({ "list-huge-before-data.wav",
                       riffWave ({ fmt, { "LIST", Bytes { 'a', 'd', 't', 'l' }, 0xfffffff0 }, data }), -3 });
    auto smpl = Bytes (28, 0);
    auto loops = withCount (0x7fffffff, false, 8);
    smpl.insert (smpl.end(), loops.begin(), loops.end());
    cases.push_back ({ "smpl-huge-loop-count.wav", riffWave ({ fmt, { "smpl", smpl }, data }), 100 });
    cases.push_back (
        { "cue-huge-count.wav", riffWave ({ fmt, { "cue ", withCount (0x7fffffff, false) }, data }), 100 });
    cases.push_back ({ "bext-huge.wav", riffWave ({ fmt, data, { "bext", repeated (16, 0x42), 0x27000000 } }), 100 });
    cases.push_back ({ "ixml-invalid-utf8.wav",
                       riffWave ({ fmt, { "iXML", Bytes { 0xe0, 0xdf, 0xdf, 0xdf, 0xdf, 0xdf, 0xdd, 0x90 } }, data }),
                       100 });
    cases.push_back (
        { "axml-invalid-utf8.wav", riffWave ({ fmt, { "axml", Bytes { 0xff, 0xfe, 0xc3 } }, data }), 100 });
    const auto comm = commChunk (1, 100, 16, 44100.0);
    const auto ssnd = ssndChunk (pcmFrames (100, 1, 16, true));
    cases.push_back ({ "mark-huge-count.aiff", formAiff ({ comm, { "MARK", withCount (0xffff, true) }, ssnd }), 100 });
    cases.push_back ({ "comt-huge-count.aiff", formAiff ({ comm, { "COMT", withCount (0xffff, true) }, ssnd }), 100 });
    cases.push_back ({ "cate-to-its-end.aiff", formAiff ({ comm, { "cate", repeated (40, 'x') }, ssnd }), 100 });
    cases.push_back ({ "zero-bits-no-ssnd.aiff", formAiff ({ commChunk (1, 100, 0, 44100.0) }), -3 });
    cases.push_back ({ "zero-bits.aiff", formAiff ({ commChunk (1, 100, 0, 44100.0), ssnd }), -3 });

    // Streamed and truncated: the whole frames present.
    cases.push_back ({ "streamed-7ffff000.wav", riffWave ({ fmt, { "data", data.body, 0x7ffff000 } }), 100 });
    cases.push_back ({ "streamed-ffffffff.wav", riffWave ({ fmt, { "data", data.body, 0xffffffff } }), 100 });
    auto cut = riffWave ({ fmtChunk (2, 44100, 24), { "data", pcmFrames (100, 2, 24) } });
    cut.resize (cut.size() - 200);
    cases.push_back ({ "truncated-mid-frame.wav", cut, 66 });
    cases.push_back (
        { "streamed-no-frames.wav", riffWave ({ fmtChunk (1, 44100, 24), { "data", Bytes { 1 }, 0xffffffff } }), -4 });
    auto cutAiff = formAiff ({ commChunk (2, 100, 16, 44100.0), ssndChunk (pcmFrames (100, 2, 16, true)) });
    cutAiff.resize (cutAiff.size() - 101);
    cases.push_back ({ "truncated.aiff", cutAiff, 74 });

    // A FLAC whose stream info claims 200 M frames holds 3000.
    cases.push_back ({ "flac-claims-200M-frames.flac", patchedFlac (0, 200000000), 3000 });

    // Implausible rates: the memory intake's rate code.
    cases.push_back ({ "rate-2147483647.wav", riffWave ({ fmtChunk (1, 2147483647u, 16), data }), -6 });
    cases.push_back ({ "rate-999.wav", riffWave ({ fmtChunk (1, 999, 16), data }), -6 });
    cases.push_back ({ "rate-768001.wav", riffWave ({ fmtChunk (1, 768001, 16), data }), -6 });
    cases.push_back ({ "rate-0.wav", riffWave ({ fmtChunk (1, 0, 16), data }), -6 });
    cases.push_back ({ "rate-1000.wav", riffWave ({ fmtChunk (1, 1000, 16), data }), 100 });
    cases.push_back ({ "rate-768000.wav", riffWave ({ fmtChunk (1, 768000, 16), data }), 100 });
    cases.push_back ({ "rate-2147483647.aiff", formAiff ({ commChunk (1, 100, 16, 2147483647.0), ssnd }), -6 });
    cases.push_back ({ "rate-1000000.flac", patchedFlac (1000000, 0), -6 });

    // Malformed structure.
    cases.push_back ({ "fmt-too-short.wav", riffWave ({ { "fmt ", Bytes (8, 1) }, data }), -3 });
    cases.push_back ({ "two-fmt-chunks.wav", riffWave ({ fmt, fmt, data }), -3 });
    cases.push_back ({ "no-fmt.wav", riffWave ({ data }), -3 });
    cases.push_back ({ "unknown-format-tag.wav", riffWave ({ fmtChunk (1, 44100, 16, 0x674f), data }), -3 });
    cases.push_back ({ "no-channels.wav", riffWave ({ fmtChunk (0, 44100, 16), data }), -3 });
    cases.push_back ({ "riff-not-wave.wav",
                       [] {
        auto b = riffWave ({});
        std::memcpy (b.data() + 8, "AVI ", 4);
        return b;
                      }(),
                       -3 });
    cases.push_back (
        { "ssnd-offset-past-end.aiff", formAiff ({ comm, { "SSND", Bytes { 0xff, 0xff, 0, 0, 0, 0, 0, 0 } } }), -3 });
    return cases;
}

bool writeBytes (const std::string& path, const Bytes& bytes)
{
    return juce::File (path).replaceWithData (bytes.data(), bytes.size());
}

} // namespace qvtest
