#include "io/ContainerWalker.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace quorvalen::io
{
namespace
{
using Int64 = juce::int64;
using Uint64 = juce::uint64;

bool readAt (juce::InputStream& in, Int64 offset, void* dest, int bytes)
{
    return in.setPosition (offset) && in.read (dest, bytes) == bytes;
}

bool sameId (const juce::uint8* bytes, const char* id)
{
    return std::memcmp (bytes, id, 4) == 0;
}
juce::uint32 le32 (const juce::uint8* p)
{
    return juce::ByteOrder::littleEndianInt (p);
}
juce::uint16 le16 (const juce::uint8* p)
{
    return juce::ByteOrder::littleEndianShort (p);
}
juce::uint32 be32 (const juce::uint8* p)
{
    return juce::ByteOrder::bigEndianInt (p);
}
juce::uint16 be16 (const juce::uint8* p)
{
    return juce::ByteOrder::bigEndianShort (p);
}

// The canonical header followed by [dataStart, dataStart + dataLength) of the source.
class SplicedStream final : public juce::InputStream
{
public:
    SplicedStream (juce::MemoryBlock headerBytes, std::unique_ptr<juce::InputStream> src, Int64 start, Int64 length)
            : header (std::move (headerBytes)), source (std::move (src)), dataStart (start), dataLength (length)
    {}

    Int64 getTotalLength() override { return (Int64) header.getSize() + dataLength; }
    bool isExhausted() override { return position >= getTotalLength(); }
    Int64 getPosition() override { return position; }
    bool setPosition (Int64 newPosition) override
    {
        position = std::clamp<Int64> (newPosition, 0, getTotalLength());
        return true;
    }

    int read (void* dest, int bytes) override
    {
        if (bytes <= 0)
            return 0;
        auto* out = static_cast<char*> (dest);
        int done = 0;
        const auto headerSize = (Int64) header.getSize();
        if (position < headerSize)
        {
            const auto n = (int) std::min<Int64> (bytes, headerSize - position);
            std::memcpy (out, static_cast<const char*> (header.getData()) + position, (size_t) n);
            position += n;
            done += n;
        }
        const auto left = std::min<Int64> (bytes - done, getTotalLength() - position);
        if (left > 0 && source->setPosition (dataStart + position - headerSize))
        {
            const auto n = source->read (out + done, (int) left);
            if (n > 0)
            {
                position += n;
                done += n;
            }
        }
        return done;
    }

private:
    juce::MemoryBlock header;
    std::unique_ptr<juce::InputStream> source;
    Int64 dataStart, dataLength, position = 0;
};

// Bytes per frame of a sample format the library decodes faithfully (8, 16, 24 or
// 32-bit integers, 32-bit float, at least one channel), else 0.
Int64 bytesPerFrame (int channels, int bits, bool isFloat)
{
    const bool supported = isFloat ? bits == 32 : (bits == 8 || bits == 16 || bits == 24 || bits == 32);
    return supported && channels >= 1 ? (Int64) channels * (bits / 8) : 0;
}

// Where the audio data lies in the source: whole frames present only.
struct DataSpan
{
    Int64 start = 0, length = 0;
};

// Chunk sizes are walked within the bytes present. A chunk that claims more than
// is there is malformed, except the audio data (streamed and truncated files keep
// the frames they hold) and anything after both needed chunks, which we drop anyway.
CleanContainer walkWav (std::unique_ptr<juce::InputStream> in, bool rf64)
{
    CleanContainer result;
    result.kind = CleanContainer::Kind::malformed;
    const auto total = in->getTotalLength();
    Int64 pos = 12;
    Uint64 rf64DataSize = 0;
    bool haveFmt = false, haveData = false, isFloat = false;
    juce::uint16 channels = 0, bits = 0;
    juce::uint32 rate = 0;
    Uint64 claimedData = 0;
    DataSpan data;

    while (pos + 8 <= total)
    {
        juce::uint8 head[8];
        if (! readAt (*in, pos, head, 8))
            return result;
        const Uint64 size = le32 (head + 4);
        const Int64 body = pos + 8;

        if (sameId (head, "data"))
        {
            if (haveData)
                return result;
            haveData = true;
            claimedData = rf64 && size == 0xffffffffu ? rf64DataSize : size;
            data.start = body;
            data.length = (Int64) std::min<Uint64> (claimedData, (Uint64) (total - body));
            if (claimedData > (Uint64) (total - body) || haveFmt)
                break;
            pos = body + (Int64) claimedData + (Int64) (claimedData & 1);
            continue;
        }
        if (size > (Uint64) (total - body))
        {
            if (haveFmt && haveData)
                break;
            return result;
        }
        if (sameId (head, "ds64"))
        {
            // Only an RF64 file's first chunk carries the 64-bit sizes.
            if (! rf64 || pos != 12 || size < 28)
                return result;
            juce::uint8 ds[16];
            if (! readAt (*in, body, ds, 16))
                return result;
            rf64DataSize = juce::ByteOrder::littleEndianInt64 (ds + 8);
        }
        else if (sameId (head, "fmt "))
        {
            if (haveFmt || size < 16)
                return result;
            haveFmt = true;
            juce::uint8 fmt[40] = {};
            if (! readAt (*in, body, fmt, (int) std::min<Uint64> (size, 40)))
                return result;
            auto tag = le16 (fmt);
            channels = le16 (fmt + 2);
            rate = le32 (fmt + 4);
            bits = le16 (fmt + 14);
            if (tag == 0xfffe)
            {
                static constexpr juce::uint8 guidTail[12] = { 0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                                              0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71 };
                if (size < 40 || std::memcmp (fmt + 28, guidTail, 12) != 0)
                    return result;
                tag = (juce::uint16) le32 (fmt + 24);
            }
            if (tag == 3)
                isFloat = true;
            else if (tag != 1)
                return result;
        }
        pos = body + (Int64) size + (Int64) (size & 1);
    }

    const Int64 frameBytes = bytesPerFrame (channels, bits, isFloat);
    if (! haveFmt || ! haveData || frameBytes == 0)
        return result;
    data.length -= data.length % frameBytes;

    // Canonical header: PCM or float, no extensible form; RF64 only when the data needs it.
    const bool big = data.length > 0xffffffffLL - 44;
    juce::MemoryOutputStream h;
    h.write (big ? "RF64" : "RIFF", 4);
    h.writeInt (big ? -1 : (int) (36 + data.length));
    h.write ("WAVE", 4);
    if (big)
    {
        h.write ("ds64", 4);
        h.writeInt (28);
        h.writeInt64 (36 + 36 + data.length);
        h.writeInt64 (data.length);
        h.writeInt64 (data.length / frameBytes);
        h.writeInt (0);
    }
    // A rate the library would refuse to open (0, or beyond int) is kept out of its
    // range instead, so the caller's plausibility test answers with its rate code.
    const auto canonicalRate = (int) std::clamp<juce::uint32> (rate, 1, (juce::uint32) std::numeric_limits<int>::max());
    h.write ("fmt ", 4);
    h.writeInt (16);
    h.writeShort ((short) (isFloat ? 3 : 1));
    h.writeShort ((short) channels);
    h.writeInt (canonicalRate);
    h.writeInt ((int) std::min<Int64> ((Int64) canonicalRate * frameBytes, std::numeric_limits<int>::max()));
    h.writeShort ((short) frameBytes);
    h.writeShort ((short) bits);
    h.write ("data", 4);
    h.writeInt (big ? -1 : (int) data.length);

    result.kind = CleanContainer::Kind::clean;
    result.stream = std::make_unique<SplicedStream> (h.getMemoryBlock(), std::move (in), data.start, data.length);
    return result;
}

// 80-bit IEEE extended (the AIFF sample rate) to double; NaN for a negative,
// infinite or NaN value.
double extendedToDouble (const juce::uint8* b)
{
    const int exponent = ((b[0] & 0x7f) << 8) | b[1];
    const auto mantissa = juce::ByteOrder::bigEndianInt64 (b + 2);
    if ((b[0] & 0x80) != 0 || exponent == 0x7fff)
        return std::nan ("");
    return std::ldexp ((double) mantissa, exponent - 16383 - 63);
}

// A whole rate 1 .. 2^29 - 1 as 80-bit extended, in the form the library decodes.
void integerToExtended (juce::uint32 n, juce::uint8* b)
{
    int e = 0;
    while ((n >> (e + 1)) != 0)
        ++e;
    const int exponent = 16383 + e;
    b[0] = (juce::uint8) (exponent >> 8);
    b[1] = (juce::uint8) (exponent & 0xff);
    const Uint64 mantissa = (Uint64) n << (63 - e);
    for (int i = 0; i < 8; ++i)
        b[2 + i] = (juce::uint8) (mantissa >> (56 - 8 * i));
}

CleanContainer walkAiff (std::unique_ptr<juce::InputStream> in, bool aifc)
{
    CleanContainer result;
    result.kind = CleanContainer::Kind::malformed;
    const auto total = in->getTotalLength();
    Int64 pos = 12;
    bool haveComm = false, haveData = false, isFloat = false;
    const char* compression = "NONE";
    juce::uint16 channels = 0, bits = 0;
    juce::uint32 frames = 0;
    double rate = 0.0;
    DataSpan data;

    while (pos + 8 <= total)
    {
        juce::uint8 head[8];
        if (! readAt (*in, pos, head, 8))
            return result;
        const Uint64 size = be32 (head + 4);
        const Int64 body = pos + 8;

        if (sameId (head, "SSND"))
        {
            juce::uint8 ssnd[8];
            if (haveData || size < 8 || total - body < 8 || ! readAt (*in, body, ssnd, 8))
                return result;
            const Uint64 offset = be32 (ssnd);
            if (offset > size - 8)
                return result;
            haveData = true;
            data.start = body + 8 + (Int64) offset;
            const Uint64 claimed = size - 8 - offset;
            data.length = (Int64) std::min<Uint64> (claimed, (Uint64) std::max<Int64> (total - data.start, 0));
            if (claimed > (Uint64) std::max<Int64> (total - data.start, 0) || haveComm)
                break;
            pos = body + (Int64) size + (Int64) (size & 1);
            continue;
        }
        if (size > (Uint64) (total - body))
        {
            if (haveComm && haveData)
                break;
            return result;
        }
        if (sameId (head, "COMM"))
        {
            juce::uint8 comm[22] = {};
            if (haveComm || size < 18 || ! readAt (*in, body, comm, (int) std::min<Uint64> (size, 22)))
                return result;
            haveComm = true;
            channels = be16 (comm);
            frames = be32 (comm + 2);
            bits = be16 (comm + 6);
            rate = extendedToDouble (comm + 8);
            if (aifc && size >= 22)
            {
                const auto* type = comm + 18;
                if (sameId (type, "sowt"))
                    compression = "sowt";
                else if (sameId (type, "fl32") || sameId (type, "FL32"))
                {
                    compression = "fl32";
                    isFloat = true;
                }
                else if (! sameId (type, "NONE") && ! sameId (type, "twos"))
                    return result;
            }
        }
        pos = body + (Int64) size + (Int64) (size & 1);
    }

    const Int64 frameBytes = bytesPerFrame (channels, bits, isFloat);
    if (! haveComm || ! haveData || frameBytes == 0)
        return result;
    const Int64 present = std::min<Int64> (data.length / frameBytes, frames);
    data.length = present * frameBytes;
    const Int64 maxFrames = std::numeric_limits<int>::max();

    // Canonical header. Beyond what the library counts (2^31 - 1 frames) it reads a
    // negative length, which the callers refuse as a bad shape.
    const double roundedRate = std::isfinite (rate) ? std::round (rate) : 0.0;
    const auto canonicalRate = (juce::uint32) std::clamp (roundedRate, 1.0, (double) ((1u << 29) - 1));
    juce::uint8 rateBytes[10];
    integerToExtended (canonicalRate, rateBytes);
    const int commSize = aifc ? 24 : 18;
    const Int64 ssndSize = std::min<Int64> (8 + data.length, 0xffffffffLL);

    juce::MemoryOutputStream h;
    h.write ("FORM", 4);
    h.writeIntBigEndian ((int) (juce::uint32) std::min<Int64> (4 + 8 + commSize + 8 + ssndSize, 0xffffffffLL));
    h.write (aifc ? "AIFC" : "AIFF", 4);
    h.write ("COMM", 4);
    h.writeIntBigEndian (commSize);
    h.writeShortBigEndian ((short) channels);
    h.writeIntBigEndian ((int) (juce::uint32) (present > maxFrames ? 0x80000000u : (juce::uint32) present));
    h.writeShortBigEndian ((short) bits);
    h.write (rateBytes, 10);
    if (aifc)
    {
        h.write (compression, 4);
        h.writeShort (0); // empty compression name, padded
    }
    h.write ("SSND", 4);
    h.writeIntBigEndian ((int) (juce::uint32) ssndSize);
    h.writeInt (0); // offset
    h.writeInt (0); // block size

    result.kind = CleanContainer::Kind::clean;
    result.aiff = true;
    result.stream = std::make_unique<SplicedStream> (h.getMemoryBlock(), std::move (in), data.start, data.length);
    return result;
}
} // namespace

CleanContainer cleanContainer (std::unique_ptr<juce::InputStream> source)
{
    juce::uint8 head[12] = {};
    const bool haveHead = source->getTotalLength() >= 12 && readAt (*source, 0, head, 12);
    source->setPosition (0);
    if (haveHead && (sameId (head, "RIFF") || sameId (head, "RF64")))
    {
        if (! sameId (head + 8, "WAVE"))
            return { CleanContainer::Kind::malformed, false, nullptr };
        return walkWav (std::move (source), sameId (head, "RF64"));
    }
    if (haveHead && sameId (head, "FORM"))
    {
        if (! sameId (head + 8, "AIFF") && ! sameId (head + 8, "AIFC"))
            return { CleanContainer::Kind::malformed, false, nullptr };
        return walkAiff (std::move (source), sameId (head + 8, "AIFC"));
    }
    CleanContainer result;
    result.stream = std::move (source);
    return result;
}

} // namespace quorvalen::io
