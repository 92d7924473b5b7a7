// dlscope-dis through the real executable: options, input forms, output
// forms, messages and exit statuses.

#include "program_runner.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace dlscope::testing;

Outcome run(const std::vector<std::string>& args, const std::string& input = "")
{
    return runProgram(DLSCOPE_DIS, args, input);
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> v;
    std::istringstream s(text);
    for (std::string line; std::getline(s, line);)
        v.push_back(line);
    return v;
}

// Output lines without the leading microcode comment.
std::vector<std::string> macroLines(const std::string& text)
{
    std::vector<std::string> v;
    for (const std::string& l : lines(text))
        if (l.rfind("/*", 0) != 0)
            v.push_back(l);
    return v;
}

struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string input;
    std::vector<std::string> expected; // macro lines
    int status;
};

class DisCli : public ::testing::TestWithParam<Case> {};

TEST_P(DisCli, PrintsTheMacros)
{
    const Case& c = GetParam();
    const Outcome o = run(c.args, c.input);
    EXPECT_EQ(o.status, c.status) << o.err;
    EXPECT_EQ(macroLines(o.out), c.expected) << o.out << o.err;
}

const std::string kF3dex2List = "E7000000 00000000\n"
                                "FC127E03 FFFFF3F8\n"
                                "E200001C 00552078\n"
                                "DF000000 00000000\n";

INSTANTIATE_TEST_SUITE_P(
    Forms, DisCli,
    ::testing::Values(
        Case{"static", {"--ucode", "f3dex2"}, kF3dex2List,
             {"gsDPPipeSync(),",
              "gsDPSetCombineLERP(TEXEL0, 0, SHADE, 0, 0, 0, 0, TEXEL0, COMBINED, 0, PRIMITIVE, 0, 0, 0, 0, COMBINED),",
              "gsDPSetRenderMode(G_RM_AA_ZB_OPA_SURF, G_RM_AA_ZB_OPA_SURF2),", "gsSPEndDisplayList(),"},
             0},
        Case{"dynamic", {"--ucode", "f3dex2", "--dynamic", "POLY_OPA_DISP++"}, "E7000000 00000000\nDF000000 00000000\n",
             {"gDPPipeSync(POLY_OPA_DISP++);", "gSPEndDisplayList(POLY_OPA_DISP++);"}, 0},
        Case{"short dynamic", {"--ucode", "f3dex2", "-g", "gDisplayListHead++"}, "E7000000 00000000\n",
             {"gDPPipeSync(gDisplayListHead++);"}, 0},
        Case{"words comment", {"--ucode", "f3dex2", "--words"}, "E7000000 00000000 FC127E03 FFFFF3F8",
             {"gsDPPipeSync(), /* 00000000: E7000000 00000000 */",
              "gsDPSetCombineLERP(TEXEL0, 0, SHADE, 0, 0, 0, 0, TEXEL0, COMBINED, 0, PRIMITIVE, 0, 0, 0, 0, COMBINED), "
              "/* 00000008: FC127E03 FFFFF3F8 */"},
             0},
        Case{"16 digits, 0x, commas, braces, case", {"--ucode", "f3dex2"},
             "{{0xe7000000, 0x00000000}},\n0xDF00000000000000,\n", {"gsDPPipeSync(),", "gsSPEndDisplayList(),"}, 0},
        Case{"comments and blank lines", {"--ucode", "f3d"}, "# a list\n\n// pipe\nE7000000 00000000 /* sync */\n",
             {"gsDPPipeSync(),"}, 0},
        Case{"bytes as arguments", {"--ucode", "f3dex2", "-d", "E7", "00", "00", "00", "00", "00", "00", "00"}, "",
             {"gsDPPipeSync(),"}, 0},
        Case{"words as arguments, too long", {"--ucode", "f3d", "-w", "B9000031D", "00552078"}, "", {}, 2},
        Case{"short words as arguments", {"--ucode", "f3dex2", "-w", "E7000000", "0"}, "", {"gsDPPipeSync(),"}, 0},
        Case{"words as arguments, valid", {"--ucode", "f3d", "-w", "B900031D", "00552078"}, "",
             {"gsDPSetRenderMode(G_RM_AA_ZB_OPA_SURF, G_RM_AA_ZB_OPA_SURF2),"}, 0},
        Case{"folded texture load", {"--ucode", "f3d"},
             "FD100000 05000000 F5100000 07014050 E6000000 00000000 F3000000 073FF100 E7000000 00000000 "
             "F5101000 00014050 F2000000 0007C07C",
             {"gsDPLoadTextureBlock(0x05000000, G_IM_FMT_RGBA, G_IM_SIZ_16b, 32, 32, 0, G_TX_NOMIRROR | G_TX_WRAP, "
              "G_TX_NOMIRROR | G_TX_WRAP, 5, 5, G_TX_NOLOD, G_TX_NOLOD),"},
             0},
        Case{"no folding", {"--ucode", "f3d", "-x"},
             "E41900C8 00050028 B4000000 00000000 B3000000 04000400",
             {"gsDma0p(G_TEXRECT, 0x00050028, 0x1900C8),", "gsImmp1(G_RDPHALF_1, 0x00000000),",
              "gsImmp1(G_RDPHALF_2, 0x04000400),"},
             0},
        Case{"invalid opcode", {"--ucode", "f3d"}, "C4000000 00000001\n",
             {"gsDma0p(0xC4, 0x00000001, 0x000000), /* invalid: opcode not defined in f3d */"}, 1},
        Case{"empty input", {}, "", {}, 0},
        Case{"sm64 names", {"--ucode", "f3d", "--names", "sm64"}, "BF000000 00000A14 BF000000 0000141E",
             {"gsSP2Triangles(0, 1, 2, 0, 0, 2, 3, 0),"}, 0}),
    [](const ::testing::TestParamInfo<Case>& p) {
        std::string n = p.param.name;
        for (char& ch : n)
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return n;
    });

