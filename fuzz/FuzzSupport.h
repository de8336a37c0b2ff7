#pragma once
// Shared by the fuzz targets: one engine on the headless device for the whole run,
// and small helpers to turn fuzz bytes into arguments.
#include "platform/HeadlessConfig.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <quorvalen_dsp.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace qvfuzz
{

inline void startEngine()
{
    static const bool started = [] {
        quorvalen::platform::setPlatformDeviceTypesEnabled (false);
        quorvalen::platform::setHeadlessSettings ({ 1, 48000.0, 512, 512 });
        return quorvalen_engine_init() == 0;
    }();
    (void) started;
}

// A stereo 16-bit WAV of a tone, as a host would hand it in.
inline juce::MemoryBlock toneWav (double rate, int frames)
{
    juce::MemoryBlock bytes;
    juce::WavAudioFormat wav;
    auto* stream = new juce::MemoryOutputStream (bytes, false);
    std::unique_ptr<juce::AudioFormatWriter> writer (wav.createWriterFor (stream, rate, 2, 16, {}, 0));
    juce::AudioBuffer<float> tone (2, frames);
    for (int i = 0; i < frames; ++i)
        for (int ch = 0; ch < 2; ++ch)
            tone.setSample (ch, i, 0.4f * std::sin (0.2f * (float) i + (float) ch));
    writer->writeFromAudioSampleBuffer (tone, 0, frames);
    return bytes;
}

// With QV_FUZZ_TRACE set, each op of a sequence, its time and the cost it was
// charged go to standard error
// (to see what a slow or failing input does: run the target on that one file).
class OpTrace
{
public:
    OpTrace (int opIn, const double& budgetIn)
            : op (opIn), budget (budgetIn), before (budgetIn), start (std::chrono::steady_clock::now())
    {}
    ~OpTrace()
    {
        static const bool on = std::getenv ("QV_FUZZ_TRACE") != nullptr;
        if (on)
            std::fprintf (stderr, "op %d: %.1f ms, cost %.3f\n", op,
                          std::chrono::duration<double, std::milli> (std::chrono::steady_clock::now() - start).count(),
                          before - budget);
    }

private:
    int op;
    const double& budget;
    double before;
    std::chrono::steady_clock::time_point start;
};

// Reads values off the front of the input, zeros once it runs dry.
class Bytes
{
public:
    Bytes (const std::uint8_t* d, std::size_t n) : data (d), size (n) {}

    std::uint8_t byte() { return pos < size ? data[pos++] : 0; }
    float unit() { return (float) byte() / 255.0f; }
    bool empty() const { return pos >= size; }

    std::uint32_t u16()
    {
        const std::uint32_t low = byte();
        return low | ((std::uint32_t) byte() << 8);
    }

    std::uint32_t u32()
    {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= (std::uint32_t) byte() << (8 * i);
        return v;
    }

    // Any float a host could pass, its bits read off the input.
    float rawFloat()
    {
        const auto bits = u32();
        float f;
        std::memcpy (&f, &bits, sizeof f);
        return f;
    }

    // Mostly a value in [lo, hi]; otherwise raw bits, a special value (NaN, the
    // infinities, the largest, a denormal, -0), or far outside the range.
    float hostile (float lo, float hi)
    {
        const auto mode = byte();
        if (mode < 176)
            return lo + (hi - lo) * (float) u16() / 65535.0f;
        if (mode < 200)
            return rawFloat();
        static const float specials[] = { std::numeric_limits<float>::quiet_NaN(),
                                          -std::numeric_limits<float>::quiet_NaN(),
                                          std::numeric_limits<float>::infinity(),
                                          -std::numeric_limits<float>::infinity(),
                                          std::numeric_limits<float>::max(),
                                          std::numeric_limits<float>::lowest(),
                                          std::numeric_limits<float>::denorm_min(),
                                          -std::numeric_limits<float>::denorm_min(),
                                          std::numeric_limits<float>::min(),
                                          -0.0f,
                                          0.0f,
                                          1.0f,
                                          -1.0f,
                                          1.0e30f,
                                          -1.0e30f,
                                          600000.0f,
                                          600000.06f,
                                          2.0e9f,
                                          -2.0e9f };
        if (mode < 240)
            return specials[byte() % std::size (specials)];
        // Just outside, or far outside, either end.
        const float span = std::max (1.0f, hi - lo);
        const float far = (mode & 1) ? span * 1000.0f : span * 0.01f;
        return (mode & 2) ? hi + far : lo - far;
    }

    // A time in ms for arguments the engine accepts up to 10 minutes: finite times
    // between `fold` and that limit are folded below `fold`, so that an input stays
    // quick, while times past the limit and the non-finite ones reach the engine.
    float time (float lo, float hi, float fold)
    {
        const float v = hostile (lo, hi);
        if (std::isfinite (v) && std::fabs (v) > fold && std::fabs (v) <= 600000.0f)
            return std::fmod (v, fold);
        return v;
    }

    // A time the engine refuses at once: past ten minutes.
    static bool pastLimit (float ms) { return std::isfinite (ms) && ms > 600000.0f; }

    // An integer: mostly in [lo, hi], sometimes a raw 32-bit value or an edge.
    std::int32_t integer (std::int32_t lo, std::int32_t hi)
    {
        const auto mode = byte();
        if (mode < 208)
            return lo + (std::int32_t) (byte() % (std::uint32_t) (hi - lo + 1));
        if (mode < 232)
            return (std::int32_t) u32();
        static const std::int32_t edges[] = { 0,
                                              -1,
                                              1,
                                              std::numeric_limits<std::int32_t>::min(),
                                              std::numeric_limits<std::int32_t>::max(),
                                              2,
                                              3,
                                              4,
                                              8,
                                              255,
                                              256,
                                              65536 };
        return edges[byte() % std::size (edges)];
    }

    // The rest of the input (or up to `max` bytes) as a NUL-terminated string.
    std::string text (std::size_t max = SIZE_MAX)
    {
        const auto n = std::min (max, size - std::min (pos, size));
        std::string s (reinterpret_cast<const char*> (data + pos), n);
        pos += n;
        return s;
    }

private:
    const std::uint8_t* data;
    std::size_t size, pos = 0;
};

// A 32-bit float WAV of a sound the input picks: its rate (1 kHz .. 768 kHz), 1 to 3
// channels, a shape (tone, noise, silence, click, full-scale square, chirp, DC,
// struck tone) and a length of at most a second.
struct FuzzedWav
{
    juce::MemoryBlock bytes;
    double seconds = 0.0, rate = 0.0;
};

inline FuzzedWav fuzzedWav (Bytes& in)
{
    static const double rates[] = { 1000.0, 8000.0, 22050.0, 44100.0, 48000.0, 96000.0, 192000.0, 768000.0 };
    const auto shape = in.byte();
    const double rate = rates[shape & 7];
    const int channels = 1 + (shape >> 3) % 3;
    const int kind = (shape >> 5) & 7;
    const auto l = (double) in.byte() / 255.0;
    // At most a second and 48000 frames, and fewer above 48 kHz: pitch detection
    // costs the square of the rate, so a second at 768 kHz takes seconds.
    const double most = std::min ({ rate, 48000.0, 48000.0 * 48000.0 / rate });
    const int frames = std::max (1, (int) (most * l * l));

    juce::AudioBuffer<float> audio (channels, frames);
    juce::Random noise (shape);
    for (int i = 0; i < frames; ++i)
    {
        const double t = (double) i / rate;
        float v = 0.0f;
        switch (kind)
        {
            case 0: v = 0.5f * (float) std::sin (2.0 * juce::MathConstants<double>::pi * 220.0 * t); break;
            case 1: v = noise.nextFloat() * 2.0f - 1.0f; break;
            case 2: v = 0.0f; break;
            case 3: v = i == frames / 3 ? 1.0f : 0.0f; break;
            case 4: v = std::fmod (t * 110.0, 1.0) < 0.5 ? 1.0f : -1.0f; break;
            case 5:
                v = 0.7f * (float) std::sin (2.0 * juce::MathConstants<double>::pi * (40.0 + 4000.0 * t) * t);
                break;
            case 6: v = 1.0f; break;
            default:
                v = (i < 64 ? noise.nextFloat() : 0.0f)
                    + 0.6f
                        * (float) (std::exp (-4.0 * t) * std::sin (2.0 * juce::MathConstants<double>::pi * 150.0 * t));
        }
        for (int ch = 0; ch < channels; ++ch)
            audio.setSample (ch, i, ch == 1 ? -v : v);
    }
    juce::MemoryBlock bytes;
    juce::WavAudioFormat wav;
    auto* stream = new juce::MemoryOutputStream (bytes, false);
    std::unique_ptr<juce::AudioFormatWriter> writer (
        wav.createWriterFor (stream, rate, (unsigned) channels, 32, {}, 0));
    writer->writeFromAudioSampleBuffer (audio, 0, frames);
    writer.reset();
    return { std::move (bytes), (double) frames / rate, rate };
}

// The cache ids an input made with their lengths, the cost an input may still
// spend, and the exports every sequence mixes in: caching, unloading, clearing,
// playing (plain and through the rack), stopping, telemetry, shutdown and init,
// and letting the device play for a moment.
class Sounds
{
public:
    struct Sound
    {
        std::int32_t id;
        double seconds, rate;
    };
    std::vector<Sound> known;

    // Heavy calls spend this: about their time in seconds under the sanitizers,
    // estimated from the sounds they work on. Deterministic, so that a slow input
    // stays slow when re-run.
    double budget;

    explicit Sounds (double budgetIn) : budget (budgetIn) {}

    void add (std::int32_t id, double seconds, double rate)
    {
        if (id > 0 && known.size() < 64)
            known.push_back ({ id, seconds, rate });
    }

    const Sound* find (std::int32_t id) const
    {
        for (const auto& s : known)
            if (s.id == id)
                return &s;
        return nullptr;
    }

    double seconds (std::int32_t id) const { return find (id) != nullptr ? find (id)->seconds : 0.0; }
    double rate (std::int32_t id) const { return find (id) != nullptr ? find (id)->rate : 48000.0; }

    // A call's cost on a sound of this input: nothing when the id is not one (the
    // call is refused at once), else a fixed part (a constant-Q plan's is large:
    // its lowest band spans seconds) and a part per second of sound.
    double cost (std::int32_t id, double fixed, double perSecond) const
    {
        const auto* s = find (id);
        return s != nullptr ? fixed + perSecond * s->seconds : 0.0;
    }

    // Pitch detection correlates every second sample of up to 120 ms at each lag
    // from 1500 Hz down to 45 Hz: its cost grows with the square of the rate (about
    // 0.1 us a step with the fuzzer's comparison tracing).
    double pitchCost (std::int32_t id) const
    {
        const auto* s = find (id);
        if (s == nullptr)
            return 0.0;
        const double window = std::min (s->seconds * s->rate, 0.12 * s->rate);
        const double lags = std::max (0.0, std::min (s->rate / 45.0, window / 2.0) - s->rate / 1500.0);
        return 0.02 + 1.0e-7 * window * lags;
    }

    void setSeconds (std::int32_t id, double seconds)
    {
        for (auto& s : known)
            if (s.id == id)
                s.seconds = seconds;
    }

    // True when the call may run; it then spends `cost`.
    bool spend (double cost)
    {
        if (cost > budget)
            return false;
        budget -= cost;
        return true;
    }

    // Mostly an id this input made; sometimes one never issued, 0, negative or a
    // Foundry temporary's reserved id.
    std::int32_t pick (Bytes& in) const
    {
        const auto b = in.byte();
        if (! known.empty() && b < 224)
            return known[b % known.size()].id;
        static const std::int32_t others[] = { 0,
                                               -1,
                                               1,
                                               2,
                                               1000000,
                                               std::numeric_limits<std::int32_t>::max(),
                                               std::numeric_limits<std::int32_t>::min(),
                                               -1000001,
                                               -1000011,
                                               -1000012,
                                               -1000013,
                                               -1000014,
                                               -1000021 };
        return others[b % std::size (others)];
    }

    // One of the shared operations; false when `op` is none of them.
    bool common (Bytes& in, int op)
    {
        static const char* const racks[] = {
            "{}",
            "{\"heatEnabled\": true, \"heatDrive\": 90, \"stereoEnabled\": true}",
            "{\"spaceEnabled\": true, \"spectroNoTail\": true, \"freqShiftEnabled\": true, \"freqShift\": 7}",
        };
        double position = 0.0, length = 0.0;
        std::uint32_t playing = 0;
        switch (op)
        {
            case 0:
            {
                const auto wav = fuzzedWav (in);
                add (quorvalen_engine_cache_wav_memory (wav.bytes.getData(), wav.bytes.getSize()), wav.seconds,
                     wav.rate);
                return true;
            }
            case 1:
            {
                const auto id = pick (in);
                add (quorvalen_engine_clone_cached (id), seconds (id), rate (id));
                return true;
            }
            case 2: quorvalen_engine_unload_cached (pick (in)); return true;
            case 3:
                if (in.byte() < 32)
                    quorvalen_engine_clear_cache();
                return true;
            case 4: quorvalen_engine_play_cached (pick (in), in.hostile (-24, 24), in.hostile (0, 100)); return true;
            case 5:
            {
                const auto id = pick (in);
                quorvalen_engine_play_cached_with_processing (id, racks[in.byte() % 3], in.hostile (0, 100),
                                                              in.byte() & 1);
                return true;
            }
            case 6: quorvalen_engine_stop(); return true;
            case 7: quorvalen_engine_get_playback_telemetry (&position, &length, &playing); return true;
            case 8:
                if (in.byte() < 16)
                {
                    quorvalen_engine_shutdown();
                    if (in.byte() < 224)
                        quorvalen_engine_init();
                }
                return true;
            case 9:
                // The device pulls the chain with whatever the input set up.
                std::this_thread::sleep_for (std::chrono::milliseconds (in.byte() % 24));
                return true;
            default: return false;
        }
    }

    // Each input starts from a running engine with an empty cache.
    static void reset()
    {
        if (quorvalen_engine_is_ready() == 0)
            quorvalen_engine_init();
        quorvalen_engine_clear_cache();
    }
};

} // namespace qvfuzz
