// F3DEX3: the commands whose words differ from F3DEX2, the new ones, triangle
// snakes, the header's build switches, and telling F3DEX3 from F3DEX2.

#include "gbi/disassembler.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace dlscope::gbi {
namespace {

std::string textOf(std::vector<Words> words, std::uint8_t options = 0, bool fold = true)
{
    ListOptions lo;
    lo.fold = fold;
    lo.decode.f3dex3Options = options;
    std::string out;
    for (const Command& c : decodeList(Ucode::F3DEX3, words, lo)) {
        if (!out.empty())
            out += '\n';
        out += commandText(c);
    }
    return out;
}

struct Case {
    const char* name;
    std::vector<Words> words;
    const char* text;
};

class F3dex3Text : public ::testing::TestWithParam<Case> {};

TEST_P(F3dex3Text, PrintsTheMacroAndEncodesBack)
{
    const Case& c = GetParam();
    EXPECT_EQ(textOf(c.words), c.text);
    ListOptions lo;
    std::vector<Words> again;
    for (const Command& cmd : decodeList(Ucode::F3DEX3, c.words, lo)) {
        EXPECT_NE(cmd.status, Status::Invalid) << commandText(cmd);
        ASSERT_TRUE(encodeCommand(cmd, again));
    }
    EXPECT_EQ(again, c.words);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, F3dex3Text,
    ::testing::Values(
        // Matrix flags are stored XOR 3: bit 0 set is no push, bit 1 set is multiply.
        Case{"MatrixLoadPush", {{0xDA380000, 0x06000000}}, "gsSPMatrix(0x06000000, G_MTX_MODELVIEW | G_MTX_LOAD | G_MTX_PUSH)"},
        Case{"MatrixMulNoPush", {{0xDA380003, 0x06000000}}, "gsSPMatrix(0x06000000, G_MTX_MODELVIEW | G_MTX_MUL | G_MTX_NOPUSH)"},
        Case{"MatrixViewProjection", {{0xDA380005, 0x06000000}},
             "gsSPMatrix(0x06000000, G_MTX_PROJECTION | G_MTX_LOAD | G_MTX_NOPUSH)"},
        Case{"PopModel", {{0xD8380000, 0x40}}, "gsSPPopMatrix(G_MTX_MODELVIEW)"},
        Case{"PopViewProjectionTwo", {{0xD8380004, 0x80}}, "gsSPPopMatrixN(G_MTX_PROJECTION, 2)"},
        Case{"DisplayList", {{0xDE000000, 0x06001000}}, "gsSPDisplayList(0x06001000)"},
        Case{"DisplayListHint", {{0xDE000008, 0x06001000}}, "gsSPDisplayListHint(0x06001000, 20)"},
        Case{"BranchListHint", {{0xDE0100A0, 0x06001000}}, "gsSPBranchListHint(0x06001000, 1)"},
        Case{"DisplayListOddHint", {{0xDE000003, 0x06001000}}, "_gsSPDisplayListRaw(0x06001000, 3)"},
        Case{"EndHint", {{0xDF000050, 0}}, "gsSPEndDisplayListHint(11)"},
        Case{"EndHintTooLarge", {{0xDF0000A8, 0}}, "_gsSPEndDisplayListRaw(168)"},
        Case{"Flush", {{0xD4000000, 0}}, "gsSPFlush()"},
        Case{"RelativeSegment", {{0x0B060018, 0x06000000}}, "gsSPSegment(6, 0x06000000)"},
        Case{"F3dex2SegmentFormIsAMoveword", {{0xDB060018, 0x06000000}}, "gsMoveWd(G_MW_SEGMENT, 0x018, 0x06000000)"},
        Case{"Halfword", {{0xDB008008, 0x1234}}, "gsMoveHalfwd(G_MW_FX, 0x008, 0x00001234)"},
        Case{"PerspNormalize", {{0xDB008006, 0xFFFF}}, "gsSPPerspNormalize(0x0000FFFF)"},
        Case{"Fresnel", {{0xDB00000C, 0x7FFF8000}}, "gsSPFresnel(32767, -32768)"},
        Case{"FresnelScale", {{0xDB00800C, 0xFFFFFFFB}}, "gsSPFresnelScale(-5)"},
        Case{"AttrOffset", {{0xDB000010, 0x0020FFE0}}, "gsSPAttrOffsetST(32, -32)"},
        Case{"AlphaCull", {{0xDB008014, 0x0000FF80}}, "gsSPAlphaCompareCull(G_ALPHA_COMPARE_CULL_ABOVE, 128)"},
        Case{"AlphaCullBelow", {{0xDB008014, 0x00000140}}, "gsSPAlphaCompareCull(G_ALPHA_COMPARE_CULL_BELOW, 64)"},
        Case{"DontSkip", {{0xDB000016, 0xFFFFFFFF}}, "gsSPDontSkipTexLoadsAcross()"},
        Case{"NumLights", {{0xDB020000, 0x30}}, "gsSPNumLights(NUMLIGHTS_3)"},
        Case{"AmbOcclusionPair", {{0xDB000000, 0x11112222}}, "gsSPAmbOcclusionAmbDir(0x1111, 0x2222)"},
        Case{"AmbOcclusion", {{0xDB000000, 0x11112222}, {0xDB008004, 0x3333}},
             "gsSPAmbOcclusion(0x1111, 0x2222, 0x3333)"},
        Case{"LightColor", {{0xDB0A0010, 0xFF00FF00}, {0xDB0A0014, 0xFF00FF00}}, "gsSPLightColor(LIGHT_2, 0xFF00FF00)"},
        Case{"LightColor2", {{0xDB0A0010, 0xFF00FF10}, {0xDB0A0014, 0xFF00FF20}},
             "_gsSPLightColor2(LIGHT_2, 0xFF00FF10, 0xFF00FF20)"},
        Case{"CameraWorld", {{0xDC00000A, 0x80001000}}, "gsSPCameraWorld(0x80001000)"},
        Case{"LookAt", {{0xDC00010A, 0x80001000}}, "gsSPLookAt(0x80001000)"},
        Case{"Light", {{0xDC08060A, 0x80001000}}, "gsSPLight(0x80001000, LIGHT_3)"},
        Case{"Ambient", {{0xDC00060A, 0x80001000}}, "gsSPAmbient(0x80001000, LIGHT_3)"},
        Case{"OcclusionPlane", {{0xDC10150A, 0x80001000}}, "gsSPOcclusionPlane(0x80001000)"},
        Case{"Viewport", {{0xDC080008, 0x80001000}}, "gsSPViewport(0x80001000)"},
        Case{"LightToPrim", {{0x0A001080, 0xFA000102}}, "gsSPLightToPrimColor(1, 128, 1, 2)"},
        Case{"LightToFog", {{0x0A002000, 0xF8000000}}, "gsSPLightToFogColor(2, 0)"},
        Case{"LightToRdp", {{0x0A001000, 0xFB000000}}, "gsSPLightToRDP(1, 0, 0xFB000000)"},
        Case{"Memset", {{0xE1000000, 0xBEEF}, {0xD5000100, 0x80100000}}, "gsSPMemset(0x80100000, 0xBEEF, 256)"},
        Case{"NoOpConversions", {{0xE0000000, 0}}, "gsSPNoOp()"},
        Case{"GeometryModeBits", {{0xD9000000, 0x0020F985}},
             "gsSPLoadGeometryMode(G_ZBUFFER | G_SHADE | G_ATTROFFSET_ST_ENABLE | G_AMBOCCLUSION | G_PACKED_NORMALS | "
             "G_LIGHTTOALPHA | G_LIGHTING_SPECULAR | G_FRESNEL_COLOR | G_FRESNEL_ALPHA | G_SHADING_SMOOTH)"},
        // The F3DEX3 header's combiner presets are those of the sm64 flavour.
        Case{"AddRgbPreset", {{0xFC10FE21, 0xFFFE793C}}, "gsDPSetCombineMode(G_CC_ADDRGB, G_CC_ADDRGB)"},
        Case{"FadePreset", {{0xFC127E24, 0xFFFFFBFD}}, "gsDPSetCombineMode(G_CC_MODULATEIFADE, G_CC_MODULATEIFADE)"},
        Case{"SameAsF3dex2", {{0xE7000000, 0}, {0x01020040, 0x06000000}, {0x05000204, 0}},
             "gsDPPipeSync()\ngsSPVertex(0x06000000, 32, 0)\ngsSP1Triangle(0, 1, 2, 0)"}),
    [](const ::testing::TestParamInfo<Case>& p) { return std::string(p.param.name); });

// A snake's index bytes: its first entry holds three, then w1 four more with
// directions; continuation entries hold eight each. The last index carries
// G_SNAKE_LAST, which sets bit 7 of its byte.
std::vector<Words> snake(int continuations, bool marked)
{
    std::vector<Words> w;
    std::uint32_t next = 3;
    auto byte = [&](bool last) {
        const std::uint32_t b = ((next++ % 56) << 1) | 1u;
        return last ? b | 0x80u : b;
    };
    const bool firstIsLast = continuations == 0 && marked;
    w.push_back({0x08000000u | (2u << 16) | (1u << 9) | 0x01u, 0});
    for (int k = 0; k < 4; ++k)
        w[0].w1 |= byte(firstIsLast && k == 3) << (24 - 8 * k);
    for (int c = 0; c < continuations; ++c) {
        const bool last = marked && c == continuations - 1;
        Words e{};
        for (int k = 0; k < 4; ++k)
            e.w0 |= byte(false) << (24 - 8 * k);
        for (int k = 0; k < 4; ++k)
            e.w1 |= byte(last && k == 3) << (24 - 8 * k);
        w.push_back(e);
    }
    return w;
}

TEST(TriangleSnake, EveryLengthWithAndWithoutTheMark)
{
    for (int n = 0; n <= 12; ++n) {
        for (bool marked : {true, false}) {
            SCOPED_TRACE(::testing::Message() << n << " continuations, marked " << marked);
            std::vector<Words> list = snake(n, marked);
            if (n == 0 && !marked)
                continue; // the first entry alone always runs on
            // A pipe sync after a marked snake; after an unmarked one, more
            // bytes without bit 7 (a pipe sync's 0xE7 would end it).
            list.push_back(marked ? Words{0xE7000000, 0} : Words{0x02040608, 0x0A0C0E10});
            ListOptions lo;
            const auto commands = decodeList(Ucode::F3DEX3, list, lo);
            if (marked) {
                ASSERT_EQ(commands.size(), 2u);
                EXPECT_EQ(commands[0].length, n + 1);
                EXPECT_EQ(commands[0].status, Status::Ok);
                EXPECT_EQ(commandText(commands[1]), "gsDPPipeSync()");
                const std::string text = commandText(commands[0]);
                EXPECT_EQ(text.rfind("gsSPTriSnake(", 0), 0u) << text;
                std::size_t count = 0;
                for (std::size_t at = 0; (at = text.find("gsSPContinueSnake(", at)) != std::string::npos; ++at)
                    ++count;
                EXPECT_EQ(count, static_cast<std::size_t>(n));
                EXPECT_NE(text.find("| G_SNAKE_LAST"), std::string::npos) << text;
            } else {
                // Without the mark the entry after it is index data too, and
                // the list ends inside the snake.
                ASSERT_EQ(commands.size(), 1u);
                EXPECT_EQ(commands[0].status, Status::Truncated);
                EXPECT_EQ(commands[0].length, list.size());
            }
            std::vector<Words> again;
            for (const Command& c : commands)
                ASSERT_TRUE(encodeCommand(c, again));
            EXPECT_EQ(again, list);
        }
    }
}

TEST(TriangleSnake, DynamicFormSeparatesTheContinuationsWithSemicolons)
{
    ListOptions lo;
    const auto commands = decodeList(Ucode::F3DEX3, snake(1, true), lo);
    ASSERT_EQ(commands.size(), 1u);
    PrintOptions po;
    po.dynamic = true;
    po.pointer = "p++";
    const std::string text = commandText(commands[0], po);
    EXPECT_EQ(text.rfind("gSPTriSnake(p++, ", 0), 0u) << text;
    EXPECT_NE(text.find("); gSPContinueSnake(p++, "), std::string::npos) << text;
}

TEST(BuildSwitches, ChangeWhatTheWordsPrintAs)
{
    EXPECT_EQ(textOf({{0xDB060018, 0x06000000}}, kF3dex2Segments), "gsSPSegment(6, 0x06000000)");
    EXPECT_EQ(textOf({{0x0B060018, 0x06000000}}, kF3dex2Segments), "gsDma0p(G_RELSEGMENT, 0x06000000, 0x060018)");
    EXPECT_EQ(textOf({{0xE7000000, 0}}, kRiskyRdpSyncs), "gsDma0p(G_RDPPIPESYNC, 0x00000000, 0x000000)");
    EXPECT_EQ(textOf({{0xE8000000, 0}}, kRiskyRdpSyncs), "gsDPTileSync()");
    EXPECT_EQ(textOf({{0xFB000000, 0x01020304}}, kKazeGbiHacks), "gsDma0p(G_SETENVCOLOR, 0x01020304, 0x000000)");
    EXPECT_NE(textOf({{0xE200001C, 0x00552078}}, kDisableAa).find("GBL_c1("), std::string::npos);
    const std::vector<Words> load = {{0xFD100000, 0x05000000}, {0xF5100000, 0x07014050}, {0xE6000000, 0},
                                     {0xF3000000, 0x073FF100}, {0xE7000000, 0},          {0xF5101000, 0x00014050},
                                     {0xF2000000, 0x0007C07C}};
    EXPECT_EQ(textOf(load).rfind("gsDPLoadTextureBlock(", 0), 0u);
    EXPECT_EQ(textOf(load, kNoSyncsInTextureLoads).rfind("gsDPSetTextureImage(", 0), 0u);
    for (F3dex3Option o : kAllF3dex3Options)
        EXPECT_EQ(parseF3dex3Option(f3dex3OptionName(o)), o);
}

TEST(F3dex3Decode, RandomWordsEncodeBack)
{
    std::mt19937 rng(3);
    const std::uint8_t opcodes[] = {0x08, 0x0A, 0x0B, 0xD4, 0xD5, 0xD8, 0xDA, 0xDB, 0xDC, 0xDE, 0xDF, 0xE1};
    for (int i = 0; i < 200000; ++i) {
        Words w{static_cast<std::uint32_t>(rng()), static_cast<std::uint32_t>(rng())};
        w.w0 = (w.w0 & 0x00FFFFFF) | static_cast<std::uint32_t>(opcodes[i % std::size(opcodes)]) << 24;
        if (i % 3 == 0)
            w.w0 &= 0xFF00FFFF; // fixed-looking forms
        const Command c = decodeSingle(Ucode::F3DEX3, w, DecodeOptions{Names::Libultra, static_cast<std::uint8_t>(i % 32)});
        Words again;
        ASSERT_TRUE(encodeSingle(*c.macro, c.args, again));
        ASSERT_EQ(again, w) << commandText(c);
    }
}

TEST(F3dex3Decode, NewOpcodesAreInvalidUnderF3dex2)
{
    for (std::uint32_t op : {0x0Au, 0x0Bu})
        EXPECT_EQ(decodeSingle(Ucode::F3DEX2, {op << 24, 0}).status, Status::Invalid);
    EXPECT_NE(decodeSingle(Ucode::F3DEX3, {0x0B060018, 0}).status, Status::Invalid);
}

} // namespace
} // namespace dlscope::gbi
