#include "edit/EditSessions.h"

#include "cache/AudioCache.h"
#include "cache/SessionTable.h"
#include "core/HistoryBudget.h"
#include "core/Log.h"
#include "core/Units.h"
#include "edit/EditSession.h"
#include "playback/Playback.h"

#include <atomic>
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
    return editSessionTable (engine).find ((std::uint32_t) session);
}

std::atomic<std::size_t> budgetFloor { editHistoryBudgetFloor };

std::size_t bufferBytes (const juce::AudioBuffer<float>& b)
{
    return (std::size_t) b.getNumChannels() * (std::size_t) b.getNumSamples() * sizeof (float);
}

// Pushes onto `stack` and holds the session's history to 48 steps a stack and to
// its byte budget. Over budget, the oldest steps go first, those of `stack` before
// the other's; the step just pushed always stays, so the last change can always
// be taken back.
void pushBounded (EditSession& session, History& stack, Snapshot snapshot, const juce::AudioBuffer<float>& work,
                  std::int32_t id)
{
    stack.push_back (std::move (snapshot));
    if (stack.size() > editUndoLimit)
        stack.erase (stack.begin());

    const auto budget = historyBudget (budgetFloor.load(), bufferBytes (work));
    auto& other = &stack == &session.undoStack ? session.redoStack : session.undoStack;
    const int dropped =
        trimHistoryToBudget (stack, other, budget, 1, [] (const Snapshot& step) { return bufferBytes (*step); });
    if (dropped > 0)
        logLine ("[QUORVALEN EDIT 1.0.0] session %d history over its %.1f MB budget; %d oldest steps dropped\n",
                 (int) id, (double) budget / 1.0e6, dropped);
}

// Before an edit: the redo stack is dropped and a copy of the current buffer goes
// on the undo stack. Throws on memory exhaustion, before anything changed.
void pushEditUndo (EditSession& session, const juce::AudioBuffer<float>& current, std::int32_t id)
{
    auto copy = std::make_unique<juce::AudioBuffer<float>> (current);
    session.undoStack.reserve (session.undoStack.size() + 1);
    session.redoStack.clear();
    pushBounded (session, session.undoStack, std::move (copy), current, id);
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
// else the operation's `unknownSession` or `noWorkAudio`.
struct EditTarget
{
    EditSession* session = nullptr;
    CacheEntry* work = nullptr;
    int code = 0;
};

template <typename Code>
EditTarget findEditTarget (QuorvalenEngine& engine, std::int32_t id, bool needsRate)
{
    EditTarget target;
    target.session = findSession (engine, id);
    if (target.session == nullptr)
        target.code = (int) Code::unknownSession;
    else if ((target.work = usableWork (engine, *target.session, needsRate)) == nullptr)
        target.code = (int) Code::noWorkAudio;
    return target;
}

void detachIfPlaying (QuorvalenEngine& engine, const EditSession& session)
{
    stopPlaybackOf (engine, session.workCacheId);
}

// Moves the newest snapshot of `from` into the work entry; the current buffer's
// copy goes onto `to`. The work id or a HistoryMoveError.
int moveHistory (QuorvalenEngine& engine, std::int32_t id, bool undo)
{
    const auto lock = lockEngine (engine);
    auto* session = findSession (engine, id);
    if (session == nullptr)
        return (int) HistoryMoveError::unknownSession;
    auto& from = undo ? session->undoStack : session->redoStack;
    auto& to = undo ? session->redoStack : session->undoStack;
    if (from.empty())
        return (int) HistoryMoveError::nothingToMove;
    auto* work = usableWork (engine, *session, false);
    if (work == nullptr)
        return (int) HistoryMoveError::noWorkAudio;
    try
    {
        detachIfPlaying (engine, *session);
        auto current = std::make_unique<juce::AudioBuffer<float>> (*work->buffer);
        to.reserve (to.size() + 1); // the push below cannot throw once the buffers moved
        work->buffer = std::move (from.back());
        markCacheEntryChanged (engine, *work);
        from.pop_back();
        pushBounded (*session, to, std::move (current), *work->buffer, id);
        return (int) session->workCacheId;
    }
    catch (...)
    {
        return (int) HistoryMoveError::outOfMemory;
    }
}
} // namespace

int beginProcessingEditSession (QuorvalenEngine& engine, std::int32_t cacheId, std::uint32_t* outWorkCacheId)
{
    if (outWorkCacheId == nullptr)
        return (int) SessionOpenCode::nullOutput;
    const auto lock = lockEngine (engine);
    std::uint32_t workId = 0;
    return openSessionOnCachedSound (engine, cacheId, workId, [&] (const CacheEntry& source) {
        auto copy = std::make_unique<juce::AudioBuffer<float>> (*source.buffer);
        auto session = std::make_unique<EditSession>();
        auto& table = editSessionTable (engine);
        table.reserveOne();
        workId = insertCacheEntry (engine, CacheEntry { std::move (copy), source.sampleRate, workLabel });
        session->sourceCacheId = (std::uint32_t) cacheId;
        session->workCacheId = workId;
        const auto sessionId = table.add (std::move (session));
        *outWorkCacheId = workId;
        logLine ("[QUORVALEN EDIT 1.0.0] session %d opened for cache %d\n", (int) sessionId, (int) cacheId);
        return (int) sessionId;
    });
}

