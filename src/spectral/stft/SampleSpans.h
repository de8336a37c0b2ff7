#pragma once
// Half-open index ranges (of samples or of frames) that an edit changed, kept
// sorted and disjoint, so that only what changed is analysed or resynthesised.
#include <algorithm>
#include <cstdint>
#include <vector>

namespace quorvalen
{

struct IndexSpan
{
    std::int64_t start = 0;
    std::int64_t end = 0; // exclusive
};

// Sorts the spans and joins those that overlap, touch or lie at most `gap`
// apart; empty spans are dropped.
inline std::vector<IndexSpan> mergeSpans (std::vector<IndexSpan> spans, std::int64_t gap = 0)
{
    std::erase_if (spans, [] (const IndexSpan& s) { return s.end <= s.start; });
    std::sort (spans.begin(), spans.end(), [] (const IndexSpan& a, const IndexSpan& b) { return a.start < b.start; });
    std::vector<IndexSpan> out;
    for (const auto& s : spans)
    {
        if (! out.empty() && s.start <= out.back().end + gap)
            out.back().end = std::max (out.back().end, s.end);
        else
            out.push_back (s);
    }
    return out;
}

} // namespace quorvalen
