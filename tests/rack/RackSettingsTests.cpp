// The rack settings document: defaults, refusals, clamps, enumerations, lanes,
// module order and nested module entries, and publication.
#include "engine/QuorvalenEngine.h"
#include "rack/QuorvalenProcessingRackSource.h"
#include "rack/QuorvalenRackSettings.h"

#include <gtest/gtest.h>
#include <quorvalen_dsp.h>

#include <cmath>
#include <string>

using namespace quorvalen;

namespace
{
std::shared_ptr<QuorvalenRackSettings> parse (const std::string& json)
{
    return parseRackSettings (json.c_str());
}

QuorvalenRackSettings parsed (const std::string& json)
{
    auto r = parse (json);
    EXPECT_NE (r, nullptr) << json;
    return r != nullptr ? *r : QuorvalenRackSettings {};
}

std::string lanePoints (int count)
{
    // x runs downward so that the kept points must be re-sorted.
    std::string s = "[";
    for (int i = 0; i < count; ++i)
        s += (i > 0 ? "," : "") + std::string ("{\"x\":") + std::to_string (1.0 - i / 4096.0) + ",\"y\":0.5}";
    return s + "]";
}
} // namespace

TEST (RackSettings, EmptyObjectGivesTheDefaults)
{
    const auto s = parsed ("{}");
    const QuorvalenRackSettings d;
    EXPECT_EQ (s.heat.drive, 25.0f);
    EXPECT_EQ (s.filter.lfoShape, LfoShape::tri); // absent enumerations take their default string
    EXPECT_EQ (s.filter.lfoTiming, LfoTiming::dotted);
    EXPECT_TRUE (s.filter.cepsEnvTargetAmount);
    EXPECT_EQ (s.filter.bpm, 172.0f);
    EXPECT_EQ (s.stereo.crossover, 500.0f);
    EXPECT_EQ (s.chainOrder, d.chainOrder);
    EXPECT_TRUE (s.rackModules.empty());
    for (const auto& lane : s.automation)
        EXPECT_TRUE (lane.times.empty() && lane.values.empty());
}

TEST (RackSettings, TextsThatAreNotObjectsAreRefusedAndOthersReplaceTheWholeRecord)
{
    QuorvalenProcessingRackSource rack (nullptr);
    ASSERT_TRUE (updateSettings (rack, "{\"heatDrive\": 80}"));
    const auto before = rack.currentSettings();
    ASSERT_EQ (before->heat.drive, 80.0f);

    for (const char* bad : { "[]", "null", "42", "\"text\"", "not json", "", "{\"heatDrive\": }" })
    {
        EXPECT_EQ (parseRackSettings (bad), nullptr) << bad;
        EXPECT_FALSE (updateSettings (rack, bad)) << bad;
        EXPECT_EQ (rack.currentSettings(), before) << bad;
    }
    EXPECT_EQ (parseRackSettings (nullptr), nullptr);
    EXPECT_FALSE (updateSettings (rack, nullptr));
    EXPECT_EQ (rack.currentSettings(), before);

    // A later document replaces the whole record: nothing merges with the last one.
    ASSERT_TRUE (updateSettings (rack, R"({"bpm": 120})"));
    EXPECT_EQ (rack.currentSettings()->heat.drive, 25.0f);
    // Nothing reads on an audio thread here, so no replaced record is held back.
    EXPECT_EQ (rack.settingsPublisher().retiredCount(), 0u);
}

TEST (RackSettings, ExportCodesFollowTheOrderOfTests)
{
    EXPECT_EQ (quorvalen_engine_update_processing_rack (nullptr), 1);
    EXPECT_EQ (quorvalen_engine_update_processing_rack ("[1, 2]"), 2);
    EXPECT_EQ (quorvalen_engine_update_processing_rack ("{}"), 0);
}

