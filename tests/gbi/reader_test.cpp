// The display-list reader: every text form and binary, read back to the
// words they were written from, with the messages bad input gets. Every
// table case is also read through sources that deliver a few bytes at a
// time and into one-command batches, which must change nothing.

#include "gbi/reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

using namespace dlscope::gbi;

namespace {

// Hands out at most `step` bytes per read, so chunk boundaries fall everywhere.
class TrickleSource final : public ByteSource {
public:
    TrickleSource(std::string_view data, std::size_t step) : data_(data), step_(step) {}
    std::size_t read(char *buf, std::size_t n) override
    {
        n = std::min({n, step_, data_.size()});
        if (n != 0)
            std::memcpy(buf, data_.data(), n);
        data_.remove_prefix(n);
        return n;
    }

private:
    std::string_view data_;
    std::size_t step_;
};

struct Cmd {
    Cmd() = default;
    Cmd(std::uint32_t a, std::uint32_t b, std::optional<std::uint32_t> at = std::nullopt) : w0(a), w1(b), address(at) {}
    std::uint32_t w0 = 0, w1 = 0;
    std::optional<std::uint32_t> address;
    bool operator==(const Cmd &) const = default;
};

void PrintTo(const Cmd &c, std::ostream *os)
{
    char text[48];
    std::snprintf(text, sizeof text, "%08X %08X", c.w0, c.w1);
    *os << text;
    if (c.address) {
        std::snprintf(text, sizeof text, " @%08X", *c.address);
        *os << text;
    }
}

struct Outcome {
    std::vector<RawCommand> commands;
    std::vector<ReadMessage> messages;
    InputForm form = InputForm::Auto;
    std::vector<std::string> symbols;  // per command: the name of w1's symbol, or ""
    std::vector<std::string> labels;   // "name@offset"

    std::vector<Cmd> cmds() const
    {
        std::vector<Cmd> out;
        for (const RawCommand &c : commands)
            out.push_back({c.w0, c.w1, c.address});
        return out;
    }
    std::string messageText() const
    {
        std::string s;
        for (const ReadMessage &m : messages)
            s += formatMessage(m) + "\n";
        return s;
    }
};

Outcome readAll(std::string_view input, ReadOptions options = {}, std::size_t step = SIZE_MAX, std::size_t batch = 64)
{
    TrickleSource source(input, step);
    ListReader reader(source, options);
    Outcome o;
    std::vector<RawCommand> buffer(batch);
    while (const std::size_t n = reader.read(buffer)) {
        for (std::size_t i = 0; i < n; ++i) {
            o.commands.push_back(buffer[i]);
            o.symbols.emplace_back(buffer[i].w1Symbol >= 0 ? reader.symbolName(buffer[i].w1Symbol) : "");
        }
        for (ReadMessage &m : reader.takeMessages())
            o.messages.push_back(std::move(m));
    }
    EXPECT_EQ(reader.read(buffer), 0u) << "a finished reader reads nothing more";
    for (ReadMessage &m : reader.takeMessages())
        o.messages.push_back(std::move(m));
    o.form = reader.form();
    for (const Label &l : reader.labels())
        o.labels.push_back(std::string(reader.symbolName(l.symbol)) + "@" + std::to_string(l.offset));
    return o;
}

bool sameMessages(const std::vector<ReadMessage> &a, const std::vector<ReadMessage> &b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const ReadMessage &x, const ReadMessage &y) {
        return x.line == y.line && x.column == y.column && x.text == y.text;
    });
}

bool sameCommands(const std::vector<RawCommand> &a, const std::vector<RawCommand> &b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const RawCommand &x, const RawCommand &y) {
        return x.w0 == y.w0 && x.w1 == y.w1 && x.offset == y.offset && x.address == y.address && x.line == y.line &&
               x.w1Symbol == y.w1Symbol;
    });
}

// Reading must not depend on how the bytes arrive or how many commands are
// asked for at a time, nor (for short lines) on the buffer size.
void expectStreamingInvariant(std::string_view input, const ReadOptions &options, const Outcome &reference)
{
    struct Way {
        std::size_t step, batch, buffer;
    };
    std::size_t longest = 0, current = 0;
    for (char c : input) {
        current = c == '\n' ? 0 : current + 1;
        longest = std::max(longest, current);
    }
    for (const Way way : {Way{1, 1, options.bufferBytes}, Way{3, 7, options.bufferBytes}, Way{5, 64, 256}}) {
        if (way.buffer == 256 && longest > 200)
            continue;
        ReadOptions o = options;
        o.bufferBytes = way.buffer;
        const Outcome other = readAll(input, o, way.step, way.batch);
        EXPECT_TRUE(sameCommands(reference.commands, other.commands))
            << "step " << way.step << " batch " << way.batch << " buffer " << way.buffer;
        EXPECT_TRUE(sameMessages(reference.messages, other.messages))
            << "step " << way.step << " batch " << way.batch << "\n" << reference.messageText() << "vs\n"
            << other.messageText();
        EXPECT_EQ(reference.form, other.form);
        EXPECT_EQ(reference.symbols, other.symbols);
        EXPECT_EQ(reference.labels, other.labels);
    }
}

// ---------------------------------------------------------------------------
// One table per form: text written from the descriptions of each form.

struct FormCase {
    const char *name;
    std::string text;
    std::vector<Cmd> expected;
    InputForm form;
    std::size_t messages = 0;
    InputForm forced = InputForm::Auto;
};

template <class Case>
std::string caseName(const testing::TestParamInfo<Case> &param)
{
    return param.param.name;
}

class FormTest : public testing::TestWithParam<FormCase> {};

TEST_P(FormTest, ReadsTheWords)
{
    const FormCase &c = GetParam();
    ReadOptions options;
    options.form = c.forced;
    const Outcome o = readAll(c.text, options);
    EXPECT_EQ(o.cmds(), c.expected);
    EXPECT_EQ(o.form, c.form) << inputFormName(o.form);
    EXPECT_EQ(o.messages.size(), c.messages) << o.messageText();
    for (std::size_t i = 0; i < o.commands.size(); ++i)
        EXPECT_EQ(o.commands[i].offset, 8 * i);
    expectStreamingInvariant(c.text, options, o);
}

const Cmd kSync{0xE7000000, 0x00000000};
const Cmd kCombine{0xFC127E03, 0xFFFFF3F8};
const Cmd kClear{0xB6000000, 0x00020000};
const Cmd kEnd{0xDF000000, 0x00000000};

Cmd at(Cmd c, std::uint32_t address)
{
    c.address = address;
    return c;
}

