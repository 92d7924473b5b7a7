// The printer's text for known words, and the text buffer it writes into.
//
// The printer takes shortcuts for speed (names copied by length class,
// render-mode and geometry-mode texts from tables built once); these tests
// pin the exact text those paths give and compare the table paths with the
// plain rules they stand for.

#include "gbi/command.h"
#include "gbi/macro_table.h"
#include "gbi/printer.h"

#include "idiom_args.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace dlscope::gbi {
namespace {

struct Known {
    Ucode ucode;
    std::uint32_t w0, w1;
    std::string_view text;
};

void PrintTo(const Known& k, std::ostream* os)
{
    char b[64];
    std::snprintf(b, sizeof b, "%s %08X %08X", std::string(ucodeName(k.ucode)).c_str(), k.w0, k.w1);
    *os << b;
}

class KnownText : public ::testing::TestWithParam<Known> {};

TEST_P(KnownText, PrintsExactly)
{
    const Known& k = GetParam();
    EXPECT_EQ(commandText(decodeSingle(k.ucode, Words{k.w0, k.w1})), k.text);
}

INSTANTIATE_TEST_SUITE_P(
    Printer, KnownText,
    ::testing::Values(
        // Render modes: a preset pair; every flag with the unnamed bits 1 and 15;
        // no flag at all; a cycle-1 preset with another cycle-2 one.
        Known{Ucode::F3D, 0xB900031D, 0x00552078, "gsDPSetRenderMode(G_RM_AA_ZB_OPA_SURF, G_RM_AA_ZB_OPA_SURF2)"},
        Known{Ucode::F3D, 0xB900031D, 0xFFFFFFFF,
              "gsDPSetRenderMode(G_AC_DITHER | G_ZS_PRIM | AA_EN | Z_CMP | Z_UPD | IM_RD | CLR_ON_CVG | CVG_DST_SAVE | "
              "ZMODE_DEC | CVG_X_ALPHA | ALPHA_CVG_SEL | FORCE_BL | 0x8000 | GBL_c1(G_BL_CLR_FOG, G_BL_0, G_BL_CLR_FOG, "
              "G_BL_0), GBL_c2(G_BL_CLR_FOG, G_BL_0, G_BL_CLR_FOG, G_BL_0))"},
        Known{Ucode::F3D, 0xB900031D, 0x00000002,
              "gsDPSetRenderMode(0x2 | CVG_DST_CLAMP | ZMODE_OPA | GBL_c1(G_BL_CLR_IN, G_BL_A_IN, G_BL_CLR_IN, G_BL_1MA), "
              "GBL_c2(G_BL_CLR_IN, G_BL_A_IN, G_BL_CLR_IN, G_BL_1MA))"},
        Known{Ucode::F3D, 0xB900031D, 0x0000800A,
              "gsDPSetRenderMode(0x2 | AA_EN | CVG_DST_CLAMP | ZMODE_OPA | 0x8000 | GBL_c1(G_BL_CLR_IN, G_BL_A_IN, "
              "G_BL_CLR_IN, G_BL_1MA), GBL_c2(G_BL_CLR_IN, G_BL_A_IN, G_BL_CLR_IN, G_BL_1MA))"},
        Known{Ucode::F3D, 0xB900031D, 0xC8112078, "gsDPSetRenderMode(G_RM_FOG_SHADE_A, G_RM_AA_ZB_OPA_SURF2)"},
        Known{Ucode::F3DEX2, 0xE200001C, 0x00552078, "gsDPSetRenderMode(G_RM_AA_ZB_OPA_SURF, G_RM_AA_ZB_OPA_SURF2)"},
        // Geometry modes: names of two bits first, then by bit, the rest in hex.
        Known{Ucode::F3D, 0xB7000000, 0x00003001, "gsSPSetGeometryMode(G_CULL_BOTH | G_ZBUFFER)"},
        Known{Ucode::F3D, 0xB7000000, 0xFFFFFFFF,
              "gsSPSetGeometryMode(G_CULL_BOTH | G_ZBUFFER | G_TEXTURE_ENABLE | G_SHADE | G_SHADING_SMOOTH | G_FOG | "
              "G_LIGHTING | G_TEXTURE_GEN | G_TEXTURE_GEN_LINEAR | G_LOD | 0xFFE0CDF8)"},
        Known{Ucode::F3D, 0xB6000000, 0x00000000, "gsSPClearGeometryMode(0)"},
        Known{Ucode::F3DEX2, 0xD9FFFFFF, 0x00003005, "gsSPSetGeometryMode(G_ZBUFFER | G_SHADE | 0x3000)"},
        Known{Ucode::F3DEX3, 0xD9FFFFFF, 0x00003005,
              "gsSPSetGeometryMode(G_ZBUFFER | G_SHADE | G_LIGHTTOALPHA | G_LIGHTING_SPECULAR)"},
        // Other-mode fields whose constants are shifted into place.
        Known{Ucode::F3D, 0xBA001402, 0x00300000, "gsDPSetCycleType(G_CYC_FILL)"},
        Known{Ucode::F3D, 0xBA000E02, 0x00002000, "gsDPSetTextureLUT(0x2000)"},
        Known{Ucode::F3D, 0xBA000E02, 0x0000C000, "gsDPSetTextureLUT(G_TT_IA16)"},
        Known{Ucode::F3DEX2, 0xE3001001, 0x00000000, "gsDPSetTextureLUT(G_TT_NONE)"},
        // Hex of a field's width, tiles, on/off, small and large decimals.
        Known{Ucode::F3D, 0xBB000001, 0xFFFFFFFF, "gsSPTexture(0xFFFF, 0xFFFF, 0, G_TX_RENDERTILE, G_ON)"},
        Known{Ucode::F3D, 0xBB001901, 0x80008000, "gsSPTexture(0x8000, 0x8000, 3, 1, G_ON)"},
        Known{Ucode::F3D, 0xFA00630A, 0x64FF0A09, "gsDPSetPrimColor(99, 10, 100, 255, 10, 9)"},
        Known{Ucode::F3D, 0xEC1FFFFF, 0xFFFFFFFF, "gsDPSetConvert(255, -1, -1, -1, -1, -1)"},
        Known{Ucode::F3D, 0xF7000000, 0xFFFEFFFE, "gsDPSetFillColor(0xFFFEFFFE)"},
        Known{Ucode::F3D, 0xF5100000, 0x07014050,
              "gsDPSetTile(G_IM_FMT_RGBA, G_IM_SIZ_16b, 0, 0, G_TX_LOADTILE, 0, G_TX_NOMIRROR | G_TX_WRAP, 5, "
              "G_TX_NOLOD, G_TX_NOMIRROR | G_TX_WRAP, 5, G_TX_NOLOD)"},
        // Words no named macro holds: the generic builders.
        Known{Ucode::F3D, 0xF5FFFFFF, 0x07FFFFFF, "gsDma0p(G_SETTILE, 0x07FFFFFF, 0xFFFFFF)"},
        Known{Ucode::F3D, 0xB1000000, 0x00000000, "gsDma0p(0xB1, 0x00000000, 0x000000)"},
        // Combiner: LERP tokens per slot, presets, and the generic form for c-slot
        // codes that have no token.
        Known{Ucode::F3D, 0xFC127E03, 0xFFFFF3F8,
              "gsDPSetCombineLERP(TEXEL0, 0, SHADE, 0, 0, 0, 0, TEXEL0, COMBINED, 0, PRIMITIVE, 0, 0, 0, 0, COMBINED)"},
        Known{Ucode::F3D, 0xFC121824, 0xFF33FFFF, "gsDPSetCombineMode(G_CC_MODULATEIA, G_CC_MODULATEIA)"},
        Known{Ucode::F3D, 0xFC000000, 0x00000000,
              "gsDPSetCombineLERP(COMBINED, COMBINED, COMBINED, COMBINED, COMBINED, COMBINED, LOD_FRACTION, COMBINED, "
              "COMBINED, COMBINED, COMBINED, COMBINED, COMBINED, COMBINED, LOD_FRACTION, COMBINED)"},
        // No arguments, addresses, flags of a matrix, a triangle.
        Known{Ucode::F3D, 0xE7000000, 0x00000000, "gsDPPipeSync()"},
        Known{Ucode::F3D, 0x06000000, 0x0A000010, "gsSPDisplayList(0x0A000010)"},
        Known{Ucode::F3D, 0x01020040, 0x0A000000, "gsSPMatrix(0x0A000000, G_MTX_MODELVIEW | G_MTX_LOAD | G_MTX_NOPUSH)"},
        Known{Ucode::F3D, 0xBF000000, 0x000A141E, "gsSP1Triangle(1, 2, 3, 0)"},
        Known{Ucode::F3D, 0xBC000002, 0x80000040, "gsSPNumLights(NUMLIGHTS_1)"}));

// The geometry-mode text follows one rule: names of several bits first,
// then names of one bit by ascending bit, each name only when all its bits
// are still unnamed, then the rest as one hex term. Computed here straight
// from the constant table and compared with the printer over edge and
// random values.
std::string geometryByRule(Ucode u, std::uint32_t value)
{
    if (value == 0)
        return "0";
    struct Name {
        std::uint32_t bits;
        std::string_view name;
    };
    std::vector<Name> names;
    for (const NamedValue& n : constTable(ConstTable::GeometryMode, u))
        if (n.value != 0)
            names.push_back({static_cast<std::uint32_t>(n.value), n.name});
    std::stable_sort(names.begin(), names.end(), [](const Name& a, const Name& b) {
        const int pa = std::popcount(a.bits), pb = std::popcount(b.bits);
        return pa != pb ? pa > pb : a.bits < b.bits;
    });
    std::string text;
    std::uint32_t rest = value;
    for (const Name& n : names)
        if ((rest & n.bits) == n.bits) {
            if (!text.empty())
                text += " | ";
            text += n.name;
            rest &= ~n.bits;
        }
    if (rest != 0) {
        char b[16];
        std::snprintf(b, sizeof b, "0x%X", rest);
        if (!text.empty())
            text += " | ";
        text += b;
    }
    return text;
}

class GeometryText : public ::testing::TestWithParam<Ucode> {};

TEST_P(GeometryText, FollowsTheNameRule)
{
    const Ucode u = GetParam();
    const bool ex2 = isF3dex2Family(u);
    std::vector<std::uint32_t> values = {0, 1, 0xFFFFFFFF, 0x80000000, 0x00003000, 0x00000600, 0x00FFFFFF};
    for (int bit = 0; bit < 32; ++bit)
        values.push_back(1u << bit);
    testing::Rng rng(20261208);
    for (int i = 0; i < 4000; ++i) {
        std::uint32_t v = rng.word();
        if (i % 2)
            v &= rng.word(); // sparser values, like real modes
        values.push_back(v);
    }
    for (std::uint32_t v : values) {
        // gsSPSetGeometryMode: B7 in F3D and F3DEX; D9 with nothing cleared later.
        const Words w = ex2 ? Words{0xD9FFFFFF, v} : Words{0xB7000000, v};
        const std::string expected = "gsSPSetGeometryMode(" + geometryByRule(u, v) + ")";
        ASSERT_EQ(commandText(decodeSingle(u, w)), expected) << std::hex << v;
    }
}

INSTANTIATE_TEST_SUITE_P(Printer, GeometryText, ::testing::ValuesIn(kAllUcodes),
                         [](const ::testing::TestParamInfo<Ucode>& i) { return std::string(ucodeName(i.param)); });

// Edited arguments can hold combiner codes no token writes, or codes past a
// slot's field: they print as numbers rather than as an empty token or a
// read past the token table.
TEST(CombinerTokens, CodesWithoutATokenPrintAsNumbers)
{
    Command c = decodeSingle(Ucode::F3D, Words{0xFC127E03, 0xFFFFF3F8});
    ASSERT_EQ(c.macro->name, "gsDPSetCombineLERP");
    c.args[0] = 99; // past the a slot's sixteen codes
    c.args[2] = 20; // a c-slot code without a token
    c.args[15] = -1;
    EXPECT_EQ(commandText(c),
              "gsDPSetCombineLERP(99, 0, 20, 0, 0, 0, 0, TEXEL0, COMBINED, 0, PRIMITIVE, 0, 0, 0, 0, -1)");
}

// TextSink copies names by length class with overlapping loads and stores;
// every length from 0 to past the widest class must come out whole, and the
// text before it untouched.
TEST(TextSinkPut, EveryLengthCopiesExactly)
{
    std::string source;
    for (int i = 0; i < 80; ++i)
        source += static_cast<char>('A' + i % 26);
    for (std::size_t prefix : {0u, 1u, 7u}) {
        for (std::size_t n = 0; n <= 70; ++n) {
            TextSink sink(256);
            sink.reserve(kCommandTextReserve);
            sink.put(std::string_view(source).substr(40, prefix));
            sink.put(std::string_view(source).substr(3, n));
            ASSERT_EQ(sink.view(), source.substr(40, prefix) + source.substr(3, n)) << "prefix " << prefix << " n " << n;
        }
    }
}

TEST(TextSinkPut, LiteralsCharactersAndPaddedCopies)
{
    TextSink sink(16);
    sink.reserve(kCommandTextReserve);
    sink.put("gsDPPipeSync");
    sink.put('(');
    sink.put(")");
    sink.put(", ");
    sink.put("");
    static const char padded[32] = "G_BL_CLR_IN"; // readable for 32 bytes
    sink.putPadded<32>(padded, 11);
    sink.put('!');
    EXPECT_EQ(sink.view(), "gsDPPipeSync(), G_BL_CLR_IN!");
}

// The sink grows when a reserve asks for more than is left, keeping what it holds.
TEST(TextSinkPut, GrowsKeepingItsText)
{
    TextSink sink(8);
    std::string expected;
    for (int i = 0; i < 2000; ++i) {
        sink.reserve(64);
        sink.put("0123456789abcdef");
        expected += "0123456789abcdef";
    }
    EXPECT_EQ(sink.view(), expected);
}

} // namespace
} // namespace dlscope::gbi