TEST (RackSettings, NumbersAreClampedIntoTheirRanges)
{
    const auto s = parsed (R"({"heatDrive": 150, "bpm": 5, "stereoCrossover": 30000, "droneStretch": 1,
                              "freqShiftMix": 60, "filterCepsWarp": -500, "transientAttack": 3.5,
                              "dronePitch": -13, "heatMix": "75"})");
    EXPECT_EQ (s.heat.drive, 100.0f);
    EXPECT_EQ (s.filter.bpm, 20.0f);
    EXPECT_EQ (s.stereo.crossover, 20000.0f);
    EXPECT_EQ (s.freqShift.droneStretch, 2.0f);
    EXPECT_EQ (s.freqShift.mixMs, 50.0f);
    EXPECT_EQ (s.filter.cepsWarp, -100.0f);
    EXPECT_EQ (s.transient.attack, 3.5f);
    EXPECT_EQ (s.freqShift.dronePitch, -12.0f);
    EXPECT_EQ (s.heat.mix, 75.0f); // a numeric string converts
}

TEST (RackSettings, NonFiniteNumbersNeverReachTheRecordAndTheIrIndexIsTruncated)
{
    // JSON carries infinity as an overflowing literal and NaN only as text.
    const auto s = parsed (R"({"heatDrive": 1e999, "heatMix": -1e999, "bpm": "nan", "spaceWet": "NaN",
                              "stereoWidth": "inf", "spaceIrIndex": "nan"})");
    EXPECT_EQ (s.heat.drive, 100.0f);
    EXPECT_EQ (s.heat.mix, 0.0f);
    EXPECT_EQ (s.filter.bpm, 172.0f); // NaN keeps the default
    EXPECT_EQ (s.space.wet, 70.0f);
    EXPECT_EQ (s.stereo.width, 10.0f);
    EXPECT_EQ (s.space.irIndex, 0);

    EXPECT_EQ (parsed (R"({"spaceIrIndex": "-inf"})").space.irIndex, 0);
    EXPECT_EQ (parsed (R"({"spaceIrIndex": 2.9})").space.irIndex, 2);
    EXPECT_EQ (parsed (R"({"spaceIrIndex": -3})").space.irIndex, 0);
    EXPECT_EQ (parsed (R"({"spaceIrIndex": 1e12})").space.irIndex, 0);
}

TEST (RackSettings, EnumerationsMatchExactlyAndUnknownTextGivesZero)
{
    EXPECT_EQ (parsed (R"({"heatMode": "tube"})").heat.mode, HeatMode::tube);
    EXPECT_EQ (parsed (R"({"heatMode": "Tube"})").heat.mode, HeatMode::bleed);
    EXPECT_EQ (parsed (R"({"heatMode": "broken"})").heat.mode, HeatMode::broken);
    EXPECT_EQ (parsed (R"({"filterMode": "N"})").filter.mode, FilterMode::notch);
    EXPECT_EQ (parsed (R"({"filterMode": "CEPS"})").filter.mode, FilterMode::ceps);
    EXPECT_EQ (parsed (R"({"filterMode": "lp"})").filter.mode, FilterMode::lp);
    EXPECT_EQ (parsed (R"({"filterLfoTiming": "TRI"})").filter.lfoTiming, LfoTiming::triplet);
    EXPECT_EQ (parsed (R"({"filterLfoShape": "TRI"})").filter.lfoShape, LfoShape::tri);
    EXPECT_EQ (parsed (R"({"filterLfoShape": "sine"})").filter.lfoShape,
               LfoShape::sine);                                                      // unmatched: 0, not the default 1
    EXPECT_EQ (parsed (R"({"filterLfoShape": 1})").filter.lfoShape, LfoShape::sine); // a number is text "1"
    EXPECT_EQ (parsed (R"({"freqShiftMode": "ambi"})").freqShift.mode, FreqShiftMode::ambi);
    EXPECT_EQ (parsed (R"({"freqShiftMode": "synth"})").freqShift.mode, FreqShiftMode::synth);
    EXPECT_EQ (parsed (R"({"freqShiftMode": "beat"})").freqShift.mode, FreqShiftMode::beat);
}