INSTANTIATE_TEST_SUITE_P(Hex, FormTest, testing::Values(
    FormCase{"SixteenDigits", "E700000000000000\nFC127E03FFFFF3F8\n", {kSync, kCombine}, InputForm::Hex},
    FormCase{"LowerCase", "e700000000000000\nfc127e03fffff3f8\n", {kSync, kCombine}, InputForm::Hex},
    FormCase{"TwoWordsALine", "E7000000 00000000\nfc127e03\tFFFFF3F8\n", {kSync, kCombine}, InputForm::Hex},
    FormCase{"OxPrefixSpaces", "0xE7000000 0x00000000\n0XFC127E03 0xfffff3f8\n", {kSync, kCombine}, InputForm::Hex},
    FormCase{"Braces", "{ E7000000 00000000 }\n{FC127E03,FFFFF3F8}\n", {kSync, kCombine}, InputForm::Hex},
    FormCase{"FlatRun", "E7000000 00000000 FC127E03 FFFFF3F8 B6000000 00020000 DF00000000000000\n",
             {kSync, kCombine, kClear, kEnd}, InputForm::Hex},
    FormCase{"WordsSplitAcrossLines", "E7000000\n00000000\nFC127E03 FFFFF3F8 B6000000\n00020000\n",
             {kSync, kCombine, kClear}, InputForm::Hex},
    FormCase{"Comments",
             "# header\n// note\nE7000000 00000000 # trailing\n/* block\n   over lines */ FC127E03 FFFFF3F8 /* in */\n"
             "; semicolon comment\nB6000000 /* between */ 00020000 // end\n",
             {kSync, kCombine, kClear}, InputForm::Hex},
    FormCase{"CrLf", "E700000000000000\r\nFC127E03 FFFFF3F8\r\n", {kSync, kCombine}, InputForm::Hex},
    FormCase{"NoFinalNewline", "E700000000000000\nFC127E03FFFFF3F8", {kSync, kCombine}, InputForm::Hex},
    FormCase{"BlankLinesAndIndent", "\n\n   E700000000000000\n\t\n  FC127E03FFFFF3F8  \n\n", {kSync, kCombine},
             InputForm::Hex},
    FormCase{"ContinuousRunsLikeXxdP",
             "e700000000000000fc127e03fffff3f8b600\n000000020000\n", {kSync, kCombine, kClear}, InputForm::Hex},
    FormCase{"SixtyFourBitWithOx", "0xE700000000000000 0xFC127E03FFFFF3F8\n", {kSync, kCombine}, InputForm::Hex},
    FormCase{"ByteOrderMark", "\xEF\xBB\xBF" "E700000000000000\n", {kSync}, InputForm::Hex}),
    caseName<FormCase>);

INSTANTIATE_TEST_SUITE_P(Bytes, FormTest, testing::Values(
    FormCase{"Spaced", "E7 00 00 00 00 00 00 00\nFC 12 7E 03 FF FF F3 F8\n", {kSync, kCombine}, InputForm::Bytes},
    FormCase{"SixteenARow", "e7 00 00 00 00 00 00 00 fc 12 7e 03 ff ff f3 f8\n", {kSync, kCombine}, InputForm::Bytes},
    FormCase{"CommandSplitOverRows", "E7 00 00\n00 00 00 00 00 FC\n12 7E 03 FF FF F3 F8\n", {kSync, kCombine},
             InputForm::Bytes},
    FormCase{"EditorRowAsciiAfterTwoSpaces",
             "00002B00  E7 00 00 00 00 00 00 00 FC 12 7E 03 FF FF F3 F8  ABCDEF0123456789\n",
             {at(kSync, 0x2B00), at(kCombine, 0x2B08)}, InputForm::Bytes},
    FormCase{"EditorRowColonAsciiAfterOneSpace",
             "00002B00: E7 00 00 00 00 00 00 00 FC 12 7E 03 FF FF F3 F8 ..........~.....\n",
             {at(kSync, 0x2B00), at(kCombine, 0x2B08)}, InputForm::Bytes},
    FormCase{"HexdumpCanonical",
             "00000000  e7 00 00 00 00 00 00 00  fc 12 7e 03 ff ff f3 f8  |..........~.....|\n"
             "00000010  b6 00 00 00 00 02 00 00                           |........|\n",
             {at(kSync, 0), at(kCombine, 8), at(kClear, 0x10)}, InputForm::Bytes},
    FormCase{"AsciiColumnThatLooksLikeBytes",
             "00000000  e7 00 00 00 00 00 00 00 fc 12 7e 03 ff ff f3 f8  ab cd ef 01 23 45 67 89\n",
             {at(kSync, 0), at(kCombine, 8)}, InputForm::Bytes}),
    caseName<FormCase>);

INSTANTIATE_TEST_SUITE_P(Xxd, FormTest, testing::Values(
    FormCase{"FullRows",
             "00002b00: e700 0000 0000 0000 fc12 7e03 ffff f3f8  ..........~.....\n"
             "00002b10: b600 0000 0002 0000 df00 0000 0000 0000  ................\n",
             {at(kSync, 0x2B00), at(kCombine, 0x2B08), at(kClear, 0x2B10), at(kEnd, 0x2B18)}, InputForm::Xxd},
    FormCase{"AsciiColumnThatLooksLikeHex",
             "00000000: e700 0000 0000 0000 fc12 7e03 ffff f3f8  DEADBEEFCAFEBABE\n",
             {at(kSync, 0), at(kCombine, 8)}, InputForm::Xxd},
    FormCase{"AsciiColumnWithSpaces",
             "00000000: e700 0000 0000 0000 4142 2043 4420 4546  ........AB CD EF\n",
             {at(kSync, 0), at({0x41422043, 0x44204546}, 8)}, InputForm::Xxd},
    FormCase{"PaddedLastRow",
             "00000000: e700 0000 0000 0000 fc12 7e03 ffff f3f8  ..........~.....\n"
             "00000010: b600 0000 0002 0000                      ........\n",
             {at(kSync, 0), at(kCombine, 8), at(kClear, 0x10)}, InputForm::Xxd},
    FormCase{"OddLastGroup", "00000000: e700 0000 0000 0000 ff                   .........\n", {at(kSync, 0)},
             InputForm::Xxd, 1},
    FormCase{"HexdumpDefaultWithoutColon", "0000000 e700 0000 0000 0000 fc12 7e03 ffff f3f8\n",
             {at(kSync, 0), at(kCombine, 8)}, InputForm::Xxd}),
    caseName<FormCase>);

INSTANTIATE_TEST_SUITE_P(MemView, FormTest, testing::Values(
    FormCase{"WordGroups",
             "80123450: E7000000 00000000 FC127E03 FFFFF3F8\n80123460: B6000000 00020000 DF000000 00000000\n",
             {at(kSync, 0x80123450), at(kCombine, 0x80123458), at(kClear, 0x80123460), at(kEnd, 0x80123468)},
             InputForm::MemView},
    FormCase{"DashWithoutColon", "00657654 00000000 00000000 - 00000000 00000000\n",
             {at({0, 0}, 0x00657654), at({0, 0}, 0x0065765C)}, InputForm::MemView},
    FormCase{"DashWithColon", "80123450: E7000000 00000000 - FC127E03 FFFFF3F8\n",
             {at(kSync, 0x80123450), at(kCombine, 0x80123458)}, InputForm::MemView},
    FormCase{"ByteGroupsWithDash", "80123450: E7 00 00 00 00 00 00 00 - FC 12 7E 03 FF FF F3 F8\n",
             {at(kSync, 0x80123450), at(kCombine, 0x80123458)}, InputForm::MemView},
    FormCase{"DoubleWordGroups", "80123450: E700000000000000 FC127E03FFFFF3F8\n",
             {at(kSync, 0x80123450), at(kCombine, 0x80123458)}, InputForm::MemView},
    FormCase{"AsciiAfterWords", "80123450: E7000000 00000000 FC127E03 FFFFF3F8  ....DEADBEEF....\n",
             {at(kSync, 0x80123450), at(kCombine, 0x80123458)}, InputForm::MemView},
    FormCase{"OxPrefixes", "0x80123450: 0xE7000000 0x00000000\n", {at(kSync, 0x80123450)}, InputForm::MemView},
    FormCase{"RowsNotAlignedToCommands",
             "80000000: E7000000 00000000 FC127E03\n8000000C: FFFFF3F8 B6000000 00020000\n",
             {at(kSync, 0x80000000), at(kCombine, 0x80000008), at(kClear, 0x80000010)}, InputForm::MemView},
    FormCase{"PlainWordsAreNotARow", "E7000000 00000000 FC127E03 FFFFF3F8\n", {kSync, kCombine}, InputForm::Hex}),
    caseName<FormCase>);

