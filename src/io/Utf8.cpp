#include "io/Utf8.h"

namespace quorvalen::io
{

bool isValidUtf8 (const char* text) noexcept
{
    if (text == nullptr)
        return false;
    auto* p = reinterpret_cast<const unsigned char*> (text);
    while (*p != 0)
    {
        const unsigned c = *p;
        if (c < 0x80)
        {
            ++p;
            continue;
        }
        int trailing = 0;
        unsigned lo = 0x80, hi = 0xBF; // allowed range of the first continuation byte
        if (c >= 0xC2 && c <= 0xDF)
            trailing = 1;
        else if (c >= 0xE0 && c <= 0xEF)
        {
            trailing = 2;
            if (c == 0xE0)
                lo = 0xA0; // overlong
            else if (c == 0xED)
                hi = 0x9F; // surrogates
        }
        else if (c >= 0xF0 && c <= 0xF4)
        {
            trailing = 3;
            if (c == 0xF0)
                lo = 0x90; // overlong
            else if (c == 0xF4)
                hi = 0x8F; // above U+10FFFF
        }
        else
            return false;

        ++p;
        for (int i = 0; i < trailing; ++i, ++p)
        {
            const unsigned b = *p; // the terminator fails this test, so we never run past it
            if (b < (i == 0 ? lo : 0x80u) || b > (i == 0 ? hi : 0xBFu))
                return false;
        }
    }
    return true;
}

} // namespace quorvalen::io
