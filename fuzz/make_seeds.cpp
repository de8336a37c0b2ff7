// Writes the fuzz targets' seed corpora: every supported audio shape, the hostile
// cases of the regression suite, a few rack documents, and op streams of the
// Foundry and spectral calls the tests make.
#include "HostileAudio.h"

#include <juce_core/juce_core.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace
{
void write (const juce::File& dir, const std::string& name, const void* data, size_t size)
{
    dir.createDirectory();
    dir.getChildFile (name).replaceWithData (data, size);
}

void writeText (const juce::File& dir, const std::string& name, const std::string& text)
{
    write (dir, name, text.data(), text.size());
}

// Writes op streams as the sequence targets read them (fuzz/FuzzSupport.h).
class OpStream
{
public:
    std::string bytes;

    OpStream& op (int code) { return put (code); }
    OpStream& put (int b)
    {
        bytes.push_back ((char) (std::uint8_t) b);
        return *this;
    }
    // A value in range as Bytes::hostile reads it.
    OpStream& value (float lo, float hi, float v)
    {
        const auto x = (int) std::lround ((v - lo) / (hi - lo) * 65535.0f);
        return put (0).put (x & 0xFF).put (x >> 8);
    }
    // One of Bytes::hostile's special values by index (0 NaN, 2 +inf, 3 -inf, 4 the
    // largest, 6 a denormal, 16 just past ten minutes in ms).
    OpStream& special (int index) { return put (200).put (index); }
    OpStream& rawFloat (float f)
    {
        std::uint32_t bits;
        std::memcpy (&bits, &f, sizeof bits);
        return put (176).u32 (bits);
    }
    OpStream& integer (int lo, int v) { return put (0).put (v - lo); }
    OpStream& rawInteger (std::int32_t v) { return put (208).u32 ((std::uint32_t) v); }
    OpStream& u32 (std::uint32_t v)
    {
        return put (v & 0xFF).put ((v >> 8) & 0xFF).put ((v >> 16) & 0xFF).put (v >> 24);
    }
    // The nth sound (or session) the input made.
    OpStream& pick (int n) { return put (n); }
    // A sound of Bytes' menu: rate index (4 is 48 kHz), channels, shape (0 tone, 7
    // struck tone), length byte (255 the longest).
    OpStream& sound (int rate, int channels, int shape, int length)
    {
        return op (0).put (rate | ((channels - 1) << 3) | (shape << 5)).put (length);
    }
};

// Preview field numbers as fuzz_foundry reads them.
enum PreviewField
{
    bodyIdField = 1,
    tailIdField = 2,
    bodyJoinField = 3,
    tailJoinField = 4,
    tbXfadeField = 5,
    ctXfadeField = 6,
    tPitchField = 7,
    bHeatField = 20,
    tailHeatField = 30,
    tailWidthField = 32,
    overtoneIdField = 41,
    overlayStartField = 42,
    overlayEndField = 43,
    lengthField = 54,
    finalPitchField = 55,
    characterField = 56
};

// Foundry sequences after the Foundry tests' typical calls, and a few hostile ones.
std::vector<std::string> foundrySeeds()
{
    const auto two = [] {
        OpStream s;
        s.sound (4, 2, 7, 128).sound (4, 1, 0, 128);
        return s;
    };
    // Preview ops: 18 play, 19 refresh, 20 export; transient from sound 0.
    const auto preview = [] (OpStream& s, int op, int changes) -> OpStream& {
        return s.op (op).put (0).pick (0).put (changes);
    };
    std::vector<std::string> seeds;
    {
        auto s = two();
        preview (s, 18, 0).put (1); // play, looping
        s.op (9).put (20);
        preview (s, 19, 1).put (tPitchField).value (-24, 24, 5);
        s.op (16).put (1).integer (0, 1).op (16).put (0).value (-24, 24, -3);
        preview (s, 20, 0).put (5); // export to a file
        s.op (6);
        seeds.push_back (s.bytes);
    }
    {
        auto s = two();
        preview (s, 18, 6)
            .put (bodyIdField)
            .put (1)
            .pick (1)
            .put (tailIdField)
            .put (1)
            .pick (0)
            .put (bodyJoinField)
            .value (-10, 1000, 80)
            .put (tailJoinField)
            .value (-10, 1000, 200)
            .put (tbXfadeField)
            .value (-10, 1000, 20)
            .put (ctXfadeField)
            .value (-10, 1000, 30)
            .put (0);
        s.op (9).put (10);
        preview (s, 19, 3)
            .put (bHeatField)
            .value (0, 100, 60)
            .put (tailHeatField)
            .value (0, 100, 40)
            .put (tailWidthField)
            .value (-100, 100, 50);
        s.op (7).op (6);
        seeds.push_back (s.bytes);
    }
    {
        // A lane of three points on the transient's level, a preview, then a lane past the limit.
        auto s = two();
        s.op (10).integer (0, 0).integer (0, 1).put (3);
        for (const float t : { 0.0f, 0.5f, 1.0f })
            s.value (0, 1, t).value (0, 1, 1.0f - t);
        preview (s, 18, 0).put (0);
        s.op (10).integer (0, 1).integer (0, 4).put (243); // 1025 points, the first twelve given
        for (int i = 0; i < 12; ++i)
            s.value (0, 1, (float) i / 12.0f).value (0, 1, 0.5f);
        preview (s, 19, 1).put (characterField).value (0, 100, 70);
        s.op (23);
        seeds.push_back (s.bytes);
    }
    {
        // Region auditions of every kind, the live setters, the master tap.
        auto s = two();
        for (int kind = 0; kind < 4; ++kind)
        {
            s.op (12).pick (kind & 1).value (-24, 24, 3).value (0, 150, 100).value (-10, 1000, 20);
            s.integer (0, 1).value (20, 20000, 120).value (0, 100, 20).integer (0, 1).value (20, 20000, 9000);
            s.value (0, 100, 10).integer (0, kind).value (0, 100, 50).value (0, 100, 50).value (0, 100, 50);
            s.integer (0, kind % 3).value (0, 100, 40).value (-100, 100, 30).integer (0, kind).value (0, 100, 10);
            s.value (0, 100, 20);
            s.op (13).value (-24, 24, 2).value (0, 150, 120).integer (-1, kind).value (0, 100, 30);
            s.value (0, 100, 30).value (0, 100, 30).integer (0, 1).value (0, 100, 30).value (-100, 100, -20);
            s.op (14).integer (0, 0).integer (0, 1).value (20, 20000, 200).value (0, 100, 50).integer (0, 1);
            s.value (20, 20000, 5000).value (0, 100, 50);
            s.op (9).put (15).op (22);
        }
        s.op (15).integer (0, 1).integer (0, 1).value (20, 20000, 300).value (0, 100, 0).integer (0, 0);
        s.value (20, 20000, 20000).value (0, 100, 0);
        seeds.push_back (s.bytes);
    }
    {
        // The body/tail morph of two sounds.
        auto s = two();
        s.op (17).pick (0).pick (1).value (-10, 1000, 150).value (-10, 500, 30).put (1);
        s.op (9).put (20).op (7).op (6);
        seeds.push_back (s.bytes);
    }
    {
        // Pitch detection, render surprise, then the changed sound played.
        auto s = two();
        s.op (11).pick (1).value (-100, 1000, 0);
        s.op (21).pick (0).value (0, 100, 40).value (0, 100, 30).integer (0, 1).integer (0, 1);
        s.op (4).pick (0).value (-24, 24, 0).value (0, 100, 80).op (9).put (10).op (6);
        seeds.push_back (s.bytes);
    }
    {
        // Hostile values: a length just past ten minutes, NaN and infinite joins and
        // pitches, an overtone overlay, a shutdown in the middle.
        auto s = two();
        preview (s, 18, 4)
            .put (lengthField)
            .special (16)
            .put (bodyIdField)
            .put (1)
            .pick (1)
            .put (bodyJoinField)
            .special (0)
            .put (finalPitchField)
            .special (2)
            .put (0);
        preview (s, 19, 4)
            .put (lengthField)
            .special (3)
            .put (overtoneIdField)
            .put (1)
            .pick (1)
            .put (overlayStartField)
            .value (-10, 1000, 10)
            .put (overlayEndField)
            .special (4);
        s.op (17).pick (0).pick (1).special (16).special (2).put (0);
        s.op (8).put (0).put (0); // shutdown, init
        preview (s, 18, 0).put (0);
        s.op (8).put (0).put (255); // shutdown, left down
        preview (s, 20, 0).put (5);
        s.op (12).pick (0).special (0).special (2).special (3);
        seeds.push_back (s.bytes);
    }
    return seeds;
}

// Spectral sequences after the spectral tests' typical calls, and a few hostile ones.
std::vector<std::string> spectralSeeds()
{
    const auto one = [] {
        OpStream s;
        s.sound (4, 2, 0, 128);
        return s;
    };
    // One stroke of `points` with one tool code; each point's five values.
    const auto stroke = [] (OpStream& s, int tool, std::initializer_list<std::array<float, 5>> points) {
        s.op (11).pick (0).put ((int) points.size() - 1).put (0).put (tool);
        for (const auto& p : points)
            for (const float v : p)
                s.value (0, 1, v);
        s.put (1);
    };
    // Image sizes as imageSize reads them: kind 0 bounded-Q, 1 constant-Q, 2 STFT.
    const auto image = [] (OpStream& s, int kind, int w, int h) {
        s.put (kind).put ((w - 32) & 0xFF).put ((w - 32) >> 8).put ((h - 32) & 0xFF).put ((h - 32) >> 8);
    };
    std::vector<std::string> seeds;
    {
        auto s = one();
        s.op (10).pick (0).put (0);
        stroke (s, 0, { { 0.3f, 0.4f, 0.05f, 0.05f, 1.0f }, { 0.35f, 0.4f, 0.05f, 0.05f, 1.0f } });
        stroke (s, 3, { { 0.6f, 0.6f, 0.1f, 0.1f, 0.0f } });
        s.op (13).pick (0).op (14).pick (0);
        s.op (16);
        image (s, 0, 961, 385);
        s.put (1).pick (0);
        s.op (15).pick (0);
        seeds.push_back (s.bytes);
    }
    {
        auto s = one();
        s.op (10).pick (0).put (0);
        s.op (5).pick (1).put (0).value (0, 100, 80).put (1); // the live copy, looping through the rack
        stroke (s, 1, { { 0.2f, 0.3f, 0.01f, 0.0f, 0.8f }, { 0.25f, 0.3f, 0.01f, 0.0f, 0.8f } });
        s.op (9).put (10);
        stroke (s, 2, { { 0.5f, 0.5f, 0.1f, 0.1f, 0.0f } });
        stroke (s, 4, { { 0.4f, 0.5f, 0.05f, 0.05f, 0.0f } });
        s.op (13).pick (0).op (13).pick (0).op (14).pick (0);
        s.op (16);
        image (s, 1, 512, 385);
        s.put (1).pick (0);
        s.op (6).op (15).pick (0);
        seeds.push_back (s.bytes);
    }
    {
        auto s = one();
        s.op (17);
        image (s, 2, 512, 256);
        s.put (1).pick (0).put (1);
        s.op (18).pick (0).op (9).put (10).op (7).op (6);
        seeds.push_back (s.bytes);
    }
    {
        // An offline edit of five brushes, one of each mode, then its result played.
        auto s = one();
        s.op (19).pick (0).put (4).put (192).put (0);
        for (int m = 0; m < 5; ++m)
            s.put (m);
        for (int m = 0; m < 5; ++m)
            s.value (0, 1, 0.1f + 0.2f * (float) m)
                .value (0, 1, 0.5f)
                .value (0, 1, 0.05f)
                .value (0, 1, 0.1f)
                .value (0, 1, 0.7f);
        s.put (3);
        s.op (4).pick (1).value (-24, 24, 0).value (0, 100, 100).op (9).put (10).op (6);
        seeds.push_back (s.bytes);
    }
    {
        // The covalent morph and the reese morph of two short sounds, then a manifold mix.
        OpStream s;
        s.sound (4, 2, 0, 60).sound (3, 1, 7, 60);
        s.op (20).pick (0).pick (1).value (0, 100, 50).put (0).integer (0, 1).value (20, 400, 120).integer (0, 0);
        s.op (20).pick (0).pick (1).value (0, 100, 30).put (1).integer (0, 0).value (20, 400, 172).integer (0, 1);
        s.op (21).put (1);
        s.pick (0).value (0, 1, 1.0f).integer (0, 0).pick (1).value (0, 1, 0.5f).integer (0, 8);
        s.integer (0, 0).value (0.1f, 2.0f, 1.0f).value (-1.0f, 2.0f, 0.0f).integer (0, 0).u32 (0).put (3);
        seeds.push_back (s.bytes);
    }
    {
        // Hostile: tools mixed, a count past the limit, NaN points, sizes past the
        // edges, null outputs, seventeen mix sources, a shutdown during a session.
        auto s = one();
        s.op (10).pick (0).put (0);
        s.op (11).pick (0).put (3).put (0xC0).put (0).put (0).put (1).put (2).put (5);
        for (int i = 0; i < 20; ++i)
            s.value (0, 1, 0.5f);
        s.put (1);
        s.op (11).pick (0).put (232).put (0).put (1); // 20001 points
        for (int i = 0; i < 40; ++i)
            s.value (0, 1, 0.5f);
        s.put (1);
        s.op (12).pick (0).put (0).put (0).put (4).special (0).special (2).special (3).special (4).special (6).put (1);
        s.op (16).put (4).u32 (0).put (3).put (1).pick (0);         // 2049 x 385
        s.op (17).put (4).u32 (0).put (7).put (1).pick (0).put (0); // 32 x -1, no seconds out
        s.op (21).put (226);                                        // 17 sources
        for (int i = 0; i < 17; ++i)
            s.pick (0).value (0, 1, 0.5f).integer (0, 8);
        s.integer (0, 0).value (0.1f, 2.0f, 1.0f).value (-1.0f, 2.0f, 0.0f).integer (0, 0).u32 (0).put (3);
        s.op (8).put (0).put (255); // shutdown, left down
        stroke (s, 1, { { 0.2f, 0.3f, 0.01f, 0.0f, 0.8f } });
        s.op (8).put (0).put (0).op (13).pick (0);
        seeds.push_back (s.bytes);
    }
    return seeds;
}
} // namespace

