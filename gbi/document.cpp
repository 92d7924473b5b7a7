#include "gbi/document.h"

#include "gbi/disassembler.h"
#include "gbi/idioms.h"

#include <algorithm>

namespace dlscope::gbi {
namespace {

std::uint8_t opcodeOf(Words w) { return static_cast<std::uint8_t>(w.w0 >> 24); }

bool better(const UcodeScore& a, const UcodeScore& b)
{
    if (a.invalid != b.invalid)
        return a.invalid < b.invalid;
    if (a.raw != b.raw)
        return a.raw < b.raw;
    if (a.ends != b.ends)
        return a.ends > b.ends;
    // When the words cannot tell them apart: F3DEX2 (the most common), then
    // F3DEX3, F3DEX, F3D (as dlscope-dis chooses).
    constexpr int rank[] = {3, 2, 0, 1};
    return rank[static_cast<int>(a.ucode)] < rank[static_cast<int>(b.ucode)];
}

// Opcodes whose commands are all invalid under a microcode without decoding
// them; the others may still be held by a row and need a decode to tell.
struct InvalidTable {
    std::array<std::array<std::uint8_t, 256>, kAllUcodes.size()> kind{}; // 0 valid, 1 invalid, 2 decode to tell
    InvalidTable()
    {
        for (std::size_t u = 0; u < kAllUcodes.size(); ++u)
            for (unsigned op = 0; op < 256; ++op) {
                const auto o = static_cast<std::uint8_t>(op);
                if (opcodeDefined(kAllUcodes[u], o))
                    kind[u][op] = 0;
                else
                    kind[u][op] = candidateRows(kAllUcodes[u], o).empty() ? 1 : 2;
            }
    }
};

const InvalidTable& invalidTable()
{
    static const InvalidTable table;
    return table;
}

std::vector<UcodeScore> score(std::span<const Words> entries, const std::array<std::size_t, 256>& counts,
                              const std::array<std::size_t, 256>& bare, Names names, std::size_t rawSample)
{
    std::vector<UcodeScore> scores;
    const DecodeOptions decode{names};
    const std::span<const Words> sample = entries.first(std::min(rawSample, entries.size()));
    for (std::size_t u = 0; u < kAllUcodes.size(); ++u) {
        UcodeScore s;
        s.ucode = kAllUcodes[u];
        s.total = entries.size();
        s.ends = bare[endListOpcode(s.ucode)];
        bool decodeToTell = false;
        for (unsigned op = 0; op < 256; ++op) {
            if (!counts[op])
                continue;
            const std::uint8_t kind = invalidTable().kind[u][op];
            if (kind == 1)
                s.invalid += counts[op];
            else if (kind == 2)
                decodeToTell = true;
        }
        if (decodeToTell)
            for (const Words& w : entries)
                if (invalidTable().kind[u][opcodeOf(w)] == 2 && decodeSingle(s.ucode, w, decode).status == Status::Invalid)
                    ++s.invalid;
        for (const Words& w : sample)
            if (invalidTable().kind[u][opcodeOf(w)] == 0 && decodeSingle(s.ucode, w, decode).status == Status::Raw)
                ++s.raw;
        scores.push_back(s);
    }
    std::sort(scores.begin(), scores.end(), better);
    return scores;
}

std::string describe(const UcodeScore& s)
{
    std::string t(ucodeName(s.ucode));
    if (s.invalid != 0)
        return t + ": " + std::to_string(s.invalid) + " of " + std::to_string(s.total) + " invalid";
    t += " decodes all " + std::to_string(s.total);
    // Why a runner-up that decodes everything lost: its generic builders.
    if (s.raw != 0)
        t += " (" + std::to_string(s.raw) + " only by a generic builder)";
    return t;
}

// Names w1 by the symbol the input wrote it as, then asks the list's namer.
class RowNamer final : public AddressNamer {
public:
    RowNamer(const AddressNamer* base, std::uint32_t w1, std::string_view symbol) : base_(base), w1_(w1), symbol_(symbol) {}
    bool name(std::uint32_t address, std::string& out) const override
    {
        if (!symbol_.empty() && address == w1_) {
            out = symbol_;
            return true;
        }
        return base_ && base_->name(address, out);
    }

private:
    const AddressNamer* base_;
    std::uint32_t w1_;
    std::string_view symbol_;
};

void putHex8(std::string& out, std::uint32_t v)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (int shift = 28; shift >= 0; shift -= 4)
        out += kDigits[(v >> shift) & 0xF];
}

} // namespace

