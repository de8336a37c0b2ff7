#pragma once
// The 57 arguments of the Foundry preview exports with neutral defaults, the three
// calls, and a reset of the Foundry's automation lanes.
#include <quorvalen_dsp.h>

namespace qvtest
{

struct FoundryPreviewCall
{
    int transientId = 0;
    int bodyId = 0;
    int tailId = 0;
    float bodyJoinMs = 0;
    float tailJoinMs = 0;
    float tbXfadeMs = 0;
    float ctXfadeMs = 0;
    float tPitch = 0;
    float tLevel = 100;
    float tStartMs = 0;
    float tShaping = 0;
    int tHpOn = 0;
    float tHpHz = 20;
    float tHpRes = 0;
    int tLpOn = 0;
    float tLpHz = 20000;
    float tLpRes = 0;
    float bPitch = 0;
    float bLevel = 100;
    float bStartMs = 0;
    float bHeat = 0;
    int bHpOn = 0;
    float bHpHz = 20;
    float bHpRes = 0;
    int bLpOn = 0;
    float bLpHz = 20000;
    float bLpRes = 0;
    float tailPitch = 0;
    float tailLevel = 100;
    float tailStartMs = 0;
    float tailHeat = 0;
    int tailHeatMode = 0;
    float tailWidth = 0;
    int monoMask = 0;
    int overtoneInvert = 0;
    int tailHpOn = 0;
    float tailHpHz = 20;
    float tailHpRes = 0;
    int tailLpOn = 0;
    float tailLpHz = 20000;
    float tailLpRes = 0;
    int overtoneId = 0;
    float overlayStartMs = 0;
    float overlayEndMs = 0;
    float overtoneStartMs = 0;
    float overtonePitch = 0;
    float overtoneLevel = 100;
    float overtoneDrive = 0;
    float overtoneFadeIn = 0;
    float overtoneFadeOut = 0;
    int overtoneHpOn = 0;
    float overtoneHpHz = 20;
    int overtoneLpOn = 0;
    float overtoneLpHz = 20000;
    float lengthMs = 0;
    float finalPitch = 0;
    float character = 0;

    int play (bool loop = false) const
    {
        return withArguments ([&] (auto... a) { return quorvalen_engine_play_foundry_preview (a..., loop ? 1 : 0); });
    }
    int refresh() const
    {
        return withArguments ([] (auto... a) { return quorvalen_engine_refresh_foundry_preview (a...); });
    }
    int exportTo (const char* path) const
    {
        return withArguments ([&] (auto... a) { return quorvalen_engine_export_foundry_preview (a..., path); });
    }

private:
    // The 57 arguments the three calls share, in their order.
    template <typename Call>
    int withArguments (Call call) const
    {
        return call (transientId, bodyId, tailId, bodyJoinMs, tailJoinMs, tbXfadeMs, ctXfadeMs, tPitch, tLevel,
                     tStartMs, tShaping, tHpOn, tHpHz, tHpRes, tLpOn, tLpHz, tLpRes, bPitch, bLevel, bStartMs, bHeat,
                     bHpOn, bHpHz, bHpRes, bLpOn, bLpHz, bLpRes, tailPitch, tailLevel, tailStartMs, tailHeat,
                     tailHeatMode, tailWidth, monoMask, overtoneInvert, tailHpOn, tailHpHz, tailHpRes, tailLpOn,
                     tailLpHz, tailLpRes, overtoneId, overlayStartMs, overlayEndMs, overtoneStartMs, overtonePitch,
                     overtoneLevel, overtoneDrive, overtoneFadeIn, overtoneFadeOut, overtoneHpOn, overtoneHpHz,
                     overtoneLpOn, overtoneLpHz, lengthMs, finalPitch, character);
    }
};

// Empties every Foundry automation lane.
inline void clearFoundryLanes()
{
    for (unsigned l = 0; l < 3; ++l)
        for (unsigned p = 0; p < 8; ++p)
            quorvalen_engine_set_foundry_automation (l, p, nullptr, nullptr, 0);
}

} // namespace qvtest
