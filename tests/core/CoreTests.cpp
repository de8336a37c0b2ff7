// The shared lane cursor against the plain search, units, the JSON guard and the
// history byte budget.
#include "TestNoise.h"
#include "core/AutomationLane.h"
#include "core/FairMutex.h"
#include "core/HistoryBudget.h"
#include "core/JsonFields.h"
#include "core/Units.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace
{
using namespace quorvalen;

AutomationLane randomLane (qvtest::NoiseStream& noise, int points)
{
    AutomationLane lane;
    for (int i = 0; i < points; ++i)
        lane.times.push_back (i % 5 == 4 && i > 0 ? lane.times.back() : noise.between (0.0f, 1.0f)); // some equal times
    std::sort (lane.times.begin(), lane.times.end());
    for (int i = 0; i < points; ++i)
        lane.values.push_back (noise.between (0.0f, 1.0f));
    return lane;
}

TEST (AutomationLaneCursor, GivesTheLinearSearchValueForwardBackwardAndAcrossLanes)
{
    qvtest::NoiseStream noise (7);
    for (int points : { 1, 2, 3, 17, 1024 })
    {
        const auto lane = randomLane (noise, points);
        AutomationLaneCursor cursor;
        // In order, at the breakpoints themselves, then jumping back and forth.
        for (int i = 0; i <= 4000; ++i)
        {
            const float t = (float) i / 4000.0f;
            ASSERT_EQ (cursor.valueAt (lane, t), automationLaneValue (lane, t)) << points << " " << t;
        }
        for (float t : lane.times)
            ASSERT_EQ (cursor.valueAt (lane, t), automationLaneValue (lane, t));
        for (int i = 0; i < 2000; ++i)
        {
            const float t = noise.between (-0.1f, 1.1f);
            ASSERT_EQ (cursor.valueAt (lane, t), automationLaneValue (lane, t)) << points << " " << t;
        }
        // A shorter lane after a long one must not index past its end.
        const auto other = randomLane (noise, 2);
        ASSERT_EQ (cursor.valueAt (other, 1.0f), automationLaneValue (other, 1.0f));
    }
}

TEST (AutomationLaneValue, HoldsTheEndsAndInterpolatesBetween)
{
    const AutomationLane lane { { 0.2f, 0.6f }, { 0.1f, 0.5f } };
    EXPECT_FLOAT_EQ (automationLaneValue (lane, 0.0f), 0.1f);
    EXPECT_FLOAT_EQ (automationLaneValue (lane, 0.4f), 0.3f);
    EXPECT_FLOAT_EQ (automationLaneValue (lane, 1.0f), 0.5f);
    EXPECT_FALSE ((AutomationLane { { 0.1f }, {} }).hasPoints());
}

TEST (Units, ConvertWithTheirNamedRounding)
{
    EXPECT_DOUBLE_EQ (semitonesToRatio (12.0), 2.0);
    EXPECT_FLOAT_EQ (semitonesToRatio (-12.0f), 0.5f);
    EXPECT_EQ (msToSamples (0.99, 1000.0, SampleRounding::towardZero), 0);
    EXPECT_EQ (msToSamples (0.99, 1000.0, SampleRounding::nearest), 1);
    EXPECT_EQ (msToSamples (-5.0, 48000.0, SampleRounding::nearest), 0);
    EXPECT_EQ (msToSamples (std::nan (""), 48000.0, SampleRounding::towardZero), 0);
    EXPECT_EQ (msToSamples (9.0, 48000.0, SampleRounding::towardZero), 432);
    EXPECT_FLOAT_EQ (percentToGain (25.0f), 0.25f);
    EXPECT_EQ (usableRate (std::nan ("")), 44100.0);
    EXPECT_EQ (usableRate (-1.0, 48000.0), 48000.0);
    EXPECT_EQ (usableRate (96000.0), 96000.0);
}

TEST (JsonFields, GuardNestingAndReadClampedFields)
{
    const std::string deep (300, '[');
    EXPECT_FALSE (jsonWithinParserLimits (deep.c_str(), 256));
    EXPECT_TRUE (jsonWithinParserLimits (("\"" + deep + "\"").c_str(), 256)); // inside a string
    EXPECT_TRUE (parseJsonGuarded (deep.c_str(), 256).isVoid());
    EXPECT_TRUE (parseJsonGuarded (nullptr, 256).isVoid());

    const auto doc = parseJsonGuarded (R"({"a": 1e300, "b": -5, "n": "x", "on": true, "e": "two"})", 8);
    ASSERT_TRUE (isJsonObject (doc));
    const JsonFieldReader in (doc);
    float a = 0.0f, b = 0.0f, n = 3.0f, missing = 9.0f;
    in.readClamped ("a", a, 0.0f, 100.0f);
    in.readClamped ("b", b, 0.0f, 100.0f);
    in.readClamped ("n", n, 0.0f, 100.0f);
    in.readClamped ("missing", missing, 0.0f, 1.0f);
    EXPECT_EQ (a, 100.0f);
    EXPECT_EQ (b, 0.0f);
    EXPECT_EQ (n, 0.0f); // a string reads as 0
    EXPECT_EQ (missing, 9.0f);
    bool on = false;
    in.readBool ("on", on);
    EXPECT_TRUE (on);
    enum class Count
    {
        one,
        two,
        three
    };
    auto e = Count::three;
    in.readEnum ("e", e, { { "one", Count::one }, { "two", Count::two } });
    EXPECT_EQ (e, Count::two);
    in.readEnum ("n", e, { { "two", Count::two } });
    EXPECT_EQ (e, Count::one); // no match: the first enumerator
}

TEST (HistoryBudget, DropsTheOldestOfTheFirstStackThenOfTheSecond)
{
    EXPECT_EQ (historyBudget (100, 10), 100u);
    EXPECT_EQ (historyBudget (0, 10), 80u);
    const auto bytes = [] (int step) { return (std::size_t) step; };
    std::vector<int> first { 1, 2, 3 }, second { 4, 5 };
    EXPECT_EQ (trimHistoryToBudget (first, second, 15, 1, bytes), 0); // 15 bytes fit
    EXPECT_EQ (trimHistoryToBudget (first, second, 9, 1, bytes), 3);
    EXPECT_EQ (first, std::vector<int> { 3 }); // the newest of `first` stays
    EXPECT_EQ (second, std::vector<int> { 5 });
    EXPECT_EQ (trimHistoryToBudget (first, second, 0, 1, bytes), 1);
    EXPECT_EQ (first, std::vector<int> { 3 }); // kept even over budget
    EXPECT_TRUE (second.empty());
}

} // namespace

// Exclusion under contention, and a try that never jumps the queue.
TEST (FairMutex, ExcludesAndTriesOnlyWhenFree)
{
    quorvalen::FairMutex m;
    ASSERT_TRUE (m.try_lock());
    EXPECT_FALSE (m.try_lock());
    m.unlock();

    long counter = 0;
    std::atomic<int> inside { 0 };
    bool overlapped = false;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back ([&] {
            for (int i = 0; i < 2000; ++i)
            {
                const std::lock_guard lock (m);
                overlapped |= inside.fetch_add (1) != 0;
                ++counter;
                inside.fetch_sub (1);
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_FALSE (overlapped);
    EXPECT_EQ (counter, 8000);
    EXPECT_TRUE (m.try_lock());
    m.unlock();
}
