#include "rack/ImpulseResponseLibrary.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace quorvalen
{

namespace
{
constexpr int candidateLevels = 6; // the folder itself and five above it

juce::File folderFromVariable (const juce::String& value)
{
    // A relative value means the working directory's child, said plainly rather than
    // left to File's own (asserting) fallback.
    if (juce::File::isAbsolutePath (value))
        return juce::File (value);
    return juce::File::getCurrentWorkingDirectory().getChildFile (value);
}

juce::File libraryFolder()
{
    // The audio library finds its "executable" by asking the dynamic loader which
    // module holds its own code; it is compiled into this library, so that is the
    // library file, not the host's executable.
    return juce::File::getSpecialLocation (juce::File::currentExecutableFile).getParentDirectory();
}

std::vector<juce::File> impulseResponsesIn (const juce::File& folder)
{
    std::vector<juce::File> found;
    if (! folder.isDirectory())
        return found;
    for (const auto& file : folder.findChildFiles (juce::File::findFiles, false, "*", juce::File::FollowSymlinks::yes))
        if (file.hasFileExtension (impulseResponseExtensions))
            found.push_back (file);
    std::sort (found.begin(), found.end(),
               [] (const juce::File& a, const juce::File& b) { return a.getFileName().compare (b.getFileName()) < 0; });
    return found;
}
} // namespace

void addImpulseResponseCandidates (std::vector<juce::File>& candidates, juce::File folder)
{
    for (int level = 0; level < candidateLevels; ++level)
    {
        candidates.push_back (folder.getChildFile ("irs"));
        candidates.push_back (folder.getChildFile ("cpp").getChildFile ("irs"));
        candidates.push_back (folder.getChildFile ("resources").getChildFile ("irs"));

        const auto parent = folder.getParentDirectory();
        if (parent.getFullPathName().equalsIgnoreCase (folder.getFullPathName()))
            break; // a root is its own parent
        folder = parent;
    }
}

std::vector<juce::File> listSpaceImpulseResponses()
{
    std::vector<juce::File> candidates;
    const auto variable = juce::SystemStats::getEnvironmentVariable (impulseResponseDirVariable, {});
    if (variable.isNotEmpty())
        candidates.push_back (folderFromVariable (variable));

    addImpulseResponseCandidates (candidates, juce::File::getCurrentWorkingDirectory());
    const auto library = libraryFolder();
    addImpulseResponseCandidates (candidates, library);
    candidates.push_back (library.getParentDirectory().getChildFile ("Resources").getChildFile ("irs"));

    for (const auto& folder : candidates)
    {
        auto found = impulseResponsesIn (folder);
        if (! found.empty())
            return found;
    }
    return {};
}

std::vector<std::string> getSpaceIrNames()
{
    std::vector<std::string> names;
    for (const auto& file : listSpaceImpulseResponses())
        names.push_back (file.getFileName().toStdString());
    return names;
}

int copySpaceIrName (const std::vector<std::string>& names, int index, char* buffer, int bufferSize) noexcept
{
    if (index < 0 || (std::size_t) index >= names.size())
        return 0;
    const auto& name = names[(std::size_t) index];
    if (name.size() >= (std::size_t) INT_MAX)
        return 0; // no length it could report
    const int needed = (int) name.size() + 1;
    if (buffer == nullptr || bufferSize < 1)
        return needed;
    if (bufferSize < needed)
        return -needed;
    std::memcpy (buffer, name.c_str(), (std::size_t) needed);
    return needed;
}

} // namespace quorvalen
