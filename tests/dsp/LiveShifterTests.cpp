#include "HeapWatch.h"
#include "TestNoise.h"
#include "dsp/stretch/LiveShifter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <new>
#include <vector>

using quorvalen::platform::LiveShifter;


namespace
{
constexpr int block = LiveShifter::blockFrames;

// Shifts `left` and `right` block by block; returns the left output.
std::vector<float> run (LiveShifter& shifter, const std::vector<float>& left, const std::vector<float>& right)
{
    std::vector<float> outLeft (left.size()), outRight (left.size());
    for (size_t at = 0; at + block <= left.size(); at += block)
    {
        const float* in[2] = { left.data() + at, right.data() + at };
        float* out[2] = { outLeft.data() + at, outRight.data() + at };
        shifter.shift (in, out);
    }
    return outLeft;
}

int correlationPeak (const std::vector<float>& x, const std::vector<float>& y, int maxLag)
{
    int best = -1;
    double bestValue = -1.0e30;
    for (int lag = 0; lag < maxLag; ++lag)
    {
        double sum = 0.0;
        for (size_t i = 0; i + (size_t) lag < y.size(); ++i)
            sum += (double) x[i] * y[i + (size_t) lag];
        if (sum > bestValue)
        {
            bestValue = sum;
            best = lag;
        }
    }
    return best;
}
} // namespace

TEST (LiveShifter, ReportedStartDelayIsTheMeasuredDelay)
{
    for (const double rate : { 44100.0, 48000.0, 96000.0 })
        for (const int options :
             { (int) LiveShifter::channelsTogether, LiveShifter::channelsTogether | LiveShifter::windowMedium })
        {
            LiveShifter shifter (rate, 2, options);
            ASSERT_EQ (shifter.getBlockSize(), block);
            const int delay = shifter.getStartDelay();
            ASSERT_GT (delay, 0);
            const auto left = qvtest::testNoise (block * 60, 1, 0.5f), right = qvtest::testNoise (block * 60, 2, 0.5f);
            const auto out = run (shifter, left, right);
            EXPECT_EQ (correlationPeak (left, out, delay + 2048), delay) << rate << " Hz, options " << options;
            EXPECT_EQ (shifter.getUnderrunCount(), 0u);

            // At unity the shifted sound is the input, only later.
            double match = 0.0, energy = 0.0;
            for (size_t i = (size_t) delay; i < out.size(); ++i)
            {
                match += (double) out[i] * left[i - (size_t) delay];
                energy += (double) left[i - (size_t) delay] * left[i - (size_t) delay];
            }
            EXPECT_GT (match / energy, 0.8);
        }
}

TEST (LiveShifter, BadRatesRatiosAndSamplesAreRefusedOrHeld)
{
    std::vector<float> in ((size_t) block, 0.3f), out ((size_t) block, 1.0f);
    const float* ins[2] = { in.data(), in.data() };
    float* outs[2] = { out.data(), out.data() };
    for (const double rate : { 4000.0, 250000.0, (double) NAN })
    {
        LiveShifter inert (rate, 2, 0);
        EXPECT_EQ (inert.getBlockSize() + inert.getStartDelay(), 0);
        inert.shift (ins, outs);
        EXPECT_EQ (out, std::vector<float> ((size_t) block, 0.0f));
    }
    EXPECT_EQ (LiveShifter (48000.0, 3, 0).getBlockSize(), 0);

    LiveShifter shifter (48000.0, 1, 0);
    in[7] = NAN;
    in[8] = INFINITY;
    for (int k = 0; k < 40; ++k)
        shifter.shift (ins, outs);
    shifter.shift (nullptr, outs); // silence in, never a crash
    shifter.shift (ins, nullptr);
    for (float v : out)
        ASSERT_TRUE (std::isfinite (v));
    for (const double bad : { (double) NAN, (double) INFINITY, 0.0, -2.0 })
    {
        shifter.setPitchScale (bad);
        EXPECT_EQ (shifter.getPitchScale(), 1.0);
    }
    shifter.setPitchScale (100.0);
    EXPECT_EQ (shifter.getPitchScale(), 2.0);
    shifter.setPitchScale (0.001);
    EXPECT_EQ (shifter.getPitchScale(), 0.5);
    // Ratios sit on a grid fine enough to be inaudible.
    const double fifth = std::exp2 (7.0 / 12.0);
    shifter.setPitchScale (fifth);
    EXPECT_LT (std::abs (1200.0 * std::log2 (shifter.getPitchScale() / fifth)), 1.0);
    EXPECT_EQ (std::fmod (2048.0 / shifter.getPitchScale(), 1.0), 0.0);
}

TEST (LiveShifter, ShiftAllocatesNothingWhilePitchMovesAndAfterAReset)
{
    for (const int options :
         { (int) LiveShifter::channelsTogether, LiveShifter::channelsTogether | LiveShifter::windowMedium })
    {
        LiveShifter shifter (44100.0, 2, options);
        const auto left = qvtest::testNoise (block, 3, 0.5f), right = qvtest::testNoise (block, 4, 0.5f);
        std::vector<float> outLeft ((size_t) block), outRight ((size_t) block);
        const float* in[2] = { left.data(), right.data() };
        float* out[2] = { outLeft.data(), outRight.data() };
        qvtest::NoiseStream semitones (9);

        qvtest::heap::resetCounts();
        qvtest::heap::watching = true;
        for (int k = 0; k < 1500; ++k)
        {
            // Jumps (past the octave limit too), then smooth sweeps, with a reset (the
            // audio thread's recovery) between.
            const double st = k < 700 ? 24.0 * semitones.next() : 24.0 * std::sin (k * 0.03);
            shifter.setPitchScale (std::exp2 (st / 12.0));
            shifter.shift (in, out);
            if (k == 700)
                shifter.reset();
        }
        qvtest::heap::watching = false;
        EXPECT_EQ (qvtest::heap::allocations.load(), 0) << "options " << options;
        EXPECT_EQ (shifter.getUnderrunCount(), 0u);
    }
}
