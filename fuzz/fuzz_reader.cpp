// The display-list reader on arbitrary bytes, in every form and byte order.
//
// First byte: bit 7 picks the property, the rest the form, buffer size and
// batch; second byte: byte order, offset, trickle step.
//   Reading: no crash and nothing read past the input (ASan); the same
//     commands and messages whether the input comes whole or a few bytes at
//     a time; text offsets 8 apart and lines in order within the input;
//     binary commands exactly the input's bytes.
//   Round trip: the rest of the input, taken as words, written in the
//     chosen form and read back, gives the same words.

#include "fuzz_check.h"
#include "gbi/reader.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

using namespace dlscope::gbi;

namespace {

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

struct Reading {
    std::vector<RawCommand> commands;
    std::vector<ReadMessage> messages;
    InputForm form = InputForm::Auto;
};

Reading readAll(std::string_view input, const ReadOptions &options, std::size_t step, std::size_t batch)
{
    TrickleSource source(input, step);
    ListReader reader(source, options);
    Reading r;
    std::vector<RawCommand> out(batch);
    while (const std::size_t n = reader.read(out)) {
        FUZZ_CHECK(n <= batch);
        r.commands.insert(r.commands.end(), out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n));
        for (ReadMessage &m : reader.takeMessages())
            r.messages.push_back(std::move(m));
    }
    FUZZ_CHECK(reader.read(out) == 0);
    for (ReadMessage &m : reader.takeMessages())
        r.messages.push_back(std::move(m));
    FUZZ_CHECK(r.messages.size() <= options.messageLimit + 1);
    r.form = reader.form();
    for (const RawCommand &c : r.commands)
        if (c.w1Symbol >= 0)
            FUZZ_CHECK(!reader.symbolName(c.w1Symbol).empty());
    return r;
}

bool same(const Reading &a, const Reading &b)
{
    if (a.commands.size() != b.commands.size() || a.messages.size() != b.messages.size() || a.form != b.form)
        return false;
    for (std::size_t i = 0; i < a.commands.size(); ++i) {
        const RawCommand &x = a.commands[i], &y = b.commands[i];
        if (x.w0 != y.w0 || x.w1 != y.w1 || x.offset != y.offset || x.address != y.address || x.line != y.line ||
            x.w1Symbol != y.w1Symbol)
            return false;
    }
    for (std::size_t i = 0; i < a.messages.size(); ++i)
        if (a.messages[i].line != b.messages[i].line || a.messages[i].column != b.messages[i].column ||
            a.messages[i].text != b.messages[i].text)
            return false;
    return true;
}

constexpr InputForm kForms[] = {InputForm::Auto, InputForm::Hex, InputForm::Bytes, InputForm::Xxd,
                                InputForm::MemView, InputForm::CArray, InputForm::Asm, InputForm::Decomp,
                                InputForm::Trace, InputForm::Binary, InputForm::Auto, InputForm::Auto};
constexpr std::size_t kBuffers[] = {256, 4096, std::size_t{1} << 20};

void checkReading(std::uint8_t mode, std::uint8_t knobs, std::string_view input)
{
    ReadOptions options;
    options.form = kForms[mode % 12];
    options.order = static_cast<ByteOrder>(knobs & 3);
    options.offset = (knobs >> 2) & 7;
    options.bufferBytes = kBuffers[(mode >> 4) % 3];
    options.messageLimit = 64;
    const std::size_t step = 1 + ((knobs >> 5) * 37) % 61;

    const Reading whole = readAll(input, options, input.size() + 1, 4096);
    const Reading trickled = readAll(input, options, step, 1 + mode % 5);
    FUZZ_CHECK(same(whole, trickled));

    const bool binary = whole.form == InputForm::Binary;
    if (binary) {
        const std::size_t avail = input.size() > options.offset ? input.size() - options.offset : 0;
        FUZZ_CHECK(whole.commands.size() == avail / 8);
        for (std::size_t i = 0; i < whole.commands.size(); ++i) {
            const RawCommand &c = whole.commands[i];
            FUZZ_CHECK(c.offset == options.offset + 8 * i);
            FUZZ_CHECK(c.line == 0 && !c.address && c.w1Symbol < 0);
            unsigned char b[8];
            std::memcpy(b, input.data() + c.offset, 8);
            std::uint64_t v = 0;
            for (int k = 0; k < 8; ++k) {
                int from = k;
                switch (options.order) {
                case ByteOrder::Big: break;
                case ByteOrder::Little: from = 7 - k; break;
                case ByteOrder::V64: from = k ^ 1; break;
                case ByteOrder::N64: from = (k & 4) | (3 - (k & 3)); break;
                }
                v = (v << 8) | b[from];
            }
            FUZZ_CHECK(c.w0 == static_cast<std::uint32_t>(v >> 32) && c.w1 == static_cast<std::uint32_t>(v));
        }
        for (const ReadMessage &m : whole.messages)
            FUZZ_CHECK(m.line == 0);
        return;
    }
    const auto lines = static_cast<std::uint64_t>(std::count(input.begin(), input.end(), '\n')) + 1;
    FUZZ_CHECK(whole.commands.size() <= input.size());
    std::uint64_t lastLine = 0;
    for (std::size_t i = 0; i < whole.commands.size(); ++i) {
        const RawCommand &c = whole.commands[i];
        FUZZ_CHECK(c.offset == 8 * i);
        FUZZ_CHECK(c.line >= 1 && c.line <= lines);
        FUZZ_CHECK(c.line >= lastLine);
        lastLine = c.line;
    }
    for (const ReadMessage &m : whole.messages) {
        FUZZ_CHECK(m.line <= lines);
        FUZZ_CHECK(m.line == 0 || (m.column >= 1 && m.column <= input.size() + 1));
        FUZZ_CHECK(!m.text.empty());
    }
}