std::vector<UcodeScore> scoreUcodes(std::span<const Words> entries, Names names, std::size_t rawSample)
{
    std::array<std::size_t, 256> counts{};
    std::array<std::size_t, 256> bare{};
    for (const Words& w : entries) {
        ++counts[opcodeOf(w)];
        if ((w.w0 & 0xFFFFFF) == 0 && w.w1 == 0)
            ++bare[opcodeOf(w)];
    }
    return score(entries, counts, bare, names, rawSample);
}

std::string ucodeHint(std::span<const UcodeScore> best, Ucode used, bool automatic)
{
    if (best.empty() || best.front().total == 0)
        return {};
    const auto it = std::find_if(best.begin(), best.end(), [&](const UcodeScore& s) { return s.ucode == used; });
    if (it == best.end())
        return {};
    const UcodeScore& s = *it;
    const std::string name(ucodeName(used));
    if (automatic) {
        std::string t = "Microcode " + name + " (chosen from the words): ";
        t += s.invalid == 0 ? "decodes all " + std::to_string(s.total) + " commands"
                            : std::to_string(s.invalid) + " of " + std::to_string(s.total) + " commands are invalid";
        if (best.size() > 1) {
            const UcodeScore& second = best[1];
            if (second.invalid == s.invalid && second.raw == s.raw)
                t += "; equally valid as " + std::string(ucodeName(second.ucode));
            else
                t += "; runner-up " + describe(second);
        }
        return t;
    }
    if (s.invalid == 0)
        return name + " decodes all " + std::to_string(s.total) + " commands";
    std::string t = std::to_string(s.invalid) + " of " + std::to_string(s.total) + " commands are invalid as " + name;
    if (best.front().ucode != used && best.front().invalid < s.invalid) {
        const UcodeScore& b = best.front();
        t += "; " + std::string(ucodeName(b.ucode));
        t += b.invalid == 0 ? " decodes all " + std::to_string(b.total)
                            : " has " + std::to_string(b.invalid) + " invalid";
    }
    return t;
}

// --- Names --------------------------------------------------------------------

bool ListNamer::empty() const
{
    if (symbols.size() != 0)
        return false;
    for (unsigned s = 0; s < SegmentTable::kCount; ++s)
        if (segments.base(s))
            return false;
    return true;
}

bool ListNamer::name(std::uint32_t address, std::string& out) const
{
    if (symbols.size() == 0)
        return false;
    auto match = symbols.lookup(address);
    if (!match && SegmentTable::isSegmented(address))
        if (const auto resolved = segments.resolve(address))
            match = symbols.lookup(*resolved);
    if (!match)
        return false;
    out = formatSymbol(*match);
    return true;
}

// --- The document -------------------------------------------------------------

ListDocument::ListDocument() { rescore(); }

std::optional<std::uint32_t> ListDocument::address(std::size_t entry) const
{
    if (addresses_.empty() || !(flags_[entry] & kHasAddress))
        return std::nullopt;
    return addresses_[entry];
}

std::string_view ListDocument::symbol(std::size_t entry) const
{
    if (symbolIndex_.empty() || symbolIndex_[entry] < 0)
        return {};
    return symbolNames_[static_cast<std::size_t>(symbolIndex_[entry])];
}

Entry ListDocument::entry(std::size_t index) const
{
    Entry e;
    e.words = words_[index];
    e.edited = edited(index);
    e.address = address(index);
    e.symbol = std::string(symbol(index));
    return e;
}

std::vector<Entry> ListDocument::entries(std::size_t first, std::size_t count) const
{
    std::vector<Entry> out;
    out.reserve(count);
    for (std::size_t i = first; i < first + count; ++i)
        out.push_back(entry(i));
    return out;
}

void ListDocument::countOpcodes(std::size_t first, std::size_t count, int sign)
{
    for (std::size_t i = first; i < first + count; ++i) {
        const Words w = words_[i];
        const std::uint8_t op = opcodeOf(w);
        opcodeCounts_[op] += static_cast<std::size_t>(sign);
        if ((w.w0 & 0xFFFFFF) == 0 && w.w1 == 0)
            bareCounts_[op] += static_cast<std::size_t>(sign);
    }
}

Entry EntryRun::at(std::size_t i) const
{
    Entry e;
    e.words = words[i];
    e.edited = !edited.empty() && edited[i];
    if (!addresses.empty())
        e.address = addresses[i];
    for (const auto& [index, name] : symbols)
        if (index == i)
            e.symbol = name;
    return e;
}

