// dlscope-as through the real executable: options, output forms, messages,
// exit statuses, --check, and the round trip with dlscope-dis.

#include "program_runner.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <ostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace dlscope::testing;

Outcome as(const std::vector<std::string>& args, const std::string& input = "") { return runProgram(DLSCOPE_AS, args, input); }
Outcome dis(const std::vector<std::string>& args, const std::string& input = "") { return runProgram(DLSCOPE_DIS, args, input); }

const std::string kList = "Gfx dl[] = {\n"
                          "    gsDPPipeSync(),\n"
                          "    gsDPSetCombineLERP(TEXEL0, 0, SHADE, 0, 0, 0, 0, TEXEL0, COMBINED, 0, PRIMITIVE, 0, 0, 0, 0, COMBINED),\n"
                          "    gsDPSetRenderMode(G_RM_AA_ZB_OPA_SURF, G_RM_AA_ZB_OPA_SURF2),\n"
                          "    gsSPEndDisplayList(),\n"
                          "};\n";
const std::string kListWords = "E7000000 00000000\n"
                               "FC127E03 FFFFF3F8\n"
                               "E200001C 00552078\n"
                               "DF000000 00000000\n";

// --- Options and output forms ----------------------------------------------------------

struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string input;
    std::string out; // exact standard output
    int status;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class AsCli : public ::testing::TestWithParam<Case> {};

TEST_P(AsCli, WritesTheWords)
{
    const Case& c = GetParam();
    const Outcome o = as(c.args, c.input);
    EXPECT_EQ(o.status, c.status) << o.err;
    EXPECT_EQ(o.out, c.out) << o.err;
}

INSTANTIATE_TEST_SUITE_P(
    Forms, AsCli,
    ::testing::Values(
        Case{"hex", {}, kList, kListWords, 0},
        Case{"microcode", {"--ucode", "f3d"}, "gsSPEndDisplayList(),\ngsSP1Triangle(1, 2, 3, 0),\n",
             "B8000000 00000000\nBF000000 000A141E\n", 0},
        Case{"microcode from a dlscope-dis comment", {}, "/* microcode: f3dex (auto) */\ngsSP1Triangle(1, 2, 3, 0),\n",
             "BF000000 00020406\n", 0},
        Case{"option beats the comment", {"--ucode=f3dex2"}, "/* microcode: f3dex */\ngsSP1Triangle(1, 2, 3, 0),\n",
             "05020406 00000000\n", 0},
        Case{"sm64 names", {"--ucode", "f3d", "--names", "sm64"}, "gsSP2Triangles(0, 1, 2, 0, 0, 2, 3, 0)",
             "BF000000 00000A14\nBF000000 0000141E\n", 0},
        Case{"defines", {"-D", "TEX=0x05000000", "--define=W=32", "-DH=16"},
             "gsDPLoadTextureImage_unused_name_is_not_here(),\n", "", 1},
        Case{"define values", {"-D", "TEX=0x05000000", "--define=W=32"},
             "gsDPSetTextureImage(G_IM_FMT_RGBA, G_IM_SIZ_16b, W, TEX + 8)", "FD10001F 05000008\n", 0},
        Case{"base", {"--base", "0x06000000"}, "Gfx a[] = { gsSPBranchList(b) };\nGfx b[] = { gsSPEndDisplayList() };\n",
             "DE010000 06000008\nDF000000 00000000\n", 0},
        Case{"dynamic statements", {}, "void f(void) {\n    gDPPipeSync(POLY_OPA_DISP++);\n    gSPEndDisplayList(gfx++);\n}\n",
             "E7000000 00000000\nDF000000 00000000\n", 0},
        Case{"binary", {"--format", "binary"}, "gsDPSetPrimColor(0, 0, 1, 2, 3, 4)",
             std::string("\xFA\x00\x00\x00\x01\x02\x03\x04", 8), 0},
        Case{"c", {"--format", "c"}, "Gfx mine[] = { gsDPPipeSync() };\ngsSPEndDisplayList();\n",
             "/* <stdin> assembled by dlscope-as for f3dex2 */\n"
             "unsigned int mine_words[] = {\n    0xE7000000, 0x00000000,\n};\n"
             "unsigned int words[] = {\n    0xDF000000, 0x00000000,\n};\n",
             0},
        Case{"unknown option", {"--frobnicate"}, "", "", 2},
        Case{"bad microcode", {"--ucode", "f4d"}, "", "", 2},
        Case{"bad names", {"--names", "zelda"}, "", "", 2},
        Case{"bad format", {"--format", "s19"}, "", "", 2},
        Case{"bad define", {"--define", "9X=1"}, "", "", 2},
        Case{"define without a value", {"--define", "X"}, "", "", 2},
        Case{"option without its value", {"--ucode"}, "", "", 2},
        Case{"missing file", {"/nonexistent/dl.c"}, "", "", 2},
        Case{"missing symbols file", {"--symbols", "/nonexistent/syms"}, "", "", 2}),
    [](const ::testing::TestParamInfo<Case>& param) {
        std::string n = param.param.name;
        for (char& c : n)
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return n;
    });

