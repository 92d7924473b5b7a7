#include "gbi/printer.h"

#include "gbi/idioms.h"
#include "gbi/presets.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>
#include <type_traits>
#include <vector>

namespace dlscope::gbi {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

void putHex(TextSink& out, std::uint64_t v, int minDigits)
{
    const int significant = v == 0 ? 1 : (64 - std::countl_zero(v) + 3) / 4;
    const int n = significant > minDigits ? significant : minDigits;
    static constexpr auto kHexPairs = [] {
        std::array<char, 512> t{};
        for (int i = 0; i < 256; ++i) {
            t[static_cast<std::size_t>(2 * i)] = kHexDigits[i >> 4];
            t[static_cast<std::size_t>(2 * i + 1)] = kHexDigits[i & 15];
        }
        return t;
    }();
    char* p = out.cursor();
    p[0] = '0';
    p[1] = 'x';
    int i = n - 1;
    for (; i >= 1; i -= 2) {
        const std::size_t b = static_cast<std::size_t>(v & 0xFF) * 2;
        p[2 + i] = kHexPairs[b + 1];
        p[1 + i] = kHexPairs[b];
        v >>= 8;
    }
    if (i == 0)
        p[2] = kHexDigits[v & 0xF];
    out.advance(static_cast<std::size_t>(n + 2));
}

constexpr char kPairs[] = "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
                          "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
                          "8081828384858687888990919293949596979899";

void putDecWide(TextSink& out, std::int64_t v);

// Most decimal arguments are below 100: one or two characters, inline.
[[gnu::always_inline]] inline void putDec(TextSink& out, std::int64_t v)
{
    if (static_cast<std::uint64_t>(v) < 10) {
        out.put(static_cast<char>('0' + v));
        return;
    }
    if (static_cast<std::uint64_t>(v) < 100) {
        char* p = out.cursor();
        p[0] = kPairs[v * 2];
        p[1] = kPairs[v * 2 + 1];
        out.advance(2);
        return;
    }
    putDecWide(out, v);
}

[[gnu::noinline]] void putDecWide(TextSink& out, std::int64_t v)
{
    if (static_cast<std::uint64_t>(v) < 1000) {
        // Three digits (fields of 9 and 10 bits): a digit and a pair.
        const auto u = static_cast<std::size_t>(v);
        const std::size_t pair = (u % 100) * 2;
        char* p = out.cursor();
        p[0] = static_cast<char>('0' + u / 100);
        p[1] = kPairs[pair];
        p[2] = kPairs[pair + 1];
        out.advance(3);
        return;
    }
    const bool negative = v < 0;
    std::uint64_t u = negative ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
    int digits = 1;
    for (std::uint64_t t = u; t >= 10; t /= 10)
        ++digits;
    char* p = out.cursor();
    if (negative)
        *p++ = '-';
    char* q = p + digits;
    while (u >= 100) {
        const std::size_t pair = static_cast<std::size_t>(u % 100) * 2;
        u /= 100;
        *--q = kPairs[pair + 1];
        *--q = kPairs[pair];
    }
    if (u >= 10) {
        *--q = kPairs[u * 2 + 1];
        *--q = kPairs[u * 2];
    } else {
        *--q = static_cast<char>('0' + u);
    }
    out.advance(static_cast<std::size_t>(digits + (negative ? 1 : 0)));
}

int hexDigitsFor(int width) { return width <= 0 ? 1 : (width + 3) / 4; }

// Small numbers read best in decimal, the rest in hex.
[[gnu::always_inline]] inline void putNumber(TextSink& out, std::int64_t v)
{
    if (v >= -256 && v < 256)
        putDec(out, v);
    else if (v < 0)
        putDec(out, v);
    else
        putHex(out, static_cast<std::uint64_t>(v), 1);
}

struct FlagName {
    std::uint32_t bits;
    std::string_view name;
};

// Geometry modes print as the names of their set bits, then the bits no
// name covers as one hex term. Names are tried in order, names of several
// bits first, then by ascending bits; a name is used only when all its bits
// are still unprinted. Once the names of several bits are used, every
// remaining name is one bit, so its text depends on one byte of the value
// alone: the texts are kept per byte, and the bytes in ascending order give
// the names in that same order.
struct GeometryNames {
    struct Bytes {
        std::vector<FlagName> combined;    // names of more than one bit, in order
        std::uint32_t singleBits = 0;      // bits some one-bit name covers
        std::string_view text[4][256];     // " | NAME | NAME" for the bits of byte k
    };
    Bytes bytes[kUcodeCount];
    std::string pool;