void EntryRun::push_back(const Entry& e)
{
    const std::size_t i = words.size();
    words.push_back(e.words);
    // A column starts with the first entry that needs it.
    if (e.edited || !edited.empty()) {
        edited.resize(i);
        edited.push_back(e.edited);
    }
    if (e.address || !addresses.empty()) {
        addresses.resize(i);
        addresses.push_back(e.address);
    }
    if (!e.symbol.empty())
        symbols.emplace_back(static_cast<std::uint32_t>(i), e.symbol);
}

void EntryRun::markEdited() { edited.assign(words.size(), true); }

EntryRun ListDocument::run(std::size_t first, std::size_t count) const
{
    EntryRun out;
    out.words.assign(words_.begin() + static_cast<std::ptrdiff_t>(first),
                     words_.begin() + static_cast<std::ptrdiff_t>(first + count));
    for (std::size_t i = first; i < first + count; ++i) {
        if (edited(i)) {
            out.edited.resize(count);
            break;
        }
    }
    if (!out.edited.empty())
        for (std::size_t i = 0; i < count; ++i)
            out.edited[i] = edited(first + i);
    if (!addresses_.empty()) {
        out.addresses.resize(count);
        for (std::size_t i = 0; i < count; ++i)
            out.addresses[i] = address(first + i);
    }
    if (!symbolIndex_.empty())
        for (std::size_t i = 0; i < count; ++i)
            if (const std::string_view s = symbol(first + i); !s.empty())
                out.symbols.emplace_back(static_cast<std::uint32_t>(i), std::string(s));
    return out;
}

void ListDocument::splice(std::size_t first, std::size_t count, std::span<const Entry> with)
{
    EntryRun run;
    for (const Entry& e : with)
        run.push_back(e);
    splice(first, count, run);
}

void ListDocument::splice(std::size_t first, std::size_t count, const EntryRun& with)
{
    first = std::min(first, words_.size());
    count = std::min(count, words_.size() - first);
    countOpcodes(first, count, -1);

    const bool anyAddress = std::any_of(with.addresses.begin(), with.addresses.end(), [](const auto& a) { return a.has_value(); });
    const bool anySymbol = !with.symbols.empty();
    // The address and symbol columns exist once some entry needs them.
    if (anyAddress && addresses_.empty())
        addresses_.assign(words_.size(), 0);
    if (anySymbol && symbolIndex_.empty())
        symbolIndex_.assign(words_.size(), -1);

    const auto at = static_cast<std::ptrdiff_t>(first);
    const auto removed = static_cast<std::ptrdiff_t>(count);
    const auto n = with.size();
    auto replaceRun = [&](auto& column, auto fill) {
        column.erase(column.begin() + at, column.begin() + at + removed);
        column.insert(column.begin() + at, n, fill);
    };
    words_.erase(words_.begin() + at, words_.begin() + at + removed);
    words_.insert(words_.begin() + at, with.words.begin(), with.words.end());
    replaceRun(flags_, std::uint8_t{0});
    if (anyAddress || !addresses_.empty())
        replaceRun(addresses_, std::uint32_t{0});
    if (anySymbol || !symbolIndex_.empty())
        replaceRun(symbolIndex_, std::int32_t{-1});

    if (!with.edited.empty())
        for (std::size_t i = 0; i < n; ++i)
            flags_[first + i] = with.edited[i] ? kEdited : 0;
    if (anyAddress)
        for (std::size_t i = 0; i < n; ++i)
            if (with.addresses[i]) {
                flags_[first + i] |= kHasAddress;
                addresses_[first + i] = *with.addresses[i];
            }
    for (const auto& [index, name] : with.symbols) {
        symbolIndex_[first + index] = static_cast<std::int32_t>(symbolNames_.size());
        symbolNames_.push_back(name);
    }
    if (words_.empty()) {
        addresses_.clear();
        symbolIndex_.clear();
        symbolNames_.clear();
    }

    // Unfold marks move with their entries; those in the replaced run go.
    const std::ptrdiff_t delta = static_cast<std::ptrdiff_t>(n) - removed;
    std::erase_if(unfolded_, [&](std::uint32_t e) { return e >= first && e < first + count; });
    for (std::uint32_t& e : unfolded_)
        if (e >= first + count)
            e = static_cast<std::uint32_t>(static_cast<std::ptrdiff_t>(e) + delta);

    countOpcodes(first, n, +1);
    const Ucode before = ucode_;
    rescore();
    if (ucode_ != before)
        findRows();
    else
        refindRows(first, count, n);
}

