#pragma once
// The byte budget of a session's undo and redo history, shared by the sessions
// that keep one: the rule for the budget and the trim of the oldest steps.
#include <algorithm>
#include <cstddef>
#include <vector>

namespace quorvalen
{

// 512 MB holds 48 steps of a sound up to about 5.6 MB (30 s of 48 kHz stereo); a
// longer sound keeps 8 whole-sound steps instead of 48 (1.8 GB instead of 11 GB
// at 10 minutes).
inline constexpr std::size_t historyBudgetFloor = std::size_t { 512 } << 20;

// Undo and redo together may hold the larger of the floor and 8 x the session's
// working audio.
constexpr std::size_t historyBudget (std::size_t floor, std::size_t workBytes)
{
    return std::max (floor, 8 * workBytes);
}

// Over budget, drops the oldest steps (front) of `first`, then of `second`, until
// both stacks together hold at most `budget` bytes; `first` keeps at least its
// newest `keepFirst` steps. Returns how many steps were dropped.
template <typename Step, typename BytesOf>
int trimHistoryToBudget (std::vector<Step>& first, std::vector<Step>& second, std::size_t budget, std::size_t keepFirst,
                         BytesOf&& bytesOf)
{
    std::size_t bytes = 0;
    for (const auto* stack : { &first, &second })
        for (const auto& step : *stack)
            bytes += bytesOf (step);
    int dropped = 0;
    for (auto* from : { &first, &second })
    {
        const std::size_t keep = from == &first ? keepFirst : 0;
        std::size_t n = 0;
        while (bytes > budget && from->size() - n > keep)
            bytes -= bytesOf ((*from)[n++]);
        from->erase (from->begin(), from->begin() + (std::ptrdiff_t) n);
        dropped += (int) n;
    }
    return dropped;
}

} // namespace quorvalen
