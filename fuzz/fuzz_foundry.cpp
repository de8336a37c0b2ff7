// The Foundry exports in random sequences: automation lanes, pitch detection, the
// audition setters, region audition, the three preview exports with all 57
// parameters, the body/tail morph and render surprise, mixed with caching, playing,
// stopping, unloading, clearing, shutdown and init. Floats come off the input as
// raw bits, special values or values in range; sounds last at most a second.
#include "FoundryPreviewCall.h"
#include "FuzzSupport.h"

#include <unistd.h>

namespace
{
// What one input may spend on renders (previews, morphs, region auditions, render
// surprise, pitch detection): about three seconds under the sanitizers.
constexpr double budget = 3.0;
constexpr double minimumCost = 0.02;
constexpr int maxOps = 40;
// Times are folded below this (see Bytes::time), so a preview stays short.
constexpr float foldMs = 3000.0f;

juce::File scratchFolder()
{
    static const auto dir = juce::File::getSpecialLocation (juce::File::tempDirectory)
                                .getChildFile ("qv-fuzz-foundry-" + juce::String (getpid()));
    return dir;
}

// The previous preview's parameters stay, and an input changes some of them, so
// that an unchanged call (the cached preview) and small refreshes come up too.
void mutatePreview (qvfuzz::Bytes& in, const qvfuzz::Sounds& sounds, qvtest::FoundryPreviewCall& c)
{
    const auto id = [&] { return (in.byte() & 3) == 0 ? 0 : sounds.pick (in); };
    const auto pitch = [&] { return in.hostile (-24, 24); };
    const auto level = [&] { return in.hostile (0, 100); };
    const auto hz = [&] { return in.hostile (20, 20000); };
    const auto percent = [&] { return in.hostile (0, 100); };
    const auto onOff = [&] { return in.integer (0, 1); };
    const auto ms = [&] { return in.time (-10, 1000, foldMs); };

    // Most previews have a transient layer to render.
    if (in.byte() < 192)
        c.transientId = sounds.pick (in);
    for (int changes = in.byte() % 8; changes > 0 && ! in.empty(); --changes)
    {
        switch (in.byte() % 57)
        {
            case 0: c.transientId = id(); break;
            case 1: c.bodyId = id(); break;
            case 2: c.tailId = id(); break;
            case 3: c.bodyJoinMs = ms(); break;
            case 4: c.tailJoinMs = ms(); break;
            case 5: c.tbXfadeMs = ms(); break;
            case 6: c.ctXfadeMs = ms(); break;
            case 7: c.tPitch = pitch(); break;
            case 8: c.tLevel = level(); break;
            case 9: c.tStartMs = ms(); break;
            case 10: c.tShaping = in.hostile (-100, 100); break;
            case 11: c.tHpOn = onOff(); break;
            case 12: c.tHpHz = hz(); break;
            case 13: c.tHpRes = percent(); break;
            case 14: c.tLpOn = onOff(); break;
            case 15: c.tLpHz = hz(); break;
            case 16: c.tLpRes = percent(); break;
            case 17: c.bPitch = pitch(); break;
            case 18: c.bLevel = level(); break;
            case 19: c.bStartMs = ms(); break;
            case 20: c.bHeat = percent(); break;
            case 21: c.bHpOn = onOff(); break;
            case 22: c.bHpHz = hz(); break;
            case 23: c.bHpRes = percent(); break;
            case 24: c.bLpOn = onOff(); break;
            case 25: c.bLpHz = hz(); break;
            case 26: c.bLpRes = percent(); break;
            case 27: c.tailPitch = pitch(); break;
            case 28: c.tailLevel = level(); break;
            case 29: c.tailStartMs = ms(); break;
            case 30: c.tailHeat = percent(); break;
            case 31: c.tailHeatMode = in.integer (0, 2); break;
            case 32: c.tailWidth = in.hostile (-100, 100); break;
            case 33: c.monoMask = in.integer (0, 15); break;
            case 34: c.overtoneInvert = onOff(); break;
            case 35: c.tailHpOn = onOff(); break;
            case 36: c.tailHpHz = hz(); break;
            case 37: c.tailHpRes = percent(); break;
            case 38: c.tailLpOn = onOff(); break;
            case 39: c.tailLpHz = hz(); break;
            case 40: c.tailLpRes = percent(); break;
            case 41: c.overtoneId = id(); break;
            case 42: c.overlayStartMs = ms(); break;
            case 43: c.overlayEndMs = ms(); break;
            case 44: c.overtoneStartMs = ms(); break;
            case 45: c.overtonePitch = pitch(); break;
            case 46: c.overtoneLevel = level(); break;
            case 47: c.overtoneDrive = percent(); break;
            case 48: c.overtoneFadeIn = percent(); break;
            case 49: c.overtoneFadeOut = percent(); break;
            case 50: c.overtoneHpOn = onOff(); break;
            case 51: c.overtoneHpHz = hz(); break;
            case 52: c.overtoneLpOn = onOff(); break;
            case 53: c.overtoneLpHz = hz(); break;
            case 54: c.lengthMs = ms(); break;
            case 55: c.finalPitch = pitch(); break;
            default: c.character = percent(); break;
        }
    }
}

// One automation lane: count points of hostile times and values, or a count past
// the limit, or null arrays.
void setLane (qvfuzz::Bytes& in)
{
    const auto layer = (std::uint32_t) in.integer (0, 3);
    const auto parameter = (std::uint32_t) in.integer (0, 8);
    const auto shape = in.byte();
    static const int hostileCounts[] = { -1, 0, 1024, 1025, std::numeric_limits<std::int32_t>::min() };
    const int count = shape >= 240 ? hostileCounts[shape % 5] : shape % 12;
    std::vector<float> times ((size_t) std::max (count, 1)), values (times.size());
    const int distinct = std::min<int> (count, 12);
    for (int i = 0; i < distinct; ++i)
    {
        times[(size_t) i] = in.hostile (0, 1);
        values[(size_t) i] = in.hostile (0, 1);
    }
    for (size_t i = (size_t) std::max (distinct, 0); i < times.size(); ++i)
    {
        times[i] = (float) i / (float) times.size();
        values[i] = times[i];
    }
    const bool nullTimes = (shape & 0x60) == 0x60 && shape < 240;
    quorvalen_engine_set_foundry_automation (layer, parameter, nullTimes ? nullptr : times.data(), values.data(),
                                             count);
}

const char* exportPath (qvfuzz::Bytes& in, std::string& storage)
{
    const auto dir = scratchFolder().getFullPathName().toStdString();
    switch (in.byte() % 6)
    {
        case 0: return nullptr;
        case 1: return "";
        case 2: storage = dir + "/missing/folder/preview.wav"; break;
        case 3: storage = dir; break;                   // a folder
        case 4: storage = dir + "/\xC3\x28.wav"; break; // invalid UTF-8
        default: storage = dir + "/preview.wav"; break;
    }
    scratchFolder().createDirectory();
    return storage.c_str();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size)
{
    qvfuzz::startEngine();
    qvfuzz::Bytes in (data, size);
    qvfuzz::Sounds sounds (budget);
    qvtest::FoundryPreviewCall preview;
    std::string path;
    bool surprised = false;
    const auto render = [&] (double seconds) { return sounds.spend (std::max (seconds, minimumCost)); };

    for (int ops = 0; ops < maxOps && ! in.empty(); ++ops)
    {
        const int op = in.byte() % 24;
        const qvfuzz::OpTrace trace (op, sounds.budget);
        if (sounds.common (in, op))
            continue;
        switch (op)
        {
            case 10: setLane (in); break;
            case 11:
            {
                const auto id = sounds.pick (in);
                const auto start = in.time (-100, 1000, foldMs);
                if (render (sounds.pitchCost (id)))
                    quorvalen_engine_detect_foundry_pitch (id, start);
                break;
            }
            case 12:
            {
                const auto id = sounds.pick (in);
                const auto semitones = in.hostile (-24, 24), level = in.hostile (0, 150),
                           start = in.time (-10, 1000, foldMs);
                const auto hpOn = in.integer (0, 1);
                const auto hpHz = in.hostile (20, 20000), hpRes = in.hostile (0, 100);
                const auto lpOn = in.integer (0, 1);
                const auto lpHz = in.hostile (20, 20000), lpRes = in.hostile (0, 100);
                const auto kind = in.integer (0, 4);
                const auto transient = in.hostile (0, 100), bodyHeat = in.hostile (0, 100),
                           tailHeat = in.hostile (0, 100);
                const auto heatMode = in.integer (0, 2);
                const auto drive = in.hostile (0, 100), width = in.hostile (-100, 100);
                const auto bits = in.integer (0, 3);
                const auto fadeIn = in.hostile (0, 100), fadeOut = in.hostile (0, 100);
                if (render (sounds.cost (id, 0.05, 0.3)))
                    quorvalen_engine_play_foundry_region (id, semitones, level, start, hpOn, hpHz, hpRes, lpOn, lpHz,
                                                          lpRes, kind, transient, bodyHeat, tailHeat, heatMode, drive,
                                                          width, bits, fadeIn, fadeOut);
                break;
            }
            case 13:
            {
                const auto semitones = in.hostile (-24, 24), level = in.hostile (0, 150);
                const auto mode = in.integer (-1, 3);
                const auto transient = in.hostile (0, 100), bodyHeat = in.hostile (0, 100),
                           tailHeat = in.hostile (0, 100);
                const auto heatMode = in.integer (0, 2);
                const auto drive = in.hostile (0, 100), width = in.hostile (-100, 100);
                quorvalen_engine_set_foundry_audition_character (semitones, level, mode, transient, bodyHeat, tailHeat,
                                                                 heatMode, drive, width);
                break;
            }
            case 14:
            case 15:
            {
                const auto region = (std::uint32_t) in.integer (0, 3);
                const auto hpOn = in.integer (0, 1);
                const auto hpHz = in.hostile (20, 20000), hpRes = in.hostile (0, 100);
                const auto lpOn = in.integer (0, 1);
                const auto lpHz = in.hostile (20, 20000), lpRes = in.hostile (0, 100);
                if (op == 14)
                    quorvalen_engine_set_foundry_audition_filters (hpOn, hpHz, hpRes, lpOn, lpHz, lpRes);
                else
                    quorvalen_engine_set_foundry_main_preview_region_filters (region, hpOn, hpHz, hpRes, lpOn, lpHz,
                                                                              lpRes);
                break;
            }
            case 16:
                if (in.byte() & 1)
                    quorvalen_engine_set_foundry_main_preview_looping (in.integer (0, 1));
                else
                    quorvalen_engine_set_foundry_main_preview_pitch (in.hostile (-24, 24));
                break;
            case 17:
            {
                const auto a = sounds.pick (in), b = sounds.pick (in);
                const auto join = in.time (-10, 1000, foldMs), crossfade = in.time (-10, 500, foldMs);
                const auto morph =
                    in.byte() & 1 ? quorvalen_engine_play_body_tail_morph : quorvalen_engine_play_transient_body_morph;
                // The join falls back to a constant-Q handover, whose plan costs most.
                const bool refused = qvfuzz::Bytes::pastLimit (join) || qvfuzz::Bytes::pastLimit (crossfade);
                if (render (refused ? 0.0 : sounds.cost (a, 0.75, 0.5) + sounds.cost (b, 0.75, 0.5)))
                    morph (a, b, join, crossfade);
                break;
            }
            case 18:
            case 19:
            case 20:
            {
                mutatePreview (in, sounds, preview);
                const bool loop = op == 18 && (in.byte() & 1) != 0;
                const char* const file = op == 20 ? exportPath (in, path) : nullptr;
                // Each join of a layer may take a constant-Q handover, whose plan costs most.
                // A length past the limit is refused before anything renders.
                const bool refused = qvfuzz::Bytes::pastLimit (preview.lengthMs);
                if (! render (refused ? 0.0
                                      : sounds.cost (preview.transientId, 0.05, 0.3)
                                      + sounds.cost (preview.bodyId, 1.0, 0.5) + sounds.cost (preview.tailId, 1.0, 0.5)
                                      + sounds.cost (preview.overtoneId, 0.05, 0.3)))
                    break;
                if (op == 18)
                    preview.play (loop);
                else if (op == 19)
                    preview.refresh();
                else
                    preview.exportTo (file);
                break;
            }
            case 21:
            {
                const auto id = sounds.pick (in);
                const auto a = in.hostile (0, 100), b = in.hostile (0, 100);
                const auto mode = in.integer (0, 1), order = in.integer (0, 1);
                // A surprise may slow a sound five times: one per input keeps it short.
                if (! surprised && render (sounds.cost (id, 0.1, 3.0)))
                {
                    surprised = true;
                    if (quorvalen_engine_apply_render_surprise (id, a, b, mode, order) == 0)
                        sounds.setSeconds (id, 5.0 * sounds.seconds (id));
                }
                break;
            }
            case 22:
            {
                float scope[64], spectrum[64], hz = 0.0f;
                quorvalen_engine_get_master_stereo_scope (scope, scope + 32, 32);
                quorvalen_engine_get_master_spectrum (spectrum, 64);
                quorvalen_engine_get_master_pitch (&hz);
                break;
            }
            default:
                // Back to neutral lanes and audition settings, as a host does between designs.
                qvtest::clearFoundryLanes();
                quorvalen_engine_set_foundry_audition_character (0, 100, -1, 0, 0, 0, 0, 0, 0);
                quorvalen_engine_set_foundry_audition_filters (0, 20, 0, 0, 20000, 0);
                break;
        }
    }

    // Nothing carries over to the next input: no lanes, no sounds, no files.
    qvtest::clearFoundryLanes();
    quorvalen_engine_set_foundry_audition_character (0, 100, -1, 0, 0, 0, 0, 0, 0);
    quorvalen_engine_set_foundry_audition_filters (0, 20, 0, 0, 20000, 0);
    qvfuzz::Sounds::reset();
    scratchFolder().deleteRecursively();
    return 0;
}