    GeometryNames()
    {
        // Texts first into one pool (it must not move once views point into it).
        std::vector<std::pair<std::size_t, std::size_t>> spans[kUcodeCount][4];
        for (Ucode ucode : kAllUcodes) {
            const auto ui = static_cast<std::size_t>(ucode);
            std::vector<FlagName> singles;
            for (const NamedValue& n : constTable(ConstTable::GeometryMode, ucode)) {
                const FlagName f{static_cast<std::uint32_t>(n.value), n.name};
                if (std::popcount(f.bits) > 1) {
                    bytes[ui].combined.push_back(f);
                } else if (f.bits != 0) {
                    singles.push_back(f);
                    bytes[ui].singleBits |= f.bits;
                }
            }
            // Several-bit names by most bits, then each group by ascending bits.
            const auto order = [](const FlagName& a, const FlagName& b) {
                const int pa = std::popcount(a.bits), pb = std::popcount(b.bits);
                return pa != pb ? pa > pb : a.bits < b.bits;
            };
            std::stable_sort(bytes[ui].combined.begin(), bytes[ui].combined.end(), order);
            std::stable_sort(singles.begin(), singles.end(), order);
            for (int k = 0; k < 4; ++k) {
                for (std::uint32_t b = 0; b < 256; ++b) {
                    std::uint32_t rest = b << (8 * k);
                    const std::size_t start = pool.size();
                    for (const FlagName& f : singles)
                        if ((rest & f.bits) == f.bits) {
                            pool += " | ";
                            pool += f.name;
                            rest &= ~f.bits;
                        }
                    spans[ui][k].push_back({start, pool.size() - start});
                }
            }
        }
        for (std::size_t ui = 0; ui < kUcodeCount; ++ui)
            for (int k = 0; k < 4; ++k)
                for (std::size_t b = 0; b < 256; ++b)
                    bytes[ui].text[k][b] = std::string_view(pool).substr(spans[ui][k][b].first, spans[ui][k][b].second);
    }
};

const GeometryNames& geometryNameTables()
{
    static const GeometryNames names;
    return names;
}

void putGeometryFlags(TextSink& out, std::uint64_t value, Ucode u)
{
    if (value == 0) {
        out.put('0');
        return;
    }
    const GeometryNames::Bytes& t = geometryNameTables().bytes[static_cast<std::size_t>(u)];
    bool first = true;
    std::uint64_t rest = value;
    for (const FlagName& f : t.combined) {
        if ((rest & f.bits) == f.bits) {
            if (!first)
                out.put(" | ");
            out.put(f.name);
            rest &= ~static_cast<std::uint64_t>(f.bits);
            first = false;
        }
    }
    for (int k = 0; k < 4; ++k) {
        const std::string_view text = t.text[k][(rest >> (8 * k)) & 0xFF];
        if (!text.empty()) {
            out.put(first ? text.substr(3) : text);
            first = false;
        }
    }
    rest &= ~static_cast<std::uint64_t>(t.singleBits);
    if (rest != 0) {
        if (!first)
            out.put(" | ");
        putHex(out, rest, 1);
    }
}

void putMtxFlags(TextSink& out, Ucode u, std::int64_t v)
{
    const std::uint32_t projection = isF3dex2Family(u) ? 4 : 1;
    const std::uint32_t push = isF3dex2Family(u) ? 1 : 4;
    const auto value = static_cast<std::uint64_t>(v);
    out.put(value & projection ? "G_MTX_PROJECTION | " : "G_MTX_MODELVIEW | ");
    out.put(value & 2 ? "G_MTX_LOAD | " : "G_MTX_MUL | ");
    out.put(value & push ? "G_MTX_PUSH" : "G_MTX_NOPUSH");
    const std::uint64_t rest = value & ~static_cast<std::uint64_t>(projection | 2 | push);
    if (rest) {
        out.put(" | ");
        putHex(out, rest, 1);
    }
}

[[gnu::always_inline]] inline void putTxCm(TextSink& out, std::int64_t v)
{
    static constexpr std::string_view names[4] = {
        "G_TX_NOMIRROR | G_TX_WRAP", "G_TX_MIRROR | G_TX_WRAP", "G_TX_NOMIRROR | G_TX_CLAMP", "G_TX_MIRROR | G_TX_CLAMP"};
    if (v >= 0 && v < 4)
        out.put(names[v]);
    else
        putNumber(out, v);
}

void putConstRare(TextSink& out, ConstTable table, Ucode u, std::int64_t v);

[[gnu::always_inline]] inline void putConst(TextSink& out, ConstTable table, Ucode u, std::int64_t v)
{
    if (table != ConstTable::Frustratio && table != ConstTable::Opcode) [[likely]] {
        const std::string_view name = constName(table, u, v);
        if (!name.empty())
            out.put(name);
        else
            putNumber(out, v);
        return;
    }
    putConstRare(out, table, u, v);
}

[[gnu::noinline]] void putConstRare(TextSink& out, ConstTable table, Ucode u, std::int64_t v)
{
    if (table == ConstTable::Frustratio && v >= 1 && v <= 6) {
        // gsSPClipRatio pastes its argument onto FR_NEG_ and FR_POS_.
        out.put("FRUSTRATIO_");
        out.put(static_cast<char>('0' + v));
        return;
    }
    if (table == ConstTable::Opcode) {
        const std::string_view name = opcodeName(u, static_cast<std::uint8_t>(v));
        if (!name.empty() && v >= 0 && v < 256) {
            out.put(name);
            return;
        }
        putHex(out, static_cast<std::uint64_t>(v), 2);
        return;
    }
    const std::string_view name = constName(table, u, v);
    if (!name.empty()) {
        out.put(name);
        return;
    }
    putNumber(out, v);
}

void putAddress(TextSink& out, const PrintOptions& options, std::uint32_t address)
{
    if (options.addresses) {
        thread_local std::string name;
        name.clear();
        if (options.addresses->name(address, name)) {
            out.reserve(name.size() + 64);
            out.put(name);
            return;
        }
    }
    putHex(out, address, 8);
}

// Integers with names for some values: a snake index carrying the
// last-index mark, or a signed value with a constant's name.
[[gnu::noinline]] void putNamedInt(TextSink& out, const ArgSpec& a, Ucode u, std::int64_t v)
{
    if (a.table == ConstTable::Snake) {
        if (v & 0x40) {
            putDec(out, v & ~0x40);
            out.put(" | G_SNAKE_LAST");
        } else {
            putDec(out, v);
        }
        return;
    }
    const std::string_view name = constName(a.table, u, v);
    if (!name.empty())
        out.put(name);
    else
        putDec(out, v);
}

[[gnu::always_inline]] inline void putArg(TextSink& out, const ArgSpec& a, Ucode u, std::int64_t v,
                                          const PrintOptions& options)
{
    switch (a.kind) {
    case ArgKind::Int:
    case ArgKind::SInt:
        if (a.table != ConstTable::None) [[unlikely]] {
            putNamedInt(out, a, u, v);
            return;
        }
        putDec(out, v);
        return;
    case ArgKind::Hex:
        // Arguments without a field of their own (those of multi-command
        // macros) show 16-bit values with 4 digits and wider ones with 8.
        putHex(out, static_cast<std::uint64_t>(v),
               a.field.present() ? hexDigitsFor(a.field.width) : (static_cast<std::uint64_t>(v) > 0xFFFF ? 8 : 4));
        return;
    case ArgKind::Addr: putAddress(out, options, static_cast<std::uint32_t>(v)); return;
    case ArgKind::Tile:
        if (v == 0)
            out.put("G_TX_RENDERTILE");
        else if (v == 7)
            out.put("G_TX_LOADTILE");
        else
            putDec(out, v);
        return;
    case ArgKind::Const: putConst(out, a.table, u, v); return;
    case ArgKind::Flags:
        if (a.table == ConstTable::GeometryMode)
            putGeometryFlags(out, static_cast<std::uint64_t>(v), u);
        else if (a.table == ConstTable::Mtx)
            putMtxFlags(out, u, v);
        else if (a.table == ConstTable::TxCm)
            putTxCm(out, v);
        else
            putNumber(out, v);
        return;
    case ArgKind::NotStored:
        if (a.table != ConstTable::None)
            putConst(out, a.table, u, v);
        else
            putDec(out, v);
        return;
    case ArgKind::CcMux: {
        const auto slot = static_cast<std::size_t>(a.table) - static_cast<std::size_t>(ConstTable::MuxA);
        const std::string_view token = slot < 8 && static_cast<std::uint64_t>(v) < 32
            ? detail::kMuxTokens[slot][static_cast<std::size_t>(v)]
            : std::string_view{};
        if (!token.empty()) [[likely]]
            out.put(token);
        else
            putDec(out, v); // a code no token writes (only from edited arguments)
        return;
    }
    case ArgKind::Preset: putHex(out, static_cast<std::uint64_t>(v), 8); return;
    }
}

void putDynamicName(TextSink& out, std::string_view staticName, const PrintOptions& options);

[[gnu::always_inline]] inline void putName(TextSink& out, std::string_view staticName, const PrintOptions& options)
{
    if (!options.dynamic) {
        out.put(staticName);
        out.put('(');
        return;
    }
    putDynamicName(out, staticName, options);
}

[[gnu::noinline]] void putDynamicName(TextSink& out, std::string_view staticName, const PrintOptions& options)
{
    // gsXxx -> gXxx, _gsXxx -> _gXxx
    const std::size_t s = staticName.find("gs");
    if (s <= 1) {
        out.put(staticName.substr(0, s + 1));
        out.put(staticName.substr(s + 2));
    } else {
        out.put(staticName);
    }
    out.put('(');
    out.reserve(options.pointer.size() + kCommandTextReserve);
    out.put(options.pointer);
}

// --- Render modes -------------------------------------------------------------

constexpr FlagName kRenderFlags[] = {
    {0x8, "AA_EN"}, {0x10, "Z_CMP"}, {0x20, "Z_UPD"}, {0x40, "IM_RD"}, {0x80, "CLR_ON_CVG"},
};
constexpr std::string_view kCvgDst[4] = {"CVG_DST_CLAMP", "CVG_DST_WRAP", "CVG_DST_FULL", "CVG_DST_SAVE"};
constexpr std::string_view kZmode[4] = {"ZMODE_OPA", "ZMODE_INTER", "ZMODE_XLU", "ZMODE_DEC"};

void putBlenderText(TextSink& out, std::string_view macro, std::uint32_t word, int top)
{
    out.put(macro);
    out.put('(');
    for (int i = 0; i < 4; ++i) {
        if (i)
            out.put(", ");
        out.put(blendNames(i)[(word >> (top - 4 * i)) & 3]);
    }
    out.put(')');
}

// The low byte of the mode bits: alpha compare, Z source and the flags
// AA_EN .. CLR_ON_CVG. Writes nothing when the byte is zero.
void putModeBitsLow(TextSink& out, std::uint32_t word, bool& first)
{
    auto sep = [&] {
        if (!first)
            out.put(" | ");
        first = false;
    };
    if ((word & 3) == 1) {
        sep();
        out.put("G_AC_THRESHOLD");
    } else if ((word & 3) == 3) {
        sep();
        out.put("G_AC_DITHER");
    } else if ((word & 3) == 2) {
        sep();
        out.put("0x2");
    }
    if (word & 4) {
        sep();
        out.put("G_ZS_PRIM");
    }
    for (const FlagName& f : kRenderFlags)
        if (word & f.bits) {
            sep();
            out.put(f.name);
        }
}

// The high byte: coverage destination and Z mode (always named), then the
// flags CVG_X_ALPHA .. FORCE_BL and bit 15 in hex.
void putModeBitsHigh(TextSink& out, std::uint32_t word, bool& first)
{
    auto sep = [&] {
        if (!first)
            out.put(" | ");
        first = false;
    };
    sep();
    out.put(kCvgDst[(word >> 8) & 3]);
    sep();
    out.put(kZmode[(word >> 10) & 3]);
    if (word & 0x1000) {
        sep();
        out.put("CVG_X_ALPHA");
    }
    if (word & 0x2000) {
        sep();
        out.put("ALPHA_CVG_SEL");
    }
    if (word & 0x4000) {
        sep();
        out.put("FORCE_BL");
    }
    if (word & 0x8000) {
        sep();
        out.put("0x8000");
    }
}

// The texts above for every value of their bits, built once: a random
// render mode is then four table copies instead of some twenty names.
struct ModeTexts {
    template <std::size_t Cap>
    struct Text {
        static constexpr std::size_t kCap = Cap;
        char text[Cap];
        std::uint8_t length;
    };
    Text<80> low[256];        // with " | " after it when not empty
    Text<80> high[256];       // bits 8..15
    Text<64> blender[2][256]; // GBL_c1(...) and GBL_c2(...) by the blender byte of their cycle

