#include "gbi/symbols.h"

#include <algorithm>
#include <cstdio>

namespace dlscope::gbi {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string_view trim(std::string_view s)
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// Hex, 0x optional, 1..16 digits, the whole of s.
std::optional<std::uint64_t> parseHex(std::string_view s)
{
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'))
        s.remove_prefix(2);
    if (s.empty() || s.size() > 16)
        return std::nullopt;
    std::uint64_t v = 0;
    for (char c : s) {
        const int d = hexDigit(c);
        if (d < 0)
            return std::nullopt;
        v = (v << 4) | static_cast<unsigned>(d);
    }
    return v;
}

// A 32-bit address from a hex field that may be 64 bits wide (nm on a 64-bit host).
std::optional<std::uint32_t> parseAddress(std::string_view s)
{
    const auto v = parseHex(s);
    if (!v)
        return std::nullopt;
    const auto high = static_cast<std::uint32_t>(*v >> 32);
    if (high != 0 && high != 0xFFFFFFFFu)
        return std::nullopt;
    return static_cast<std::uint32_t>(*v);
}

std::string quoted(std::string_view s)
{
    std::string out = "'";
    std::size_t n = 0;
    for (const char c : s) {
        if (n++ == 32) {
            out += "...";
            break;
        }
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7F) {
            out += c;
        } else {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\x%02X", u);
            out += esc;
        }
    }
    return out + "'";
}

struct Field {
    std::string_view text;
    std::size_t column;  // 1-based
};

// The first few blank-separated fields; rest: where the field after them starts.
std::vector<Field> fields(std::string_view line, std::size_t max)
{
    std::vector<Field> out;
    std::size_t i = 0;
    while (out.size() < max) {
        while (i < line.size() && isBlank(line[i]))
            ++i;
        if (i == line.size())
            break;
        const std::size_t start = i;
        while (i < line.size() && !isBlank(line[i]))
            ++i;
        out.push_back({line.substr(start, i - start), start + 1});
    }
    return out;
}

} // namespace

void SymbolTable::add(std::uint32_t address, std::string_view name, std::uint32_t size)
{
    symbols_.push_back(Symbol{address, size, static_cast<std::uint32_t>(symbols_.size()), -1, std::string(name)});
    built_ = false;
}

std::vector<ReadMessage> SymbolTable::load(std::string_view text)
{
    std::vector<ReadMessage> messages;
    std::uint64_t lineNo = 0;
    while (!text.empty()) {
        ++lineNo;
        const auto nl = text.find('\n');
        const std::string_view raw = text.substr(0, nl);
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        const std::string_view line = trim(raw);
        if (line.empty() || line[0] == '#' || line.substr(0, 2) == "//")
            continue;
        const std::size_t indent = static_cast<std::size_t>(line.data() - raw.data());
        auto bad = [&](std::size_t column, std::string what, std::string_view found) {
            messages.push_back({lineNo, indent + column, "expected " + what + ", found " + quoted(found)});
        };

        // NAME = ADDRESS; // size:0x40
        if (const auto eq = line.find('='); eq != std::string_view::npos) {
            const std::string_view name = trim(line.substr(0, eq));
            std::string_view rest = line.substr(eq + 1);
            const auto semi = rest.find(';');
            const std::string_view comment = semi == std::string_view::npos ? std::string_view{} : rest.substr(semi + 1);
            const std::string_view value = trim(rest.substr(0, semi));
            if (name.empty() || name.find_first_of(" \t") != std::string_view::npos) {
                bad(1, "a symbol name before '='", line.substr(0, eq));
                continue;
            }
            const auto address = parseAddress(value);
            if (!address) {
                bad(static_cast<std::size_t>(value.data() - line.data()) + 1, "a hex address after '='", value);
                continue;
            }
            std::uint32_t size = 0;
            if (const auto k = comment.find("size:"); k != std::string_view::npos) {
                std::string_view s = comment.substr(k + 5);
                s = s.substr(0, std::min(s.size(), s.find_first_of(" \t,;")));
                const auto v = parseHex(s);
                if (!v || *v > 0xFFFFFFFFu) {
                    bad(static_cast<std::size_t>(s.data() - line.data()) + 1, "a hex size after 'size:'", s);
                    continue;
                }
                size = static_cast<std::uint32_t>(*v);
            }
            add(*address, name, size);
            continue;
        }

        const std::vector<Field> f = fields(line, 3);
        // nm's undefined symbols: "U name", no address.
        if (f.size() == 2 && f[0].text.size() == 1 && parseHex(f[0].text) == std::nullopt)
            continue;
        const auto address = parseAddress(f[0].text);
        if (!address) {
            bad(f[0].column, parseHex(f[0].text) ? "an address of 32 bits" : "a hex address", f[0].text);
            continue;
        }
        if (f.size() < 2) {
            bad(f[0].column + f[0].text.size(), "a symbol name after the address", "");
            continue;
        }
        std::uint32_t size = 0;
        std::size_t nameField = 1;
        if (f.size() >= 3 && f[1].text.size() == 1) {
            nameField = 2;  // nm: ADDRESS TYPE NAME
        } else if (f.size() >= 3 && parseHex(f[1].text)) {
            // nm -S: ADDRESS SIZE TYPE NAME
            const std::vector<Field> g = fields(line, 4);
            if (g.size() == 4 && g[2].text.size() == 1) {
                const auto v = parseHex(g[1].text);
                if (*v > 0xFFFFFFFFu) {
                    bad(g[1].column, "a size of 32 bits", g[1].text);
                    continue;
                }
                size = static_cast<std::uint32_t>(*v);
                nameField = 3;
                add(*address, trim(line.substr(g[3].column - 1)), size);
                continue;
            }
        }
        add(*address, trim(line.substr(f[nameField].column - 1)), size);
    }
    return messages;
}

