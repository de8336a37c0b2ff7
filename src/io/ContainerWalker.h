#pragma once
// Our own walk over RIFF/RF64 (WAV) and AIFF/AIFC chunk structure. The audio
// library's readers parse every metadata chunk they know, and several of those
// parsers are unsafe on hostile bytes; the engine uses none of that metadata. So
// the walk keeps only the format and audio data chunks, within the bytes really
// present, and builds a clean stream (a canonical header, then the audio data of
// the source) for the library to decode.
#include <juce_core/juce_core.h>

#include <memory>

namespace quorvalen::io
{

struct CleanContainer
{
    enum class Kind
    {
        clean,       // `stream` holds the canonical file
        malformed,   // a WAV or AIFF container whose structure or format we refuse
        notContainer // neither RIFF/RF64 nor FORM: `stream` is the source, untouched
    };
    Kind kind = Kind::notContainer;
    bool aiff = false; // for clean: which reader takes the stream
    std::unique_ptr<juce::InputStream> stream;
};

// `source` must be seekable and know its length.
CleanContainer cleanContainer (std::unique_ptr<juce::InputStream> source);

} // namespace quorvalen::io