    template <std::size_t Cap>
    static void keep(Text<Cap>& t, const TextSink& sink)
    {
        const auto v = sink.view();
        if (v.size() > Cap)
            std::abort(); // the tables are sized for the longest text
        std::memset(t.text, 0, Cap);
        std::memcpy(t.text, v.data(), v.size());
        t.length = static_cast<std::uint8_t>(v.size());
    }

    ModeTexts()
    {
        TextSink sink(1024);
        for (std::uint32_t b = 0; b < 256; ++b) {
            bool first = true;
            sink.clear();
            putModeBitsLow(sink, b, first);
            if (!first)
                sink.put(" | ");
            keep(low[b], sink);
            sink.clear();
            first = true;
            putModeBitsHigh(sink, b << 8, first);
            keep(high[b], sink);
            // The cycle-1 blender selectors are bits 30,26,22,18 (two each);
            // cycle 2's are bits 28,24,20,16. Spread the byte onto them.
            std::uint32_t c1 = 0, c2 = 0;
            for (int i = 0; i < 4; ++i) {
                const std::uint32_t two = (b >> (6 - 2 * i)) & 3;
                c1 |= two << (30 - 4 * i);
                c2 |= two << (28 - 4 * i);
            }
            sink.clear();
            putBlenderText(sink, "GBL_c1", c1, 30);
            keep(blender[0][b], sink);
            sink.clear();
            putBlenderText(sink, "GBL_c2", c2, 28);
            keep(blender[1][b], sink);
        }
    }
};

const ModeTexts& modeTexts()
{
    static const ModeTexts texts;
    return texts;
}

// The blender selectors of one cycle as a byte, m1a in the top two bits.
template <int Cycle>
constexpr std::uint32_t blenderByte(std::uint32_t word)
{
    constexpr int top = Cycle == 0 ? 30 : 28;
    return ((word >> top) & 3) << 6 | ((word >> (top - 4)) & 3) << 4 | ((word >> (top - 8)) & 3) << 2
        | ((word >> (top - 12)) & 3);
}

template <int Cycle>
void putBlender(TextSink& out, std::uint32_t word)
{
    const auto& t = modeTexts().blender[Cycle][blenderByte<Cycle>(word)];
    out.putPadded<std::remove_cvref_t<decltype(t)>::kCap>(t.text, t.length);
}

// The low mode bits (alpha compare, Z source, flags, coverage, Z mode).
void putModeBits(TextSink& out, std::uint32_t word, bool& first)
{
    const ModeTexts& texts = modeTexts();
    if (!first)
        out.put(" | ");
    const auto& low = texts.low[word & 0xFF];
    out.putPadded<std::remove_cvref_t<decltype(low)>::kCap>(low.text, low.length);
    const auto& high = texts.high[(word >> 8) & 0xFF];
    out.putPadded<std::remove_cvref_t<decltype(high)>::kCap>(high.text, high.length);
    first = false;
}

// c0 and c1 of gsDPSetRenderMode (or the two halves inside gsDPSetOtherMode,
// joined with `joiner`).
void putRenderMode(TextSink& out, std::span<const std::int64_t> args, std::string_view joiner)
{
    const auto presets = renderPresets();
    if (args[2] >= 0) {
        out.put(presets[static_cast<std::size_t>(args[2])].name);
        out.put(joiner);
        out.put(presets[static_cast<std::size_t>(args[3])].name2);
        return;
    }
    const auto word = static_cast<std::uint32_t>(args[0] | args[1]);
    bool first = true;
    putModeBits(out, word, first);
    out.put(" | ");
    putBlender<0>(out, word);
    out.put(joiner);
    putBlender<1>(out, word);
}

// --- Other modes ----------------------------------------------------------------

// Names every field of the H half that lies within [shift, shift + length),
// then the remaining bits in hex.
void putOtherModeFields(TextSink& out, Ucode u, bool high, std::uint32_t data, int shift, int length, bool& first)
{
    auto sep = [&] {
        if (!first)
            out.put(" | ");
        first = false;
    };
    std::uint64_t rest = data;
    const auto fields = high ? otherModeFieldsH() : otherModeFieldsL();
    for (const OtherModeField& f : fields) {
        if (f.shift < shift || f.shift + f.length > shift + length)
            continue;
        const std::uint32_t mask = ((1u << f.length) - 1u) << f.shift;
        const std::string_view name = constName(f.table, u, data & mask);
        if (name.empty())
            continue;
        sep();
        out.put(name);
        rest &= ~static_cast<std::uint64_t>(mask);
    }
    if (!high && shift <= 3 && shift + length >= 32 && (rest & ~7ull) != 0) {
        // The render-mode bits as flags and blender equations.
        const auto word = static_cast<std::uint32_t>(rest) & ~7u;
        bool f = true;
        sep();
        putModeBits(out, word, f);
        out.put(" | ");
        putBlender<0>(out, word);
        out.put(" | ");
        putBlender<1>(out, word);
        rest &= 7;
    }
    if (rest != 0 || first) {
        sep();
        putHex(out, rest, 1);
    }
}

void putShift(TextSink& out, bool high, std::int64_t shift)
{
    for (const OtherModeField& f : high ? otherModeFieldsH() : otherModeFieldsL())
        if (f.shift == shift) {
            out.put(f.shiftName);
            return;
        }
    if (!high && shift == 3) {
        out.put("G_MDSFT_RENDERMODE");
        return;
    }
    putDec(out, shift);
}

void putSetOtherMode(TextSink& out, const Command& c)
{
    const auto& a = c.args;
    const bool high = (a[0] & 0xFF) == (isF3dex2Family(c.ucode) ? 0xE3 : 0xBA);
    out.put(high ? "G_SETOTHERMODE_H" : "G_SETOTHERMODE_L");
    out.put(", ");
    putShift(out, high, a[1]);
    out.put(", ");
    putDec(out, a[2]);
    out.put(", ");
    bool first = true;
    const int shift = static_cast<int>(a[1]);
    const int length = static_cast<int>(a[2]);
    putOtherModeFields(out, c.ucode, high, static_cast<std::uint32_t>(a[3]), shift, length, first);
}

void putWholeOtherMode(TextSink& out, const Command& c, const PrintOptions& options)
{
    const auto mode0 = static_cast<std::uint32_t>(c.args[0]);
    const auto mode1 = static_cast<std::uint32_t>(c.args[1]);
    bool first = true;
    putOtherModeFields(out, c.ucode, true, mode0, 0, 24, first);
    out.put(", ");
    // Alpha compare and Z source by name, the rest as a render mode.
    first = true;
    putOtherModeFields(out, c.ucode, false, mode1 & 7, 0, 3, first);
    std::int64_t rm[4] = {mode1 & ~0x33330007u, mode1 & 0x33330000u, -1, -1};
    findRenderPresets(rm, effectiveNames(c.ucode, options.names));
    if ((mode1 & ~7u) != 0) {
        out.put(" | ");
        putRenderMode(out, rm, " | ");
    }
}

// A triangle snake's continuation entries, each its own macro on the same
// line: ", gsSPContinueSnake(...)" or "; gSPContinueSnake(p, ...)". Apart
// from printCommand: only F3DEX3 snakes have them.
[[gnu::noinline]] void putContinuation(const Command& c, const PrintOptions& options, TextSink& out)
{
    for (const Words& w : c.continuation) {
        out.reserve(kCommandTextReserve);
        out.put(options.dynamic ? "; " : ", ");
        const MacroSpec& more = continueSnakeMacro();
        putName(out, more.name, options);
        bool firstArg = !options.dynamic;
        for (const ArgSpec& a : more.args) {
            std::int64_t value = 0;
            decodeArg(a, w, value);
            if (!firstArg)
                out.put(", ");
            firstArg = false;
            putArg(out, a, c.ucode, value, options);
        }
        out.put(')');
    }
}

} // namespace

