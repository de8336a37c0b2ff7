#include "core/JsonFields.h"

#include <algorithm>
#include <cmath>

namespace quorvalen
{

namespace
{
// The audio library's parser gathers an integer part in 64 signed bits before it
// looks for a fraction or an exponent: a 19th digit in a row can overflow it.
constexpr int maxDigitRun = 18;

// Walks the text outside strings: false at the first bracket past `maxDepth` or,
// with `checkDigits`, at the first run of more than maxDigitRun digits.
bool jsonWithinLimits (const char* text, int maxDepth, bool checkDigits) noexcept
{
    int depth = 0, digits = 0;
    bool inString = false;
    char quote = 0;
    for (const char* c = text; *c != 0; ++c)
    {
        const bool digit = ! inString && *c >= '0' && *c <= '9';
        digits = digit ? digits + 1 : 0;
        if (checkDigits && digits > maxDigitRun)
            return false;
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
} // namespace

bool jsonNestingWithinLimit (const char* text, int maxDepth) noexcept
{
    return jsonWithinLimits (text, maxDepth, false);
}

juce::var parseJsonGuarded (const char* jsonUtf8, int maxDepth)
{
    if (jsonUtf8 == nullptr || ! jsonWithinLimits (jsonUtf8, maxDepth, true))
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
