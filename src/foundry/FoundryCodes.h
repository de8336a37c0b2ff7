#pragma once
// Result codes of the Foundry stages and the cache ids the Foundry reserves for its
// temporaries (host-visible ids are always 1 or more).
#include <cstdint>

namespace quorvalen::foundry
{

inline constexpr int done = 0;
inline constexpr int notReady = 1;
inline constexpr int unknownId = 2;
inline constexpr int noBuffer = 4;
inline constexpr int badRate = 5;
inline constexpr int emptyAudio = 6;
inline constexpr int noPreviewBuffer = 7;
inline constexpr int badLayer = 8;

// Reserved ids, stored in the cache map as their bit patterns.
inline constexpr std::int32_t compositeId = -1000001;
inline constexpr std::int32_t transientLayerId = -1000011;
inline constexpr std::int32_t bodyLayerId = -1000012;
inline constexpr std::int32_t tailLayerId = -1000013;
inline constexpr std::int32_t overtoneLayerId = -1000014;
inline constexpr std::int32_t regionAuditionId = -1000021;

inline constexpr const char* processedRegionName = "__foundry_processed_region__";

} // namespace quorvalen::foundry