TEST(DisCliErrors, UsageErrorsExitTwoWithOneLine)
{
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--ucode", "f3dx"}, {"--bogus"}, {"--dynamic"}, {"--names", "oot"}, {"--segment", "16=0x80000000"},
             {"--offset", "ten"}, {"/nonexistent/list.txt"}}) {
        const Outcome o = run(args);
        EXPECT_EQ(o.status, 2) << args[0];
        EXPECT_EQ(lines(o.err).size(), 1u) << o.err;
        EXPECT_NE(o.err.find("dlscope-dis: "), std::string::npos) << o.err;
    }
}

TEST(DisCliErrors, BadTokenNamesLineAndColumnAndTheRestIsDecoded)
{
    const Outcome o = run({"--ucode", "f3dex2"}, "E7000000 00000000\nE7000000 zz000000\nDF000000 00000000\n");
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("line 2"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("column"), std::string::npos) << o.err;
    const auto out = macroLines(o.out);
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.front(), "gsDPPipeSync(),");
    EXPECT_EQ(out.back(), "gsSPEndDisplayList(),");
}

TEST(DisCliErrors, TrailingHalfCommandIsReported)
{
    const Outcome o = run({"--ucode", "f3dex2"}, "E7000000 00000000\nDF000000\n");
    EXPECT_EQ(macroLines(o.out), std::vector<std::string>{"gsDPPipeSync(),"});
    EXPECT_FALSE(o.err.empty());
}

TEST(DisCliHelp, ExplainsEveryOption)
{
    const Outcome o = run({"--help"});
    EXPECT_EQ(o.status, 0);
    for (const char* option : {"--ucode", "--dynamic", "--no-fold", "--names", "--words", "-g", "-x", "-r", "-i",
                               "-d", "-w", "-f", "--binary", "--byte-order", "--offset", "--count", "--stop-at-end",
                               "--segment", "--symbols", "Examples"})
        EXPECT_NE(o.out.find(option), std::string::npos) << option;
}

TEST(DisCliMicrocode, AutoNamesTheChoiceAndTheRunnerUp)
{
    const Outcome o = run({}, kF3dex2List);
    EXPECT_EQ(o.status, 0);
    const auto all = lines(o.out);
    ASSERT_FALSE(all.empty());
    EXPECT_NE(all[0].find("microcode: f3dex2"), std::string::npos) << all[0];
    // F3DEX3 reads these words alike: the comment says so instead of naming a runner-up.
    EXPECT_NE(all[0].find("equally valid as f3dex3"), std::string::npos) << all[0];
    const Outcome f3d = run({}, "B9000031D 00552078\n");
    const Outcome snake = run({}, "0B060018 06000000\nDF000000 00000000\n");
    EXPECT_NE(snake.out.find("microcode: f3dex3"), std::string::npos) << snake.out;
    EXPECT_NE(snake.out.find("runner-up"), std::string::npos) << snake.out;
}

TEST(DisCliMicrocode, ForcedWrongMicrocodeGivesAHint)
{
    std::string list;
    for (int i = 0; i < 10; ++i)
        list += "DE000000 06001000\nD9000000 00220405\n";
    const Outcome o = run({"--ucode", "f3d"}, list);
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("are invalid as f3d"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("f3dex2 decodes all 20"), std::string::npos) << o.err;
}

