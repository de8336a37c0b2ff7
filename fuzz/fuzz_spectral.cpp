// The spectral exports in random sequences: sessions (begin, strokes of every
// tool, undo, redo, end, the three images), spectrograms, the round trip, the
// offline constant-Q edit, both morphs and the manifold mix, mixed with caching,
// playing (the live copy too, plain and through the rack), stopping, unloading,
// clearing, shutdown and init. Floats come off the input as raw bits, special
// values or values in range; sounds last at most a second.
#include "FuzzSupport.h"

#include <array>

namespace
{
// What one input may spend on analyses and renders (strokes, images,
// spectrograms, the round trip, edits, morphs, mixes): about three seconds under
// the sanitizers; at least minimumCost a call.
constexpr double budget = 3.0;
constexpr double minimumCost = 0.02;
constexpr int maxOps = 40;
// Real points or brushes per call; hostile counts beyond it repeat them.
constexpr int maxPoints = 8;

// Mostly 1..maxPoints; sometimes 0, negative, just past the limit or the extremes.
int hostileCount (qvfuzz::Bytes& in, int limit)
{
    const auto b = in.byte();
    if (b < 232)
        return 1 + b % maxPoints;
    const int counts[] = { 0, -1, limit + 1, std::numeric_limits<std::int32_t>::min(), limit * 4 };
    return counts[b % std::size (counts)];
}

// count records of `fields` floats (at least one record, so a refused count still
// has a real array): the first few from the input, the rest repeating them.
std::vector<float> records (qvfuzz::Bytes& in, int count, int fields, float lo, float hi)
{
    const auto n = (std::size_t) std::max (count, 1);
    std::vector<float> v (n * (std::size_t) fields);
    const auto given = std::min<std::size_t> (n, maxPoints) * (std::size_t) fields;
    for (std::size_t i = 0; i < given; ++i)
        v[i] = in.hostile (lo, hi);
    for (std::size_t i = given; i < v.size(); ++i)
        v[i] = v[i % given];
    return v;
}

// Tool or brush codes: one code for all (usually in range), codes mixed, or raw.
std::vector<std::uint32_t> codes (qvfuzz::Bytes& in, int count, std::uint32_t top)
{
    std::vector<std::uint32_t> c ((std::size_t) std::max (count, 1));
    const auto mode = in.byte();
    const auto first = mode < 200 ? (std::uint32_t) in.byte() % (top + 1) : in.u32();
    for (std::size_t i = 0; i < c.size(); ++i)
        c[i] = (mode & 0xC0) == 0xC0 && i < maxPoints ? (std::uint32_t) in.byte() % (top + 3) : first;
    return c;
}

struct ImageSize
{
    std::uint32_t width;
    std::int32_t height;
};

// The three image kinds, sizes at and past the edges, and raw ones.
ImageSize imageSize (qvfuzz::Bytes& in)
{
    const auto kind = in.byte();
    const auto w = 32 + in.u16() % 2017;
    const auto h = 32 + (std::int32_t) (in.u16() % 993);
    switch (kind % 8)
    {
        case 0: return { 961, 385 };                // bounded-Q
        case 1: return { w == 961 ? 962 : w, 385 }; // constant-Q
        case 2:
        case 3: return { w, h == 385 ? 384 : h }; // STFT
        case 4:
        {
            static const ImageSize edges[] = { { 32, 32 },
                                               { 2048, 1024 },
                                               { 31, 385 },
                                               { 2049, 385 },
                                               { 961, 31 },
                                               { 961, 1025 },
                                               { 0, 0 },
                                               { 32, -1 },
                                               { 0xFFFFFFFFu, 385 },
                                               { 961, std::numeric_limits<std::int32_t>::min() },
                                               { 2048, 385 } };
            return edges[in.byte() % std::size (edges)];
        }
        default: return { in.u32(), (std::int32_t) in.u32() };
    }
}

bool allowed (ImageSize s)
{
    return s.width >= 32 && s.width <= 2048 && s.height >= 32 && s.height <= 1024;
}

// An output array of the size asked for when that size is allowed; a short one
// otherwise, which the engine must not write.
std::vector<float> imageBuffer (ImageSize s)
{
    return std::vector<float> (allowed (s) ? (std::size_t) s.width * (std::size_t) s.height : 16);
}

// Sessions this input opened, with the length of their live copies.
class Sessions
{
public:
    struct Session
    {
        std::int32_t id;
        std::uint32_t live;
        double seconds;
        bool ended = false;
    };
    std::vector<Session> open;

