#include "engine/EditSessions.h"

#include "engine/AudioCache.h"
#include "engine/Log.h"
#include "engine/QuorvalenEngine.h"

#include <cmath>

namespace quorvalen
{
namespace
{
using Snapshot = std::unique_ptr<juce::AudioBuffer<float>>;
using History = std::vector<Snapshot>;

constexpr const char* workLabel = "__native_processing_edit_session__";

EditSession* findSession (QuorvalenEngine& engine, std::int32_t session)
{
    const auto it = engine.editSessions.find ((std::uint32_t) session);
    return it != engine.editSessions.end() ? it->second.get() : nullptr;
}

void pushBounded (History& stack, Snapshot snapshot)
{
    stack.push_back (std::move (snapshot));
    if (stack.size() > editUndoLimit)
        stack.erase (stack.begin());
}

// Before an edit: a copy of the current buffer goes on the undo stack and the
// redo stack is dropped. Throws on memory exhaustion, before anything changed.
void pushEditUndo (EditSession& session, const juce::AudioBuffer<float>& current)
{
    pushBounded (session.undoStack, std::make_unique<juce::AudioBuffer<float>> (current));
    session.redoStack.clear();
}

// The session's work entry when it still holds audio (and, when asked, a usable rate).
CacheEntry* usableWork (QuorvalenEngine& engine, const EditSession& session, bool needsRate)
{
    auto* work = findCacheEntry (engine, session.workCacheId);
    if (work == nullptr || work->buffer == nullptr || (needsRate && ! (work->sampleRate > 0.0)))
        return nullptr;
    return work;
}

// An edit's session and work entry (engineMutex held): code 0 when both are there,
// -1 for an unknown session, `missingWork` when the work entry has no usable audio.
struct EditTarget
{
    EditSession* session = nullptr;
    CacheEntry* work = nullptr;
    int code = 0;
};

EditTarget findEditTarget (QuorvalenEngine& engine, std::int32_t id, bool needsRate, int missingWork)
{
    EditTarget target;
    target.session = findSession (engine, id);
    if (target.session == nullptr)
        target.code = -1;
    else if ((target.work = usableWork (engine, *target.session, needsRate)) == nullptr)
        target.code = missingWork;
    return target;
}

void detachIfPlaying (QuorvalenEngine& engine, const EditSession& session)
{
    if (engine.playingCacheId == session.workCacheId)
        engine.stopPlayback();
}

// Moves the newest snapshot of `from` into the work entry; the current buffer's
// copy goes onto `to`. -2 nothing to move, -3 no work audio, -4 out of memory.
int moveHistory (QuorvalenEngine& engine, std::int32_t id, bool undo)
{
    std::lock_guard lock (engine.engineMutex);
    auto* session = findSession (engine, id);
    if (session == nullptr)
        return -1;
    auto& from = undo ? session->undoStack : session->redoStack;
    auto& to = undo ? session->redoStack : session->undoStack;
    if (from.empty())
        return -2;
    auto* work = usableWork (engine, *session, false);
    if (work == nullptr)
        return -3;
    try
    {
        detachIfPlaying (engine, *session);
        pushBounded (to, std::make_unique<juce::AudioBuffer<float>> (*work->buffer));
        work->buffer = std::move (from.back());
        from.pop_back();
        return (int) session->workCacheId;
    }
    catch (...)
    {
        return -4;
    }
}
} // namespace

int beginProcessingEditSession (QuorvalenEngine& engine, std::int32_t cacheId, std::uint32_t* outWorkCacheId)
{
    if (outWorkCacheId == nullptr)
        return -1;
    std::lock_guard lock (engine.engineMutex);
    if (! engine.isReady())
        return -2;
    CacheEntry* source = nullptr;
    if (const int code = findSessionSource (engine, cacheId, source); code != 0)
        return code;

    std::uint32_t workId = 0;
    try
    {
        auto copy = std::make_unique<juce::AudioBuffer<float>> (*source->buffer);
        auto session = std::make_unique<EditSession>();
        engine.editSessions.reserve (engine.editSessions.size() + 1);
        workId = insertCacheEntry (engine, CacheEntry { std::move (copy), source->sampleRate, workLabel });
        session->sourceCacheId = (std::uint32_t) cacheId;
        session->workCacheId = workId;
        const auto sessionId = engine.editSessionIdCounter++;
        engine.editSessions.emplace (sessionId, std::move (session));
        *outWorkCacheId = workId;
        logLine ("[QUORVALEN EDIT 1.0.0] session %d opened for cache %d\n", (int) sessionId, (int) cacheId);
        return (int) sessionId;
    }
    catch (...)
    {
        // Never leave a work entry behind without its session.
        if (workId != 0)
            engine.cacheMap.erase (workId);
        return -6;
    }
}

int cropProcessingEditSession (QuorvalenEngine& engine, std::int32_t id, float start, float end)
{
    if (! std::isfinite (start) || ! std::isfinite (end))
        return -2;
    const float s = std::clamp (start, 0.0f, 1.0f), e = std::clamp (end, 0.0f, 1.0f);
    if (s >= e)
        return -2;

    std::lock_guard lock (engine.engineMutex);
    const auto [session, work, code] = findEditTarget (engine, id, true, -3);
    if (code != 0)
        return code;
    auto& old = *work->buffer;
    if (old.getNumChannels() < 1)
        return -2;

    const auto n = old.getNumSamples();
    const int first = (int) std::trunc ((double) s * n);
    const int len = (int) std::trunc ((double) e * n) - first;
    if (len < 1)
        return -2;

    try
    {
        detachIfPlaying (engine, *session);
        auto cropped = std::make_unique<juce::AudioBuffer<float>> (old.getNumChannels(), len);
        for (int ch = 0; ch < old.getNumChannels(); ++ch)
            cropped->copyFrom (ch, 0, old, ch, first, len);

        // 5 ms de-click fades at both ends.
        const int f = std::min (len / 2, std::max ((int) std::trunc (work->sampleRate * 0.005), 1));
        for (int ch = 0; ch < cropped->getNumChannels(); ++ch)
        {
            auto* x = cropped->getWritePointer (ch);
            for (int i = 0; i < f; ++i)
            {
                const float g = f > 1 ? (float) i / (float) (f - 1) : 0.0f;
                x[i] *= g;
                x[len - f + i] *= 1.0f - g;
            }
        }
        pushEditUndo (*session, old);
        work->buffer = std::move (cropped);
        logLine ("[QUORVALEN EDIT 1.0.0] session %d cropped %.5f..%.5f (%d samples)\n", (int) id, (double) s, (double) e, len);
        return (int) session->workCacheId;
    }
    catch (...)
    {
        return -4;
    }
}

int endFadeProcessingEditSession (QuorvalenEngine& engine, std::int32_t id, float fadeMs)
{
    if (! std::isfinite (fadeMs) || ! (fadeMs > 0.0f))
        return -2;
    std::lock_guard lock (engine.engineMutex);
    const auto [session, work, code] = findEditTarget (engine, id, true, -3);
    if (code != 0)
        return code;
    try
    {
        detachIfPlaying (engine, *session);
        pushEditUndo (*session, *work->buffer);
        auto& b = *work->buffer;
        const int n = b.getNumSamples();
        // The minimum is taken in double: a huge fade fades the whole sound.
        const int f = (int) std::min (std::trunc ((double) fadeMs * work->sampleRate / 1000.0), (double) n);
        if (f > 1)
            for (int ch = 0; ch < b.getNumChannels(); ++ch)
            {
                auto* x = b.getWritePointer (ch);
                for (int i = 0; i < f; ++i)
                    x[n - f + i] *= 1.0f - (float) i / (float) (f - 1);
            }
        logLine ("[QUORVALEN EDIT 1.0.0] session %d end-faded %.1f ms\n", (int) id, (double) fadeMs);
        return (int) session->workCacheId;
    }
    catch (...)
    {
        return -4;
    }
}

int reverseProcessingEditSession (QuorvalenEngine& engine, std::int32_t id)
{
    std::lock_guard lock (engine.engineMutex);
    const auto [session, work, code] = findEditTarget (engine, id, false, -2);
    if (code != 0)
        return code;
    try
    {
        detachIfPlaying (engine, *session);
        pushEditUndo (*session, *work->buffer);
    }
    catch (...)
    {
        return -3;
    }
    auto& b = *work->buffer;
    for (int ch = 0; ch < b.getNumChannels(); ++ch)
        std::reverse (b.getWritePointer (ch), b.getWritePointer (ch) + b.getNumSamples());
    logLine ("[QUORVALEN EDIT 1.0.0] session %d reversed\n", (int) id);
    return (int) session->workCacheId;
}

int undoProcessingEditSession (QuorvalenEngine& engine, std::int32_t id)
{
    return moveHistory (engine, id, true);
}

int redoProcessingEditSession (QuorvalenEngine& engine, std::int32_t id)
{
    return moveHistory (engine, id, false);
}

int endProcessingEditSession (QuorvalenEngine& engine, std::int32_t id)
{
    std::lock_guard lock (engine.engineMutex);
    auto* session = findSession (engine, id);
    if (session == nullptr)
        return 1;
    detachIfPlaying (engine, *session);
    engine.cacheMap.erase (session->workCacheId);
    engine.editSessions.erase ((std::uint32_t) id);
    return 0;
}

} // namespace quorvalen
