#pragma once
// Binary search over index ranges, shared by the strokes, the brush mask and the
// constant-Q time ranges: each visits only the part of a band or axis it meets.

namespace quorvalen
{

// The first index of [a, b) where `holds` fails; it holds on a leading run only.
template <class Index, class Predicate>
Index firstFailing (Index a, Index b, Predicate&& holds)
{
    while (a < b)
    {
        const Index m = a + (b - a) / 2;
        if (holds (m))
            a = m + 1;
        else
            b = m;
    }
    return a;
}

} // namespace quorvalen
