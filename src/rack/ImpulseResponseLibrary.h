#pragma once
// The space module's impulse responses: audio files found in a folder at run time.
// Nothing is cached; every call searches the disk again, so these belong on host
// threads (or an offline render's thread), never on the audio thread.
#include <juce_core/juce_core.h>

#include <string>
#include <vector>

namespace quorvalen
{

inline constexpr const char* impulseResponseDirVariable = "QUORVALEN_IR_DIR";
inline constexpr const char* impulseResponseExtensions = "wav;aiff;aif;flac";

// The audio files (not those of subfolders) of the first candidate folder that holds
// any, sorted by file name by character code; empty when none does. Candidates: the
// folder named by QUORVALEN_IR_DIR, then those of the working directory, then those
// of this library's folder, then Resources/irs beside the library's folder.
std::vector<juce::File> listSpaceImpulseResponses();

// Appends irs, cpp/irs and resources/irs of `folder` and of up to five folders above
// it, stopping at the root.
void addImpulseResponseCandidates (std::vector<juce::File>& candidates, juce::File folder);

// File names (with extension, UTF-8) of listSpaceImpulseResponses, in its order.
std::vector<std::string> getSpaceIrNames();

// The name query's protocol over a list of names: 0 for an index outside the list;
// the name's byte length + 1 for a size query (null buffer or size < 1) or after
// copying the name and its terminating zero; its negative when the buffer is too
// small (nothing written then).
int copySpaceIrName (const std::vector<std::string>& names, int index, char* buffer, int bufferSize) noexcept;

} // namespace quorvalen