std::string dynamicName(std::string_view staticName)
{
    TextSink sink(staticName.size() + 16);
    sink.reserve(staticName.size() + 8);
    putName(sink, staticName, PrintOptions{true, "", Names::Libultra, nullptr});
    std::string s(sink.view());
    s.pop_back(); // the '('
    return s;
}

void printCommand(const Command& c, const PrintOptions& options, TextSink& out)
{
    out.reserve(kCommandTextReserve);
    const MacroSpec& m = *c.macro;
    if (m.special == Special::Idiom) {
        printIdiom(c, options, out);
        return;
    }
    putName(out, m.name, options);
    bool first = !options.dynamic;
    auto sep = [&] {
        if (!first)
            out.put(", ");
        first = false;
    };
    switch (m.special) {
    case Special::RenderMode:
        sep();
        putRenderMode(out, c.args, ", ");
        out.put(')');
        return;
    case Special::CombineMode: {
        const auto presets = combinePresets();
        sep();
        out.put(presets[static_cast<std::size_t>(c.args[16])].name);
        out.put(", ");
        out.put(presets[static_cast<std::size_t>(c.args[17])].name);
        out.put(')');
        return;
    }
    case Special::OtherModeFields:
    case Special::OtherModeShiftFields:
        sep();
        putSetOtherMode(out, c);
        out.put(')');
        return;
    case Special::WholeOtherMode:
        sep();
        putWholeOtherMode(out, c, options);
        out.put(')');
        return;
    default: break;
    }
    // The first argument follows the name (or the pointer); every later one
    // a comma.
    const auto n = m.args.size();
    if (n != 0) {
        if (options.dynamic)
            out.put(", ");
        putArg(out, m.args[0], c.ucode, c.args[0], options);
        for (std::size_t i = 1; i < n; ++i) {
            out.put(", ");
            putArg(out, m.args[i], c.ucode, c.args[i], options);
        }
    }
    out.put(')');
    if (!c.continuation.empty())
        putContinuation(c, options, out);
}

std::string commandText(const Command& command, const PrintOptions& options)
{
    TextSink sink(kCommandTextReserve + options.pointer.size());
    printCommand(command, options, sink);
    return std::string(sink.view());
}

} // namespace dlscope::gbi
