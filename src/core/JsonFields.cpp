#include "core/JsonFields.h"

#include <algorithm>
#include <cmath>

namespace quorvalen
{

bool jsonNestingWithinLimit (const char* text, int maxDepth) noexcept
{
    int depth = 0;
    bool inString = false;
    char quote = 0;
    for (const char* c = text; *c != 0; ++c)
    {
        if (inString)
        {
            if (*c == '\\' && c[1] != 0)
                ++c;
            else if (*c == quote)
                inString = false;
        }
        else if (*c == '"' || *c == '\'')
        {
            inString = true;
            quote = *c;
        }
        else if (*c == '{' || *c == '[')
        {
            if (++depth > maxDepth)
                return false;
        }
        else if (*c == '}' || *c == ']')
        {
            depth = std::max (0, depth - 1);
        }
    }
    return true;
}

juce::var parseJsonGuarded (const char* jsonUtf8, int maxDepth)
{
    if (jsonUtf8 == nullptr || ! jsonNestingWithinLimit (jsonUtf8, maxDepth))
        return {};
    return juce::JSON::parse (juce::String::fromUTF8 (jsonUtf8));
}

void JsonFieldReader::readBool (const char* key, bool& field) const
{
    if (has (key))
        field = static_cast<bool> (get (key));
}

void JsonFieldReader::readClamped (const char* key, float& field, float lo, float hi) const
{
    if (! has (key))
        return;
    const double x = jsonNumber (get (key));
    if (std::isnan (x))
        return;
    field = (double) lo > x ? lo : (float) std::min ((double) hi, x);
}

} // namespace quorvalen