TEST (RackSettings, LanePointsAreClampedSortedAndBadOnesSkipped)
{
    const auto s = parsed (R"({"automation": {
        "heatDrive": [{"x": 0.8, "y": 0.9}, {"x": 0.2, "y": 0.3}],
        "stereoCrossover": [{"x": 1.5, "y": -1}, 7, "p", {"y": 0.25}],
        "filterCepsWarp": [{"x": "nan", "y": 0.5}, {"x": 0.5, "y": 1e999}, {"x": 0.4, "y": 0.6}],
        "spaceWet": {"x": 0.5},
        "notALane": [{"x": 0.1, "y": 0.1}]}})");
    const auto& heat = s.automation[rackLane::heatDrive];
    EXPECT_EQ (heat.times, (std::vector<float> { 0.2f, 0.8f }));
    EXPECT_EQ (heat.values, (std::vector<float> { 0.3f, 0.9f }));

    const auto& crossover = s.automation[rackLane::stereoCrossover];
    EXPECT_EQ (crossover.times, (std::vector<float> { 0.0f, 1.0f })); // absent x reads as 0
    EXPECT_EQ (crossover.values, (std::vector<float> { 0.25f, 0.0f }));

    const auto& warp = s.automation[rackLane::filterCepsWarp];
    EXPECT_EQ (warp.times, (std::vector<float> { 0.4f }));
    EXPECT_EQ (warp.values, (std::vector<float> { 0.6f }));

    EXPECT_TRUE (s.automation[rackLane::spaceWet].times.empty()); // not an array
    int filled = 0;
    for (const auto& lane : s.automation)
        filled += lane.times.empty() ? 0 : 1;
    EXPECT_EQ (filled, 3);
}

TEST (RackSettings, LaneKeepsTheFirst1024PointsInDocumentOrderThenSorts)
{
    const auto s = parsed ("{\"automation\": {\"filterFreq\": " + lanePoints (2000) + "}}");
    const auto& lane = s.automation[rackLane::filterFreq];
    ASSERT_EQ (lane.times.size(), 1024u);
    ASSERT_EQ (lane.values.size(), 1024u);
    EXPECT_TRUE (std::is_sorted (lane.times.begin(), lane.times.end()));
    EXPECT_FLOAT_EQ (lane.times.front(), (float) (1.0 - 1023 / 4096.0));
    EXPECT_FLOAT_EQ (lane.times.back(), 1.0f);
}

TEST (RackSettings, ChainOrderDropsRepeatsAndUnknownNamesThenFills)
{
    using Order = std::array<std::int32_t, 7>;
    EXPECT_EQ (parsed (R"({"chainOrder": ["space", "heat", "space", "reverb"]})").chainOrder,
               (Order { 5, 0, 1, 2, 3, 4, 6 }));
    EXPECT_EQ (parsed (R"({"chainOrder": "heat"})").chainOrder, (Order { 0, 1, 2, 3, 4, 5, 6 }));
    EXPECT_EQ (parsed (R"({"chainOrder": []})").chainOrder, (Order { 0, 1, 2, 3, 4, 5, 6 }));
    EXPECT_EQ (parsed (R"({"chainOrder": ["stereo", "Space", 5, "deess", "freqshift", "spectraldelay",
                                          "transient", "space", "heat"]})")
                   .chainOrder,
               (Order { 6, 1, 3, 4, 2, 5, 0 }));
}

TEST (RackSettings, RackModulesKeepValidEntriesUpTo24)
{
    std::string json = R"({"rackModules": [{"effect": "Heat", "settings": {}}, {"effect": "heat"},
                                            {"effect": "heat", "settings": 3}, 5, )";
    for (int i = 0; i < 30; ++i)
        json += std::string (i > 0 ? "," : "") + R"({"effect": "transient", "settings": {"transientAttack": )"
            + std::to_string (i % 10) + "}}";
    json += "]}";
    const auto s = parsed (json);
    ASSERT_EQ (s.rackModules.size(), 24u);
    for (size_t i = 0; i < 24; ++i)
    {
        EXPECT_EQ (s.rackModules[i].module, (std::uint32_t) rackModuleTransient);
        ASSERT_NE (s.rackModules[i].settings, nullptr);
        EXPECT_EQ (s.rackModules[i].settings->transient.attack, (float) (i % 10));
    }
}

