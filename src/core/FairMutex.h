#pragma once
// A mutex that serves its waiters in the order they came. A thread that unlocks
// and locks again at once (the Foundry renderer between its stages, say) would
// otherwise take a plain mutex back before a waiting thread wakes, so an export
// on another thread could wait through many holds in a row. Not for the audio
// thread: it blocks like any mutex.
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace quorvalen
{

class FairMutex
{
public:
    FairMutex() = default;
    FairMutex (const FairMutex&) = delete;
    FairMutex& operator= (const FairMutex&) = delete;

    void lock()
    {
        std::unique_lock guard (state);
        const std::uint64_t ticket = nextTicket++;
        turn.wait (guard, [&] { return serving == ticket; });
    }

    bool try_lock()
    {
        const std::lock_guard guard (state);
        if (serving != nextTicket)
            return false; // held, or others are queued before us
        ++nextTicket;
        return true;
    }

    void unlock()
    {
        {
            const std::lock_guard guard (state);
            ++serving;
        }
        turn.notify_all();
    }

private:
    std::mutex state;
    std::condition_variable turn;
    std::uint64_t nextTicket = 0; // the ticket the next arrival takes
    std::uint64_t serving = 0; // the ticket that holds, or may take, the lock
};

} // namespace quorvalen
