// Properties every decoded command keeps, over millions of random words and
// random lists built from multi-command macros: it encodes back to exactly
// the entries it covers, and its text prints without throwing, non-empty,
// with balanced parentheses.

#include "gbi/command.h"
#include "gbi/disassembler.h"
#include "gbi/idioms.h"
#include "gbi/macro_table.h"
#include "gbi/printer.h"

#include "idiom_args.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace dlscope::gbi {

void PrintTo(const Words& w, std::ostream* os)
{
    char text[32];
    std::snprintf(text, sizeof text, "%08X %08X", w.w0, w.w1);
    *os << text;
}

namespace {

using testing::Rng;

bool balanced(std::string_view text)
{
    int depth = 0;
    for (char c : text) {
        depth += c == '(' ? 1 : c == ')' ? -1 : 0;
        if (depth < 0)
            return false;
    }
    return depth == 0;
}

// Draws words for one microcode: half of them with an opcode it defines, and
// often with the fixed fields of one of its rows, so that the named macros
// are reached as well as the raw forms.
class WordSource {
public:
    explicit WordSource(Ucode u) : ucode_(u)
    {
        for (int op = 0; op < 256; ++op)
            if (opcodeDefined(u, static_cast<std::uint8_t>(op)))
                defined_.push_back(static_cast<std::uint8_t>(op));
        for (const MacroSpec& m : allMacros())
            if ((m.ucodes & ucodeBit(u)) && m.opcode >= 0)
                fixed_.push_back(&m);
    }

