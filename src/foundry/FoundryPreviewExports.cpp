// The three uses of the preview renderer: play, refresh into running playback,
// and export as a WAV file.
#include "core/Log.h"
#include "foundry/FoundryEngineAccess.h"
#include "foundry/FoundryPreview.h"
#include "io/Utf8.h"
#include "io/WavWriter.h"

namespace quorvalen::foundry
{

int playCachedFoundryPreview (QuorvalenEngine& engine, const FoundryPreviewArgs& args, bool play, bool liveFilter,
                              bool loop)
{
    return renderFoundryPreview (engine, args, liveFilter, play, [&] (FinishedPreview& f) {
        if (play)
            installAndPlayPreview (engine, std::move (f.audio), f.sampleRate, loop);
        else
            installPreviewBuffer (engine, std::move (f.audio));
    });
}

int refreshFoundryPreview (QuorvalenEngine& engine, const FoundryPreviewArgs& args)
{
    const auto renderLock = lockRender (engine);
    {
        const auto lock = lockEngine (engine);
        if (! previewAttached (engine))
            return notReady;
    }
    // The old preview keeps playing while the render runs; the new one is swapped
    // in only once it is finished, so a failed render leaves playback as it was.
    return renderFoundryPreview (engine, args, false, false, [&] (FinishedPreview& f) {
        swapPreviewIntoPlayback (engine, std::move (f.audio), f.sampleRate);
    });
}

namespace
{
constexpr int noPath = 8;

int writeCode (WavWriteResult result)
{
    switch (result)
    {
        case WavWriteResult::ok: return done;
        case WavWriteResult::streamFailed: return 9;
        case WavWriteResult::writerFailed: return 10;
        case WavWriteResult::writeFailed: return 11;
    }
    return 11;
}
} // namespace

int exportFoundryPreview (QuorvalenEngine& engine, const FoundryPreviewArgs& args, const char* path)
{
    logLine ("[FOUNDRY DIAG] E01 export ENTER\n");
    // Checked before any conversion: the audio library's UTF-8 reader trusts its input.
    if (! io::isValidUtf8 (path) || *path == '\0')
        return noPath;
    const auto target = juce::String::fromUTF8 (path);
    if (previewTimeBeyondLimit (args))
        return noPreviewBuffer; // refused as the renderer would, but before playback stops

    const auto renderLock = lockRender (engine);
    {
        const auto lock = lockEngine (engine);
        stopEnginePlayback (engine);
    }
    logLine ("[FOUNDRY DIAG] E01A export lock acquired; playback detached\n");
    // The file's rate is the finished preview's own: a source may be unloaded by
    // another export while the render runs.
    double rate = 0.0;
    const int code = renderFoundryPreview (engine, args, false, false, [&] (FinishedPreview& f) {
        rate = f.sampleRate;
        installPreviewBuffer (engine, std::move (f.audio));
    });
    logLine ("[FOUNDRY DIAG] E02 renderer returned %d\n", code);
    if (code != done)
        return code;

    logLine ("[FOUNDRY DIAG] E03 locking engine mutex\n");
    const auto lock = lockEngine (engine);
    logLine ("[FOUNDRY DIAG] E04 mutex acquired; stopping transport\n");
    stopTransport (engine);
    const auto* preview = playbackBufferOf (engine);
    if (preview == nullptr || preview->getNumSamples() < 1)
        return noPreviewBuffer;
    if (! (rate > 0.0) || ! std::isfinite (rate))
        return badRate;
    return writeCode (writeWav24 (juce::File (target), *preview, rate));
}

} // namespace quorvalen::foundry
