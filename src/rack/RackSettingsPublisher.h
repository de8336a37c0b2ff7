#pragma once
// Hands immutable settings records from host threads to the audio thread.
//
// The audio thread never locks, allocates or frees here: it reads a raw pointer and
// announces it in a hazard slot for the length of its block. Host threads own every
// record through shared pointers and free a replaced record only once the hazard
// slot no longer names it, so the last reference always drops on a host thread.
// One audio-thread reader at a time.
#include "rack/QuorvalenRackSettings.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace quorvalen
{

class RackSettingsPublisher
{
public:
    explicit RackSettingsPublisher (std::shared_ptr<const QuorvalenRackSettings> initial);
    ~RackSettingsPublisher();

    RackSettingsPublisher (const RackSettingsPublisher&) = delete;
    RackSettingsPublisher& operator= (const RackSettingsPublisher&) = delete;

    // Host threads. A null record is ignored. The later of two racing stores wins.
    void publish (std::shared_ptr<const QuorvalenRackSettings> record);
    std::shared_ptr<const QuorvalenRackSettings> current() const;
    // Replaced records still held back because a block might be reading them.
    size_t retiredCount() const;

    // Audio thread: a lease on the current record for one block.
    class Lease
    {
    public:
        explicit Lease (RackSettingsPublisher& owner) noexcept;
        ~Lease();
        Lease (const Lease&) = delete;
        Lease& operator= (const Lease&) = delete;

        const QuorvalenRackSettings* get() const noexcept { return record; }
        explicit operator bool() const noexcept { return record != nullptr; }
        const QuorvalenRackSettings& operator*() const noexcept { return *record; }

    private:
        RackSettingsPublisher& publisher;
        const QuorvalenRackSettings* record = nullptr;
    };

private:
    void dropUnusedRetired(); // hostMutex held

    mutable std::mutex hostMutex;
    std::shared_ptr<const QuorvalenRackSettings> owner;
    std::vector<std::shared_ptr<const QuorvalenRackSettings>> retired;
    std::atomic<const QuorvalenRackSettings*> live { nullptr };
    std::atomic<const QuorvalenRackSettings*> inUse { nullptr };
};

} // namespace quorvalen