void SymbolTable::build() const
{
    if (built_)
        return;
    std::sort(symbols_.begin(), symbols_.end(), [](const Symbol &a, const Symbol &b) {
        return a.address != b.address ? a.address < b.address : a.order < b.order;
    });
    // Parents: a stack of the sized symbols whose ranges are still open.
    std::vector<std::int32_t> open;
    sizedBefore_.assign(symbols_.size(), -1);
    std::int32_t lastSized = -1;
    for (std::size_t i = 0; i < symbols_.size(); ++i) {
        Symbol &s = symbols_[i];
        s.parent = -1;
        if (s.size != 0) {
            while (!open.empty()) {
                const Symbol &top = symbols_[static_cast<std::size_t>(open.back())];
                if (std::uint64_t{top.address} + top.size > s.address)
                    break;
                open.pop_back();
            }
            s.parent = open.empty() ? -1 : open.back();
            open.push_back(static_cast<std::int32_t>(i));
            lastSized = static_cast<std::int32_t>(i);
        }
        sizedBefore_[i] = lastSized;
    }
    byName_.resize(symbols_.size());
    for (std::size_t i = 0; i < byName_.size(); ++i)
        byName_[i] = static_cast<std::uint32_t>(i);
    std::sort(byName_.begin(), byName_.end(), [this](std::uint32_t a, std::uint32_t b) {
        const Symbol &x = symbols_[a], &y = symbols_[b];
        return x.name != y.name ? x.name < y.name : x.order < y.order;
    });
    built_ = true;
}

std::optional<SymbolMatch> SymbolTable::lookup(std::uint32_t address) const
{
    build();
    auto it = std::upper_bound(symbols_.begin(), symbols_.end(), address,
                               [](std::uint32_t a, const Symbol &s) { return a < s.address; });
    if (it == symbols_.begin())
        return std::nullopt;
    const auto last = static_cast<std::size_t>(it - symbols_.begin()) - 1;
    if (symbols_[last].address == address) {
        auto first = std::lower_bound(symbols_.begin(), it, address,
                                      [](const Symbol &s, std::uint32_t a) { return s.address < a; });
        return SymbolMatch{first->name, 0};
    }
    for (std::int32_t j = sizedBefore_[last]; j >= 0; j = symbols_[static_cast<std::size_t>(j)].parent) {
        const Symbol &s = symbols_[static_cast<std::size_t>(j)];
        if (address - s.address < s.size)
            return SymbolMatch{s.name, address - s.address};
    }
    return std::nullopt;
}

std::optional<std::uint32_t> SymbolTable::find(std::string_view name) const
{
    build();
    auto it = std::lower_bound(byName_.begin(), byName_.end(), name,
                               [this](std::uint32_t i, std::string_view n) { return symbols_[i].name < n; });
    if (it == byName_.end() || symbols_[*it].name != name)
        return std::nullopt;
    return symbols_[*it].address;
}

std::string formatSymbol(const SymbolMatch &match)
{
    std::string s(match.name);
    if (match.delta != 0) {
        char text[24];
        std::snprintf(text, sizeof text, " + 0x%X", match.delta);
        s += text;
    }
    return s;
}

// ---------------------------------------------------------------------------

void SegmentTable::set(unsigned segment, std::uint32_t base)
{
    if (segment < kCount)
        bases_[segment] = base;
}

void SegmentTable::clear(unsigned segment)
{
    if (segment < kCount)
        bases_[segment].reset();
}

std::optional<std::uint32_t> SegmentTable::base(unsigned segment) const
{
    return segment < kCount ? bases_[segment] : std::nullopt;
}

std::optional<std::string> SegmentTable::assign(std::string_view text)
{
    const std::string_view t = trim(text);
    const auto eq = t.find('=');
    if (eq == std::string_view::npos)
        return "expected N=ADDRESS (a segment 0-15 and a hex address), found " + quoted(t);
    const std::string_view n = trim(t.substr(0, eq));
    const std::string_view a = trim(t.substr(eq + 1));
    std::optional<std::uint64_t> segment;
    if (n.size() > 2 && n[0] == '0' && (n[1] == 'x' || n[1] == 'X')) {
        segment = parseHex(n);
    } else if (!n.empty() && n.size() <= 2 && std::all_of(n.begin(), n.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        segment = std::stoul(std::string(n));
    } else if (n.size() == 1 && hexDigit(n[0]) >= 0) {
        segment = static_cast<std::uint64_t>(hexDigit(n[0]));
    }
    if (!segment || *segment >= kCount)
        return "expected a segment number 0-15 before '=', found " + quoted(n);
    const auto v = parseHex(a);
    if (!v || *v > 0xFFFFFFFFu)
        return "expected a hex address of at most 8 digits after '=', found " + quoted(a);
    bases_[static_cast<std::size_t>(*segment)] = static_cast<std::uint32_t>(*v);
    return std::nullopt;
}

std::optional<std::uint32_t> SegmentTable::resolve(std::uint32_t address) const
{
    if (!isSegmented(address))
        return std::nullopt;
    const auto &b = bases_[segmentOf(address)];
    if (!b)
        return std::nullopt;
    return *b + (address & 0x00FFFFFFu);
}

} // namespace dlscope::gbi
