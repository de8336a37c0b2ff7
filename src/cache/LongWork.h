#pragma once
// Long work (renders, morphs, strokes, detection) copies what it reads under the
// engine lock, runs without it and takes it again only to install its result,
// so that no other caller waits behind it. A watch remembers what the work read:
// without the lock it tells whether the work should stop early (the engine shut
// down, the cache was cleared or an entry it read was removed), and with the
// lock whether everything it read is still as it was.
#include <cstdint>
#include <vector>

namespace quorvalen
{

class QuorvalenEngine;

class LongWorkWatch
{
public:
    // The engine lock held. Work begun before init (pitch detection works
    // then) does not stop for the engine's state, only for removals.
    explicit LongWorkWatch (QuorvalenEngine& engine);
    // The engine lock held: the work reads the entry under id (it must exist).
    void read (std::uint32_t id);

    // Without the lock: true once the work should stop. Costs an atomic load
    // unless entries were removed since the last look.
    bool stopped();
    // The engine lock held: the engine is ready (when it was), the cache was not
    // cleared and every entry read is there with the revision it had.
    bool unchanged() const;

private:
    QuorvalenEngine& engine;
    std::uint64_t generation;
    std::uint64_t removalsSeen;
    bool needsReady; // work begun on a running engine stops when it shuts down
    bool stop = false;
    struct Read
    {
        std::uint32_t id;
        std::uint64_t revision;
    };
    std::vector<Read> reads;
};

} // namespace quorvalen