INSTANTIATE_TEST_SUITE_P(C, FormTest, testing::Values(
    FormCase{"DoubleBraces",
             "Gfx dl[] = {\n    {{0xE7000000, 0x00000000}},\n    {{0xFC127E03, 0xFFFFF3F8}},\n};\n",
             {kSync, kCombine}, InputForm::CArray},
    FormCase{"FlatWords", "u32 x[] = {\n  0xE7000000, 0x00000000,\n  0xFC127E03, 0xFFFFF3F8,\n};\n", {kSync, kCombine},
             InputForm::CArray},
    FormCase{"WithoutDeclaration", "0xE7000000, 0x00000000,\n0xFC127E03, 0xFFFFF3F8,\n", {kSync, kCombine},
             InputForm::CArray},
    FormCase{"SixtyFourBitElements",
             "u64 dl[] = { 0xE700000000000000ULL, 0xFC127E03FFFFF3F8ull,\n 0xB600000000020000L, 0xDFULL };\n",
             {kSync, kCombine, kClear, {0, 0xDF}}, InputForm::CArray},
    FormCase{"Suffixes", "0xE7000000u, 0x0U,\n0xFC127E03UL, 0xFFFFF3F8lu\n", {kSync, kCombine}, InputForm::CArray},
    FormCase{"DecimalWords", "{{0xE7000000, 0}},\n{{0xB6000000, 131072}},\n", {kSync, kClear}, InputForm::CArray},
    FormCase{"EightDecimalDigitsAfterOxAreDecimal", "0xB6000000, 46974508,\n", {{0xB6000000, 46974508}},
             InputForm::CArray},
    FormCase{"LeadingZeroStaysHex", "0xB6000000, 00020000,\n", {kClear}, InputForm::CArray},
    FormCase{"DecimalAfterADeclarationWhateverItsWidth",
             "u64 x[] = {\n1234567812345678ULL,\n1234567812345678\nE700000000000000\n};\n",
             {{0x000462D5, 0x37E7EF4E}, kSync}, InputForm::CArray, 1},
    FormCase{"MacroWithWordsInComment",
             "Gfx dl[] = {\n    gsDPPipeSync(), /* 00000000: E7000000 00000000 */\n"
             "    gsDPSetCombineMode(G_CC_SHADE, G_CC_SHADE), /* 00000008: FC127E03 FFFFF3F8 */\n};\n",
             {at(kSync, 0), at(kCombine, 8)}, InputForm::CArray},
    FormCase{"MacroWithLineComment", "gsDPPipeSync(), // E7000000 00000000\n", {kSync}, InputForm::CArray},
    FormCase{"CommentsEverywhere",
             "/* head */ Gfx dl[] = { // open\n  {{0xE7000000, /* w1 */ 0x00000000}}, /* spans\n  lines */ "
             "{{0xFC127E03, 0xFFFFF3F8}}\n};\n",
             {kSync, kCombine}, InputForm::CArray},
    FormCase{"OneLineDeclaration", "static Gfx sDl[] = { {{0xE7000000, 0x00000000}}, {{0xDF000000, 0}} };\n",
             {kSync, kEnd}, InputForm::CArray}),
    caseName<FormCase>);

INSTANTIATE_TEST_SUITE_P(Asm, FormTest, testing::Values(
    FormCase{"Words", "glabel D_800E8D40\n.word 0xB6000000, 0x00020000\n.word 0xE7000000, 0x00000000\n",
             {kClear, kSync}, InputForm::Asm},
    FormCase{"DoubleWords", ".dword 0xE700000000000000\n.8byte 0xFC127E03FFFFF3F8\n.quad 0xB600000000020000\n",
             {kSync, kCombine, kClear}, InputForm::Asm},
    FormCase{"FourByteOneAValue", ".4byte 0xE7000000\n.4byte 0\n", {kSync}, InputForm::Asm},
    FormCase{"HalvesAndBytes", ".half 0xE700, 0\n.short 0, 0\n.byte 0xFC, 0x12, 0x7E, 0x03\n.2byte 0xFFFF, 0xF3F8\n",
             {kSync, kCombine}, InputForm::Asm},
    FormCase{"SymbolWithAddressInName", ".word 0x06000000, D_800E8C40\n", {{0x06000000, 0x800E8C40}}, InputForm::Asm},
    FormCase{"SymbolWithoutAddress", ".word 0x06000000, sub_dl\n", {{0x06000000, 0}}, InputForm::Asm},
    FormCase{"SymbolPlusOffset", ".word 0x06000000, D_800E8C40 + 0x10\n", {{0x06000000, 0x800E8C50}}, InputForm::Asm},
    FormCase{"LabelThenData", "D_800E8D40: .word 0xE7000000, 0\n", {kSync}, InputForm::Asm},
    FormCase{"CommentsAndOtherDirectives",
             "# generated\n.section .data # here\n.align 3\n.word 0xE7000000, 0x00000000 /* sync */\n",
             {kSync}, InputForm::Asm},
    FormCase{"NegativeDecimal", ".word 0xB6000000, -1\n", {{0xB6000000, 0xFFFFFFFF}}, InputForm::Asm},
    FormCase{"ValueTooWide", ".byte 0x100\n", {}, InputForm::Asm, 1}),
    caseName<FormCase>);

INSTANTIATE_TEST_SUITE_P(Decomp, FormTest, testing::Values(
    FormCase{"W0ThenW1", "temp_v0->words.w0 = 0xE7000000;\ntemp_v0->words.w1 = 0;\n", {kSync}, InputForm::Decomp},
    FormCase{"W1ThenW0", "temp_v0->words.w1 = 0xFFFFF3F8;\ntemp_v0->words.w0 = 0xFC127E03;\n", {kCombine},
             InputForm::Decomp},
    FormCase{"DecimalValues", "sp->words.w0 = 3053453312;\nsp->words.w1 = 131072;\n", {kClear}, InputForm::Decomp},
    FormCase{"InterleavedPointersKeepFirstAppearanceOrder",
             "a->words.w0 = 0xE7000000;\nb->words.w0 = 0xFC127E03;\nb->words.w1 = 0xFFFFF3F8;\na->words.w1 = 0;\n",
             {kSync, kCombine}, InputForm::Decomp},
    FormCase{"OtherCodeIgnored",
             "void func_80012345(void) {\n    Gfx *temp_v0;\n\n    temp_v0 = gDisplayListHead;\n"
             "    gDisplayListHead = temp_v0 + 8;\n    temp_v0->words.w0 = 0xE7000000;\n    temp_v0->words.w1 = 0;\n"
             "    if (x == 0) {\n        func_80000000(temp_v0);\n    }\n}\n",
             {kSync}, InputForm::Decomp},
    FormCase{"W0AgainStartsANewCommand",
             "p->words.w0 = 0xE7000000;\np->words.w0 = 0xFC127E03;\np->words.w1 = 0xFFFFF3F8;\n", {kCombine},
             InputForm::Decomp, 1},
    FormCase{"PointerReusedAfterComplete",
             "p->words.w0 = 0xE7000000;\np->words.w1 = 0;\np->words.w1 = 0xFFFFF3F8;\np->words.w0 = 0xFC127E03;\n",
             {kSync, kCombine}, InputForm::Decomp},
    FormCase{"CastsSuffixesNegative", "p->words.w1 = (u32)0x00020000U;\np->words.w0 = (s32)-1241513984;\n", {kClear},
             InputForm::Decomp},
    FormCase{"SymbolSecondWord", "p->words.w0 = 0x06000000;\np->words.w1 = (u32) &D_800E8C40;\n",
             {{0x06000000, 0x800E8C40}}, InputForm::Decomp},
    FormCase{"ArrayElementPointer", "gfx[1].words.w0 = 0xE7000000;\ngfx[1].words.w1 = 0;\n", {kSync},
             InputForm::Decomp},
    FormCase{"UnfinishedAtTheEnd", "p->words.w0 = 0xE7000000;\n", {}, InputForm::Decomp, 1},
    FormCase{"ComputedValueDropsTheCommand",
             "p->words.w0 = 0xE7000000;\np->words.w1 = temp_s0 << 16;\nq->words.w0 = 0xB6000000;\nq->words.w1 = 0x20000;\n",
             {kClear}, InputForm::Decomp, 1}),
    caseName<FormCase>);

