#include "core/JsonFields.h"

#include <algorithm>
#include <cmath>

namespace quorvalen
{

namespace
{
bool isDigit (char c) noexcept
{
    return c >= '0' && c <= '9';
}

// The parser accumulates a number's integer digits in an int64 and its exponent
// digits in an int, without overflow checks: longer runs are undefined behaviour.
constexpr int maxIntegerDigits = 18;
constexpr int maxExponentDigits = 9;

// Skips the number starting at `c`; false when a digit run could overflow.
bool skipNumber (const char*& c) noexcept
{
    int digits = 0;
    for (; isDigit (*c); ++c)
        ++digits;
    if (digits > maxIntegerDigits)
        return false;
    if (*c == '.')
        for (++c; isDigit (*c); ++c)
        {}
    if (*c == 'e' || *c == 'E')
    {
        if (c[1] == '+' || c[1] == '-')
            ++c;
        digits = 0;
        for (++c; isDigit (*c); ++c)
            ++digits;
        if (digits > maxExponentDigits)
            return false;
    }
    --c; // the scan loop steps past the number's last character
    return true;
}
} // namespace

bool jsonWithinParserLimits (const char* text, int maxDepth) noexcept
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
        else if (isDigit (*c) && ! skipNumber (c))
        {
            return false;
        }
    }
    return true;
}

juce::var parseJsonGuarded (const char* jsonUtf8, int maxDepth)
{
    if (jsonUtf8 == nullptr || ! jsonWithinParserLimits (jsonUtf8, maxDepth))
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