// ---- round trip ----

std::string hex(std::uint64_t v, int digits, bool lower)
{
    char s[24];
    std::snprintf(s, sizeof s, lower ? "%0*llx" : "%0*llX", digits, static_cast<unsigned long long>(v));
    return s;
}

struct Word2 {
    std::uint32_t w0, w1;
};

// Writes the commands in form `which`; returns the text and whether
// addresses are expected (from `base`, 8 per command).
std::string write(unsigned which, const std::vector<Word2> &cmds, std::uint8_t style, bool &addresses, std::uint32_t base)
{
    const bool lower = style & 1;
    std::string t;
    addresses = false;
    std::vector<unsigned> bytes;
    for (const Word2 &c : cmds)
        for (int i = 0; i < 8; ++i)
            bytes.push_back(((i < 4 ? c.w0 : c.w1) >> (8 * (3 - i % 4))) & 0xFF);
    switch (which) {
    case 0:
        for (const Word2 &c : cmds)
            t += hex(c.w0, 8, lower) + hex(c.w1, 8, lower) + (style & 2 ? "\r\n" : "\n");
        break;
    case 1:
        for (std::size_t i = 0; i < cmds.size(); ++i)
            t += (style & 2 ? "0x" : "") + hex(cmds[i].w0, 8, lower) + ((i + style) % 3 ? " " : "\n") +
                 (style & 2 ? "0x" : "") + hex(cmds[i].w1, 8, lower) + ((i + style) % 2 ? ", " : "\n");
        break;
    case 2: {
        const std::size_t per = 1 + style % 16;
        for (std::size_t i = 0; i < bytes.size(); ++i)
            t += hex(bytes[i], 2, lower) + ((i + 1) % per && i + 1 != bytes.size() ? " " : "\n");
        break;
    }
    case 3:  // xxd, padded rows and an ASCII column
        addresses = true;
        for (std::size_t row = 0; row < bytes.size(); row += 16) {
            std::string area;
            const std::size_t n = std::min<std::size_t>(16, bytes.size() - row);
            for (std::size_t i = 0; i < n; ++i)
                area += hex(bytes[row + i], 2, true) + (i % 2 && i + 1 < n ? " " : "");
            area.resize(39, ' ');
            t += hex(base + row, 8, true) + ": " + area + "  " + std::string(n, "aF0.|-"[style % 6]) + "\n";
        }
        break;
    case 4:  // memory viewer rows of words, with a dash in the middle
        addresses = true;
        for (std::size_t i = 0; i < cmds.size(); i += 2) {
            t += hex(base + 8 * i, 8, lower) + (style & 2 ? ": " : " ") + hex(cmds[i].w0, 8, lower) + " " +
                 hex(cmds[i].w1, 8, lower);
            if (i + 1 < cmds.size())
                t += " - " + hex(cmds[i + 1].w0, 8, lower) + " " + hex(cmds[i + 1].w1, 8, lower);
            else
                t.insert(t.size() - 8, "- ");  // a lone command: ADDRESS W0 - W1
            t += "\n";
        }
        break;
    case 5:
        t = "Gfx dl[] = {\n";
        for (const Word2 &c : cmds)
            t += style & 2 ? "  {{0x" + hex(c.w0, 8, lower) + ", " + std::to_string(c.w1) + "}},\n"
                           : "  0x" + hex(c.w0, 8, lower) + hex(c.w1, 8, lower) + "ULL, // c\n";
        t += "};\n";
        break;
    case 6:
        t = "glabel D_80000000\n";
        for (const Word2 &c : cmds)
            t += ".word 0x" + hex(c.w0, 8, lower) + ", " + (style & 2 ? std::to_string(c.w1) : "0x" + hex(c.w1, 1, lower)) +
                 "\n";
        break;
    case 7:
        for (std::size_t i = 0; i < cmds.size(); ++i) {
            const std::string p = i % 2 ? "temp_v1" : "temp_v0";
            const std::string a = p + "->words.w0 = 0x" + hex(cmds[i].w0, 1, lower) + ";\n";
            const std::string b = p + "->words.w1 = " + std::to_string(cmds[i].w1) + ";\n";
            t += "    " + p + " = gDisplayListHead;\n" + ((style + i) % 2 ? a + b : b + a);
        }
        break;
    case 8:
        addresses = true;
        for (std::size_t i = 0; i < cmds.size(); ++i) {
            const std::string a = hex(base + 8 * i, 8, true), w0 = hex(cmds[i].w0, 8, true), w1 = hex(cmds[i].w1, 8, true);
            switch ((style + i) % 4) {
            case 0: t += "0x" + a + ": CMD=0x" + w0.substr(0, 2) + " W0=0x" + w0 + " W1=0x" + w1 + "\n"; break;
            case 1: t += "x " + a + " (c0:" + w0 + ", c1:" + w1 + "): y\n"; break;
            case 2: t += "[0x" + a + "] " + w0 + w1 + "  NAME\n"; break;
            default: t += a + ":" + w0 + "-" + w1 + ":m(),\n"; break;
            }
        }
        break;
    }
    return t;
}