INSTANTIATE_TEST_SUITE_P(Trace, FormTest, testing::Values(
    FormCase{"KeyValues", "0x0012A3F0: CMD=0xE7 W0=0xE7000000 W1=0x00000000\n", {at(kSync, 0x0012A3F0)},
             InputForm::Trace},
    FormCase{"KeyValuesLowerCaseNoAddress", "cmd=fc w0=fc127e03 w1=fffff3f8\n", {kCombine}, InputForm::Trace},
    FormCase{"C0C1", "[RDP] 0012a3f0 (c0:e7000000, c1:00000000): SYNC_PIPE\n", {at(kSync, 0x0012A3F0)},
             InputForm::Trace},
    FormCase{"C0C1WithoutAddress", "(c0:fc127e03, c1:fffff3f8)\n", {kCombine}, InputForm::Trace},
    FormCase{"CommandThenName", "e700000000000000  Sync_Pipe\nfc127e03fffff3f8 G_SETCOMBINE shade\n",
             {kSync, kCombine}, InputForm::Trace},
    FormCase{"BracketedAddress", "[0xa0100208] e700000000000000    SYNC_PIPE\n[a0100210] fc127e03 fffff3f8\n",
             {at(kSync, 0xA0100208), at(kCombine, 0xA0100210)}, InputForm::Trace},
    FormCase{"AddressColonDash", "80123450:e7000000-00000000:gsDPPipeSync(),\n80123458:fc127e03-fffff3f8\n",
             {at(kSync, 0x80123450), at(kCombine, 0x80123458)}, InputForm::Trace},
    FormCase{"AddressesMayGoBackWithoutMessage",
             "80123450:e7000000-00000000:x\n80120000:df000000-00000000:y\n",
             {at(kSync, 0x80123450), at(kEnd, 0x80120000)}, InputForm::Trace}),
    caseName<FormCase>);

INSTANTIATE_TEST_SUITE_P(Mixed, FormTest, testing::Values(
    FormCase{"HexThenRowsThenTrace",
             "E700000000000000\n80123450: FC127E03 FFFFF3F8\n[0x80000000] b600000000020000 CLEAR\n",
             {kSync, at(kCombine, 0x80123450), at(kClear, 0x80000000)}, InputForm::Hex},
    FormCase{"FirstDataLineDecidesTheForm",
             "# dump\n\n80123450: E7000000 00000000\nFC127E03 FFFFF3F8\n", {at(kSync, 0x80123450), kCombine},
             InputForm::MemView},
    FormCase{"AsmAndHex", ".word 0xE7000000, 0\nFC127E03 FFFFF3F8\n", {kSync, kCombine}, InputForm::Asm}),
    caseName<FormCase>);

INSTANTIATE_TEST_SUITE_P(Forced, FormTest, testing::Values(
    FormCase{"MemViewTakesTheAddressWithoutColon", "80123450 E7000000 00000000\n", {at(kSync, 0x80123450)},
             InputForm::MemView, 0, InputForm::MemView},
    FormCase{"XxdTakesTheAddressWithoutColon", "00000010 e700 0000 0000 0000\n", {at(kSync, 0x10)}, InputForm::Xxd, 0,
             InputForm::Xxd},
    FormCase{"HexRefusesAnAddressColumn", "00002b00: e700 0000 0000 0000\nE700000000000000\n", {kSync},
             InputForm::Hex, 1, InputForm::Hex},
    FormCase{"HexReadsFirstNumberAsAWord", "80123450 E7000000 00000000 FC127E03\n",
             {{0x80123450, 0xE7000000}, {0, 0xFC127E03}}, InputForm::Hex, 0, InputForm::Hex},
    FormCase{"TraceIgnoresAnythingAfterTheCommand", "e700000000000000 FC127E03\n", {kSync}, InputForm::Trace, 0,
             InputForm::Trace},
    FormCase{"AsmRefusesHex", "E7000000 00000000\n.word 0xE7000000, 0\n", {kSync}, InputForm::Asm, 1,
             InputForm::Asm},
    FormCase{"DecompIgnoresBracesAndCode", "{\n  x = 1;\n  p->words.w0 = 0xE7000000; p->words.w1 = 0;\n}\n",
             {kSync}, InputForm::Decomp, 0, InputForm::Decomp},
    FormCase{"BytesRowWithAddress", "00002B00 E7 00 00 00 00 00 00 00\n", {at(kSync, 0x2B00)}, InputForm::Bytes, 0,
             InputForm::Bytes}),
    caseName<FormCase>);

// ---------------------------------------------------------------------------
// Bad lines: the message names line and column and what was expected, and
// everything else is still read.

struct MessageCase {
    const char *name;
    std::string text;
    std::vector<Cmd> expected;
    std::uint64_t line, column;
    const char *says;
    InputForm forced = InputForm::Auto;
};

class MessageTest : public testing::TestWithParam<MessageCase> {};

TEST_P(MessageTest, NamesLineAndColumnAndReadsTheRest)
{
    const MessageCase &c = GetParam();
    ReadOptions options;
    options.form = c.forced;
    const Outcome o = readAll(c.text, options);
    EXPECT_EQ(o.cmds(), c.expected);
    ASSERT_EQ(o.messages.size(), 1u) << o.messageText();
    EXPECT_EQ(o.messages[0].line, c.line);
    EXPECT_EQ(o.messages[0].column, c.column);
    EXPECT_NE(o.messages[0].text.find(c.says), std::string::npos) << o.messages[0].text;
    expectStreamingInvariant(c.text, options, o);
}

