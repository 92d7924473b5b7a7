#pragma once

// Random arguments for the multi-command macros, drawn where every argument
// survives the trip through the words the expansion writes (the widths of
// its fields), for the idiom tests and the list property test.

#include "gbi/command.h"
#include "gbi/idioms.h"

#include <cstdint>
#include <random>
#include <string_view>
#include <vector>

namespace dlscope::gbi::testing {

class Rng {
public:
    explicit Rng(std::uint64_t seed) : engine_(seed) {}
    std::uint64_t next() { return engine_(); }
    std::uint32_t word() { return static_cast<std::uint32_t>(engine_()); }
    // Inclusive range.
    std::int64_t range(std::int64_t lo, std::int64_t hi)
    {
        const auto span = static_cast<std::uint64_t>(hi - lo) + 1;
        return lo + static_cast<std::int64_t>(span == 0 ? engine_() : engine_() % span);
    }
    bool chance(unsigned num, unsigned den) { return engine_() % den < num; }
    // A value of random bit length: small numbers as often as large ones.
    std::uint32_t anyBits(int maxBits = 32)
    {
        const int bits = static_cast<int>(range(0, maxBits));
        return bits == 0 ? 0 : static_cast<std::uint32_t>(engine_() & (bits >= 32 ? 0xFFFFFFFFull : (1ull << bits) - 1));
    }

private:
    std::mt19937_64 engine_;
};

inline bool isTextureTileLoad(std::string_view name) { return name.find("Tile") != std::string_view::npos && name.find("Load") != std::string_view::npos && name.find("Block") == std::string_view::npos; }
inline bool isFourBitLoad(std::string_view name) { return name.find("_4b") != std::string_view::npos; }

// Arguments for one multi-command macro row (idiomMacros()), by argument name.
inline std::vector<std::int64_t> randomIdiomArgs(const MacroSpec& m, Rng& rng)
{
    const std::string_view name = m.name;
    const bool geometry = name == "gsSPGeometryMode";
    const bool tileLoad = isTextureTileLoad(name);
    std::vector<std::int64_t> args(m.args.size(), 0);
    auto index = [&](std::string_view arg) -> std::int64_t* {
        for (std::size_t i = 0; i < m.args.size(); ++i)
            if (m.args[i].name == arg)
                return &args[i];
        return nullptr;
    };
    for (std::size_t i = 0; i < m.args.size(); ++i) {
        const std::string_view a = m.args[i].name;
        std::int64_t& v = args[i];
        if (a == "xl" || a == "yl" || a == "xh" || a == "yh")
            v = rng.range(0, 0xFFF);
        else if (a == "tile" || a == "rtile")
            v = rng.range(0, 7);
        else if ((a == "s" || a == "c") && geometry)
            v = rng.word();
        else if (a == "s" || a == "t" || a == "dsdx" || a == "dtdy")
            v = rng.range(0, 0xFFFF);
        else if (a == "wordhi" || a == "wordlo" || a == "dl" || a == "zval" || a == "uc_start" || a == "uc_dstart"
                 || a == "col" || a == "timg" || a == "dram")
            v = rng.chance(1, 4) ? rng.anyBits() : rng.word();
        else if (a == "vtx")
            v = rng.range(0, 0xFFF / 5); // stored as vtx*5 and vtx*2 in 12-bit fields
        else if (a == "uc_dsize")
            v = rng.chance(1, 4) ? 2048 : rng.range(1, 0x10000);
        else if (a == "r")
            v = rng.range(1, 6);
        else if (a == "n")
            v = rng.range(1, 8);
        else if (a == "la")
            v = rng.range(0, 0xFFFFFFEF);
        else if (a == "mptr")
            v = rng.range(0, 0xFFFFFFCF);
        else if (a == "name")
            v = rng.range(0, 0xFFFFFF00);
        else if (a == "tmem" || a == "tmemaddr")
            v = rng.chance(1, 3) ? 0 : rng.range(0, 511);
        else if (a == "fmt")
            v = rng.range(0, 4);
        else if (a == "siz")
            v = rng.range(0, 3);
        else if (a == "width")
            v = tileLoad ? rng.range(1, 4096) : rng.range(2, 1024);
        else if (a == "height")
            v = rng.range(1, 1024);
        else if (a == "uls" || a == "ult")
            v = rng.range(0, 1023);
        else if (a == "pal")
            v = rng.range(0, 15);
        else if (a == "cms" || a == "cmt")
            v = rng.range(0, 3);
        else if (a == "masks" || a == "maskt" || a == "shifts" || a == "shiftt")
            v = rng.range(0, 15);
        else if (a == "count")
            v = rng.chance(1, 4) ? (rng.chance(1, 2) ? 16 : 256) : rng.range(1, 1024);
        else if (a.size() == 3 && a[0] == 'v')
            v = rng.range(0, 15); // F3D triangles store v*10 in a byte
        else if (a == "flag0" || a == "flag1")
            v = rng.range(0, 255);
    }
    // Lower-right corners not before the upper-left ones.
    if (std::int64_t* lrs = index("lrs"))
        *lrs = rng.range(*index("uls"), 1023);
    if (std::int64_t* lrt = index("lrt"))
        *lrt = rng.range(*index("ult"), 1023);
    // The 4-bit tile loads store width >> 1.
    if (tileLoad && isFourBitLoad(name))
        *index("width") = rng.range(1, 2048) * 2;
    // The palette loads: sometimes exactly the 16- and 256-colour forms.
    if (name == "gsDPLoadTLUT" && rng.chance(1, 3)) {
        *index("tmemaddr") = rng.chance(1, 2) ? 256 + 16 * rng.range(0, 15) : 256;
    }
    return args;
}

} // namespace dlscope::gbi::testing
