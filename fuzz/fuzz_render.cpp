// The offline render of a short cached sound with fuzzed rack settings.
#include "FuzzSupport.h"

#include <cstdio>
#include <juce_core/juce_core.h>
#include <unistd.h>


namespace
{
int cachedSound()
{
    static const int id = [] {
        qvfuzz::startEngine();
        // A 50 ms tone at 8 kHz: every stage runs, none takes long.
        const auto bytes = qvfuzz::toneWav (8000.0, 400);
        return quorvalen_engine_cache_wav_memory (bytes.getData(), bytes.getSize());
    }();
    return id;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size)
{
    const int id = cachedSound();
    qvfuzz::Bytes in (data, size);
    const auto json = in.text();
    static const auto out = juce::File::getSpecialLocation (juce::File::tempDirectory)
                                .getChildFile ("qv-fuzz-render-" + juce::String (getpid()) + ".wav")
                                .getFullPathName()
                                .toStdString();
    quorvalen_engine_render_cached_with_processing (id, json.c_str(), out.c_str());
    std::remove (out.c_str()); // no file left behind
    return 0;
}