INSTANTIATE_TEST_SUITE_P(Text, MessageTest, testing::Values(
    MessageCase{"NotHex", "E7000000 00000000\n    zz\nFC127E03 FFFFF3F8\n", {kSync, kCombine}, 2, 5,
                "expected hex words, found 'zz'"},
    MessageCase{"BadWordDropsItsUnfinishedCommand", "E7000000 00000000 FC127E03 FFFFzzF8\nB6000000 00020000\n",
                {kSync, kClear}, 1, 28, "unfinished command"},
    MessageCase{"WrongDigitCount", "E7000000 000000\nFC127E03FFFFF3F8\n", {kCombine}, 1, 10, "8 or 16 hex digits"},
    MessageCase{"TooManyDigitsAfterOx", "0x123456789ABCDEF01\nE700000000000000\n", {kSync}, 1, 1,
                "at most 16 hex digits"},
    MessageCase{"NulBytes", std::string("E7000000 00000000\n\0\0\nFC127E03 FFFFF3F8\n", 39), {kSync, kCombine}, 2, 1,
                "found '\\x00\\x00'"},
    MessageCase{"InvalidUtf8", "E700000000000000\nFC127E03 \xFF\xFE\nB600000000020000\n", {kSync, kClear}, 2, 10,
                "found '\\xFF\\xFE'"},
    MessageCase{"SingleWordAtTheEnd", "E7000000 00000000\n  FC127E03\n", {kSync}, 2, 3, "a single 32-bit word"},
    MessageCase{"BytesShortOfACommandAtTheEnd", "E7 00 00 00 00 00 00 00 FC 12 7E\n", {kSync}, 1, 25, "3 bytes"},
    MessageCase{"UnclosedComment", "E700000000000000\n  /* open\nFC127E03FFFFF3F8\n", {kSync}, 2, 3, "never closed"},
    MessageCase{"AddressColumnGoesBackOnce",
                "80000010: E7000000 00000000\n80000000: FC127E03 FFFFF3F8\n80000008: B6000000 00020000\n"
                "80000000: DF000000 00000000\n",
                {at(kSync, 0x80000010), at(kCombine, 0x80000000), at(kClear, 0x80000008), at(kEnd, 0x80000000)}, 2, 1,
                "goes backwards"},
    MessageCase{"MacroWithoutWords", "gsDPPipeSync(), /* 00000000: E7000000 00000000 */\n  gsSPEndDisplayList(),\n",
                {at(kSync, 0)}, 2, 3, "gsSPEndDisplayList() in a comment"},
    MessageCase{"HexdumpRepeatStar", "00000000  e7 00 00 00 00 00 00 00\n*\n00000100  df 00 00 00 00 00 00 00\n",
                {at(kSync, 0), at(kEnd, 0x100)}, 2, 1, "repeated rows"},
    MessageCase{"TraceValueNotHex", "0x10: W0=0xE7000000 W1=zz\nE700000000000000\n", {kSync}, 1, 24,
                "a hex word after W1="},
    MessageCase{"DecompMissingSecondWord", "p->words.w0 = 0xE7000000;\np->words.w0 = 0xB6000000;\np->words.w1 = 0x20000;\n",
                {kClear}, 1, 1, "p->words.w1 is never written"},
    MessageCase{"AsmSymbolAsFirstWord", ".word D_80000000, 0\n", {{0x80000000, 0}}, 1, 7,
                "not the second word"},
    MessageCase{"AsmInstruction", "glabel f\n  addiu $sp, $sp, -0x18\n.word 0xE7000000, 0\n", {kSync}, 2, 3,
                "found 'addiu'"},
    MessageCase{"GroupAfterAShorterGroup", "80000000: E7000000 0000 0000 00000000\n", {}, 1, 25, "8-digit hex groups"},
    MessageCase{"ForcedMemViewRefusesC", "{{0xE7000000, 0}},\n80000000: E7000000 00000000\n", {at(kSync, 0x80000000)}, 1,
                1, "expected a memory-viewer row", InputForm::MemView}),
    caseName<MessageCase>);

// The offset case above needs its option.
TEST(MessageTest, OffsetOnTextIsNotedOnce)
{
    ReadOptions options;
    options.offset = 16;
    const Outcome o = readAll("E700000000000000\nFC127E03FFFFF3F8\n", options);
    EXPECT_EQ(o.cmds(), (std::vector<Cmd>{kSync, kCombine}));
    ASSERT_EQ(o.messages.size(), 1u);
    EXPECT_EQ(o.messages[0].line, 0u);
}

TEST(MessageTest, LimitKeepsMemoryFlatAndCountsTheRest)
{
    std::string text;
    for (int i = 0; i < 5000; ++i)
        text += "zz\n";
    text += "E700000000000000\n";
    ReadOptions options;
    options.messageLimit = 10;
    TrickleSource source(text, SIZE_MAX);
    ListReader reader(source, options);
    std::vector<RawCommand> out(8);
    std::size_t n = 0, k;
    while ((k = reader.read(out)) != 0)
        n += k;
    EXPECT_EQ(n, 1u);
    const auto messages = reader.takeMessages();
    ASSERT_EQ(messages.size(), 11u);
    EXPECT_EQ(reader.suppressedMessages(), 4990u);
    EXPECT_NE(messages.back().text.find("4990 more"), std::string::npos);
}

// ---------------------------------------------------------------------------
// Binary.

std::string bytes(std::initializer_list<int> values)
{
    std::string s;
    for (int v : values)
        s += static_cast<char>(v);
    return s;
}

const std::string kTwoBig = bytes({0xE7, 0, 0, 0, 0, 0, 0, 0, 0xFC, 0x12, 0x7E, 0x03, 0xFF, 0xFF, 0xF3, 0xF8});

struct BinaryCase {
    const char *name;
    std::string data;
    ByteOrder order;
    std::uint64_t offset;
    std::optional<std::uint64_t> count;
    std::vector<Cmd> expected;
    std::vector<std::uint64_t> offsets;
    std::size_t messages;
};

class BinaryTest : public testing::TestWithParam<BinaryCase> {};

TEST_P(BinaryTest, ReadsEachByteOrder)
{
    const BinaryCase &c = GetParam();
    ReadOptions options;
    options.form = InputForm::Binary;
    options.order = c.order;
    options.offset = c.offset;
    options.count = c.count;
    const Outcome o = readAll(c.data, options);
    EXPECT_EQ(o.cmds(), c.expected);
    std::vector<std::uint64_t> offsets;
    for (const RawCommand &r : o.commands) {
        offsets.push_back(r.offset);
        EXPECT_EQ(r.line, 0u);
    }
    EXPECT_EQ(offsets, c.offsets);
    EXPECT_EQ(o.messages.size(), c.messages) << o.messageText();
    for (const ReadMessage &m : o.messages)
        EXPECT_EQ(m.line, 0u);
    EXPECT_EQ(o.form, InputForm::Binary);
    expectStreamingInvariant(c.data, options, o);
}

INSTANTIATE_TEST_SUITE_P(Orders, BinaryTest, testing::Values(
    BinaryCase{"Big", kTwoBig, ByteOrder::Big, 0, {}, {kSync, kCombine}, {0, 8}, 0},
    BinaryCase{"Little", bytes({0, 0, 0, 0, 0, 0, 0, 0xE7, 0xF8, 0xF3, 0xFF, 0xFF, 0x03, 0x7E, 0x12, 0xFC}),
               ByteOrder::Little, 0, {}, {kSync, kCombine}, {0, 8}, 0},
    BinaryCase{"V64", bytes({0, 0xE7, 0, 0, 0, 0, 0, 0, 0x12, 0xFC, 0x03, 0x7E, 0xFF, 0xFF, 0xF8, 0xF3}),
               ByteOrder::V64, 0, {}, {kSync, kCombine}, {0, 8}, 0},
    BinaryCase{"N64", bytes({0, 0, 0, 0xE7, 0, 0, 0, 0, 0x03, 0x7E, 0x12, 0xFC, 0xF8, 0xF3, 0xFF, 0xFF}),
               ByteOrder::N64, 0, {}, {kSync, kCombine}, {0, 8}, 0},
    BinaryCase{"Offset", bytes({1, 2, 3}) + kTwoBig, ByteOrder::Big, 3, {}, {kSync, kCombine}, {3, 11}, 0},
    BinaryCase{"Count", kTwoBig + kTwoBig, ByteOrder::Big, 0, 3, {kSync, kCombine, kSync}, {0, 8, 16}, 0},
    BinaryCase{"CountZero", kTwoBig, ByteOrder::Big, 0, 0, {}, {}, 0},
    BinaryCase{"PartialCommandAtTheEnd", kTwoBig + bytes({0xDF, 0, 0}), ByteOrder::Big, 0, {}, {kSync, kCombine},
               {0, 8}, 1},
    BinaryCase{"OffsetLeavesAPartialCommand", kTwoBig, ByteOrder::Big, 4, {}, {{0, 0xFC127E03}}, {4}, 1},
    BinaryCase{"OffsetPastTheEnd", kTwoBig, ByteOrder::Big, 100, {}, {}, {}, 1},
    BinaryCase{"OffsetAtTheEnd", kTwoBig, ByteOrder::Big, 16, {}, {}, {}, 0},
    BinaryCase{"Empty", "", ByteOrder::Big, 0, {}, {}, {}, 0}),
    caseName<BinaryCase>);