void ListDocument::setOptions(const Options& options)
{
    if (options == options_)
        return;
    options_ = options;
    rescore();
    findRows();
}

void ListDocument::setNamer(ListNamer namer)
{
    namer_ = std::move(namer);
    findRows();
}

void ListDocument::rescore()
{
    // Raw commands only break ties: a sample of the list is enough.
    scores_ = score(words_, opcodeCounts_, bareCounts_, options_.names, 1u << 14);
    if (options_.ucode)
        ucode_ = *options_.ucode;
    else
        ucode_ = words_.empty() ? Ucode::F3DEX2 : scores_.front().ucode;
}

std::string ListDocument::hint() const { return ucodeHint(scores_, ucode_, !options_.ucode.has_value()); }

std::size_t ListDocument::foldedLength(std::size_t entry) const
{
    if (!mayStartIdiom(ucode_, opcodeOf(words_[entry])) || entry + 1 >= words_.size() || unfolded(entry))
        return 1;
    const std::size_t n = std::min(kMaxIdiomLength, words_.size() - entry);
    Command folded;
    if (foldIdiom(ucode_, std::span<const Words>(words_).subspan(entry, n), DecodeOptions{options_.names},
                  namer_.empty() ? nullptr : &namer_, folded))
        return folded.length;
    return 1;
}

void ListDocument::findRows()
{
    rowStarts_.clear();
    if (!folding())
        return;
    rowStarts_.reserve(words_.size());
    for (std::size_t e = 0; e < words_.size(); e += foldedLength(e))
        rowStarts_.push_back(static_cast<std::uint32_t>(e));
}

void ListDocument::refindRows(std::size_t first, std::size_t oldCount, std::size_t newCount)
{
    if (!folding())
        return;
    // A row reads at most kMaxIdiomLength entries from its start, so rows
    // starting before first - (kMaxIdiomLength - 1) cannot see the change.
    const std::size_t reach = first >= kMaxIdiomLength - 1 ? first - (kMaxIdiomLength - 1) : 0;
    const auto r0 = static_cast<std::size_t>(std::lower_bound(rowStarts_.begin(), rowStarts_.end(), reach) - rowStarts_.begin());
    const std::ptrdiff_t delta = static_cast<std::ptrdiff_t>(newCount) - static_cast<std::ptrdiff_t>(oldCount);
    const std::size_t changedEnd = first + newCount; // in new positions
    std::vector<std::uint32_t> fresh;
    // Every row before r0 ends by `first`; with none after them, the new
    // rows start at `first` (an append).
    std::size_t e = r0 < rowStarts_.size() ? rowStarts_[r0] : std::min(first, words_.size());
    // Old rows from r0 on, to find where the new rows meet them again.
    std::size_t old = r0;
    while (e < words_.size()) {
        if (e >= changedEnd) {
            const auto oldPos = static_cast<std::ptrdiff_t>(e) - delta;
            while (old < rowStarts_.size() && static_cast<std::ptrdiff_t>(rowStarts_[old]) < oldPos)
                ++old;
            if (old < rowStarts_.size() && static_cast<std::ptrdiff_t>(rowStarts_[old]) == oldPos)
                break;
        }
        fresh.push_back(static_cast<std::uint32_t>(e));
        e += foldedLength(e);
    }
    std::size_t tail = old;
    if (e >= words_.size())
        tail = rowStarts_.size();
    std::vector<std::uint32_t> rows;
    rows.reserve(r0 + fresh.size() + (rowStarts_.size() - tail));
    rows.insert(rows.end(), rowStarts_.begin(), rowStarts_.begin() + static_cast<std::ptrdiff_t>(r0));
    rows.insert(rows.end(), fresh.begin(), fresh.end());
    for (std::size_t i = tail; i < rowStarts_.size(); ++i)
        rows.push_back(static_cast<std::uint32_t>(static_cast<std::ptrdiff_t>(rowStarts_[i]) + delta));
    rowStarts_ = std::move(rows);
}

std::size_t ListDocument::rowLength(std::size_t row) const
{
    if (!folding())
        return 1;
    const std::size_t next = row + 1 < rowStarts_.size() ? rowStarts_[row + 1] : words_.size();
    return next - rowStarts_[row];
}

std::size_t ListDocument::rowOf(std::size_t entry) const
{
    if (!folding())
        return entry;
    const auto it = std::upper_bound(rowStarts_.begin(), rowStarts_.end(), entry);
    return it == rowStarts_.begin() ? 0 : static_cast<std::size_t>(it - rowStarts_.begin()) - 1;
}

