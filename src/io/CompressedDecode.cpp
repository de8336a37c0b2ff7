#include "io/CompressedDecode.h"

#include <FLAC/stream_decoder.h>
#include <vorbis/vorbisfile.h>

#include <cstring>
#include <limits>
#include <new>
#include <vector>

namespace quorvalen::io
{
namespace
{
constexpr std::size_t maxFrames = (std::size_t) std::numeric_limits<int>::max();

// Per-channel sample vectors that grow as the decoder delivers frames.
struct Collected
{
    std::vector<std::vector<float>> channels;
    double rate = 0.0;
    bool overflow = false;

    std::size_t frames() const { return channels.empty() ? 0 : channels.front().size(); }

    // False when the frames would pass 2^31 - 1; throws bad_alloc when memory runs out.
    bool reserveMore (std::size_t count)
    {
        if (frames() + count > maxFrames)
        {
            overflow = true;
            return false;
        }
        return true;
    }

    CompressedAudio finish()
    {
        CompressedAudio out;
        if (overflow || channels.empty() || frames() < 1)
        {
            out.status = CompressedAudio::Status::badShape;
            return out;
        }
        try
        {
            const auto n = (int) frames();
            out.buffer = std::make_unique<juce::AudioBuffer<float>> ((int) channels.size(), n);
            for (std::size_t ch = 0; ch < channels.size(); ++ch)
            {
                std::memcpy (out.buffer->getWritePointer ((int) ch), channels[ch].data(), sizeof (float) * (size_t) n);
                std::vector<float>().swap (channels[ch]);
            }
        }
        catch (const std::bad_alloc&)
        {
            out.buffer.reset();
            out.status = CompressedAudio::Status::outOfMemory;
            return out;
        }
        out.status = CompressedAudio::Status::ok;
        out.sampleRate = rate;
        return out;
    }
};

// ---- FLAC ---------------------------------------------------------------------

struct FlacState
{
    juce::InputStream& in;
    Collected collected;
    bool haveInfo = false, outOfMemory = false;
    unsigned bits = 0;
};

FLAC__StreamDecoderReadStatus flacRead (const FLAC__StreamDecoder*, FLAC__byte buffer[], size_t* bytes, void* data)
{
    auto& s = *static_cast<FlacState*> (data);
    const auto n = s.in.read (buffer, (int) std::min<size_t> (*bytes, 1 << 20));
    *bytes = n > 0 ? (size_t) n : 0;
    return *bytes == 0 ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM : FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
}

FLAC__StreamDecoderSeekStatus flacSeek (const FLAC__StreamDecoder*, FLAC__uint64 offset, void* data)
{
    auto& s = *static_cast<FlacState*> (data);
    return offset <= (FLAC__uint64) s.in.getTotalLength() && s.in.setPosition ((juce::int64) offset)
        ? FLAC__STREAM_DECODER_SEEK_STATUS_OK
        : FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
}

FLAC__StreamDecoderTellStatus flacTell (const FLAC__StreamDecoder*, FLAC__uint64* offset, void* data)
{
    *offset = (FLAC__uint64) static_cast<FlacState*> (data)->in.getPosition();
    return FLAC__STREAM_DECODER_TELL_STATUS_OK;
}

FLAC__StreamDecoderLengthStatus flacLength (const FLAC__StreamDecoder*, FLAC__uint64* length, void* data)
{
    *length = (FLAC__uint64) static_cast<FlacState*> (data)->in.getTotalLength();
    return FLAC__STREAM_DECODER_LENGTH_STATUS_OK;
}

FLAC__bool flacEof (const FLAC__StreamDecoder*, void* data)
{
    return static_cast<FlacState*> (data)->in.isExhausted();
}

void flacMetadata (const FLAC__StreamDecoder*, const FLAC__StreamMetadata* meta, void* data)
{
    auto& s = *static_cast<FlacState*> (data);
    if (meta->type != FLAC__METADATA_TYPE_STREAMINFO || s.haveInfo)
        return;
    // The stream info's frame count is deliberately ignored.
    const auto& info = meta->data.stream_info;
    s.haveInfo = true;
    s.bits = info.bits_per_sample;
    s.collected.rate = (double) info.sample_rate;
    s.collected.channels.resize (info.channels);
}

FLAC__StreamDecoderWriteStatus flacWrite (const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                          const FLAC__int32* const buffer[], void* data)
{
    auto& s = *static_cast<FlacState*> (data);
    auto& c = s.collected;
    const auto n = (std::size_t) frame->header.blocksize;
    // A frame whose shape differs from the stream info is not ours to guess at.
    if (! s.haveInfo || frame->header.channels != c.channels.size() || frame->header.bits_per_sample != s.bits
        || s.bits < 4 || s.bits > 32 || ! c.reserveMore (n))
        return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    const float scale = 1.0f / (float) (1u << (s.bits - 1));
    try
    {
        for (std::size_t ch = 0; ch < c.channels.size(); ++ch)
        {
            auto& v = c.channels[ch];
            const auto old = v.size();
            v.resize (old + n);
            for (std::size_t i = 0; i < n; ++i)
                v[old + i] = (float) buffer[ch][i] * scale;
        }
    }
    catch (const std::bad_alloc&)
    {
        s.outOfMemory = true;
        return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

void flacError (const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void*) {}

bool looksLikeFlac (juce::InputStream& in)
{
    char head[4] = {};
    in.setPosition (0);
    const bool flac =
        in.read (head, 4) == 4 && (std::memcmp (head, "fLaC", 4) == 0 || std::memcmp (head, "ID3", 3) == 0);
    in.setPosition (0);
    return flac;
}

CompressedAudio decodeFlac (juce::InputStream& in)
{
    CompressedAudio out;
    auto* decoder = FLAC__stream_decoder_new();
    if (decoder == nullptr)
    {
        out.status = CompressedAudio::Status::outOfMemory;
        return out;
    }
    FlacState state { in, {}, false, false, 0 };
    FLAC__stream_decoder_set_md5_checking (decoder, false);
    if (FLAC__stream_decoder_init_stream (decoder, flacRead, flacSeek, flacTell, flacLength, flacEof, flacWrite,
                                          flacMetadata, flacError, &state)
        == FLAC__STREAM_DECODER_INIT_STATUS_OK)
    {
        FLAC__stream_decoder_process_until_end_of_metadata (decoder);
        if (state.haveInfo)
            FLAC__stream_decoder_process_until_end_of_stream (decoder);
        FLAC__stream_decoder_finish (decoder);
    }
    FLAC__stream_decoder_delete (decoder);

    if (! state.haveInfo)
        return out; // not FLAC after all
    if (state.outOfMemory)
    {
        out.status = CompressedAudio::Status::outOfMemory;
        return out;
    }
    return state.collected.finish();
}

// ---- Ogg Vorbis ---------------------------------------------------------------

size_t oggRead (void* dest, size_t size, size_t count, void* data)
{
    auto& in = *static_cast<juce::InputStream*> (data);
    if (size == 0)
        return 0;
    const auto want = std::min<size_t> (size * count, 1 << 20);
    const auto n = in.read (dest, (int) want);
    return n > 0 ? (size_t) n / size : 0;
}

int oggSeek (void* data, ogg_int64_t offset, int whence)
{
    auto& in = *static_cast<juce::InputStream*> (data);
    juce::int64 base = 0;
    if (whence == SEEK_CUR)
        base = in.getPosition();
    else if (whence == SEEK_END)
        base = in.getTotalLength();
    const auto target = base + offset;
    return target >= 0 && target <= in.getTotalLength() && in.setPosition (target) ? 0 : -1;
}

long oggTell (void* data)
{
    return (long) static_cast<juce::InputStream*> (data)->getPosition();
}
int oggClose (void*)
{
    return 0;
}

CompressedAudio decodeOgg (juce::InputStream& in)
{
    CompressedAudio out;
    in.setPosition (0);
    OggVorbis_File file;
    const ov_callbacks callbacks { oggRead, oggSeek, oggClose, oggTell };
    if (ov_open_callbacks (&in, &file, nullptr, 0, callbacks) != 0)
        return out;
    Collected c;
    const auto* info = ov_info (&file, -1);
    if (info == nullptr || info->channels < 1 || info->rate < 1)
    {
        ov_clear (&file);
        out.status = CompressedAudio::Status::badShape;
        return out;
    }
    c.rate = (double) info->rate;
    c.channels.resize ((size_t) info->channels);
    bool outOfMemory = false;
    int holes = 0;
    // ov_pcm_total comes from the last page's granule position and may lie: read
    // until the decoder reports the end or an error instead.
    for (;;)
    {
        float** pcm = nullptr;
        int section = 0;
        const long n = ov_read_float (&file, &pcm, 4096, &section);
        if (n == OV_HOLE && ++holes < 64)
            continue;
        if (n <= 0)
            break;
        // A chained stream may change its channel count; keep only what matches.
        const auto* now = ov_info (&file, section);
        if (now == nullptr || (size_t) now->channels != c.channels.size() || (double) now->rate != c.rate)
            break;
        if (! c.reserveMore ((std::size_t) n))
            break;
        try
        {
            for (std::size_t ch = 0; ch < c.channels.size(); ++ch)
                c.channels[ch].insert (c.channels[ch].end(), pcm[ch], pcm[ch] + n);
        }
        catch (const std::bad_alloc&)
        {
            outOfMemory = true;
            break;
        }
    }
    ov_clear (&file);
    if (outOfMemory)
    {
        out.status = CompressedAudio::Status::outOfMemory;
        return out;
    }
    return c.finish();
}
} // namespace

CompressedAudio decodeCompressed (juce::InputStream& source)
{
    if (looksLikeFlac (source))
        return decodeFlac (source);
    return decodeOgg (source);
}

} // namespace quorvalen::io
