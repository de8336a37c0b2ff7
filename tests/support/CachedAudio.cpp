#include "CachedAudio.h"

#include "EngineTestSupport.h"
#include "TestAudio.h"

#include <quorvalen_dsp.h>

namespace qvtest
{

int cacheAudio (const juce::AudioBuffer<float>& audio, double rate)
{
    const auto bytes = wavBytes (audio, rate, 32);
    return quorvalen_engine_cache_wav_memory (bytes.getData(), bytes.getSize());
}

juce::AudioBuffer<float> exportedEntry (int id, double* rate)
{
    const auto path = tempDir() + "/entry.wav";
    if (quorvalen_engine_export_cached_wav (id, path.c_str()) != 0)
        return {};
    return readAudio (path, rate);
}

} // namespace qvtest