bool ListDocument::rowEdited(std::size_t row) const
{
    const std::size_t start = rowStart(row);
    for (std::size_t i = 0; i < rowLength(row); ++i)
        if (edited(start + i))
            return true;
    return false;
}

bool ListDocument::unfolded(std::size_t entry) const
{
    return std::binary_search(unfolded_.begin(), unfolded_.end(), static_cast<std::uint32_t>(entry));
}

void ListDocument::setUnfolded(std::size_t entry, bool on)
{
    const auto e = static_cast<std::uint32_t>(entry);
    const auto it = std::lower_bound(unfolded_.begin(), unfolded_.end(), e);
    const bool present = it != unfolded_.end() && *it == e;
    if (on == present)
        return;
    if (on)
        unfolded_.insert(it, e);
    else
        unfolded_.erase(it);
    refindRows(entry, 1, 1);
}

Command ListDocument::decodeRow(std::size_t row) const
{
    const std::size_t start = rowStart(row);
    const std::size_t length = rowLength(row);
    const std::span<const Words> entries = std::span<const Words>(words_).subspan(start);
    if (length > 1) {
        Command folded;
        if (foldIdiom(ucode_, entries.first(std::min(kMaxIdiomLength, entries.size())), DecodeOptions{options_.names},
                      namer_.empty() ? nullptr : &namer_, folded) && folded.length == length)
            return folded;
    }
    return decodeSingle(ucode_, words_[start], DecodeOptions{options_.names});
}

std::string ListDocument::rowText(const Command& command, std::size_t row, const PrintOptions& print) const
{
    const std::size_t start = rowStart(row);
    PrintOptions options = print;
    options.names = options_.names;
    const std::string_view sym = symbol(start);
    const RowNamer namer(namer_.empty() ? nullptr : &namer_, words_[start].w1, sym);
    options.addresses = sym.empty() && namer_.empty() ? nullptr : &namer;
    return commandText(command, options);
}

std::string ListDocument::rowText(std::size_t row, const PrintOptions& print) const
{
    return rowText(decodeRow(row), row, print);
}

std::string ListDocument::format(std::span<const std::size_t> rows, CopyFormat format, const PrintOptions& print) const
{
    std::string out;
    if (format == CopyFormat::Source)
        out += "Gfx displayList[] = {\n";
    for (const std::size_t row : rows) {
        const std::size_t start = rowStart(row);
        const std::size_t length = rowLength(row);
        switch (format) {
        case CopyFormat::Static:
        case CopyFormat::Source: {
            PrintOptions p = print;
            p.dynamic = false;
            if (format == CopyFormat::Source)
                out += "    ";
            out += rowText(row, p);
            out += ',';
            if (format == CopyFormat::Source) {
                out += " /*";
                for (std::size_t i = start; i < start + length; ++i) {
                    out += ' ';
                    putHex8(out, words_[i].w0);
                    out += ' ';
                    putHex8(out, words_[i].w1);
                }
                out += " */";
            }
            out += '\n';
            break;
        }
        case CopyFormat::Dynamic: {
            PrintOptions p = print;
            p.dynamic = true;
            out += rowText(row, p);
            out += ";\n";
            break;
        }
        case CopyFormat::Hex:
            for (std::size_t i = start; i < start + length; ++i) {
                putHex8(out, words_[i].w0);
                out += ' ';
                putHex8(out, words_[i].w1);
                out += '\n';
            }
            break;
        case CopyFormat::CWords:
            for (std::size_t i = start; i < start + length; ++i) {
                out += "{{0x";
                putHex8(out, words_[i].w0);
                out += ", 0x";
                putHex8(out, words_[i].w1);
                out += "}},\n";
            }
            break;
        }
    }
    if (format == CopyFormat::Source)
        out += "};\n";
    return out;
}

std::string ListDocument::binary() const
{
    std::string out;
    out.reserve(words_.size() * 8);
    for (const Words& w : words_)
        for (const std::uint32_t v : {w.w0, w.w1})
            for (int shift = 24; shift >= 0; shift -= 8)
                out += static_cast<char>((v >> shift) & 0xFF);
    return out;
}

std::size_t ListDocument::sideBytes() const
{
    std::size_t bytes = flags_.capacity() + addresses_.capacity() * 4 + symbolIndex_.capacity() * 4
                      + rowStarts_.capacity() * 4 + unfolded_.capacity() * 4;
    for (const std::string& s : symbolNames_)
        bytes += sizeof(std::string) + (s.size() > 15 ? s.capacity() : 0);
    return bytes;
}

} // namespace dlscope::gbi