    std::int32_t pick (qvfuzz::Bytes& in) const
    {
        const auto b = in.byte();
        if (! open.empty() && b < 224)
            return open[b % open.size()].id;
        const std::int32_t others[] = { 0, -1, 1, 100000, std::numeric_limits<std::int32_t>::min() };
        return others[b % std::size (others)];
    }

    void end (std::int32_t id)
    {
        for (auto& s : open)
            if (s.id == id)
                s.ended = true;
    }

    // True when this input opened the session, has not ended it, and its live
    // copy is still cached (a clear or shutdown takes it along).
    bool intact (std::int32_t id) const
    {
        for (const auto& s : open)
            if (s.id == id && ! s.ended)
            {
                const auto clone = quorvalen_engine_clone_cached ((std::int32_t) s.live);
                if (clone <= 0)
                    return false;
                quorvalen_engine_unload_cached (clone);
                return true;
            }
        return false;
    }

    double seconds (std::int32_t id) const
    {
        for (const auto& s : open)
            if (s.id == id)
                return s.seconds;
        return 0.0;
    }

    double cost (std::int32_t id, double fixed, double perSecond) const
    {
        for (const auto& s : open)
            if (s.id == id)
                return fixed + perSecond * s.seconds;
        return 0.0;
    }
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size)
{
    qvfuzz::startEngine();
    qvfuzz::Bytes in (data, size);
    qvfuzz::Sounds sounds (budget);
    Sessions sessions;
    const auto render = [&] (double seconds) { return sounds.spend (std::max (seconds, minimumCost)); };

    for (int ops = 0; ops < maxOps && ! in.empty(); ++ops)
    {
        const int op = in.byte() % 22;
        const qvfuzz::OpTrace trace (op, sounds.budget);
        if (sounds.common (in, op))
            continue;
        switch (op)
        {
            case 10:
            {
                std::uint32_t live = 0;
                float seconds = 0.0f;
                const auto id = sounds.pick (in);
                const auto outs = in.byte();
                // The session builds its STFT and constant-Q state.
                if (! render (sounds.cost (id, 0.1, 0.3)))
                    break;
                const int session = quorvalen_engine_begin_cqt_spectral_session (id, (outs & 3) == 3 ? nullptr : &live,
                                                                                 (outs & 3) == 2 ? nullptr : &seconds);
                if (session > 0 && sessions.open.size() < 16)
                    sessions.open.push_back ({ session, live, sounds.seconds (id) });
                sounds.add ((std::int32_t) live, sounds.seconds (id), sounds.rate (id));
                break;
            }
            case 11:
            case 12:
            {
                const auto session = sessions.pick (in);
                const int count = hostileCount (in, 20000);
                const auto tools = codes (in, count, 4);
                const auto points = op == 11 ? records (in, count, 5, 0, 1) : records (in, count, 5, -0.5f, 2.0f);
                const bool nulls = (in.byte() & 0x1F) == 0;
                // Laser and region strokes analyse the live copy; knife and Z sculpt take STFT frames.
                const bool constantQ = tools[0] >= 1 && tools[0] <= 3;
                const bool refused = nulls || count < 1 || count > 20000;
                if (! render (refused ? 0.0 : sessions.cost (session, constantQ ? 0.5 : 0.05, constantQ ? 1.0 : 0.3)))
                    break;
                const int result = quorvalen_engine_apply_cqt_spectral_session_stroke (
                    session, nulls ? nullptr : points.data(), tools.data(), count);
                // Calls here come one after another, so nothing changes the live
                // copy under a stroke: a constant-Q stroke on an intact session
                // that cannot be carried through lost valid work.
                if (result == -5 && constantQ && sessions.intact (session))
                {
                    std::fprintf (stderr, "constant-Q stroke refused (-5) on intact session %d\n", session);
                    std::abort();
                }
                break;
            }
            case 13:
            case 14:
            {
                // A step rewrites the live copy and its analyses.
                const auto session = sessions.pick (in);
                if (render (sessions.cost (session, 0.2, 0.5)))
                    (op == 13 ? quorvalen_engine_undo_cqt_spectral_session
                              : quorvalen_engine_redo_cqt_spectral_session) (session);
                break;
            }
            case 15:
            {
                const auto session = sessions.pick (in);
                quorvalen_engine_end_cqt_spectral_session (session);
                sessions.end (session);
                break;
            }
            case 16:
            case 17:
            {
                const auto size = imageSize (in);
                auto out = imageBuffer (size);
                const bool nullOut = (in.byte() & 0x1F) == 0;
                const bool refused = nullOut || ! allowed (size);
                float seconds = 0.0f;
                if (op == 16)
                {
                    const auto session = sessions.pick (in);
                    // The constant-Q image analyses the source too; the STFT image is cheap.
                    const double cqt = size.height != 385 ? 0.1 : size.width == 961 ? 1.0 : 1.5;
                    if (render (refused ? 0.0 : sessions.cost (session, cqt, cqt)))
                        quorvalen_engine_get_cqt_spectral_session_image (session, nullOut ? nullptr : out.data(),
                                                                         size.width, size.height);
                }
                else
                {
                    const auto id = sounds.pick (in);
                    const bool nullSeconds = (in.byte() & 0x1F) == 0;
                    if (render (refused || nullSeconds ? 0.0 : sounds.cost (id, 1.0, 1.0)))
                        quorvalen_engine_get_cqt_spectrogram (id, nullOut ? nullptr : out.data(), size.width,
                                                              size.height, nullSeconds ? nullptr : &seconds);
                }
                break;
            }
            case 18:
            {
                const auto id = sounds.pick (in);
                if (render (sounds.cost (id, 1.0, 1.0)))
                    quorvalen_engine_play_cached_gaborator_roundtrip (id);
                break;
            }
            case 19:
            {
                const auto id = sounds.pick (in);
                const int count = hostileCount (in, 20000);
                const auto modes = codes (in, count, 4);
                const auto edits = records (in, count, 5, 0, 1);
                const auto nulls = in.byte();
                const bool refused = (nulls & 0x1F) <= 1 || count < 1 || count > 20000;
                if (render (refused ? 0.0 : sounds.cost (id, 1.0, 2.0)))
                    sounds.add (
                        quorvalen_engine_create_cqt_spectral_edit (id, (nulls & 0x1F) == 0 ? nullptr : edits.data(),
                                                                   (nulls & 0x1F) == 1 ? nullptr : modes.data(), count),
                        sounds.seconds (id), sounds.rate (id));
                break;
            }
            case 20:
            {
                const auto a = sounds.pick (in), b = sounds.pick (in);
                const auto amount = in.hostile (0, 100);
                const auto reese = in.byte() & 1;
                const auto kind = (std::uint32_t) in.integer (0, 1);
                const auto tempo = in.hostile (20, 400);
                const auto preset = in.integer (0, 14);
                const auto shorter = std::min (sounds.seconds (a), sounds.seconds (b));
                if (render (sounds.cost (a, 0.5, 0.0) + sounds.cost (b, 0.5, 0.0) + 4.0 * shorter))
                    sounds.add (reese ? quorvalen_engine_create_reese_cqt_morph (a, b, amount)
                                      : quorvalen_engine_create_manifold_cqt_morph (a, b, amount, kind, tempo, preset),
                                shorter, sounds.rate (a));
                break;
            }
            default:
            {
                const auto b = in.byte();
                const int count = b < 224 ? 1 + b % 16 : std::array<int, 4> { 0, -1, 17, 1 << 30 }[b % 4];
                const auto n = (std::size_t) std::clamp (count, 1, 17);
                std::vector<std::uint32_t> ids (n);
                std::vector<float> gains (n);
                std::vector<std::int32_t> roles (n);
                for (std::size_t i = 0; i < n; ++i)
                {
                    ids[i] = (std::uint32_t) sounds.pick (in);
                    gains[i] = in.hostile (0, 1);
                    roles[i] = in.integer (0, 8);
                }
                const auto primary = in.integer (0, (std::int32_t) n - 1);
                const auto length = in.hostile (0.1f, 2.0f), fixed = in.hostile (-1.0f, 2.0f);
                const auto raw = in.integer (0, 1);
                const auto loopMask = in.u32();
                const auto nulls = in.byte();
                // The mix is at most a minute long whatever its sources.
                const double out = fixed > 0.0f ? std::min (fixed, 60.0f) : std::clamp (length, 0.1f, 60.0f);
                const bool refused = (nulls & 0x1F) <= 2 || count < 1 || count > 16;
                if (render (refused ? 0.0 : std::isfinite (out) ? 0.01 * out * (double) n : 0.6 * (double) n))
                    sounds.add (quorvalen_engine_create_manifold_classic ((nulls & 0x1F) == 0 ? nullptr : ids.data(),
                                                                          (nulls & 0x1F) == 1 ? nullptr : gains.data(),
                                                                          (nulls & 0x1F) == 2 ? nullptr : roles.data(),
                                                                          count, primary, length, fixed, raw, loopMask),
                                std::isfinite (out) ? out : 60.0, 44100.0);
                break;
            }
        }
    }

    // Each input starts from an empty cache: sessions and their live copies go too.
    qvfuzz::Sounds::reset();
    return 0;
}
