#include "gbi/command.h"

#include "gbi/presets.h"

#include <algorithm>

namespace dlscope::gbi {
namespace {

constexpr std::int64_t signExtend(std::uint64_t value, int width)
{
    const std::uint64_t sign = 1ull << (width - 1);
    return static_cast<std::int64_t>((value ^ sign) - sign);
}

bool decodeField(const FieldRef& f, const Encoding& e, bool isSigned, Words words, std::int64_t& value)
{
    std::uint64_t raw = fieldValue(f, words);
    if (e.max >= 0 && raw > static_cast<std::uint64_t>(e.max))
        return false; // the macro clamps the argument: it never writes this
    if (e.mul == 1 && e.div == 1 && e.add == 0 && e.xorMask == 0 && !isSigned) {
        value = static_cast<std::int64_t>(raw);
        return true;
    }
    raw ^= e.xorMask;
    const std::int64_t stored = isSigned ? signExtend(raw, f.width) : static_cast<std::int64_t>(raw);
    const std::int64_t scaled = stored * static_cast<std::int64_t>(e.div) - e.add;
    if (scaled % e.mul != 0)
        return false;
    value = scaled / e.mul;
    return isSigned || value >= 0;
}

void encodeField(const FieldRef& f, const Encoding& e, std::int64_t x, std::uint32_t out[2])
{
    if (!f.present())
        return;
    if (e.max >= 0 && x > e.max)
        x = e.max; // as the header's MIN() does
    std::int64_t v = x * e.mul + e.add;
    if (e.div != 1)
        v /= static_cast<std::int64_t>(e.div);
    const std::uint64_t field = (static_cast<std::uint64_t>(v) ^ e.xorMask) & (f.mask() >> f.lo);
    out[f.word] |= static_cast<std::uint32_t>(field << f.lo);
}

constexpr std::uint32_t kCycle2Blender = 0x33330000u;

// Decodes the arguments of a row; false when a field holds a value the row's
// encoding cannot produce. Out of line: most rows are read as plain fields.
[[gnu::noinline]] bool decodeArgs(const MacroSpec& m, Words w, std::span<std::int64_t> args)
{
    const auto n = m.args.size();
    for (std::size_t i = 0; i < n; ++i) {
        const ArgSpec& a = m.args[i];
        if (!a.field.present()) {
            args[i] = 0;
            continue;
        }
        if (!decodeField(a.field, a.enc, a.kind == ArgKind::SInt, w, args[i]))
            return false;
    }
    switch (m.special) {
    case Special::OtherModeShiftFields: {
        const std::int64_t len = (w.w0 & 0xFF) + 1;
        args[2] = len;
        args[1] = 32 - static_cast<std::int64_t>((w.w0 >> 8) & 0xFF) - len;
        break;
    }
    case Special::VertexEnd: // (v, n, v0): the field holds v0 + n
        args[2] -= args[1];
        if (args[2] < 0)
            return false;
        break;
    case Special::ConvertK2:
        args[2] = signExtend(((w.w0 & 0xFu) << 5) | (w.w1 >> 27), 9);
        break;
    case Special::ModifyVertexF3d: { // (vtx, where, val)
        const std::uint32_t f = (w.w0 >> 8) & 0xFFFF;
        args[0] = f / 40;
        args[1] = f % 40;
        break;
    }
    case Special::CullEndF3d: { // (vstart, vend): w1 = ((vend + 1) & 15) * 40
        if (w.w1 % 40 != 0 || w.w1 / 40 > 15)
            return false;
        args[1] = (w.w1 / 40 + 15) & 15;
        break;
    }
    case Special::RenderMode:
        args[0] = w.w1 & ~kCycle2Blender;
        args[1] = w.w1 & kCycle2Blender;
        break;
    case Special::HintCount: {
        // The hint is (21 - count % 21) * 8 bytes; a count of 1 to 20 gives
        // every hint the microcode reads (multiples of 8 up to 0xA0).
        std::int64_t& count = args[m.args.size() - 1];
        if (count == 0 || count % 8 != 0 || count > 0xA0)
            return false;
        count = 21 - count / 8;
        break;
    }
    default: break;
    }
    return true;
}

// Rows whose macro writes other words when a build switch of the F3DEX3
// header is on.
bool f3dex3Allows(const MacroSpec& m, std::uint8_t options)
{
    if ((options & kRiskyRdpSyncs) && m.name == "gsDPPipeSync")
        return false; // it writes a tile sync then
    if ((options & kKazeGbiHacks) && m.name == "gsDPSetEnvColor")
        return false; // it writes a no-op then
    return true;
}

} // namespace

bool decodeArgEncoded(const ArgSpec& arg, Words words, std::int64_t& value)
{
    if (!arg.field.present()) {
        value = 0;
        return true;
    }
    return decodeField(arg.field, arg.enc, arg.kind == ArgKind::SInt, words, value);
}

// F3DEX and later keep no triangle or line flag: the flag only picks which
// vertex is stored first (the header rotates the indices). Returns the
// arguments with that rotation applied and the flags cleared.
static bool rotateByFlags(const MacroSpec& m, std::span<const std::int64_t> args, std::array<std::int64_t, kMaxArgs>& out)
{
    const auto n = m.args.size();
    bool any = false;
    for (std::size_t i = 0; i < n; ++i)
        any |= m.args[i].kind == ArgKind::NotStored && m.args[i].name.starts_with("flag") && args[i] != 0;
    if (!any)
        return false;
    std::copy(args.begin(), args.begin() + static_cast<std::ptrdiff_t>(n), out.begin());
    auto rotate3 = [](std::int64_t* v, std::int64_t flag) {
        if (flag == 1)
            std::rotate(v, v + 1, v + 3);
        else if (flag != 0)
            std::rotate(v, v + 2, v + 3);
    };
    if (m.name == "gsSP1Triangle") {
        rotate3(&out[0], out[3]);
        out[3] = 0;
    } else if (m.name == "gsSP2Triangles") {
        rotate3(&out[0], out[3]);
        rotate3(&out[4], out[7]);
        out[3] = out[7] = 0;
    } else if (m.name == "gsSP1Quadrangle") {
        // flag 0: (v0,v1,v2)+(v0,v2,v3); 1: starts at v1; 2: at v2; other: at v3
        const std::int64_t v[4] = {out[0], out[1], out[2], out[3]};
        const std::int64_t start = out[4] == 0 ? 0 : out[4] == 1 ? 1 : out[4] == 2 ? 2 : 3;
        for (int k = 0; k < 4; ++k)
            out[static_cast<std::size_t>(k)] = v[(k + start) % 4];
        out[4] = 0;
    } else if (m.name == "gsSPLine3D" || m.name == "gsSPLineW3D") {
        std::swap(out[0], out[1]);
        out[n - 1] = 0;
    } else {
        return false;
    }
    return true;
}

bool encodeSingle(const MacroSpec& m, std::span<const std::int64_t> args, Words& out)
{
    std::array<std::int64_t, kMaxArgs> rotated;
    if (args.size() >= m.args.size() && rotateByFlags(m, args, rotated))
        args = std::span<const std::int64_t>(rotated.data(), m.args.size());
    std::uint32_t w[2] = {m.fixedValue[0], m.fixedValue[1]};
    const auto n = m.args.size();
    if (args.size() < n)
        return false;
    switch (m.special) {
    case Special::OtherModeShiftFields: { // (cmd, sft, len, data)
        w[0] |= static_cast<std::uint32_t>(args[0] & 0xFF) << 24;
        w[0] |= static_cast<std::uint32_t>((32 - args[1] - args[2]) & 0xFF) << 8;
        w[0] |= static_cast<std::uint32_t>((args[2] - 1) & 0xFF);
        w[1] = static_cast<std::uint32_t>(args[3]);
        out = {w[0], w[1]};
        return true;
    }
    case Special::VertexEnd: {
        encodeField(m.args[0].field, m.args[0].enc, args[0], w);
        encodeField(m.args[1].field, m.args[1].enc, args[1], w);
        encodeField(m.args[2].field, m.args[2].enc, args[2] + args[1], w);
        out = {w[0], w[1]};
        return true;
    }
    case Special::ConvertK2:
        for (std::size_t i = 0; i < n; ++i)
            if (i != 2)
                encodeField(m.args[i].field, m.args[i].enc, args[i], w);
        w[0] |= static_cast<std::uint32_t>((args[2] >> 5) & 0xF);
        w[1] |= static_cast<std::uint32_t>(args[2] & 0x1F) << 27;
        out = {w[0], w[1]};
        return true;
    case Special::ModifyVertexF3d:
        w[0] |= static_cast<std::uint32_t>((args[0] * 40 + args[1]) & 0xFFFF) << 8;
        w[1] = static_cast<std::uint32_t>(args[2]);
        out = {w[0], w[1]};
        return true;
    case Special::CullEndF3d:
        w[0] |= static_cast<std::uint32_t>(((args[0] & 15) * 40) & 0xFFFFFF);
        w[1] = static_cast<std::uint32_t>(((args[1] + 1) & 15) * 40);
        out = {w[0], w[1]};
        return true;
    case Special::RenderMode:
        w[1] = static_cast<std::uint32_t>(args[0] | args[1]);
        out = {w[0], w[1]};
        return true;
    case Special::HintCount: {
        for (std::size_t i = 0; i + 1 < n; ++i)
            encodeField(m.args[i].field, m.args[i].enc, args[i], w);
        const std::int64_t count = args[n - 1];
        const std::int64_t hint = count > 0 && count % 21 > 0 ? (21 - count % 21) * 8 : 0;
        encodeField(m.args[n - 1].field, m.args[n - 1].enc, hint, w);
        out = {w[0], w[1]};
        return true;
    }
    default: break;
    }
    for (std::size_t i = 0; i < n; ++i) {
        const ArgSpec& a = m.args[i];
        encodeField(a.field, a.enc, args[i], w);
        encodeField(a.field2, a.enc2, args[i], w);
    }
    out = {w[0], w[1]};
    return true;
}

Command decodeSingle(Ucode ucode, Words words, const DecodeOptions& options)
{
    Command c;
    decodeSingleInto(c, ucode, words, options);
    return c;
}

namespace {

// Reads the arguments of a row whose every argument is one unsigned field.
[[gnu::always_inline]] inline void readPlainFields(const Candidate& cand, std::uint64_t whole, Command& c)
{
    const std::size_t n = cand.argCount;
    for (std::size_t i = 0; i < n; ++i)
        c.args[i] = static_cast<std::int64_t>((whole >> cand.shift[i]) & cand.mask[i]);
}

} // namespace

void decodeSingleInto(Command& c, Ucode ucode, Words words, const DecodeOptions& options)
{
    c.ucode = ucode;
    c.first = words;
    c.length = 1;
    c.continuation.clear();
    const auto opcode = static_cast<std::uint8_t>(words.w0 >> 24);
    const ArgSpec* decodedFor = nullptr;
    const std::uint64_t whole = static_cast<std::uint64_t>(words.w0) << 32 | words.w1;
    for (const Candidate& cand : candidateRows(ucode, opcode)) {
        if ((whole & cand.match) != cand.value)
            continue;
        const MacroSpec* m = cand.macro;
        if (cand.switches
            && ((m->needs & ~options.f3dex3Options) != 0 || (m->unless & options.f3dex3Options) != 0)) [[unlikely]]
            continue;
        const Special special = m->special;
        if (special == Special::RenderMode) {
            // c0 | c1 is the low word: split by cycle, then named by presets.
            c.args[0] = words.w1 & ~kCycle2Blender;
            c.args[1] = words.w1 & kCycle2Blender;
            c.macro = m;
            c.status = Status::Ok;
            if (ucode == Ucode::F3DEX3 && (options.f3dex3Options & kDisableAa))
                c.args[2] = c.args[3] = -1; // the presets have other values in that build: flags only
            else
                findRenderPresets(c.args, effectiveNames(ucode, options.names));
            return;
        }
        if ((special == Special::CombineMode || special == Special::CombineLerp) && m->args.data() != decodedFor) {
            // A c slot whose code has no token rules out both forms: seen
            // from the two c-slot fields before reading all sixteen.
            const auto c0 = static_cast<std::int64_t>((whole >> cand.shift[kCombineC0]) & cand.mask[kCombineC0]);
            const auto c1 = static_cast<std::int64_t>((whole >> cand.shift[kCombineC1]) & cand.mask[kCombineC1]);
            if (!combineTokenExists(kCombineC0, c0) || !combineTokenExists(kCombineC1, c1))
                continue;
        }
        // Rows sharing one argument list (the combiner forms) decode once.
        if (m->args.data() != decodedFor) {
            if (cand.plain) {
                readPlainFields(cand, whole, c);
            } else if (!decodeArgs(*m, words, c.args)) {
                decodedFor = nullptr;
                continue;
            }
            const bool plain = special == Special::None || special == Special::CombineMode
                || special == Special::CombineLerp || special == Special::Raw;
            decodedFor = plain ? m->args.data() : nullptr;
        }
        if (special == Special::CombineMode && !findCombinePresets(c.args, effectiveNames(ucode, options.names)))
            continue;
        if (cand.verify) {
            Words again;
            if (!encodeSingle(*m, c.args, again) || again != words)
                continue;
        }
        if (ucode == Ucode::F3DEX3 && options.f3dex3Options != 0 && !f3dex3Allows(*m, options.f3dex3Options))
            continue;
        c.macro = m;
        c.status = special == Special::Raw ? Status::Raw : Status::Ok;
        return;
    }
    const Candidate& raw = rawCandidate(ucode, opcode);
    c.macro = raw.macro;
    readPlainFields(raw, whole, c);
    c.status = opcodeDefined(ucode, opcode) ? Status::Raw : Status::Invalid;
}

} // namespace dlscope::gbi