TEST(AsCliFiles, SeveralFilesOutputFileAndSymbols)
{
    const std::string a = tempPath("a.c"), b = tempPath("b.c"), syms = tempPath("syms.txt"), out = tempPath("out.txt");
    writeFile(a, "Gfx a[] = { gsSPDisplayList(body), gsSPEndDisplayList() };\n");
    writeFile(b, "gsSPVertex(&verts[0], 4, 0);\ngsSPLight(&sun.l[0], 1);\n");
    writeFile(syms, "# symbols\n06001000 body\n80201000 T verts\nsun = 0x06002000; // size:0x18\nnot a symbol line at all\n");
    const Outcome o = as({"--symbols", syms, "-o", out, a, b});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(readFile(out), "DE000000 06001000\nDF000000 00000000\n01004008 80201000\nDC08060A 06002008\n");
    EXPECT_NE(o.err.find(syms + ": line 5, column 1: expected a hex address"), std::string::npos) << o.err;
}

// --- Messages --------------------------------------------------------------------------

TEST(AsCliMessages, ErrorsNameFileLineAndColumnAndTheRestIsAssembled)
{
    const std::string file = tempPath("bad.c");
    writeFile(file, "Gfx dl[] = {\n"
                    "    gsDPPipeSync(),\n"
                    "    gsDPSetPrimColor(0, 0, 1, 2, 3),\n"
                    "    gsDPSetPrimColor(0, 0, 300, 2, 3, 4),\n"
                    "    gsSPDisplayList(nowhere),\n"
                    "    gsSPEndDisplayList(),\n"
                    "};\n");
    const Outcome o = as({file});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "E7000000 00000000\nFA000000 2C020304\nDF000000 00000000\n");
    EXPECT_NE(o.err.find(file + ":3:35: error: gsDPSetPrimColor takes 6 arguments, found 5"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find(file + ":4:28: warning: argument 3 (r): 0x12C does not fit its 8-bit field"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find(file + ":5:21: error: argument 1 (dl): unknown identifier 'nowhere'"), std::string::npos) << o.err;
    // Standard input is named as such; notes for skipped directives.
    const Outcome in = as({}, "#include \"model.h\"\ngsFoo();\n");
    EXPECT_EQ(in.status, 1);
    EXPECT_NE(in.err.find("<stdin>:1:1: note: preprocessor line skipped"), std::string::npos) << in.err;
    EXPECT_NE(in.err.find("<stdin>:2:1: error: unknown macro 'gsFoo'"), std::string::npos) << in.err;
}

TEST(AsCliMessages, HelpExplainsTheOptionsWithExamples)
{
    const Outcome o = as({"--help"});
    EXPECT_EQ(o.status, 0);
    for (const char* s : {"usage: dlscope-as", "--ucode", "--names", "--symbols", "--define", "--format", "--output", "--check",
                          "--expected", "Exit status", "Examples"})
        EXPECT_NE(o.out.find(s), std::string::npos) << s;
}

// --- Checking ----------------------------------------------------------------------------

TEST(AsCliCheck, CommentsWrittenByTheDisassemblerAreCompared)
{
    const std::string words = "FD100000 05000000 F5100000 07014050 E6000000 00000000 F3000000 073FF100 E7000000 00000000 "
                              "F5101000 00014050 F2000000 0007C07C\n" + kListWords;
    const Outcome listing = dis({"--ucode", "f3dex2", "-r"}, words);
    ASSERT_EQ(listing.status, 0) << listing.err;
    const Outcome same = as({"--check"}, listing.out);
    EXPECT_EQ(same.status, 0) << same.err << listing.out;
    EXPECT_EQ(same.out, "");
    EXPECT_NE(same.err.find("11 commands checked, 0 differences"), std::string::npos) << same.err;

    // One word changed in the comment of the fourth line.
    std::string changed = listing.out;
    const std::size_t at = changed.find("FFFFF3F8");
    ASSERT_NE(at, std::string::npos);
    changed.replace(at, 8, "FFFFF3F9");
    const Outcome diff = as({"--check"}, changed);
    EXPECT_EQ(diff.status, 1);
    int line = 0;
    {
        std::istringstream s(changed);
        std::string l;
        for (int n = 1; std::getline(s, l); ++n)
            if (l.find("FFFFF3F9") != std::string::npos)
                line = n;
    }
    EXPECT_EQ(diff.out, "<stdin>:" + std::to_string(line) + ": expected FC127E03 FFFFF3F9, assembled FC127E03 FFFFF3F8\n");
    EXPECT_NE(diff.err.find("1 difference"), std::string::npos) << diff.err;
}

TEST(AsCliCheck, F3dex3ListsWithSnakesAssembleBackFromTheirListing)
{
    // A snake with one continuation entry (printed on one line with it), a
    // memset, a relative segment, a Fresnel word and a prefetch hint.
    const std::string words = "08020407 0A0C0E10\n12141618 1A1C9E20\nDA380003 06000000\nDB00000C 7FFF8000\n"
                              "E1000000 0000BEEF\nD5000100 80100000\n0B060018 06000000\nDF000008 00000000\n";
    const Outcome listing = dis({"--ucode", "f3dex3", "-r"}, words);
    ASSERT_EQ(listing.status, 0) << listing.err;
    EXPECT_NE(listing.out.find("gsSPContinueSnake("), std::string::npos) << listing.out;
    const Outcome same = as({"--ucode", "f3dex3", "--check"}, listing.out);
    EXPECT_EQ(same.status, 0) << same.out << same.err << listing.out;
    const Outcome hex = as({"--ucode", "f3dex3"}, listing.out);
    EXPECT_EQ(hex.out, words);
}

TEST(AsCliCheck, AFileOfHexWordsIsCompared)
{
    const std::string expected = tempPath("expected.txt");
    writeFile(expected, "00000000: E7000000 00000000\n0xFC127E03, 0xFFFFF3F8,\n// comment\nE200001C00552078\nDF000000 00000000\n");
    EXPECT_EQ(as({"--expected", expected}, kList).status, 0);
    writeFile(expected, "E7000000 00000000\nFC127E03 FFFFF3F8\nE200001C 00552079\n");
    const Outcome o = as({"--check=" + expected}, kList);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "<stdin>:4: expected E200001C 00552079, assembled E200001C 00552078\n"
                     "<stdin>:5: expected nothing, assembled DF000000 00000000\n");
    EXPECT_EQ(as({"--expected", "/nonexistent/words"}, kList).status, 2);
}

