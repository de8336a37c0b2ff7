#include "io/WavWriter.h"

#include <juce_audio_formats/juce_audio_formats.h>

namespace quorvalen
{

WavWriteResult writeWav24 (const juce::File& target, const juce::AudioBuffer<float>& audio, double sampleRate)
{
    if (target == juce::File() || target.isDirectory() || ! target.getParentDirectory().isDirectory())
        return WavWriteResult::streamFailed;

    juce::TemporaryFile temp (target);
    auto* stream = new juce::FileOutputStream (temp.getFile(), 32768);
    if (! stream->openedOk())
    {
        delete stream;
        return WavWriteResult::streamFailed;
    }

    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatWriter> writer (
        wav.createWriterFor (stream, sampleRate, (unsigned) audio.getNumChannels(), 24, {}, 0));
    if (writer == nullptr)
    {
        delete stream; // the writer takes the stream only when it was created
        return WavWriteResult::writerFailed;
    }

    const bool wrote = writer->writeFromAudioSampleBuffer (audio, 0, audio.getNumSamples());
    bool flushed = wrote && writer->flush();
    if (flushed)
    {
        stream->flush();
        flushed = stream->getStatus().wasOk();
    }
    writer.reset();
    if (! flushed)
        return WavWriteResult::writeFailed;

    // A failure while the header was finished shows as a short file.
    const auto dataBytes = (juce::int64) audio.getNumSamples() * audio.getNumChannels() * 3;
    if (temp.getFile().getSize() < dataBytes + 44)
        return WavWriteResult::writeFailed;

    return temp.overwriteTargetFileWithTemporary() ? WavWriteResult::ok : WavWriteResult::writeFailed;
}

} // namespace quorvalen
