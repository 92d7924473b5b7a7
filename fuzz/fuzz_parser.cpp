// Arbitrary text through the assembler: no crash, every message points into
// the input, every entry has its line, the ranges it reports stay inside its
// words, one macro alone either assembles or says why, and every command the
// text assembled to prints to macro text that assembles to it again.

#include "fuzz_check.h"

#include "gbi/disassembler.h"
#include "gbi/parser.h"

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

using namespace dlscope::gbi;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    constexpr Ucode ucodes[] = {Ucode::F3D, Ucode::F3DEX, Ucode::F3DEX2};
    AsmOptions options;
    options.ucode = ucodes[data[0] % 3];
    options.names = (data[0] & 0x40) ? Names::Sm64 : Names::Libultra;
    options.collectExpected = data[0] & 0x20;
    if (data[0] & 0x10)
        options.base = 0x06000000;
    options.messageLimit = 64;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::uint64_t lines = 1 + static_cast<std::uint64_t>(std::count(text.begin(), text.end(), '\n'));

    const AsmResult r = assemble(text, options);
    FUZZ_CHECK(r.words.size() == r.lines.size());
    FUZZ_CHECK(r.messages.size() <= options.messageLimit);
    std::size_t errors = 0;
    for (const AsmMessage& m : r.messages) {
        FUZZ_CHECK(m.line >= 1 && m.line <= lines);
        FUZZ_CHECK(m.column >= 1);
        FUZZ_CHECK(!m.text.empty());
        errors += m.severity == Severity::Error;
    }
    FUZZ_CHECK(errors <= r.errors);
    for (const AsmLine& l : r.lines)
        FUZZ_CHECK(l.line >= 1 && l.line <= lines);
    for (const AsmList& list : r.lists)
        FUZZ_CHECK(list.first + list.count <= r.words.size());
    for (const AsmExpected& e : r.expected)
        FUZZ_CHECK(e.firstEntry + e.entryCount <= r.words.size() && !e.words.empty());

    const MacroResult one = parseMacro(text, options);
    FUZZ_CHECK(one.ok ? !one.words.empty() : one.words.empty() && !one.messages.empty());
    for (const AsmMessage& m : one.messages)
        FUZZ_CHECK(m.line >= 1 && m.line <= lines && m.column >= 1);

    // What the printer writes for these words assembles back to them.
    MacroParser parser(options);
    DecodeOptions decode;
    decode.names = options.names;
    std::vector<Words> again;
    for (std::size_t i = 0; i < std::min<std::size_t>(r.words.size(), 64); ++i) {
        const Command c = decodeSingle(options.ucode, r.words[i], decode);
        for (const bool dynamic : {false, true}) {
            again.clear();
            FUZZ_CHECK(parser.parse(commandText(c, PrintOptions{dynamic, "gfx++", options.names, nullptr}), again));
            FUZZ_CHECK(again.size() == 1 && again[0] == r.words[i]);
        }
    }
    return 0;
}
