// Writes the fuzz targets' seed corpora: every supported audio shape, the hostile
// cases of the regression suite, and a few rack documents.
#include "HostileAudio.h"

#include <juce_core/juce_core.h>

#include <cstdio>

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
    return 0;
}
