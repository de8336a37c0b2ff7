#include "spectral/SessionImage.h"

#include "core/Log.h"
#include "spectral/SessionImageRenderings.h"
#include "spectral/SessionWork.h"
#include "spectral/SpectralBrightness.h"
#include "spectral/cqt/SpectralCqt.h"
#include "spectral/SpectralSession.h"

#include <optional>

namespace quorvalen
{
namespace
{
constexpr int boundedQWidth = 961;
constexpr int cqtImageHeight = 385;

// The constant-Q image, measured against a reference locked from the untouched
// source the first time, so that later edits darken rather than renormalise.
void renderPrecisionImage (SessionWork& work, SpectralSession& session, std::int32_t sessionId,
                           const juce::AudioBuffer<float>& live, float* out, int width, int height)
{
    const cqt::Analyzer analyzer (spectralCqtParams (session.sampleRate, 0.7, 440.0, false));
    const int bands = std::max (1, analyzer.bandCount());
    const CqtMagnitudeGrid grid (live, analyzer, width, height);
    if (! (session.lockedDisplayReference > 1e-12f))
    {
        // Without the source (gone, or changed while it was copied), the live
        // copy's grid serves: it is the same rendering.
        juce::AudioBuffer<float> source;
        const bool untouched = work.readSource (source);
        std::optional<CqtMagnitudeGrid> fromSource;
        if (untouched)
            fromSource.emplace (source, analyzer, width, height);
        const auto& reference = fromSource ? *fromSource : grid;
        session.lockedDisplayReference =
            percentileReference (reference.magnitudes(), CqtMagnitudeGrid::tolerance, [&] (std::size_t i) {
                return reference.cell ((int) (i / (std::size_t) width), (int) (i % (std::size_t) width));
            });
        logOut (
            "[QUORVALEN DUAL SPECTRAL VIEW 1.1.1] session %d locked CQT display reference %.8g from untouched source\n",
            (int) sessionId, (double) session.lockedDisplayReference);
    }
    grid.brightness (std::max (session.lockedDisplayReference, 1e-12f), out);

    if (const int drawn = drawLaserOverlay (session.undoStack, bands, out, width, height); drawn > 0)
        logOut ("[QUORVALEN LASER COEFFICIENT VISUAL 1.4.3] session %d rendered %d committed laser stroke(s) without "
                "changing CQT geometry or audio\n",
                (int) sessionId, drawn);
    logOut (
        "[QUORVALEN DUAL SPECTRAL VIEW 1.1.1] session %d CQT precision image rendered (%d x %d, %d real bands, %.1f "
        "-> %.1f Hz)\n",
        (int) sessionId, width, height, bands, (double) (float) (analyzer.bandCentre (0) * session.sampleRate),
        (double) (float) (analyzer.bandCentre (bands - 1) * session.sampleRate));
}

void render (SessionWork& work, SpectralSession& session, std::int32_t sessionId, const juce::AudioBuffer<float>& live,
             float* out, int width, int height)
{
    if (height == cqtImageHeight && width != boundedQWidth)
        return renderPrecisionImage (work, session, sessionId, live, out, width, height);
    const auto mono = monoMean (live);
    if (height != cqtImageHeight)
        return renderStftImage (mono, session.sampleRate, out, width, height);
    const cqt::Analyzer analyzer (spectralCqtParams (session.sampleRate, 0.7, 440.0, false));
    const auto range = renderBoundedQImage (mono, session.sampleRate, analyzer, out, width, height);
    logOut ("[QUORVALEN Z SCULPT BOUNDED-Q DISPLAY 2.1.0] session %d rendered fresh bounded-Q image (%d x %d, %.1f -> "
            "%.1f Hz, Q %.1f, min BW %.1f Hz)\n",
            (int) sessionId, width, height, range.fTop, range.fBottom, 24.0, 34.0);
}
} // namespace

SessionImageResult renderCqtSpectralSessionImage (QuorvalenEngine& engine, std::int32_t sessionId, float* out,
                                                  std::uint32_t width, std::int32_t height)
{
    if (out == nullptr)
        return SessionImageResult::nullOutput;
    if (width < 32 || width > 2048 || height < 32 || height > 1024)
        return SessionImageResult::badSize;
    if (sessionId < 1)
        return SessionImageResult::unknownSession;
    // The image renders from a copy of the live copy, in the session's turn and
    // without the engine lock.
    SessionWork work (engine, (std::uint32_t) sessionId);
    auto* session = work.session();
    if (session == nullptr)
        return SessionImageResult::unknownSession;
    const auto failed = [] (LiveState s) {
        return s == LiveState::sessionGone ? SessionImageResult::unknownSession : SessionImageResult::liveGone;
    };
    try
    {
        juce::AudioBuffer<float> live;
        if (const auto s = work.readBuffer (live); s != LiveState::ok)
            return failed (s);
        if (live.getNumSamples() < 1 || ! (session->sampleRate > 0.0))
            return SessionImageResult::liveGone;
        render (work, *session, sessionId, live, out, (int) width, (int) height);
        // Ended or unloaded meanwhile: the picture is of nothing the host still has.
        if (work.stopped())
            return failed (work.state());
        return SessionImageResult::ok;
    }
    catch (...)
    {
        return SessionImageResult::outOfMemory;
    }
}

} // namespace quorvalen