void checkRoundTrip(std::uint8_t mode, std::uint8_t knobs, std::string_view rest)
{
    std::vector<Word2> cmds;
    for (std::size_t i = 0; i + 8 <= rest.size() && cmds.size() < 200; i += 8) {
        std::uint64_t v = 0;
        for (std::size_t k = 0; k < 8; ++k)
            v = (v << 8) | static_cast<unsigned char>(rest[i + k]);
        cmds.push_back({static_cast<std::uint32_t>(v >> 32), static_cast<std::uint32_t>(v)});
    }
    const unsigned which = mode % 10;
    std::string text;
    bool addresses = false;
    const std::uint32_t base = 0x80000000u + 16u * knobs;
    ReadOptions options;
    if (which == 9) {
        options.form = InputForm::Binary;
        options.order = static_cast<ByteOrder>(knobs & 3);
        for (const Word2 &c : cmds) {
            const std::uint64_t v = (std::uint64_t{c.w0} << 32) | c.w1;
            for (int k = 0; k < 8; ++k) {
                int from = k;
                switch (options.order) {
                case ByteOrder::Big: break;
                case ByteOrder::Little: from = 7 - k; break;
                case ByteOrder::V64: from = k ^ 1; break;
                case ByteOrder::N64: from = (k & 4) | (3 - (k & 3)); break;
                }
                text += static_cast<char>(v >> (8 * (7 - from)));
            }
        }
    } else {
        text = write(which, cmds, knobs, addresses, base);
    }
    const Reading r = readAll(text, options, 1 + knobs % 97, 1 + mode % 9);
    FUZZ_CHECK(r.messages.empty());
    FUZZ_CHECK(r.commands.size() == cmds.size());
    for (std::size_t i = 0; i < cmds.size(); ++i) {
        FUZZ_CHECK(r.commands[i].w0 == cmds[i].w0 && r.commands[i].w1 == cmds[i].w1);
        if (addresses)
            FUZZ_CHECK(r.commands[i].address == std::optional<std::uint32_t>(base + 8 * static_cast<std::uint32_t>(i)));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const std::string_view rest(reinterpret_cast<const char *>(data) + 2, size - 2);
    if (data[0] & 0x80)
        checkRoundTrip(data[0], data[1], rest);
    else
        checkReading(data[0], data[1], rest);
    return 0;
}