// --- dlscope-dis, then dlscope-as: the same words ----------------------------------------------

TEST(AsCliRoundTrip, DisassembledListsAssembleToTheirWords)
{
    std::mt19937 rng(11);
    for (const char* ucode : {"f3d", "f3dex", "f3dex2"}) {
        for (const bool dynamic : {false, true}) {
            std::string words;
            std::string expected;
            for (int i = 0; i < 400; ++i) {
                // Opcodes the microcode defines, so that nothing is invalid.
                static const unsigned rdp[] = {0xE7, 0xE8, 0xE6, 0xE9, 0xF2, 0xF3, 0xF4, 0xF5, 0xF7, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF, 0xED, 0xEE, 0xEF};
                const std::uint32_t w0 = rdp[rng() % std::size(rdp)] << 24 | (rng() & 0xFFFFFF);
                const std::uint32_t w1 = static_cast<std::uint32_t>(rng());
                char b[32];
                std::snprintf(b, sizeof b, "%08X %08X\n", w0, w1);
                words += b;
            }
            std::vector<std::string> args = {"--ucode", ucode};
            if (dynamic) {
                args.push_back("--dynamic");
                args.push_back("gfx++");
            }
            const Outcome listing = dis(args, words);
            ASSERT_EQ(listing.status, 0) << listing.err;
            const Outcome back = as({"--ucode", ucode}, listing.out);
            EXPECT_EQ(back.status, 0) << back.err;
            EXPECT_EQ(back.out, words) << ucode << (dynamic ? " dynamic" : "");
        }
    }
}

} // namespace
