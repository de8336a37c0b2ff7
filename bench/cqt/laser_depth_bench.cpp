// Depth of a full-pressure laser stroke on a tone at a band's centre, through the
// exports on the headless device, as a host would hear it.
//
// A 4 s mono 48 kHz tone of amplitude 0.5 at the centre frequency of one band of
// the sessions' constant-Q analyzer (48 bands per octave from 20 Hz, reference
// 440 Hz, overlap 0.7, maximum error 1e-5) is cached and opened in a spectral
// session. One laser point at time 0.5, size 1 (the whole sound) and pressure 1
// lands on the tone's band: y = band / (B - 1), B the analyzer's band count at
// 48 kHz, which the stroke maps back to that band. Two cases: a band in the upper
// two thirds of the display (y < 0.66, where the laser edits one band) and one
// where it edits three (0.66 <= y < 0.82). The tone's amplitude over the middle
// second of the live copy, exported as the host exports it, before and after the
// stroke gives the depth in dB.
//
// Usage: laser_depth_bench
#include "dsp/cqt/cqt.h"
#include "platform/HeadlessConfig.h"

#include <juce_audio_formats/juce_audio_formats.h>
#include <quorvalen_dsp.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

namespace
{

constexpr double rate = 48000.0;
constexpr double seconds = 4.0;
constexpr double amplitude = 0.5;

quorvalen::cqt::Analyzer sessionAnalyzer()
{
    quorvalen::cqt::CqtParams p;
    p.scale = { 48, 20.0 / rate, 440.0 / rate };
    p.overlap = 0.7;
    p.maxError = 1e-5;
    return quorvalen::cqt::Analyzer (p);
}

int cacheTone (double hz)
{
    const int n = static_cast<int> (seconds * rate);
    juce::AudioBuffer<float> audio (1, n);
    for (int i = 0; i < n; ++i)
        audio.setSample (0, i, static_cast<float> (amplitude * std::sin (2.0 * std::numbers::pi * hz * i / rate)));
    juce::MemoryBlock block;
    {
        juce::WavAudioFormat wav;
        std::unique_ptr<juce::AudioFormatWriter> w (
            wav.createWriterFor (new juce::MemoryOutputStream (block, false), rate, 1, 32, {}, 0));
        w->writeFromAudioSampleBuffer (audio, 0, n);
    }
    return quorvalen_engine_cache_wav_memory (block.getData(), block.getSize());
}

// The exported entry's first channel; empty when the export failed.
std::vector<float> exported (std::uint32_t id)
{
    const auto path =
        (std::filesystem::temp_directory_path() / ("laser_depth_bench_" + std::to_string (getpid()) + ".wav")).string();
    if (quorvalen_engine_export_cached_wav (static_cast<std::int32_t> (id), path.c_str()) != 0)
        return {};
    juce::AudioFormatManager formats;
    formats.registerBasicFormats();
    std::unique_ptr<juce::AudioFormatReader> reader (formats.createReaderFor (juce::File (path)));
    std::vector<float> out;
    if (reader)
    {
        juce::AudioBuffer<float> audio (static_cast<int> (reader->numChannels),
                                        static_cast<int> (reader->lengthInSamples));
        reader->read (&audio, 0, audio.getNumSamples(), 0, true, true);
        out.assign (audio.getReadPointer (0), audio.getReadPointer (0) + audio.getNumSamples());
    }
    std::filesystem::remove (path);
    return out;
}

// Amplitude of the hz component over the middle second (a whole number of
// periods for the band centres used here).
double middleAmplitude (const std::vector<float>& x, double hz)
{
    const auto begin = static_cast<std::size_t> ((0.5 * seconds - 0.5) * rate);
    const auto count = static_cast<std::size_t> (rate);
    if (x.size() < begin + count)
        return NAN;
    double s = 0, c = 0;
    for (std::size_t i = begin; i < begin + count; ++i)
    {
        const double phase = 2.0 * std::numbers::pi * hz * static_cast<double> (i) / rate;
        s += x[i] * std::sin (phase);
        c += x[i] * std::cos (phase);
    }
    return 2.0 * std::hypot (s, c) / static_cast<double> (count);
}

struct Depth
{
    double before = NAN, after = NAN;
    int result = 0;
};

Depth laserOnTone (double hz, float y)
{
    Depth d;
    const int id = cacheTone (hz);
    std::uint32_t live = 0;
    float length = 0;
    const int session = quorvalen_engine_begin_cqt_spectral_session (id, &live, &length);
    if (id <= 0 || session <= 0)
    {
        d.result = session <= 0 ? session : id;
        return d;
    }
    d.before = middleAmplitude (exported (live), hz);
    const float point[5] = { 0.5f, y, 1.0f, 0.0f, 1.0f };
    const std::uint32_t tool = 1;
    d.result = quorvalen_engine_apply_cqt_spectral_session_stroke (session, point, &tool, 1);
    std::fflush (stdout); // the stroke's log line
    d.after = middleAmplitude (exported (live), hz);
    quorvalen_engine_end_cqt_spectral_session (session);
    quorvalen_engine_unload_cached (id);
    return d;
}

} // namespace

int main()
{
    quorvalen::platform::setPlatformDeviceTypesEnabled (false);
    quorvalen::platform::setHeadlessSettings ({ 1, rate, 512, 512 });
    if (quorvalen_engine_init() != 0)
    {
        std::fprintf (stderr, "the engine did not start\n");
        return 1;
    }
    const auto an = sessionAnalyzer();
    const int bands = an.bandCount();
    // 440 Hz is a band centre (the reference); 110 Hz lies two octaves below it.
    int band440 = 0;
    for (int b = 1; b < bands; ++b)
        if (std::fabs (std::log2 (an.bandCentre (b) * rate / 440.0))
            < std::fabs (std::log2 (an.bandCentre (band440) * rate / 440.0)))
            band440 = b;
    struct Case
    {
        const char* name;
        int band;
    };
    const Case cases[] = { { "one band edited (y < 0.66)", band440 },
                           { "three bands edited (0.66 <= y < 0.82)", band440 + 2 * 48 } };

    std::vector<std::string> rows;
    for (const auto& c : cases)
    {
        const double hz = an.bandCentre (c.band) * rate;
        const float y = static_cast<float> (c.band) / static_cast<float> (bands - 1);
        const Depth d = laserOnTone (hz, y);
        // The stroke's own rule for how many bands a point edits.
        const int edited = y >= 0.82f ? 5 : y >= 0.66f ? 3 : 1;
        char row[256];
        std::snprintf (row, sizeof row, "| %s | %d | %.2f Hz | %.4f | %d | %.4f | %.4f | %.1f dB | %d |", c.name,
                       c.band, hz, static_cast<double> (y), edited, d.before, d.after,
                       20.0 * std::log10 (d.before / d.after), d.result);
        rows.emplace_back (row);
    }
    std::printf ("\nFull-pressure laser (time 0.5, size 1, pressure 1) on a %.0f s tone of amplitude %.1f at a band's "
                 "centre, 48 kHz, B = %d bands (y = band / (B - 1)):\n\n",
                 seconds, amplitude, bands);
    std::printf (
        "| case | band | tone | y | bands edited | amplitude before | after | level drop | stroke result (live "
        "id) |\n");
    std::printf ("|---|---|---|---|---|---|---|---|---|\n");
    for (const auto& r : rows)
        std::printf ("%s\n", r.c_str());
    quorvalen_engine_shutdown();
    return 0;
}