int main (int argc, char** argv)
{
    if (argc != 3)
    {
        std::fprintf (stderr, "usage: %s <corpus root> <rack document>\n", argv[0]);
        return 2;
    }
    const juce::File root (juce::File::getCurrentWorkingDirectory().getChildFile (argv[1]));
    const auto intake = root.getChildFile ("intake");
    for (const auto& f : qvtest::wellFormedFiles())
        write (intake, f.name, f.bytes.data(), f.bytes.size());
    for (const auto& c : qvtest::hostileFiles())
        write (intake, c.name, c.bytes.data(), c.bytes.size());

    const auto warm = juce::File::getCurrentWorkingDirectory().getChildFile (argv[2]).loadFileAsString().toStdString();
    const std::string docs[] = {
        "{}",
        warm,
        R"({"heatEnabled": true, "heatMode": "broken", "heatDrive": 150, "automation": {"heatDrive": [{"x": 0.2, "y": 0.9}, {"x": 1.5, "y": -1}]}})",
        R"({"deEssEnabled": true, "filterMode": "CEPS", "filterCepsShift": 5, "filterLfo": 50, "filterLfoShape": "RND"})",
        R"({"freqShiftEnabled": true, "freqShiftMode": "synth", "freqShift": -7, "freqShiftMix": 20})",
        R"({"freqShiftEnabled": true, "pitchAdvancedOpen": true, "freqShiftMode": "ambi", "droneStretch": 4})",
        R"({"spectralDelayEnabled": true, "transientEnabled": true, "transientAttack": 8, "chainOrder": ["space", "heat"]})",
        R"({"rackModules": [{"effect": "stereo", "settings": {"stereoEnabled": true, "stereoMono": true}}, {"effect": "heat", "settings": {"heatEnabled": true}}]})",
        R"({"spaceEnabled": true, "spaceIrIndex": 3, "spectroNoTail": true, "stereoEnabled": true, "stereoCrossover": 30000})",
        "{\"heatMode\": \"\xE0\xDF\xDF\xDF\xDF\xDF\xDD\x90\"}",
        R"({"heatEnabled": true, "heatMix": 60000000000000000000000000000000000000000000000})",
    };
    int n = 0;
    for (const auto& d : docs)
    {
        const auto name = "doc" + std::to_string (n++) + ".json";
        writeText (root.getChildFile ("rack_json"), name, d);
        writeText (root.getChildFile ("render"), name, d);
    }
    // Op streams: a walk through every op, and a few plain runs.
    std::string ops;
    for (int i = 0; i < 256; ++i)
        ops.push_back ((char) (i * 7));
    writeText (root.getChildFile ("api_sequence"), "walk", ops);
    writeText (root.getChildFile ("api_sequence"), "cache-play-unload",
               std::string ("\x00\x00\x05\x01\x80\x80\x07\x03\x01", 9));
    const std::pair<const char*, std::vector<std::string>> sequences[] = { { "foundry", foundrySeeds() },
                                                                           { "spectral", spectralSeeds() } };
    for (const auto& [target, seeds] : sequences)
        for (size_t i = 0; i < seeds.size(); ++i)
            writeText (root.getChildFile (target), "seed" + std::to_string (i), seeds[i]);
    return 0;
}
