// Measures the display-list model on the shared benchmark buffer.
//
//   gbi_bench decode FILE.bin [N]   decode as f3d and print the static macros
//                                   of the first N commands (all by default)
//   gbi_bench read FILE [N]         only read the commands (text or binary)
//   gbi_bench read-decode FILE [N]  read, decode and print, as dlscope-dis does
//   gbi_bench check FILE.bin [N]    only walk the list and run every check (f3d)
//   gbi_bench floor FILE.bin [N]    the floor: write each command's words as
//                                   hex text of the same length as our output
//
// Each mode prints one JSON line: commands, output bytes, seconds, commands
// per second. The measured work is in the function `measured` so that
// `valgrind --tool=callgrind --toggle-collect='measured*'` counts exactly it;
// a warm-up before it builds the tables once, as a long run does.

#include "gbi/checks.h"
#include "gbi/disassembler.h"
#include "gbi/reader.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

using namespace dlscope::gbi;

namespace {

struct Result {
    std::size_t commands = 0;
    std::size_t bytes = 0;
};

std::vector<Words> loadBinary(const char* path, std::size_t limit)
{
    std::vector<Words> words;
    std::FILE* f = std::fopen(path, "rb");
    if (!f) {
        std::perror(path);
        std::exit(2);
    }
    unsigned char b[8];
    while (words.size() < limit && std::fread(b, 1, 8, f) == 8)
        words.push_back({static_cast<std::uint32_t>(b[0]) << 24 | static_cast<std::uint32_t>(b[1]) << 16
                             | static_cast<std::uint32_t>(b[2]) << 8 | b[3],
                         static_cast<std::uint32_t>(b[4]) << 24 | static_cast<std::uint32_t>(b[5]) << 16
                             | static_cast<std::uint32_t>(b[6]) << 8 | b[7]});
    std::fclose(f);
    return words;
}

void warmUp()
{
    TextSink sink;
    // A preset and a flag render mode, a combiner, an other-mode field, a
    // geometry mode, a texture and a tile: every table the printer builds
    // on first use.
    const Words sample[] = {{0xB900031D, 0x00552078}, {0xB900031D, 0xFFFFFFFF}, {0xFC127E03, 0xFFFFF3F8},
                            {0xBA001402, 0x00300000}, {0xB7000000, 0x00002205}, {0xBB000001, 0xFFFFFFFF},
                            {0xF5100000, 0x07014050}};
    ListOptions lo;
    for (Ucode u : kAllUcodes) {
        for (const Words& w : sample)
            printCommand(decodeAt(u, std::span<const Words>(&w, 1), lo), PrintOptions{}, sink);
        checkList(u, sample, CheckOptions{}); // the walker's and the checks' tables
    }
}

__attribute__((noinline)) Result measuredDecode(const std::vector<Words>& words)
{
    TextSink out;
    const PrintOptions print;
    const ListOptions list;
    Result r;
    const std::span<const Words> all(words);
    for (std::size_t i = 0; i < words.size();) {
        const Command c = decodeAt(Ucode::F3D, all.subspan(i), list);
        printCommand(c, print, out);
        out.put(",\n");
        i += c.length;
        if (out.size() >= (1u << 20)) {
            r.bytes += out.size();
            out.clear();
        }
    }
    r.bytes += out.size();
    r.commands = words.size();
    return r;
}

__attribute__((noinline)) Result measuredCheck(const std::vector<Words>& words)
{
    const CheckReport report = checkList(Ucode::F3D, words, CheckOptions{});
    Result r;
    r.commands = words.size();
    r.bytes = report.findings.size();
    return r;
}

__attribute__((noinline)) Result measuredFloor(const std::vector<Words>& words)
{
    // The words as hex, padded with spaces to the mean length of our lines.
    static constexpr char hex[] = "0123456789ABCDEF";
    TextSink out;
    Result r;
    for (const Words& w : words) {
        out.reserve(128);
        char* p = out.cursor();
        for (int i = 7; i >= 0; --i)
            p[7 - i] = hex[(w.w0 >> (4 * i)) & 15];
        for (int i = 7; i >= 0; --i)
            p[15 - i] = hex[(w.w1 >> (4 * i)) & 15];
        std::memset(p + 16, ' ', 54);
        p[70] = ',';
        p[71] = '\n';
        out.advance(72);
        if (out.size() >= (1u << 20)) {
            r.bytes += out.size();
            out.clear();
        }
    }
    r.bytes += out.size();
    r.commands = words.size();
    return r;
}

__attribute__((noinline)) Result measuredRead(const char* path, std::size_t limit, bool decode)
{
    std::FILE* f = std::fopen(path, "rb");
    if (!f) {
        std::perror(path);
        std::exit(2);
    }
    FileSource source(f);
    ReadOptions options;
    if (limit != static_cast<std::size_t>(-1))
        options.count = limit;
    ListReader reader(source, options);
    std::vector<RawCommand> batch(8192);
    std::vector<Words> words;
    TextSink out;
    const PrintOptions print;
    const ListOptions list;
    Result r;
    for (;;) {
        const std::size_t n = reader.read(batch);
        if (n == 0)
            break;
        r.commands += n;
        if (!decode)
            continue;
        words.clear();
        for (std::size_t i = 0; i < n; ++i)
            words.push_back({batch[i].w0, batch[i].w1});
        // Folding needs no look-ahead across batches on this buffer (no
        // multi-command macros in it).
        const std::span<const Words> all(words);
        for (std::size_t i = 0; i < n;) {
            const Command c = decodeAt(Ucode::F3D, all.subspan(i), list);
            printCommand(c, print, out);
            out.put(",\n");
            i += c.length;
        }
        r.bytes += out.size();
        out.clear();
    }
    std::fclose(f);
    return r;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: gbi_bench decode|read|read-decode|check|floor FILE [N]\n");
        return 2;
    }
    const std::string_view mode = argv[1];
    const std::size_t limit = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : static_cast<std::size_t>(-1);
    warmUp();
    std::vector<Words> words;
    if (mode == "decode" || mode == "floor" || mode == "check")
        words = loadBinary(argv[2], limit);
    const auto t0 = std::chrono::steady_clock::now();
    Result r;
    if (mode == "decode")
        r = measuredDecode(words);
    else if (mode == "floor")
        r = measuredFloor(words);
    else if (mode == "check")
        r = measuredCheck(words);
    else if (mode == "read")
        r = measuredRead(argv[2], limit, false);
    else if (mode == "read-decode")
        r = measuredRead(argv[2], limit, true);
    else {
        std::fprintf(stderr, "unknown mode\n");
        return 2;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("{\"mode\": \"%s\", \"commands\": %zu, \"bytes\": %zu, \"seconds\": %.6f, \"per_second\": %.0f}\n",
                std::string(mode).c_str(), r.commands, r.bytes, seconds, seconds > 0 ? r.commands / seconds : 0.0);
    return 0;
}
