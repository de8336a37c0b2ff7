#include "io/AudioIntake.h"

#include "core/FiniteSamples.h"
#include "core/Log.h"
#include "io/AudioDecode.h"
#include "io/CompressedDecode.h"
#include "io/ContainerWalker.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <limits>

namespace quorvalen::io
{
namespace
{
using Stage = DecodedAudio::Stage;

DecodedAudio fail (Stage stage)
{
    DecodedAudio d;
    d.stage = stage;
    return d;
}

DecodedAudio finishWithRate (std::unique_ptr<juce::AudioBuffer<float>> buffer, double rate)
{
    if (! isPlausibleSampleRate (rate))
        return fail (Stage::rate);
    // A float file may carry NaN or infinity; nothing downstream could undo one.
    std::size_t nonFinite = 0;
    for (int ch = 0; ch < buffer->getNumChannels(); ++ch)
        nonFinite += zeroNonFinite (buffer->getWritePointer (ch), (std::size_t) buffer->getNumSamples());
    if (nonFinite > 0)
        logLine ("[QUORVALEN API] audio intake: %zu non-finite samples set to 0\n", nonFinite);
    DecodedAudio d;
    d.stage = Stage::ok;
    d.buffer = std::move (buffer);
    d.sampleRate = rate;
    return d;
}

DecodedAudio decodeClean (CleanContainer clean)
{
    juce::WavAudioFormat wav;
    juce::AiffAudioFormat aiff;
    auto* format = clean.aiff ? static_cast<juce::AudioFormat*> (&aiff) : &wav;
    std::unique_ptr<juce::AudioFormatReader> reader (format->createReaderFor (clean.stream.release(), true));
    if (reader == nullptr)
        return fail (Stage::notAudio);
    // The clean stream holds only whole frames that are really present.
    const auto length = reader->lengthInSamples;
    if (reader->numChannels < 1 || length < 1 || length > std::numeric_limits<int>::max())
        return fail (Stage::shape);
    auto buffer = tryAllocateBuffer ((int) reader->numChannels, length);
    if (buffer == nullptr || ! readFrames (*reader, *buffer, buffer->getNumSamples(), 0))
        return fail (Stage::read);
    return finishWithRate (std::move (buffer), reader->sampleRate);
}

DecodedAudio decodeStream (std::unique_ptr<juce::InputStream> source)
{
    try
    {
        auto clean = cleanContainer (std::move (source));
        switch (clean.kind)
        {
            case CleanContainer::Kind::clean: return decodeClean (std::move (clean));
            case CleanContainer::Kind::malformed: return fail (Stage::notAudio);
            case CleanContainer::Kind::notContainer: break;
        }
        auto compressed = decodeCompressed (*clean.stream);
        switch (compressed.status)
        {
            case CompressedAudio::Status::notThisFormat: return fail (Stage::notAudio);
            case CompressedAudio::Status::badShape: return fail (Stage::shape);
            case CompressedAudio::Status::outOfMemory: return fail (Stage::read);
            case CompressedAudio::Status::ok: break;
        }
        return finishWithRate (std::move (compressed.buffer), compressed.sampleRate);
    }
    catch (...)
    {
        return fail (Stage::read);
    }
}
} // namespace

bool isPlausibleSampleRate (double rate) noexcept
{
    return rate >= minPlausibleSampleRate && rate <= maxPlausibleSampleRate;
}

DecodedAudio decodeAudioMemory (const void* bytes, std::size_t size)
{
    if (bytes == nullptr || size == 0)
        return fail (Stage::notAudio);
    return decodeStream (std::make_unique<juce::MemoryInputStream> (bytes, size, false));
}

DecodedAudio decodeAudioFile (const juce::File& file)
{
    auto stream = std::make_unique<juce::FileInputStream> (file);
    if (! stream->openedOk())
        return fail (Stage::notAudio);
    return decodeStream (std::move (stream));
}

} // namespace quorvalen::io