TEST(DisCliBinary, ByteOrdersOffsetCountAndStop)
{
    const std::string big("\xE7\0\0\0\0\0\0\0\xDF\0\0\0\0\0\0\0\xE7\0\0\0\0\0\0\0", 24);
    const std::string path = tempPath("list.bin");
    writeFile(path, big);
    Outcome o = run({"--ucode", "f3dex2", "--binary", path});
    EXPECT_EQ(macroLines(o.out), (std::vector<std::string>{"gsDPPipeSync(),", "gsSPEndDisplayList(),", "gsDPPipeSync(),"}));
    o = run({"--ucode", "f3dex2", "--binary", "--stop-at-end", path});
    EXPECT_EQ(macroLines(o.out), (std::vector<std::string>{"gsDPPipeSync(),", "gsSPEndDisplayList(),"}));
    o = run({"--ucode", "f3dex2", "--binary", "--offset", "8", "--count", "1", path});
    EXPECT_EQ(macroLines(o.out), (std::vector<std::string>{"gsSPEndDisplayList(),"}));

    std::string little(big.size(), '\0');
    for (std::size_t c = 0; c < big.size(); c += 8)
        for (int i = 0; i < 8; ++i)
            little[c + static_cast<std::size_t>(i)] = big[c + 7 - static_cast<std::size_t>(i)];
    writeFile(path, little);
    o = run({"--ucode", "f3dex2", "--binary", "--byte-order", "little", path});
    EXPECT_EQ(macroLines(o.out), (std::vector<std::string>{"gsDPPipeSync(),", "gsSPEndDisplayList(),", "gsDPPipeSync(),"}));

    writeFile(path, big.substr(0, 12));
    o = run({"--ucode", "f3dex2", "--binary", path});
    EXPECT_EQ(macroLines(o.out), std::vector<std::string>{"gsDPPipeSync(),"});
    EXPECT_FALSE(o.err.empty());
}

TEST(DisCliAddresses, SegmentsAndSymbolsNameAddresses)
{
    const std::string symbols = tempPath("symbols.txt");
    writeFile(symbols, "80201000 gKeyDL\n80300000 00000100 D gVertices\n");
    const std::string list = "DE000000 06001000\n01020040 80300010\n";
    Outcome o = run({"--ucode", "f3dex2", "--segment", "6=0x80200000", "--symbols", symbols, "--words"}, list);
    EXPECT_EQ(o.status, 0) << o.err;
    const auto out = macroLines(o.out);
    ASSERT_EQ(out.size(), 2u) << o.out;
    EXPECT_NE(out[0].find("gsSPDisplayList(gKeyDL)"), std::string::npos) << out[0];
    EXPECT_NE(out[0].find("-> 80201000"), std::string::npos) << out[0];
    EXPECT_NE(out[1].find("gsSPVertex(gVertices + 0x10, 32, 0)"), std::string::npos) << out[1];
}

TEST(DisCliAddresses, AssemblySymbolInAWordSlotIsKept)
{
    const Outcome o = run({"--ucode", "f3dex2"}, "glabel D_800E8D40\n.word 0xde000000, D_800E8C40\n");
    EXPECT_EQ(macroLines(o.out), std::vector<std::string>{"gsSPDisplayList(D_800E8C40),"}) << o.err;
}

TEST(DisCliChecks, FindingsAsCommentsAndAsEditorLines)
{
    // A triangle whose vertices were never loaded, and a render mode change
    // after a draw without a pipe sync.
    const std::string list = "E200001C 00552078\n05000204 00000000\nE200001C 00553078\nDF000000 00000000\n";
    Outcome o = run({"--ucode", "f3dex2", "--check"}, list);
    EXPECT_NE(o.out.find("/* warning: "), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("[tri-index-unloaded] */"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("/* checks: "), std::string::npos) << o.out;

    const std::string path = tempPath("checked.txt");
    writeFile(path, list);
    o = run({"--ucode", "f3dex2", "--check-only", path});
    const auto found = lines(o.out);
    ASSERT_FALSE(found.empty()) << o.err;
    for (const std::string& l : found) {
        EXPECT_EQ(l.rfind(path + ":", 0), 0u) << l;
        EXPECT_NE(l.find(": warning: ") == std::string::npos && l.find(": error: ") == std::string::npos
                      && l.find(": note: ") == std::string::npos,
                  true)
            << l;
        EXPECT_EQ(l.back(), ']') << l;
    }
    EXPECT_NE(o.out.find(path + ":2: warning: "), std::string::npos) << o.out;

    o = run({"--ucode", "f3dex2", "--check-only", "--disable-check", "tri-index-unloaded", path});
    EXPECT_EQ(o.out.find("tri-index-unloaded"), std::string::npos) << o.out;
    o = run({"--ucode", "f3dex2", "--check-only", "--disable-check", "no-such-rule", path});
    EXPECT_NE(o.err.find("no-such-rule"), std::string::npos);
}

TEST(DisCliChecks, LoopsAreFindingsAndErrorsSetTheExitStatus)
{
    // A list that branches to itself never ends: the walk reports it and stops.
    Outcome o = run({"--ucode", "f3dex2", "--check-only", "--base", "80100000"}, "DE010000 80100000\n");
    EXPECT_NE(o.out.find("[dl-no-end]"), std::string::npos) << o.out;
    EXPECT_EQ(o.status, 0); // a note only
    // Loading a texture into TMEM past its 4 KiB end is an error.
    o = run({"--ucode", "f3dex2", "--check-only"},
            "FD100000 05000000\nF5100000 07000000\nE6000000 00000000\nF3000000 07FFF100\nDF000000 00000000\n");
    if (o.out.find(": error: ") != std::string::npos) {
        EXPECT_EQ(o.status, 1) << o.out;
    }
}

} // namespace