TEST(BinaryTest, OffsetPastTheEndOfAFile)
{
    std::FILE *f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    std::fwrite(kTwoBig.data(), 1, kTwoBig.size(), f);
    std::rewind(f);
    for (const std::uint64_t offset : {8u, 1000u}) {
        ASSERT_EQ(std::fseek(f, 0, SEEK_SET), 0);
        FileSource source(f);
        ReadOptions options;
        options.form = InputForm::Binary;
        options.offset = offset;
        ListReader reader(source, options);
        RawCommand out[4];
        const std::size_t n = reader.read(out);
        if (offset == 8) {
            ASSERT_EQ(n, 1u);
            EXPECT_EQ(out[0].w0, 0xFC127E03u);
            EXPECT_EQ(out[0].offset, 8u);
            EXPECT_TRUE(reader.takeMessages().empty());
        } else {
            EXPECT_EQ(n, 0u);
            EXPECT_EQ(reader.takeMessages().size(), 1u);
        }
    }
    std::fclose(f);
}

// Auto detection: binary is chosen only when the start is not text.
struct DetectCase {
    const char *name;
    std::string data;
    InputForm form;
    std::size_t commands;
};

class DetectTest : public testing::TestWithParam<DetectCase> {};

TEST_P(DetectTest, TellsBinaryFromText)
{
    const Outcome o = readAll(GetParam().data);
    EXPECT_EQ(o.form, GetParam().form) << inputFormName(o.form);
    EXPECT_EQ(o.commands.size(), GetParam().commands) << o.messageText();
}

INSTANTIATE_TEST_SUITE_P(Auto, DetectTest, testing::Values(
    DetectCase{"BigEndianList", kTwoBig, InputForm::Binary, 2},
    DetectCase{"NoNulBytes", bytes({0xFC, 0x12, 0x7E, 0x03, 0xFF, 0xFF, 0xF3, 0xF8}), InputForm::Binary, 1},
    DetectCase{"PrintableOpcodesWithNuls", bytes({0x06, 0, 0, 0, 0x41, 0x42, 0x43, 0x44}), InputForm::Binary, 1},
    DetectCase{"TextWithOneStrayNul", std::string("E700000000000000\n\0\nFC127E03FFFFF3F8\nB600000000020000\n", 53),
               InputForm::Hex, 3},
    DetectCase{"Utf8InComments", "// d\xC3\xA9\x63odage \xE2\x80\x94 \xF0\x9F\x98\x80\nE700000000000000\n", InputForm::Hex, 1},
    DetectCase{"Utf16IsRefused", bytes({0xFF, 0xFE, 'E', 0, '7', 0, '0', 0, '0', 0, '\n', 0}), InputForm::Auto, 0},
    DetectCase{"Empty", "", InputForm::Auto, 0},
    DetectCase{"OnlyComments", "# nothing here\n", InputForm::Auto, 0}),
    caseName<DetectCase>);

// ---------------------------------------------------------------------------
// Assembly symbols and labels, text count.

TEST(AsmTest, KeepsSymbolsInWordSlotsAndLabelsWithTheirOffsets)
{
    const Outcome o = readAll("glabel D_800E8D40\n.word 0x0400207F, D_800E8C40\n.word 0x06000000, sub_dl\n"
                              "local_label:\n.word 0xDF000000, 0\n.L800E8D58: .word 0xE7000000\n.word 0\n");
    ASSERT_EQ(o.commands.size(), 4u);
    EXPECT_EQ(o.symbols, (std::vector<std::string>{"D_800E8C40", "sub_dl", "", ""}));
    EXPECT_EQ(o.commands[0].w1, 0x800E8C40u);
    EXPECT_EQ(o.commands[1].w1, 0u);
    EXPECT_EQ(o.labels, (std::vector<std::string>{"D_800E8D40@0", "local_label@16", ".L800E8D58@24"}));
    TrickleSource source("glabel D_800E8D40\nglabel sym\n.word 1, 2\n", SIZE_MAX);
    ListReader reader(source);
    RawCommand out[2];
    EXPECT_EQ(reader.read(out), 1u);
    ASSERT_EQ(reader.labels().size(), 2u);
    EXPECT_EQ(reader.labels()[0].address, std::optional<std::uint32_t>(0x800E8D40));
    EXPECT_EQ(reader.labels()[1].address, std::nullopt);
    EXPECT_EQ(reader.labels()[1].line, 2u);
    EXPECT_EQ(reader.symbolName(99), "");
    EXPECT_EQ(reader.symbolName(-1), "");
}

TEST(CountTest, LimitsTextCommands)
{
    ReadOptions options;
    options.count = 2;
    const Outcome o = readAll("E700000000000000\nFC127E03FFFFF3F8\nB600000000020000\nzz\n", options);
    EXPECT_EQ(o.cmds(), (std::vector<Cmd>{kSync, kCombine}));
    EXPECT_TRUE(o.messages.empty()) << "reading stops at the count: later lines are not looked at";
    options.count = 1;
    EXPECT_EQ(readAll("E7000000 00000000 FC127E03 FFFFF3F8\n", options).commands.size(), 1u);
}

TEST(LineTest, RecordsTheLineOfEachCommandsFirstByte)
{
    const Outcome o = readAll("\nE7000000\n00000000 FC127E03\n\nFFFFF3F8\n80000000: B6000000 00020000\n");
    std::vector<std::uint64_t> lines;
    for (const RawCommand &c : o.commands)
        lines.push_back(c.line);
    EXPECT_EQ(lines, (std::vector<std::uint64_t>{2, 3, 6}));
}

// ---------------------------------------------------------------------------
// Huge lines and odd bytes: streamed in pieces, linear, nothing past the input.

TEST(HugeLineTest, TwoMillionCharacterLineOfWords)
{
    std::string line;
    std::size_t words = 0;
    while (line.size() < 2'000'000) {
        line += words % 2 ? "00000000 " : "E7000000 ";
        ++words;
    }
    if (words % 2)
        line += "00000000", ++words;
    const std::string text = "FC127E03FFFFF3F8\n" + line + "\nB600000000020000\n";
    for (const std::size_t buffer : {std::size_t{1} << 20, std::size_t{4096}}) {
        ReadOptions options;
        options.bufferBytes = buffer;
        const Outcome o = readAll(text, options, 65536, 1000);
        ASSERT_EQ(o.commands.size(), words / 2 + 2);
        EXPECT_TRUE(o.messages.empty()) << o.messageText();
        EXPECT_EQ(o.cmds().front(), kCombine);
        EXPECT_EQ(o.cmds()[words / 4], kSync);
        EXPECT_EQ(o.cmds().back(), kClear);
        EXPECT_EQ(o.commands.back().line, 3u);
        EXPECT_EQ(o.commands.back().offset, 8 * (words / 2 + 1));
    }
}