    Words next(Rng& rng)
    {
        Words w{rng.word(), rng.word()};
        if (rng.chance(1, 2))
            w.w0 = (w.w0 & 0xFFFFFF) | static_cast<std::uint32_t>(defined_[rng.next() % defined_.size()]) << 24;
        if (rng.chance(1, 3)) {
            const MacroSpec& m = *fixed_[rng.next() % fixed_.size()];
            w.w0 = (w.w0 & ~m.fixedMask[0]) | m.fixedValue[0];
            w.w1 = (w.w1 & ~m.fixedMask[1]) | m.fixedValue[1];
        }
        // Many fields hold small numbers and many rows want zero bits.
        if (rng.chance(1, 4))
            w.w1 = rng.anyBits();
        if (rng.chance(1, 4))
            w.w0 = (w.w0 & 0xFF000000u) | (rng.anyBits(24) & 0xFFFFFF);
        return w;
    }

private:
    Ucode ucode_;
    std::vector<std::uint8_t> defined_;
    std::vector<const MacroSpec*> fixed_;
};

class RandomWords : public ::testing::TestWithParam<Ucode> {};

TEST_P(RandomWords, DecodeThenEncodeGivesTheSameWords)
{
    const Ucode u = GetParam();
    Rng rng(0x5EED0000u + static_cast<unsigned>(u));
    WordSource source(u);
    constexpr int kWords = 1'500'000;
    int failures = 0;
    for (int i = 0; i < kWords && failures < 20; ++i) {
        const Words w = source.next(rng);
        const Command c = decodeSingle(u, w);
        const auto opcode = static_cast<std::uint8_t>(w.w0 >> 24);
        Words again;
        const bool ok = c.macro && encodeSingle(*c.macro, c.args, again) && again == w
            && (c.status == Status::Invalid) == !opcodeDefined(u, opcode);
        if (!ok) {
            ++failures;
            ADD_FAILURE() << ucodeName(u) << ' ' << ::testing::PrintToString(w) << " -> "
                          << (c.macro ? commandText(c) : std::string("no macro")) << " re-encodes to "
                          << ::testing::PrintToString(again);
        }
    }
}

TEST_P(RandomWords, PrintedTextIsBalancedAndNamesTheMacro)
{
    const Ucode u = GetParam();
    Rng rng(0xC0DE0000u + static_cast<unsigned>(u));
    WordSource source(u);
    TextSink sink;
    int failures = 0;
    for (int i = 0; i < 200'000 && failures < 20; ++i) {
        const Words w = source.next(rng);
        const Names names = i % 2 ? Names::Sm64 : Names::Libultra;
        const Command c = decodeSingle(u, w, DecodeOptions{names});
        const bool dynamic = i % 3 == 0;
        std::string text;
        try {
            text = commandText(c, PrintOptions{dynamic, "gDisplayListHead++", names, nullptr});
        } catch (const std::exception& e) {
            ADD_FAILURE() << ::testing::PrintToString(w) << " throws " << e.what();
            ++failures;
            continue;
        }
        const std::string name = dynamic ? dynamicName(c.macro->name) : std::string(c.macro->name);
        if (text.empty() || !balanced(text) || !text.starts_with(name + "(") || text.back() != ')') {
            ADD_FAILURE() << ucodeName(u) << ' ' << ::testing::PrintToString(w) << " prints " << text;
            ++failures;
        }
        // The sink the printer writes into grows as it must.
        sink.clear();
        printCommand(c, PrintOptions{}, sink);
        if (sink.view() != commandText(c)) {
            ADD_FAILURE() << ::testing::PrintToString(w) << " prints differently into a sink";
            ++failures;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Ucodes, RandomWords, ::testing::ValuesIn(kAllUcodes),
                         [](const auto& p) { return std::string(ucodeName(p.param)); });

// Names every address, so that the light loads fold too.
class EveryAddress : public AddressNamer {
public:
    bool name(std::uint32_t address, std::string& out) const override
    {
        char text[24];
        std::snprintf(text, sizeof text, "sym_%08X", address);
        out = text;
        return true;
    }
};

class RandomLists : public ::testing::TestWithParam<Ucode> {};

TEST_P(RandomLists, FoldedCommandsReencodeToTheirEntries)
{
    const Ucode u = GetParam();
    Rng rng(0x11575u + static_cast<unsigned>(u));
    WordSource source(u);
    std::vector<const MacroSpec*> idioms;
    for (const MacroSpec& m : idiomMacros())
        if (m.ucodes & ucodeBit(u))
            idioms.push_back(&m);
    const EveryAddress namer;
    int folded = 0, failures = 0;
    for (int list = 0; list < 4000 && failures < 10; ++list) {
        // Expansions whole, cut short or with one bit changed, between random words.
        std::vector<Words> entries;
        while (entries.size() < 40) {
            const int kind = idioms.empty() ? 0 : static_cast<int>(rng.range(0, 5));
            if (kind == 0) {
                entries.push_back(source.next(rng));
                continue;
            }
            const MacroSpec& m = *idioms[rng.next() % idioms.size()];
            std::vector<Words> expansion;
            if (!expandIdiom(u, m, testing::randomIdiomArgs(m, rng), expansion)) {
                ADD_FAILURE() << m.name << " does not expand on " << ucodeName(u);
                return;
            }
            if (kind == 1)
                expansion.resize(static_cast<std::size_t>(rng.range(1, static_cast<std::int64_t>(expansion.size()))));
            if (kind == 2) {
                Words& w = expansion[rng.next() % expansion.size()];
                (rng.chance(1, 2) ? w.w0 : w.w1) ^= 1u << rng.range(0, 31);
            }
            entries.insert(entries.end(), expansion.begin(), expansion.end());
        }
        const Names names = list % 2 ? Names::Sm64 : Names::Libultra;
        const ListOptions options{DecodeOptions{names}, true, list % 3 ? &namer : nullptr};
        const auto commands = decodeList(u, entries, options);
        std::size_t at = 0;
        for (const Command& c : commands) {
            std::vector<Words> out;
            const bool ok = c.macro && c.length >= 1 && encodeCommand(c, out) && out.size() == c.length
                && at + out.size() <= entries.size() && std::equal(out.begin(), out.end(), entries.begin() + static_cast<std::ptrdiff_t>(at));
            const std::string text = c.macro ? commandText(c, PrintOptions{false, "", names, options.namer}) : "";
            if (!ok || text.empty() || !balanced(text)) {
                ADD_FAILURE() << ucodeName(u) << " entry " << at << ' ' << ::testing::PrintToString(entries[at]) << " -> "
                              << text << " (" << static_cast<int>(c.length) << " entries)";
                ++failures;
                break;
            }
            folded += c.length > 1;
            at += c.length;
        }
        EXPECT_EQ(at, entries.size());
        // Without folding, commands still stand for their entries; on the
        // fact sheet's microcodes every command is then one entry.
        const auto unfolded = decodeList(u, entries, ListOptions{DecodeOptions{names}, false, nullptr});
        std::size_t covered = 0;
        for (const Command& c : unfolded) {
            std::vector<Words> out;
            if (!encodeCommand(c, out) || covered + out.size() > entries.size()
                || !std::equal(out.begin(), out.end(), entries.begin() + static_cast<std::ptrdiff_t>(covered))) {
                ADD_FAILURE() << ucodeName(u) << " unfolded entry " << covered << " -> " << commandText(c);
                ++failures;
                break;
            }
            covered += out.size();
        }
        if (u != Ucode::F3DEX3) {
            EXPECT_EQ(unfolded.size(), entries.size());
        }
    }
    // The lists are mostly idioms: many of them must have folded.
    if (!idioms.empty()) {
        EXPECT_GT(folded, 4000);
    }
}

INSTANTIATE_TEST_SUITE_P(Ucodes, RandomLists, ::testing::ValuesIn(kAllUcodes),
                         [](const auto& p) { return std::string(ucodeName(p.param)); });

} // namespace
} // namespace dlscope::gbi