int cropProcessingEditSession (QuorvalenEngine& engine, std::int32_t id, float start, float end)
{
    if (! std::isfinite (start) || ! std::isfinite (end))
        return (int) EditShapeError::badArgument;
    const float s = std::clamp (start, 0.0f, 1.0f), e = std::clamp (end, 0.0f, 1.0f);
    if (s >= e)
        return (int) EditShapeError::badArgument;

    const auto lock = lockEngine (engine);
    const auto [session, work, code] = findEditTarget<EditShapeError> (engine, id, true);
    if (code != 0)
        return code;
    auto& old = *work->buffer;
    if (old.getNumChannels() < 1)
        return (int) EditShapeError::badArgument;

    const auto n = old.getNumSamples();
    const int first = (int) std::trunc ((double) s * n);
    const int len = (int) std::trunc ((double) e * n) - first;
    if (len < 1)
        return (int) EditShapeError::badArgument;

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
        pushEditUndo (*session, old, id);
        work->buffer = std::move (cropped);
        markCacheEntryChanged (engine, *work);
        logLine ("[QUORVALEN EDIT 1.0.0] session %d cropped %.5f..%.5f (%d samples)\n", (int) id, (double) s,
                 (double) e, len);
        return (int) session->workCacheId;
    }
    catch (...)
    {
        return (int) EditShapeError::outOfMemory;
    }
}

namespace
{
// The frame of an in-place edit: the lock, the target, its playback detached and its
// audio pushed for undo, then `edit (work entry)`. The work id, the target's code,
// or `Code::outOfMemory` when the undo copy could not be made (nothing changed).
template <typename Code, typename Edit>
int editInPlace (QuorvalenEngine& engine, std::int32_t id, bool needsRate, Edit&& edit)
{
    const auto lock = lockEngine (engine);
    const auto [session, work, code] = findEditTarget<Code> (engine, id, needsRate);
    if (code != 0)
        return code;
    try
    {
        detachIfPlaying (engine, *session);
        pushEditUndo (*session, *work->buffer, id);
    }
    catch (...)
    {
        return (int) Code::outOfMemory;
    }
    edit (*work);
    markCacheEntryChanged (engine, *work);
    return (int) session->workCacheId;
}
} // namespace

int endFadeProcessingEditSession (QuorvalenEngine& engine, std::int32_t id, float fadeMs)
{
    if (! std::isfinite (fadeMs) || ! (fadeMs > 0.0f))
        return (int) EditShapeError::badArgument;
    return editInPlace<EditShapeError> (engine, id, true, [&] (CacheEntry& work) {
        auto& b = *work.buffer;
        const int n = b.getNumSamples();
        // A huge fade fades the whole sound.
        const int f =
            (int) std::min<std::int64_t> (msToSamples (fadeMs, work.sampleRate, SampleRounding::towardZero), n);
        if (f > 1)
            for (int ch = 0; ch < b.getNumChannels(); ++ch)
            {
                auto* x = b.getWritePointer (ch);
                for (int i = 0; i < f; ++i)
                    x[n - f + i] *= 1.0f - (float) i / (float) (f - 1);
            }
        logLine ("[QUORVALEN EDIT 1.0.0] session %d end-faded %.1f ms\n", (int) id, (double) fadeMs);
    });
}

int reverseProcessingEditSession (QuorvalenEngine& engine, std::int32_t id)
{
    return editInPlace<ReverseError> (engine, id, false, [&] (CacheEntry& work) {
        auto& b = *work.buffer;
        for (int ch = 0; ch < b.getNumChannels(); ++ch)
            std::reverse (b.getWritePointer (ch), b.getWritePointer (ch) + b.getNumSamples());
        logLine ("[QUORVALEN EDIT 1.0.0] session %d reversed\n", (int) id);
    });
}

int undoProcessingEditSession (QuorvalenEngine& engine, std::int32_t id)
{
    return moveHistory (engine, id, true);
}

int redoProcessingEditSession (QuorvalenEngine& engine, std::int32_t id)
{
    return moveHistory (engine, id, false);
}

void setEditHistoryBudgetFloor (std::size_t bytes)
{
    budgetFloor.store (bytes);
}

EndEditResult endProcessingEditSession (QuorvalenEngine& engine, std::int32_t id)
{
    const auto lock = lockEngine (engine);
    auto* session = findSession (engine, id);
    if (session == nullptr)
        return EndEditResult::unknownSession;
    detachIfPlaying (engine, *session);
    eraseCacheEntry (engine, session->workCacheId);
    editSessionTable (engine).erase ((std::uint32_t) id);
    return EndEditResult::ok;
}

} // namespace quorvalen
