#include "rack/RackSettingsPublisher.h"

#include <algorithm>

namespace quorvalen
{

RackSettingsPublisher::RackSettingsPublisher (std::shared_ptr<const QuorvalenRackSettings> initial)
        : owner (std::move (initial))
{
    live.store (owner.get(), std::memory_order_seq_cst);
}

RackSettingsPublisher::~RackSettingsPublisher() = default;

void RackSettingsPublisher::publish (std::shared_ptr<const QuorvalenRackSettings> record)
{
    if (record == nullptr)
        return;
    std::lock_guard lock (hostMutex);
    // Reserve first so that keeping the old record cannot fail after the swap.
    retired.reserve (retired.size() + 1);
    live.store (record.get(), std::memory_order_seq_cst);
    retired.push_back (std::exchange (owner, std::move (record)));
    dropUnusedRetired();
}

std::shared_ptr<const QuorvalenRackSettings> RackSettingsPublisher::current() const
{
    std::lock_guard lock (hostMutex);
    return owner;
}

size_t RackSettingsPublisher::retiredCount() const
{
    std::lock_guard lock (hostMutex);
    return retired.size();
}

void RackSettingsPublisher::dropUnusedRetired()
{
    // Paired with the lease: either this load sees the reader's announcement, or the
    // reader's check of `live` (ordered after its announcement) sees the new record
    // and it never touches the old one.
    const auto* reading = inUse.load (std::memory_order_seq_cst);
    retired.erase (
        std::remove_if (retired.begin(), retired.end(), [reading] (const auto& r) { return r.get() != reading; }),
        retired.end());
}

RackSettingsPublisher::Lease::Lease (RackSettingsPublisher& owner) noexcept : publisher (owner)
{
    auto* candidate = publisher.live.load (std::memory_order_seq_cst);
    for (;;)
    {
        publisher.inUse.store (candidate, std::memory_order_seq_cst);
        auto* confirmed = publisher.live.load (std::memory_order_seq_cst);
        if (confirmed == candidate)
            break;
        candidate = confirmed; // replaced in between: announce the newer one
    }
    record = candidate;
}

RackSettingsPublisher::Lease::~Lease()
{
    publisher.inUse.store (nullptr, std::memory_order_release);
}

} // namespace quorvalen