TEST(HugeLineTest, LongContinuousRunAndCommentsAndGarbage)
{
    std::string run;
    for (int i = 0; i < 200'000; ++i)
        run += "e700000000000000";
    std::string comments;
    for (int i = 0; i < 200'000; ++i)
        comments += "/**/ ";
    const std::string garbage(1'500'000, 'z');
    const std::string text = run + "\n" + comments + "E700000000000000\n" + garbage + "\n" +
                             std::string("\0\xFF\x80", 3) + std::string(1'200'000, 'x') + "\nDF00000000000000";
    ReadOptions options;
    options.bufferBytes = 1 << 16;
    const Outcome o = readAll(text, options, 100'000, 4096);
    ASSERT_EQ(o.commands.size(), 200'002u);
    EXPECT_EQ(o.cmds()[199'999], kSync);
    EXPECT_EQ(o.cmds().back(), kEnd);
    ASSERT_EQ(o.messages.size(), 2u) << o.messageText();
    EXPECT_EQ(o.messages[0].line, 3u);
    EXPECT_EQ(o.messages[1].line, 4u);
    EXPECT_NE(o.messages[1].text.find("\\x00\\xFF\\x80"), std::string::npos);
}

TEST(HugeLineTest, LongRowsAndTracesAreStillRead)
{
    std::string row = "80000000:";
    for (int i = 0; i < 100'000; ++i)
        row += " E7000000 00000000";
    const std::string trace = "e700000000000000 " + std::string(300'000, 'n') + "\n";
    ReadOptions options;
    options.bufferBytes = 1 << 16;
    const Outcome o = readAll(row + "\n" + trace, options, 7777, 333);
    ASSERT_EQ(o.commands.size(), 100'001u);
    EXPECT_EQ(o.commands[99'999].address, std::optional<std::uint32_t>(0x80000000u + 8 * 99'999));
    EXPECT_EQ(o.cmds().back(), kSync);
    EXPECT_EQ(o.messages.size(), 0u) << o.messageText();
}

// ---------------------------------------------------------------------------
// Round trip: random words written in each form read back the same.

struct Written {
    std::string text;
    std::vector<Cmd> expected;
};

using Writer = std::function<Written(const std::vector<Cmd> &, std::mt19937 &)>;

std::string hex8(std::uint32_t v, bool lower = false)
{
    char s[16];
    std::snprintf(s, sizeof s, lower ? "%08x" : "%08X", v);
    return s;
}

std::string hex2(unsigned v)
{
    char s[8];
    std::snprintf(s, sizeof s, "%02x", v & 0xFF);
    return s;
}

std::vector<unsigned> toBytes(const std::vector<Cmd> &cmds)
{
    std::vector<unsigned> b;
    for (const Cmd &c : cmds)
        for (int i = 0; i < 8; ++i)
            b.push_back(((i < 4 ? c.w0 : c.w1) >> (8 * (3 - i % 4))) & 0xFF);
    return b;
}

// An ASCII column as dumps print it, including characters that look like hex.
std::string asciiColumn(std::mt19937 &rng, std::size_t n)
{
    static const char pool[] = "0123456789abcdefABCDEF.:|-xX ";
    std::string s;
    for (std::size_t i = 0; i < n; ++i)
        s += pool[rng() % (sizeof pool - 1)];
    return s;
}

std::vector<Cmd> withAddresses(std::vector<Cmd> cmds, std::uint32_t base)
{
    for (std::size_t i = 0; i < cmds.size(); ++i)
        cmds[i].address = base + static_cast<std::uint32_t>(8 * i);
    return cmds;
}

struct RoundTripCase {
    const char *name;
    Writer write;
};

const RoundTripCase kWriters[] = {
    {"Hex16", [](const std::vector<Cmd> &cmds, std::mt19937 &rng) {
         Written w{"", cmds};
         for (const Cmd &c : cmds)
             w.text += hex8(c.w0, rng() % 2) + hex8(c.w1, rng() % 2) + "\n";
         return w;
     }},
    {"HexWordsAnySeparators", [](const std::vector<Cmd> &cmds, std::mt19937 &rng) {
         static const char *seps[] = {" ", "\t", ", ", ",", "\n", " \n ", "  ", "} {"};
         Written w{"", cmds};
         const std::string prefix = rng() % 2 ? "0x" : "";
         for (const Cmd &c : cmds) {
             w.text += prefix + hex8(c.w0) + seps[rng() % 8];
             w.text += prefix + hex8(c.w1, rng() % 2) + seps[rng() % 8];
         }
         return w;
     }},
    {"Bytes", [](const std::vector<Cmd> &cmds, std::mt19937 &rng) {
         Written w{"", cmds};
         const std::size_t perLine = 1 + rng() % 16;
         const auto b = toBytes(cmds);
         for (std::size_t i = 0; i < b.size(); ++i)
             w.text += hex2(b[i]) + ((i + 1) % perLine == 0 || i + 1 == b.size() ? "\n" : " ");
         return w;
     }},
    {"HexdumpCanonical", [](const std::vector<Cmd> &cmds, std::mt19937 &rng) {
         Written w{"", withAddresses(cmds, 0x1000)};
         const auto b = toBytes(cmds);
         for (std::size_t row = 0; row < b.size(); row += 16) {
             char addr[16];
             std::snprintf(addr, sizeof addr, "%08zx  ", 0x1000 + row);
             w.text += addr;
             std::size_t n = std::min<std::size_t>(16, b.size() - row);
             for (std::size_t i = 0; i < 16; ++i) {
                 w.text += i < n ? hex2(b[row + i]) + " " : "   ";
                 if (i == 7)
                     w.text += " ";
             }
             w.text += " |" + asciiColumn(rng, n) + "|\n";
         }
         return w;
     }},
    {"Xxd", [](const std::vector<Cmd> &cmds, std::mt19937 &rng) {
         Written w{"", withAddresses(cmds, 0x2B00)};
         const auto b = toBytes(cmds);
         for (std::size_t row = 0; row < b.size(); row += 16) {
             char addr[16];
             std::snprintf(addr, sizeof addr, "%08zx: ", 0x2B00 + row);
             std::string hexArea;
             std::size_t n = std::min<std::size_t>(16, b.size() - row);
             for (std::size_t i = 0; i < n; ++i)
                 hexArea += hex2(b[row + i]) + (i % 2 == 1 && i + 1 < n ? " " : "");
             hexArea.resize(39, ' ');
             w.text += addr + hexArea + "  " + asciiColumn(rng, n) + "\n";
         }
         return w;
     }},
    {"MemViewWords", [](const std::vector<Cmd> &cmds, std::mt19937 &rng) {
         Written w{"", withAddresses(cmds, 0x80123450)};
         const std::size_t perRow = 1 + rng() % 6;  // words per row: rows need not hold whole commands
         std::vector<std::uint32_t> words;
         for (const Cmd &c : cmds)
             words.push_back(c.w0), words.push_back(c.w1);
         for (std::size_t i = 0; i < words.size(); i += perRow) {
             w.text += hex8(0x80123450u + static_cast<std::uint32_t>(4 * i)) + ":";
             for (std::size_t k = i; k < std::min(words.size(), i + perRow); ++k)
                 w.text += " " + hex8(words[k]);
             w.text += "\n";
         }
         return w;
     }},
    {"MemViewDash", [](const std::vector<Cmd> &cmds, std::mt19937 &) {
         Written w{"", withAddresses(cmds, 0x00657654)};
         for (std::size_t i = 0; i < cmds.size(); ++i)
             w.text += hex8(0x00657654u + static_cast<std::uint32_t>(8 * i)) + " " + hex8(cmds[i].w0) + " - " +
                       hex8(cmds[i].w1) + "\n";
         return w;
     }},
    {"MemViewDoubleWordsWithAscii", [](const std::vector<Cmd> &cmds, std::mt19937 &rng) {
         Written w{"", withAddresses(cmds, 0x80000000)};
         for (std::size_t i = 0; i < cmds.size(); ++i)
             w.text += hex8(0x80000000u + static_cast<std::uint32_t>(8 * i)) + ": " + hex8(cmds[i].w0) +
                       hex8(cmds[i].w1) + "  " + asciiColumn(rng, 8) + "\n";
         return w;
     }},
    {"CArray", [](const std::vector<Cmd> &cmds, std::mt19937 &rng) {
         Written w{"Gfx dl[] = {\n", cmds};
         for (const Cmd &c : cmds) {
             switch (rng() % 4) {
             case 0: w.text += "    {{0x" + hex8(c.w0) + ", 0x" + hex8(c.w1) + "}},\n"; break;
             case 1: w.text += "    0x" + hex8(c.w0) + ", 0x" + hex8(c.w1) + ", /* x */\n"; break;
             case 2: w.text += "    0x" + hex8(c.w0) + hex8(c.w1) + "ULL,\n"; break;
             default: w.text += "    {{0x" + hex8(c.w0) + "u, " + std::to_string(c.w1) + "}},\n"; break;
             }
         }
         w.text += "};\n";
         return w;
     }},
    {"CMacrosWithComments", [](const std::vector<Cmd> &cmds, std::mt19937 &) {
         Written w{"Gfx dl[] = {\n", withAddresses(cmds, 0)};
         for (std::size_t i = 0; i < cmds.size(); ++i)
             w.text += "    gsSomething(0x10, G_X), /* " + hex8(static_cast<std::uint32_t>(8 * i)) + ": " +
                       hex8(cmds[i].w0) + " " + hex8(cmds[i].w1) + " */\n";
         w.text += "};\n";
         return w;
     }},
    {"Asm", [](const std::vector<Cmd> &cmds, std::mt19937 &rng) {
         Written w{"glabel D_80000000\n", cmds};
         for (const Cmd &c : cmds) {
             if (rng() % 2)
                 w.text += "    .word 0x" + hex8(c.w0) + ", 0x" + hex8(c.w1) + "\n";
             else
                 w.text += "    .dword 0x" + hex8(c.w0) + hex8(c.w1) + "\n";
         }
         return w;
     }},
    {"Decomp", [](const std::vector<Cmd> &cmds, std::mt19937 &rng) {
         // Commands in pairs on two pointers, their words interleaved in random order.
         Written w{"void f(void) {\n    Gfx *temp_v0;\n", cmds};
         for (std::size_t i = 0; i < cmds.size(); i += 2) {
             std::vector<std::string> lines;
             for (std::size_t k = i; k < std::min(cmds.size(), i + 2); ++k) {
                 const std::string ptr = k == i ? "temp_v0" : "temp_v1";
                 const std::string a = "    " + ptr + "->words.w0 = 0x" + hex8(cmds[k].w0) + ";\n";
                 const std::string b = "    " + ptr + "->words.w1 = " + std::to_string(cmds[k].w1) + ";\n";
                 if (rng() % 2)
                     lines.push_back(a), lines.push_back(b);
                 else
                     lines.push_back(b), lines.push_back(a);
             }
             if (lines.size() == 4 && rng() % 2)
                 std::swap(lines[1], lines[2]);  // the first word of each still comes in command order
             w.text += "    temp_v0 = gDisplayListHead;\n";
             for (const auto &l : lines)
                 w.text += l;
         }
         w.text += "}\n";
         return w;
     }},
    {"TraceStyles", [](const std::vector<Cmd> &cmds, std::mt19937 &rng) {
         Written w{"", withAddresses(cmds, 0x00100000)};
         for (std::size_t i = 0; i < cmds.size(); ++i) {
             const std::string a = hex8(0x00100000u + static_cast<std::uint32_t>(8 * i), true);
             const std::string w0 = hex8(cmds[i].w0, true), w1 = hex8(cmds[i].w1, true);
             switch (rng() % 4) {
             case 0: w.text += "0x" + a + ": CMD=0x" + w0.substr(0, 2) + " W0=0x" + w0 + " W1=0x" + w1 + "\n"; break;
             case 1: w.text += "RDP " + a + " (c0:" + w0 + ", c1:" + w1 + "): NAME\n"; break;
             case 2: w.text += "[0x" + a + "] " + w0 + w1 + "    G_NAME\n"; break;
             default: w.text += a + ":" + w0 + "-" + w1 + ":gsSPX(),\n"; break;
             }
         }
         return w;
     }},
};

class RoundTripTest : public testing::TestWithParam<RoundTripCase> {};

TEST_P(RoundTripTest, RandomWordsReadBackTheSame)
{
    for (unsigned seed = 1; seed <= 12; ++seed) {
        std::mt19937 rng(seed * 7919 + 17);
        std::vector<Cmd> cmds(1 + rng() % 40);
        for (Cmd &c : cmds) {
            switch (rng() % 5) {
            case 0: c = {0, 0}; break;
            case 1: c = {0xFFFFFFFF, 0xFFFFFFFF}; break;
            default: c = {static_cast<std::uint32_t>(rng()), static_cast<std::uint32_t>(rng())}; break;
            }
        }
        const Written w = GetParam().write(cmds, rng);
        const Outcome o = readAll(w.text, {}, 1 + rng() % 300, 1 + rng() % 9);
        ASSERT_EQ(o.cmds(), w.expected) << "seed " << seed << "\n" << w.text;
        ASSERT_TRUE(o.messages.empty()) << o.messageText() << w.text;
    }
}

INSTANTIATE_TEST_SUITE_P(Forms, RoundTripTest, testing::ValuesIn(kWriters),
                         caseName<RoundTripCase>);

// Binary round trip in every byte order.
TEST(RoundTripTest, BinaryEveryOrder)
{
    std::mt19937 rng(99);
    std::vector<Cmd> cmds(300);
    for (Cmd &c : cmds)
        c = {static_cast<std::uint32_t>(rng()), static_cast<std::uint32_t>(rng())};
    const auto big = toBytes(cmds);
    for (const ByteOrder order : {ByteOrder::Big, ByteOrder::Little, ByteOrder::V64, ByteOrder::N64}) {
        std::string data;
        for (std::size_t i = 0; i < big.size(); i += 8)
            for (std::size_t k = 0; k < 8; ++k) {
                std::size_t from = k;
                if (order == ByteOrder::Little)
                    from = 7 - k;
                if (order == ByteOrder::V64)
                    from = k ^ 1;
                if (order == ByteOrder::N64)
                    from = (k & 4) | (3 - (k & 3));
                data += static_cast<char>(big[i + from]);
            }
        ReadOptions options;
        options.form = InputForm::Binary;
        options.order = order;
        EXPECT_EQ(readAll(data, options, 13, 5).cmds(), cmds) << byteOrderName(order);
    }
}

// ---------------------------------------------------------------------------

TEST(NamesTest, FormAndOrderNamesRoundTrip)
{
    for (const auto form : {InputForm::Auto, InputForm::Hex, InputForm::Bytes, InputForm::Xxd, InputForm::MemView,
                            InputForm::CArray, InputForm::Asm, InputForm::Decomp, InputForm::Trace, InputForm::Binary})
        EXPECT_EQ(parseInputForm(inputFormName(form)), form);
    for (const auto order : {ByteOrder::Big, ByteOrder::Little, ByteOrder::V64, ByteOrder::N64})
        EXPECT_EQ(parseByteOrder(byteOrderName(order)), order);
    EXPECT_EQ(parseInputForm("MemView"), InputForm::MemView);
    EXPECT_EQ(parseInputForm("hexx"), std::nullopt);
    EXPECT_EQ(parseByteOrder(""), std::nullopt);
    EXPECT_EQ(formatMessage({12, 5, "expected hex words, found 'zz'"}), "line 12, column 5: expected hex words, found 'zz'");
    EXPECT_EQ(formatMessage({0, 0, "byte 0x10: short"}), "byte 0x10: short");
}

} // namespace
