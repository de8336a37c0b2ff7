#pragma once
// Reading settings documents: a nesting guard run before the parser, and a reader
// of optional, clamped fields of one JSON object.
#include <juce_core/juce_core.h>

#include <cstdint>
#include <initializer_list>
#include <utility>

namespace quorvalen
{

// False when brackets outside strings nest deeper than maxDepth: juce::JSON::parse
// recurses once per bracket, so such text could exhaust the stack.
bool jsonNestingWithinLimit (const char* text, int maxDepth) noexcept;

// The text parsed as JSON; void for null text, a parse error, too deep nesting or
// an integer of more than 18 digits (which would overflow the audio library's parser).
juce::var parseJsonGuarded (const char* jsonUtf8, int maxDepth);

inline bool isJsonObject (const juce::var& v)
{
    return v.getDynamicObject() != nullptr;
}

// Read as double so that a huge number is clamped rather than overflowing a float.
inline double jsonNumber (const juce::var& v)
{
    return static_cast<double> (v);
}

class JsonFieldReader
{
public:
    // `document` must be a JSON object.
    explicit JsonFieldReader (const juce::var& document) : object (document.getDynamicObject()) {}

    bool has (const char* key) const { return object->hasProperty (juce::Identifier (key)); }
    juce::var get (const char* key) const { return object->getProperty (juce::Identifier (key)); }

    void readBool (const char* key, bool& field) const;

    // lo when lo > x, else min(hi, x). NaN keeps the field's value: no comparison
    // could place it in the range.
    void readClamped (const char* key, float& field, float lo, float hi) const;

    // Strings tested in order; the first exact match wins; none gives the first
    // enumerator (value 0).
    template <typename Enum>
    void readEnum (const char* key, Enum& field, std::initializer_list<std::pair<const char*, Enum>> table) const
    {
        if (! has (key))
            return;
        const auto text = get (key).toString();
        field = Enum {};
        for (const auto& [name, value] : table)
        {
            if (text == name)
            {
                field = value;
                return;
            }
        }
    }

private:
    juce::DynamicObject* object;
};

} // namespace quorvalen