TEST (RackSettings, NestedEntriesStartFromDefaultsAndKeepTheirOwnLists)
{
    const auto s = parsed (R"({"heatEnabled": true, "heatDrive": 90, "rackModules": [
        {"effect": "heat", "settings": {"heatDrive": 80}},
        {"effect": "space", "settings": {"spaceEnabled": true, "chainOrder": ["stereo"],
                                         "rackModules": [{"effect": "heat", "settings": {}}]}}]})");
    ASSERT_EQ (s.rackModules.size(), 2u);
    const auto& heat = *s.rackModules[0].settings;
    EXPECT_EQ (heat.heat.drive, 80.0f);
    EXPECT_FALSE (heat.heat.enabled); // not inherited from the enclosing document
    const auto& space = *s.rackModules[1].settings;
    EXPECT_TRUE (space.space.enabled);
    EXPECT_EQ (space.chainOrder[0], 6);
    EXPECT_EQ (space.rackModules.size(), 1u);
}

TEST (RackSettings, DeeplyNestedDocumentsAreBoundedNotFatal)
{
    // Module entries nested far deeper than the rack could use: parsed down to a
    // fixed depth, below which lists stay empty.
    std::string json;
    const int levels = 40;
    for (int i = 0; i < levels; ++i)
        json += R"({"heatDrive": 1, "rackModules": [{"effect": "heat", "settings": )";
    json += "{}";
    for (int i = 0; i < levels; ++i)
        json += "}]}";
    auto s = parse (json);
    ASSERT_NE (s, nullptr);
    int depth = 0;
    for (const QuorvalenRackSettings* r = s.get(); ! r->rackModules.empty(); r = r->rackModules[0].settings.get())
        ++depth;
    EXPECT_GE (depth, 2); // every level the rack looks at is there
    EXPECT_LT (depth, levels);

    // Bracket nesting that would exhaust the JSON parser's stack is refused.
    const std::string deep = "{\"a\": " + std::string (200000, '[') + std::string (200000, ']') + "}";
    EXPECT_EQ (parse (deep), nullptr);
    // Brackets inside strings do not count.
    EXPECT_NE (parse ("{\"name\": \"" + std::string (5000, '[') + "\"}"), nullptr);
}

TEST (RackSettings, IntegersTooLongForTheParserAreRefusedThroughTheExport)
{
    // 19 integer or 10 exponent digits in a row would overflow the JSON parser's
    // accumulators: refused whole, and the live record stays as it was.
    ASSERT_EQ (quorvalen_engine_update_processing_rack (R"({"heatDrive": 80})"), 0);
    const auto before = engine().rackSource.currentSettings();
    for (const char* bad : { R"({"heatMix": 6000000000000000000})", R"({"heatMix": 1234567890123456789.5})",
                             R"({"heatMix": -99999999999999999999e-30})", R"({"heatDrive": 1e9999999999})" })
    {
        EXPECT_EQ (quorvalen_engine_update_processing_rack (bad), 2) << bad;
        EXPECT_EQ (engine().rackSource.currentSettings(), before) << bad;
    }
    // 18 digits still parse (and clamp), and digits inside strings do not count.
    EXPECT_EQ (quorvalen_engine_update_processing_rack (R"({"heatMix": 999999999999999999})"), 0);
    EXPECT_EQ (engine().rackSource.currentSettings()->heat.mix, 100.0f);
    EXPECT_EQ (quorvalen_engine_update_processing_rack (R"({"name": "00000000000000000000000"})"), 0);
}
