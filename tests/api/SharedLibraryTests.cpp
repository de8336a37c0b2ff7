// Drives the shared library as a host links it: only the C interface, on whatever
// output the machine offers (the headless device when it has none).
#include "TestNoise.h"

#include <quorvalen_dsp.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

namespace
{
constexpr double rate = 48000.0;

// A mono 32-bit float WAV file in memory.
std::vector<std::uint8_t> floatWav (const std::vector<float>& x)
{
    const auto dataBytes = (std::uint32_t) (x.size() * 4);
    std::vector<std::uint8_t> out (44 + dataBytes);
    auto put = [&] (size_t at, std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out[at + (size_t) i] = (std::uint8_t) (v >> (8 * i));
    };
    std::memcpy (out.data(), "RIFF", 4);
    put (4, 36 + dataBytes, 4);
    std::memcpy (out.data() + 8, "WAVEfmt ", 8);
    put (16, 16, 4);
    put (20, 3, 2); // IEEE float
    put (22, 1, 2);
    put (24, (std::uint32_t) rate, 4);
    put (28, (std::uint32_t) rate * 4, 4);
    put (32, 4, 2);
    put (34, 32, 2);
    std::memcpy (out.data() + 36, "data", 4);
    put (40, dataBytes, 4);
    std::memcpy (out.data() + 44, x.data(), dataBytes);
    return out;
}

// Power in [lo, hi) Hz summed over Hann-windowed 4096-point frames (direct DFT of
// the bins asked for).
double bandPowerDb (const std::vector<float>& x, double lo, double hi)
{
    constexpr int size = 4096;
    double sum = 1e-30;
    for (size_t start = 0; start + size <= x.size(); start += size)
        for (int k = (int) (lo / rate * size); k < (int) (hi / rate * size); ++k)
        {
            double re = 0.0, im = 0.0;
            for (int i = 0; i < size; ++i)
            {
                const double w = 0.5 - 0.5 * std::cos (2.0 * M_PI * i / size);
                const double v = w * x[start + (size_t) i], a = 2.0 * M_PI * k * i / size;
                re += v * std::cos (a);
                im -= v * std::sin (a);
            }
            sum += re * re + im * im;
        }
    return 10.0 * std::log10 (sum);
}

double tilt (const std::vector<float>& x)
{
    return bandPowerDb (x, 1600, 3200) - bandPowerDb (x, 200, 400);
}
} // namespace

TEST (SharedLibrary, LiveCepstralFilterShiftsTheFormant)
{
    // Noise whose envelope falls 24 dB per octave above 800 Hz; the filter's octave
    // shift raises the 1.6-3.2 kHz band against the 200-400 Hz band.
    auto noise = qvtest::testNoise (96000, 5, 0.5f);
    float y[4] = {};
    const float k = 1.0f - std::exp (-2.0f * (float) M_PI * 800.0f / (float) rate);
    for (auto& v : noise)
    {
        float s = v;
        for (auto& stage : y)
            s = stage += (s - stage) * k;
        v = 4.0f * s;
    }
    ASSERT_EQ (quorvalen_engine_init(), 0);
    const auto wav = floatWav (noise);
    const int id = quorvalen_engine_cache_wav_memory (wav.data(), wav.size());
    ASSERT_GT (id, 0);
    const char* json = R"({"deEssEnabled":true,"filterMode":"CEPS","filterCepsAmount":100,"filterCepsShift":12})";
    ASSERT_EQ (quorvalen_engine_play_cached_with_processing (id, json, 100.0f, 1), 0);
    std::this_thread::sleep_for (std::chrono::milliseconds (1200));

    std::vector<float> left (16384), right (16384);
    ASSERT_EQ (quorvalen_engine_get_master_stereo_scope (left.data(), right.data(), 16384), 1);
    quorvalen_engine_stop();
    EXPECT_GT (tilt (left) - tilt (noise), 8.0);
    EXPECT_EQ (quorvalen_engine_shutdown(), 0);
}
