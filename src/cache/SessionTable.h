#pragma once
// Sessions opened on a private copy of a cached sound (edit sessions, spectral
// sessions), held under their own ids, and the shared frame of opening one.
#include "cache/AudioCache.h"

#include <cstdint>
#include <memory>
#include <unordered_map>

namespace quorvalen
{

// Sessions are shared: an operation that works on a session outside the engine
// lock keeps it alive while the session is ended, the cache cleared or the engine
// shut down meanwhile (the table then forgets it; the operation sees it ended).
template <typename Session>
class SessionTable
{
public:
    Session* find (std::uint32_t id) const
    {
        const auto it = sessions.find (id);
        return it != sessions.end() ? it->second.get() : nullptr;
    }
    std::shared_ptr<Session> share (std::uint32_t id) const
    {
        const auto it = sessions.find (id);
        return it != sessions.end() ? it->second : nullptr;
    }
    const std::shared_ptr<Session>& at (std::uint32_t id) const { return sessions.at (id); }

    // Room for one more first, so that adding cannot throw once its copy is cached.
    void reserveOne() { sessions.reserve (sessions.size() + 1); }
    std::uint32_t add (std::shared_ptr<Session> session)
    {
        const auto id = nextId++;
        sessions.emplace (id, std::move (session));
        return id;
    }
    void erase (std::uint32_t id) { sessions.erase (id); }
    template <typename Predicate>
    bool any (Predicate&& predicate) const
    {
        for (const auto& entry : sessions)
            if (entry.second != nullptr && predicate (*entry.second))
                return true;
        return false;
    }
    template <typename Visit>
    void forEach (Visit&& visit) const
    {
        for (const auto& entry : sessions)
            if (entry.second != nullptr)
                visit (*entry.second);
    }
    void clear() { sessions.clear(); }

private:
    std::unordered_map<std::uint32_t, std::shared_ptr<Session>> sessions;
    std::uint32_t nextId = 1;
};

// Opens a session on the cache entry `cacheId`, the engine lock held: notReady,
// then findSessionSource's codes, else `open (source)`, which caches the copy under
// `copyId` and returns the session id. When it throws, the copy goes and
// outOfMemory is returned: never a copy without its session.
template <typename Open>
int openSessionOnCachedSound (QuorvalenEngine& engine, std::int32_t cacheId, std::uint32_t& copyId, Open&& open)
{
    if (! engineReady (engine))
        return (int) SessionOpenCode::notReady;
    CacheEntry* source = nullptr;
    if (const auto code = findSessionSource (engine, cacheId, source); code != SessionOpenCode::found)
        return (int) code;
    try
    {
        return open (*source);
    }
    catch (...)
    {
        if (copyId != 0)
            eraseCacheEntry (engine, copyId);
        return (int) SessionOpenCode::outOfMemory;
    }
}

} // namespace quorvalen
