#include "gbi/reader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <deque>
#include <unordered_map>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#if defined(__unix__) || defined(__APPLE__)
#include <cerrno>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#define DLSCOPE_POSIX_READ 1
#endif

namespace dlscope::gbi {

namespace {

constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kHigh = 0x8080808080808080ULL;
constexpr std::size_t kSampleBytes = 4096;     // looked at to tell binary from text
constexpr std::size_t kQueueHigh = 256;        // a long line hands its commands out in batches of this size
constexpr std::size_t kMaxOpenDecomp = 64;     // unfinished decompiler commands kept waiting for their other word

// One instruction where the compiler offers it: these sit in the per-command paths.
constexpr std::uint32_t swap32(std::uint32_t v)
{
#if defined(__GNUC__) || defined(__clang__)
    return __builtin_bswap32(v);
#else
    return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
#endif
}

constexpr std::uint64_t swap64(std::uint64_t v)
{
#if defined(__GNUC__) || defined(__clang__)
    return __builtin_bswap64(v);
#else
    return (std::uint64_t{swap32(static_cast<std::uint32_t>(v))} << 32) | swap32(static_cast<std::uint32_t>(v >> 32));
#endif
}

inline std::uint64_t load64le(const char *p)
{
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::big)
        v = swap64(v);
    return v;
}

inline std::uint64_t load64be(const char *p)
{
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::little)
        v = swap64(v);
    return v;
}

inline std::uint32_t load32le(const char *p)
{
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    if constexpr (std::endian::native == std::endian::big)
        v = swap32(v);
    return v;
}

constexpr std::array<std::int8_t, 256> makeHexTable()
{
    std::array<std::int8_t, 256> t{};
    for (auto &v : t)
        v = -1;
    for (int c = '0'; c <= '9'; ++c)
        t[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - '0');
    for (int c = 'a'; c <= 'f'; ++c) {
        t[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - 'a' + 10);
        t[static_cast<std::size_t>(c - 'a' + 'A')] = static_cast<std::int8_t>(c - 'a' + 10);
    }
    return t;
}
constexpr std::array<std::int8_t, 256> kHexTable = makeHexTable();

inline int hexDigit(char c) { return kHexTable[static_cast<unsigned char>(c)]; }
inline bool isHex(char c) { return hexDigit(c) >= 0; }
inline bool isDigit(char c) { return c >= '0' && c <= '9'; }
inline bool isAlpha(char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }
inline bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }
inline bool isIdentStart(char c) { return isAlpha(c) || c == '_' || c == '$' || c == '.'; }
inline bool isIdentChar(char c) { return isIdentStart(c) || isDigit(c); }
inline bool isSuffix(char c) { return c == 'u' || c == 'U' || c == 'l' || c == 'L'; }

// Eight hex digits at p, p[0] the most significant, without a branch per
// digit: every byte is range-checked and converted in one 64-bit register.
inline bool hex8(const char *p, std::uint32_t &out)
{
    const std::uint64_t x = load64le(p);  // p[0] in the low byte
    // High bit of each byte set when the byte is '0'..'9' (x + 0x50 >= 0x80 and x + 0x46 < 0x80).
    const std::uint64_t digit = (x + 0x50 * kOnes) & ~(x + 0x46 * kOnes);
    const std::uint64_t folded = x | 0x20 * kOnes;
    // ... or 'a'..'f' after folding case.
    const std::uint64_t letter = (folded + 0x1F * kOnes) & ~(folded + 0x19 * kOnes);
    // Bytes with their own high bit set are not ASCII: they fail here, and
    // whatever their carries did to the neighbours does not matter then.
    const bool ok = ((digit | letter) & ~x & kHigh) == kHigh;
    const std::uint64_t letters = (letter & kHigh) >> 7;
    const std::uint64_t nibbles = (x & 0x0F * kOnes) + letters * 9;
    std::uint64_t t = ((nibbles << 4) | (nibbles >> 8)) & 0x00FF00FF00FF00FFULL;  // bytes 0,2,4,6 hold the values
    t = (t | (t >> 8)) & 0x0000FFFF0000FFFFULL;
    t |= t >> 16;
    out = swap32(static_cast<std::uint32_t>(t));
    return ok;
}

// Sixteen hex digits at p as one command (the first digit most significant).
inline bool hex16(const char *p, std::uint64_t &out)
{
#if defined(__SSE2__)
    // All sixteen digits at once. Signed byte compares: bytes >= 0x80 are
    // negative and fail both ranges.
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    const __m128i digit = _mm_and_si128(_mm_cmpgt_epi8(c, _mm_set1_epi8('0' - 1)), _mm_cmplt_epi8(c, _mm_set1_epi8('9' + 1)));
    const __m128i folded = _mm_or_si128(c, _mm_set1_epi8(0x20));
    const __m128i letter =
        _mm_and_si128(_mm_cmpgt_epi8(folded, _mm_set1_epi8('a' - 1)), _mm_cmplt_epi8(folded, _mm_set1_epi8('f' + 1)));
    const bool ok = _mm_movemask_epi8(_mm_or_si128(digit, letter)) == 0xFFFF;
    const __m128i nibbles =
        _mm_add_epi8(_mm_and_si128(c, _mm_set1_epi8(0x0F)), _mm_and_si128(letter, _mm_set1_epi8(9)));
    // Each 16-bit lane holds two digits, the first in its low byte: make that byte first << 4 | second.
    const __m128i pairs = _mm_and_si128(_mm_or_si128(_mm_slli_epi16(nibbles, 4), _mm_srli_epi16(nibbles, 8)),
                                        _mm_set1_epi16(0x00FF));
    const __m128i bytes = _mm_packus_epi16(pairs, pairs);  // the 8 bytes in text order
    out = swap64(static_cast<std::uint64_t>(_mm_cvtsi128_si64(bytes)));
    return ok;
#else
    std::uint32_t hi, lo;
    const bool a = hex8(p, hi);
    const bool b = hex8(p + 8, lo);
    out = (std::uint64_t{hi} << 32) | lo;
    return a & b;
#endif
}

inline std::uint64_t hexValue(const char *d, std::size_t n)
{
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < n; ++i)
        v = (v << 4) | static_cast<std::uint64_t>(hexDigit(d[i]));
    return v;
}

inline char *skipBlanks(char *q, char *e)
{
    while (q < e && isBlank(*q))
        ++q;
    return q;
}

// A number token: optional 0x, then hex digits. count 0: none here.
struct Num {
    char *digits = nullptr;
    char *end = nullptr;
    std::size_t count = 0;
    bool has0x = false;
};

inline Num scanNumber(char *q, char *e)
{
    Num n;
    char *d = q;
    if (e - q >= 3 && q[0] == '0' && (q[1] | 0x20) == 'x' && isHex(q[2])) {
        n.has0x = true;
        d = q + 2;
    }
    char *r = d;
    while (r < e && isHex(*r))
        ++r;
    n.digits = d;
    n.end = r;
    n.count = static_cast<std::size_t>(r - d);
    if (n.count == 0)
        n.end = q;
    return n;
}

// The number of 'l's of a C integer suffix (u, l, ul, lu, ll, ull, llu in
// any case, the two l's alike), or -1 when it is not one.
int suffixLongs(std::string_view s)
{
    if (s.empty())
        return 0;
    if (s.size() > 3)
        return -1;
    std::size_t u = s.find_first_of("uU");
    if (u != std::string_view::npos) {
        if (u != 0 && u != s.size() - 1)
            return -1;
        s = u == 0 ? s.substr(1) : s.substr(0, s.size() - 1);
    }
    if (s == "l" || s == "L")
        return 1;
    if (s == "ll" || s == "LL")
        return 2;
    return s.empty() && u != std::string_view::npos ? 0 : -1;
}

inline bool allDecimal(const char *d, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i)
        if (!isDigit(d[i]))
            return false;
    return true;
}

// The token at q for a message: up to the next blank, at most 24 bytes,
// anything outside printable ASCII written as \xNN.
std::string quote(const char *q, const char *e)
{
    if (q == e || *q == '\n')
        return "the end of the line";
    std::string s = "'";
    std::size_t n = 0;
    for (; q < e && !isBlank(*q) && *q != '\n'; ++q, ++n) {
        if (n == 24) {
            s += "...";
            break;
        }
        const auto c = static_cast<unsigned char>(*q);
        if (c >= 0x20 && c < 0x7F) {
            s += static_cast<char>(c);
        } else {
            static constexpr char digits[] = "0123456789ABCDEF";
            s += "\\x";
            s += digits[c >> 4];
            s += digits[c & 15];
        }
    }
    return s + "'";
}

std::string hexText(std::uint64_t v)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%08llX", static_cast<unsigned long long>(v));
    return text;
}

// A valid UTF-8 sequence at s[i]: its length, or 0. A sequence cut by the end
// of the sample counts as valid (more of it follows).
std::size_t utf8Length(const unsigned char *s, std::size_t i, std::size_t n)
{
    const unsigned c = s[i];
    std::size_t len = 0;
    unsigned lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    for (std::size_t k = 1; k < len; ++k) {
        if (i + k >= n)
            return n - i;
        const unsigned b = s[i + k];
        if (b < (k == 1 ? lo : 0x80) || b > (k == 1 ? hi : 0xBF))
            return 0;
    }
    return len;
}

bool looksBinary(const char *data, std::size_t n)
{
    const auto *s = reinterpret_cast<const unsigned char *>(data);
    std::size_t bad = 0;
    for (std::size_t i = 0; i < n;) {
        const unsigned c = s[i];
        if (c < 0x80) {
            if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != '\v' && c != 0x1B) || c == 0x7F)
                ++bad;
            ++i;
            continue;
        }
        const std::size_t len = utf8Length(s, i, n);
        if (len == 0) {
            ++bad;
            ++i;
        } else {
            i += len;
        }
    }
    return bad * 10 > n;
}

bool looksUtf16(const char *data, std::size_t n)
{
    const auto *s = reinterpret_cast<const unsigned char *>(data);
    if (n < 4 || !((s[0] == 0xFF && s[1] == 0xFE) || (s[0] == 0xFE && s[1] == 0xFF)))
        return false;
    const std::size_t high = s[0] == 0xFF ? 1 : 0;  // which byte of a unit is the high one
    std::size_t units = 0, zero = 0;
    for (std::size_t i = 2; i + 1 < n && units < 64; i += 2, ++units)
        zero += s[i + high] == 0;
    return zero * 2 >= units;
}

// The address a symbol name encodes in its last 8 characters after '_':
// D_800E8D40, sDisplayList_80123456.
std::optional<std::uint32_t> nameAddress(std::string_view name)
{
    if (name.size() < 10 || name[name.size() - 9] != '_')
        return std::nullopt;
    std::uint32_t v = 0;
    if (!hex8(name.data() + name.size() - 8, v))
        return std::nullopt;
    return v;
}

bool equalsLower(std::string_view text, std::string_view lower)
{
    if (text.size() != lower.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 32);
        if (c != lower[i])
            return false;
    }
    return true;
}

// Bytes per value of an assembler data directive; 0 for other directives.
unsigned directiveUnit(std::string_view d)
{
    static constexpr std::pair<std::string_view, unsigned> table[] = {
        {".word", 4}, {".4byte", 4}, {".long", 4}, {".int", 4},
        {".dword", 8}, {".8byte", 8}, {".quad", 8},
        {".half", 2}, {".hword", 2}, {".short", 2}, {".2byte", 2},
        {".byte", 1}, {".1byte", 1},
    };
    for (const auto &[name, unit] : table)
        if (equalsLower(d, name))
            return unit;
    return 0;
}

// What a line is, as far as the forced form is concerned.
enum class Kind : std::uint8_t { Words, ByteRow, AddressRow, Trace, Decomp, Asm, CSource, Code };

enum class Phase : std::uint8_t { LineStart, Content, Body, Skip, Comment, Finished };
enum class BodyKind : std::uint8_t { Words, Asm, Groups };
enum class Status : std::uint8_t { Continue, EndOfLine, SkipRest, Yield, NeedData, Comment };

struct Body {
    BodyKind kind = BodyKind::Words;
    bool commentStop = false;  // the words of a C macro's comment: "*/" ends them
    bool data = false;         // something was read on this line
    // words
    bool cLine = false;        // 0x or a brace on this line: short numbers without 0x are decimal
    bool saw0x = false, sawSep = false, sawC = false;
    std::uint64_t runDigits = 0;  // inside a long run of hex digits read as bytes
    std::size_t tokens = 0;
    bool runLine = false;         // the line is one long run of hex digits (xxd -p)
    // assembly
    unsigned unit = 4;
    // groups
    bool hasAddress = false, sawDash = false, afterDash = false, shortGroup = false;
    std::uint64_t rowAddress = 0, rowBytes = 0;
    std::size_t width = 0;
};

} // namespace

// ---------------------------------------------------------------------------

struct ListReader::State {
    State(ByteSource &source, const ReadOptions &options)
        : src(source), opt(options),
          cap(std::max<std::size_t>(options.bufferBytes, 256)), maxToken(std::min<std::size_t>(cap / 4, 4096)),
          storage(new char[cap]), buf(storage.get()), p(buf), end(buf), lineEnd(buf), scanFrom(buf)
    {
        queue.reserve(kQueueHigh * 2);
    }

    ByteSource &src;
    ReadOptions opt;
    std::size_t cap, maxToken;
    std::unique_ptr<char[]> storage;
    char *buf, *p, *end;
    std::uint64_t base = 0;  // stream position of buf[0]
    bool eof = false, started = false, binary = false, done = false;
    InputForm detected = InputForm::Auto;

    std::vector<ReadMessage> messages;
    std::uint64_t kept = 0, suppressed = 0;

    std::vector<RawCommand> queue;
    std::size_t qhead = 0;
    std::uint64_t emitted = 0, listOffset = 0;

    // Text position.
    std::uint64_t line = 1, lineStartAbs = 0;
    char *lineEnd, *scanFrom;
    bool lineWhole = true;  // lineEnd is the newline (or the end of the input), not the end of the buffer
    // Where classifying a line may look: the line's end, or for a line longer
    // than the buffer a fixed half buffer ahead, so that no decision depends
    // on how the source happened to deliver the bytes.
    char *viewEnd = nullptr;
    bool longLine = false;  // the line did not fit the buffer
    Phase phase = Phase::LineStart;
    bool inComment = false, bodyAfterComment = false;
    std::uint64_t commentLine = 0, commentColumn = 0;
    Body body;
    bool cContext = false;  // a C declaration was seen
    bool afterRunLine = false;  // the last line with data was one long hex run: a short run may end it

    // Line-wide features, found once per line (or per buffer refill).
    struct Scan {
        bool done = false;
        char *limit = nullptr;  // searched up to here
        char *words = nullptr, *c0 = nullptr, *kv0 = nullptr, *kv1 = nullptr;
    } scan;

    // The command being assembled from bytes.
    std::uint64_t acc = 0;
    unsigned accBytes = 0;
    std::uint64_t accLine = 0, accColumn = 0;
    std::optional<std::uint32_t> accAddress;
    std::int32_t accSymbol = -1;

    std::optional<std::uint64_t> lastRow;
    bool backwardsNoted = false;

    std::deque<std::string> names;  // deque: views into it stay valid
    std::unordered_map<std::string_view, std::int32_t> nameIndex;
    std::vector<Label> labels;

    struct DecompWord {
        enum : std::uint8_t { Unset, Set, Bad } state = Unset;
        std::uint32_t value = 0;
        std::int32_t symbol = -1;
    };
    struct DecompCommand {
        std::string key;
        DecompWord w[2];
        std::uint64_t line = 0, column = 0;
        bool open = true, dead = false;
    };
    std::deque<DecompCommand> decomp;
    std::unordered_map<std::string, std::uint64_t> openDecomp;  // pointer text -> serial of its open command
    std::uint64_t decompBase = 0;                               // serial of decomp.front()

    // ---- positions and messages ----

    std::uint64_t abs(const char *q) const { return base + static_cast<std::uint64_t>(q - buf); }
    std::uint64_t columnOf(const char *q) const { return abs(q) - lineStartAbs + 1; }

    void note(std::uint64_t ln, std::uint64_t col, std::string text)
    {
        if (kept >= opt.messageLimit) {
            ++suppressed;
            return;
        }
        ++kept;
        messages.push_back({ln, col, std::move(text)});
    }
    void noteAt(const char *q, std::string text) { note(line, columnOf(q), std::move(text)); }

    bool forced(InputForm f) const { return opt.form == f; }

    bool accepts(Kind k) const
    {
        switch (opt.form) {
        case InputForm::Auto: return true;
        case InputForm::Hex: return k == Kind::Words;
        case InputForm::CArray: return k == Kind::Words || k == Kind::CSource || k == Kind::Code;
        case InputForm::Bytes:
        case InputForm::Xxd:
        case InputForm::MemView: return k == Kind::ByteRow || k == Kind::AddressRow;
        case InputForm::Asm: return k == Kind::Asm;
        case InputForm::Decomp: return k == Kind::Decomp || k == Kind::Code;
        case InputForm::Trace: return k == Kind::Trace;
        case InputForm::Binary: return false;
        }
        return false;
    }

    std::string_view expected() const
    {
        switch (opt.form) {
        case InputForm::Bytes: return "hex bytes";
        case InputForm::Xxd: return "an xxd row";
        case InputForm::MemView: return "a memory-viewer row";
        case InputForm::CArray: return "C array data";
        case InputForm::Asm: return "assembly data";
        case InputForm::Decomp: return "a decompiled words assignment";
        case InputForm::Trace: return "a trace line";
        default: return "hex words";
        }
    }

    void noteForm(InputForm f)
    {
        if (detected == InputForm::Auto)
            detected = f;
    }

    std::int32_t intern(std::string_view name)
    {
        if (auto it = nameIndex.find(name); it != nameIndex.end())
            return it->second;
        names.emplace_back(name);
        const auto index = static_cast<std::int32_t>(names.size() - 1);
        nameIndex.emplace(names.back(), index);
        return index;
    }

    // ---- buffer ----

    void compact()
    {
        const auto shift = static_cast<std::size_t>(p - buf);
        if (shift == 0)
            return;
        std::memmove(buf, p, static_cast<std::size_t>(end - p));
        base += shift;
        p -= shift;
        end -= shift;
        lineEnd = std::max(lineEnd - shift, buf);
        scanFrom = std::max(scanFrom - shift, buf);
        scan.done = false;
    }

    void fillOnce()
    {
        if (eof)
            return;
        const auto room = static_cast<std::size_t>(buf + cap - end);
        if (room == 0)
            return;
        const std::size_t n = src.read(end, room);
        if (n == 0)
            eof = true;
        end += std::min(n, room);
    }

    // Finds the end of the line starting at p, reading more as needed. A line
    // that does not fit the buffer is taken in pieces (lineWhole false).
    void ensureLine()
    {
        scanFrom = p;
        for (;;) {
            if (auto *nl = static_cast<char *>(std::memchr(scanFrom, '\n', static_cast<std::size_t>(end - scanFrom)))) {
                lineEnd = nl;
                lineWhole = true;
                return;
            }
            scanFrom = end;
            if (eof) {
                lineEnd = end;
                lineWhole = true;
                return;
            }
            if (p > buf && static_cast<std::size_t>(buf + cap - end) < cap / 4)
                compact();
            if (end == buf + cap) {
                if (p > buf) {
                    compact();  // a long line's first piece is always a whole buffer
                    continue;
                }
                lineEnd = end;
                lineWhole = false;
                longLine = true;
                return;
            }
            fillOnce();
        }
    }

    // The next piece of a long line: keeps [p, end), reads after it.
    void more()
    {
        if (static_cast<std::size_t>(buf + cap - end) < cap / 2)
            compact();
        scanFrom = end;
        fillOnce();
        if (auto *nl = static_cast<char *>(std::memchr(scanFrom, '\n', static_cast<std::size_t>(end - scanFrom)))) {
            lineEnd = nl;
            lineWhole = true;
        } else {
            lineEnd = end;
            lineWhole = eof;
        }
        scanFrom = end;
        scan.done = false;
    }

    // ---- commands ----

    void emit(std::uint32_t w0, std::uint32_t w1, std::optional<std::uint32_t> address, std::uint64_t ln,
              std::int32_t symbol)
    {
        if (done)
            return;
        queue.push_back(RawCommand{w0, w1, listOffset, address, ln, symbol});
        listOffset += 8;
        ++emitted;
        if (opt.count && emitted >= *opt.count)
            done = true;
    }

    // n bytes (1..8) of value, first byte most significant, into the command
    // being assembled. address: the address of the first of them, if known.
    void pushBytes(std::uint64_t value, unsigned n, std::optional<std::uint64_t> address, const char *at,
                   std::int32_t symbol = -1)
    {
        if (!decomp.empty())
            flushDecomp();
        body.data = true;
        if (accBytes == 0) {
            accLine = line;
            accColumn = columnOf(at);
            accAddress = address ? std::optional<std::uint32_t>(static_cast<std::uint32_t>(*address)) : std::nullopt;
            accSymbol = -1;
        }
        if (symbol >= 0)
            accSymbol = symbol;
        const unsigned room = 8 - accBytes;
        if (n < room) {
            acc = (acc << (8 * n)) | value;
            accBytes += n;
            return;
        }
        const unsigned rest = n - room;
        if (room == 8)
            acc = value;
        else
            acc = (acc << (8 * room)) | (value >> (8 * rest));
        emit(static_cast<std::uint32_t>(acc >> 32), static_cast<std::uint32_t>(acc), accAddress, accLine, accSymbol);
        acc = 0;
        accBytes = 0;
        if (rest > 0) {
            acc = value & ((std::uint64_t{1} << (8 * rest)) - 1);
            accBytes = rest;
            accLine = line;
            accColumn = columnOf(at);
            accAddress = address ? std::optional<std::uint32_t>(static_cast<std::uint32_t>(*address + room))
                                 : std::nullopt;
            accSymbol = -1;
        }
    }

    // "a single 32-bit word is", "3 bytes are".
    std::string partialText() const
    {
        if (accBytes == 4)
            return "a single 32-bit word is";
        return std::to_string(accBytes) + (accBytes == 1 ? " byte is" : " bytes are");
    }

    // Before a line that gives whole commands: bytes still waiting for the
    // rest of their command cannot get it any more.
    void dropPartial()
    {
        if (accBytes == 0)
            return;
        note(accLine, accColumn, partialText() + " left here, not a whole command before line " +
                                     std::to_string(line) + "; dropped");
        acc = 0;
        accBytes = 0;
    }

    void emitWhole(std::uint32_t w0, std::uint32_t w1, std::optional<std::uint64_t> address)
    {
        if (!decomp.empty())
            flushDecomp();
        dropPartial();
        body.data = true;
        emit(w0, w1, address ? std::optional<std::uint32_t>(static_cast<std::uint32_t>(*address)) : std::nullopt,
             line, -1);
    }

    // ---- decompiler pairing ----

    void closeDecomp(DecompCommand &c)
    {
        if (c.w[0].state != DecompWord::Bad && c.w[1].state != DecompWord::Bad) {
            const int missing = c.w[0].state == DecompWord::Unset ? 0 : 1;
            note(c.line, c.column, c.key + "->words.w" + std::to_string(missing) +
                                       " is never written for the command begun here; the command is dropped");
        }
        c.open = false;
        c.dead = true;
    }

    void drainDecomp()
    {
        while (!decomp.empty() && !decomp.front().open) {
            const DecompCommand &c = decomp.front();
            if (!c.dead && c.w[0].state == DecompWord::Set && c.w[1].state == DecompWord::Set)
                emit(c.w[0].value, c.w[1].value, std::nullopt, c.line, c.w[1].symbol);
            decomp.pop_front();
            ++decompBase;
        }
    }

    void flushDecomp()
    {
        for (auto &c : decomp)
            if (c.open)
                closeDecomp(c);
        openDecomp.clear();
        drainDecomp();
    }

    void decompAssign(const std::string &key, int which, DecompWord word, const char *at)
    {
        dropPartial();
        DecompCommand *c = nullptr;
        if (auto it = openDecomp.find(key); it != openDecomp.end()) {
            c = &decomp[static_cast<std::size_t>(it->second - decompBase)];
            if (c->w[which].state != DecompWord::Unset) {
                closeDecomp(*c);
                openDecomp.erase(it);
                c = nullptr;
            }
        }
        if (c == nullptr) {
            decomp.push_back(DecompCommand{key, {}, line, columnOf(at), true, false});
            openDecomp[key] = decompBase + decomp.size() - 1;
            c = &decomp.back();
        }
        c->w[which] = word;
        if (c->w[0].state != DecompWord::Unset && c->w[1].state != DecompWord::Unset) {
            c->open = false;
            c->dead = c->w[0].state == DecompWord::Bad || c->w[1].state == DecompWord::Bad;
            openDecomp.erase(key);
        }
        if (decomp.size() > kMaxOpenDecomp && decomp.front().open) {
            openDecomp.erase(decomp.front().key);
            closeDecomp(decomp.front());
        }
        drainDecomp();
    }

    // ---- start ----

    void start()
    {
        started = true;
        if (opt.count && *opt.count == 0) {
            done = true;
            phase = Phase::Finished;
            return;
        }
        // Enough to tell binary from text however the source delivers it; a
        // forced form waits only for a possible byte-order mark.
        const std::size_t need = opt.form == InputForm::Auto ? std::min(kSampleBytes, cap) : 3;
        do
            fillOnce();
        while (!eof && static_cast<std::size_t>(end - p) < need);
        const auto avail = static_cast<std::size_t>(end - p);
        const std::size_t sample = std::min(avail, kSampleBytes);
        if (opt.form == InputForm::Auto && looksUtf16(p, sample)) {
            note(1, 1, "the input looks like UTF-16 text; convert it to UTF-8 to read it");
            done = true;
            phase = Phase::Finished;
            return;
        }
        binary = opt.form == InputForm::Binary || (opt.form == InputForm::Auto && looksBinary(p, sample));
        if (binary) {
            detected = InputForm::Binary;
            skipOffset();
            return;
        }
        if (avail >= 3 && std::memcmp(p, "\xEF\xBB\xBF", 3) == 0)
            p += 3;  // UTF-8 byte-order mark
        lineStartAbs = abs(p);
        if (opt.offset != 0)
            note(0, 0, "the offset applies to binary input only; this input is read as text from its start");
    }

    void skipOffset()
    {
        std::uint64_t want = opt.offset;
        const auto inBuffer = static_cast<std::uint64_t>(end - p);
        const std::uint64_t take = std::min(want, inBuffer);
        p += take;
        want -= take;
        if (want == 0)
            return;
        compact();  // the buffer is empty: base is now the stream position
        if (!eof) {
            const std::uint64_t skipped = src.skip(want);
            base += skipped;
            want -= skipped;
        }
        if (want != 0) {
            note(0, 0, "the offset " + hexText(opt.offset) + " is past the end of the input (" +
                           std::to_string(base) + " bytes)");
            done = true;
        }
    }

    // ---- binary ----

    template <ByteOrder Order>
    std::size_t binaryRun(RawCommand *out, std::size_t n)
    {
        const char *q = p;
        std::uint64_t offset = abs(q);
        for (std::size_t k = 0; k < n; ++k, q += 8, offset += 8) {
            std::uint32_t w0, w1;
            if constexpr (Order == ByteOrder::N64) {
                w0 = load32le(q);
                w1 = load32le(q + 4);
            } else {
                std::uint64_t v = Order == ByteOrder::Little ? load64le(q) : load64be(q);
                if constexpr (Order == ByteOrder::V64)
                    v = ((v >> 8) & 0x00FF00FF00FF00FFULL) | ((v & 0x00FF00FF00FF00FFULL) << 8);
                w0 = static_cast<std::uint32_t>(v >> 32);
                w1 = static_cast<std::uint32_t>(v);
            }
            RawCommand &c = out[k];
            c.w0 = w0;
            c.w1 = w1;
            c.offset = offset;
            c.address.reset();
            c.line = 0;
            c.w1Symbol = -1;
        }
        p += 8 * n;
        return n;
    }

    std::size_t readBinary(RawCommand *out, std::size_t want)
    {
        std::size_t got = 0;
        while (got < want && !done) {
            if (end - p < 8) {
                if (eof) {
                    if (end != p)
                        note(0, 0, "byte " + hexText(abs(p)) + ": " + std::to_string(end - p) +
                                       (end - p == 1 ? " byte is" : " bytes are") +
                                       " left at the end, fewer than a command (8 bytes); not read");
                    p = end;
                    done = true;
                    break;
                }
                compact();
                fillOnce();
                continue;
            }
            std::size_t n = std::min(want - got, static_cast<std::size_t>(end - p) / 8);
            if (opt.count)
                n = static_cast<std::size_t>(std::min<std::uint64_t>(n, *opt.count - emitted));
            switch (opt.order) {
            case ByteOrder::Big: binaryRun<ByteOrder::Big>(out + got, n); break;
            case ByteOrder::Little: binaryRun<ByteOrder::Little>(out + got, n); break;
            case ByteOrder::V64: binaryRun<ByteOrder::V64>(out + got, n); break;
            case ByteOrder::N64: binaryRun<ByteOrder::N64>(out + got, n); break;
            }
            got += n;
            emitted += n;
            if (opt.count && emitted >= *opt.count)
                done = true;
        }
        return got;
    }

    // ---- text: the plain 16-digit line ----

    bool fastReady() const
    {
        // Only where a 16-digit line is certainly one hex command: not in C,
        // where a number without 0x may be a decimal literal.
        return phase == Phase::LineStart && accBytes == 0 && decomp.empty() && !inComment && !cContext &&
               detected != InputForm::Auto && (opt.form == InputForm::Auto || opt.form == InputForm::Hex);
    }

    std::size_t fastLines(RawCommand *out, std::size_t n)
    {
        const char *q = p;
        const char *const e = end;
        std::uint64_t offset = listOffset, ln = line;
        std::size_t k = 0;
        while (k < n && e - q >= 17) {
            std::uint64_t v;
            if (!hex16(q, v))
                break;
            if (q[16] == '\n')
                q += 17;
            else if (q[16] == '\r' && e - q >= 18 && q[17] == '\n')
                q += 18;
            else
                break;
            // Field by field: an aggregate would go through a temporary.
            RawCommand &c = out[k++];
            c.w0 = static_cast<std::uint32_t>(v >> 32);
            c.w1 = static_cast<std::uint32_t>(v);
            c.offset = offset;
            c.address.reset();
            c.line = ln;
            c.w1Symbol = -1;
            offset += 8;
            ++ln;
        }
        p = const_cast<char *>(q);
        if (k != 0)
            afterRunLine = false;
        listOffset = offset;
        line = ln;
        emitted += k;
        return k;
    }

    // ---- text: lines ----

    void step()
    {
        switch (phase) {
        case Phase::LineStart: startLine(); break;
        case Phase::Content: content(); break;
        case Phase::Body: bodyStep(); break;
        case Phase::Skip: skipStep(); break;
        case Phase::Comment: commentStep(); break;
        case Phase::Finished: done = true; break;
        }
    }

    void startLine()
    {
        if (p == end) {
            compact();
            fillOnce();
            if (p == end && eof) {
                finish();
                return;
            }
        }
        longLine = false;
        ensureLine();
        lineStartAbs = abs(p);
        body = Body{};
        scan = Scan{};
        phase = inComment ? Phase::Comment : Phase::Content;
        bodyAfterComment = false;
    }

    void endLine()
    {
        if (body.data)
            afterRunLine = body.runLine;
        p = lineWhole && lineEnd < end ? lineEnd + 1 : lineEnd;
        ++line;
        phase = Phase::LineStart;
        bodyAfterComment = false;
    }

    // The rest of the line is not read.
    void skipRest()
    {
        if (lineWhole) {
            endLine();
        } else {
            p = lineEnd;
            phase = Phase::Skip;
        }
    }

    void skipStep()
    {
        if (lineWhole) {
            endLine();
            return;
        }
        p = lineEnd;
        more();
    }

    void commentStep()
    {
        char *q = p;
        for (; q + 1 < lineEnd; ++q) {
            q = static_cast<char *>(std::memchr(q, '*', static_cast<std::size_t>(lineEnd - q - 1)));
            if (q == nullptr)
                break;
            if (q[1] == '/') {
                p = q + 2;
                inComment = false;
                phase = bodyAfterComment ? Phase::Body : Phase::Content;
                return;
            }
        }
        if (lineWhole) {
            bodyAfterComment = false;
            endLine();
            return;
        }
        // A long line: keep a final '*' that the next piece may close.
        p = lineEnd > p && lineEnd[-1] == '*' ? lineEnd - 1 : lineEnd;
        more();
    }

    void openComment(char *q)
    {
        commentLine = line;
        commentColumn = columnOf(q);
        inComment = true;
        bodyAfterComment = false;
        p = q + 2;
        phase = Phase::Comment;
    }

    // A bad token: the rest of its line is not read, and the command being
    // assembled is dropped, so that the next line starts a fresh command
    // (dumps keep commands aligned to their lines; a shifted pairing would
    // spoil every command after it).
    // bound: how far the excerpt may look (the view while classifying).
    void badToken(char *q, std::string_view what, const char *bound, std::uint64_t column = 0)
    {
        if (kept >= opt.messageLimit) {  // counted only: no text to build
            ++suppressed;
            acc = 0;
            accBytes = 0;
            return;
        }
        std::string text = "expected " + std::string(what) + ", found " + quote(q, bound);
        if (accBytes != 0) {
            text += "; the unfinished command begun ";
            text += accLine == line ? "on this line" : "on line " + std::to_string(accLine);
            text += " is dropped";
            acc = 0;
            accBytes = 0;
        }
        note(line, column != 0 ? column : columnOf(q), std::move(text));
    }

    void reject(char *q, std::string_view what)
    {
        badToken(q, what, viewEnd);
        skipRest();
    }

    void finish()
    {
        if (inComment)
            note(commentLine, commentColumn, "this /* comment is never closed");
        flushDecomp();
        if (accBytes != 0)
            note(accLine, accColumn, partialText() + " left at the end, not a whole command; not read");
        if (suppressed != 0)
            messages.push_back({0, 0, std::to_string(suppressed) + " more messages are not shown"});
        inComment = false;
        accBytes = 0;
        done = true;
        phase = Phase::Finished;
    }

    // The first "(c0:" at or after lo, or nullptr.
    char *findC0(char *lo) const
    {
        for (char *s = lo; s < viewEnd; ++s) {
            s = static_cast<char *>(std::memchr(s, '(', static_cast<std::size_t>(viewEnd - s)));
            if (s == nullptr)
                return nullptr;
            if (viewEnd - s >= 4 && (s[1] | 0x20) == 'c' && s[2] == '0' && s[3] == ':')
                return s;
        }
        return nullptr;
    }

    // The value after the first key "W0=" (digit '0') or "W1=" whose key
    // starts at or after lo; from is where the text being classified starts.
    char *findKey(char *lo, char *from, char digit) const
    {
        for (char *s = lo + 2; s < viewEnd; ++s) {
            s = static_cast<char *>(std::memchr(s, '=', static_cast<std::size_t>(viewEnd - s)));
            if (s == nullptr)
                return nullptr;
            if (s[-1] == digit && (s[-2] | 0x20) == 'w' && (s - 2 == from || !isIdentChar(s[-3])))
                return s + 1;
        }
        return nullptr;
    }

    char *findWords(char *lo) const
    {
        const std::string_view w(lo, static_cast<std::size_t>(viewEnd - lo));
        const auto k = w.find("words.w");
        return k == std::string_view::npos ? nullptr : lo + k;
    }

    // Keeps each feature the first of its kind in [from, viewEnd). A feature
    // found earlier is searched again only once the reading has passed it,
    // and a feature not found only in what has come into view since, so a
    // line costs one pass per feature however often it is classified.
    void refreshScan(char *from)
    {
        if (!scan.done) {
            scan = Scan{};
            scan.done = true;
            scan.limit = from;
        }
        char *fresh = std::max(from, scan.limit - 8);  // a match may straddle the old limit
        if (scan.words == nullptr || scan.words < from)
            scan.words = findWords(scan.words ? from : fresh);
        if (scan.c0 == nullptr || scan.c0 < from)
            scan.c0 = findC0(scan.c0 ? from : fresh);
        if (scan.kv0 == nullptr || scan.kv0 - 3 < from)
            scan.kv0 = findKey(scan.kv0 ? from : std::max(from, fresh - 2), from, '0');
        if (scan.kv1 == nullptr || scan.kv1 - 3 < from)
            scan.kv1 = findKey(scan.kv1 ? from : std::max(from, fresh - 2), from, '1');
        scan.limit = std::max(scan.limit, viewEnd);
    }

    // Classifies the line from p on and reads it, or starts its body.
    void content()
    {
        char *q = skipBlanks(p, lineEnd);
        const auto view = static_cast<std::ptrdiff_t>(cap / 2);
        if (!lineWhole && lineEnd - q < view) {
            p = q;  // a long line: read on until a whole view lies ahead
            more();
            return;
        }
        viewEnd = longLine && lineEnd - q > view ? q + view : lineEnd;
        char *e = viewEnd;
        if (q == e) {
            p = q;
            skipRest();
            return;
        }
        const char c = *q;
        if (c == '#' || c == ';' || (c == '/' && q + 1 < e && q[1] == '/')) {
            skipRest();
            return;
        }
        if (c == '/' && q + 1 < e && q[1] == '*') {
            openComment(q);
            return;
        }
        if (c == '*' && skipBlanks(q + 1, e) == e && lineWhole) {
            noteAt(q, "'*' stands for repeated rows the dump left out; they are not read");
            skipRest();
            return;
        }
        refreshScan(q);
        if (scan.words && accepts(Kind::Decomp) && (isIdentStart(c) || c == '(' || c == '*')) {
            decompLine(q);
            return;
        }
        if (accepts(Kind::Trace)) {
            if (scan.kv0 && scan.kv1) {
                kvTrace(q);
                return;
            }
            if (scan.c0) {
                c0Trace(q);
                return;
            }
        }
        if (c == '[') {
            bracketTrace(q);
            return;
        }
        if (c == '.') {
            asmLine(q);
            return;
        }
        if (c == '{' || c == '}') {
            if (!accepts(Kind::Words)) {
                if (accepts(Kind::Code))
                    return skipRest();
                return reject(q, expected());
            }
            startWords(q, true);
            return;
        }
        const Num n = scanNumber(q, e);
        if (n.count != 0) {
            const char *x = n.end;
            while (x < e && isSuffix(*x))
                ++x;
            if (x == e || isBlank(*x) || *x == ',' || *x == '}' || *x == ';' || *x == '/' || *x == '#' ||
                (x == n.end && *x == ':')) {
                numberLine(q, e, n, opt.form, false);
                return;
            }
        }
        if (isIdentStart(c)) {
            identLine(q);
            return;
        }
        if (std::memchr(q, ';', static_cast<std::size_t>(e - q)) != nullptr && accepts(Kind::Code)) {
            skipRest();
            return;
        }
        reject(q, expected());
    }

    // A line starting with the number n. as: the form that settles the
    // ambiguities (the forced one, or Auto). commentStop: inside a C macro's
    // comment, which ends at e.
    void numberLine(char *q, char *e, const Num &n, InputForm as, bool commentStop)
    {
        char *after = n.end;
        const bool anyForm = commentStop;  // a macro comment holds rows or words whatever the form
        auto rowOk = [&] { return anyForm || accepts(Kind::AddressRow); };
        if (after < e && *after == ':') {
            char *s = after + 1;
            std::uint32_t a, b;
            if (!commentStop && accepts(Kind::Trace) && e - s >= 17 && hex8(s, a) && s[8] == '-' && hex8(s + 9, b) &&
                (e - s == 17 || s[17] == ':' || isBlank(s[17]))) {
                noteForm(InputForm::Trace);
                emitWhole(a, b, addressOf(n));
                skipRest();
                return;
            }
            if (!rowOk() || n.count > 16)
                return reject(q, rowOk() ? "an address of at most 16 hex digits" : expected());
            startRow(q, after + 1, true, addressOf(n).value_or(0), commentStop);
            return;
        }
        if (after < e && !isBlank(*after)) {
            if (!anyForm && !accepts(Kind::Words))
                return reject(q, expected());
            startWords(q, false, commentStop);
            return;
        }
        char *r = skipBlanks(after, e);
        const bool lone = r == e;
        const Num m = lone ? Num{} : scanNumber(r, e);
        const bool mPure = m.count != 0 && (m.end == e || isBlank(*m.end));
        const bool narrow = !n.has0x && (n.count == 2 || n.count == 4);
        const bool sameNarrow = narrow && (lone || (mPure && !m.has0x && m.count == n.count));
        const bool narrowerNext = !n.has0x && mPure && !m.has0x && (m.count == 2 || m.count == 4) && n.count > m.count;
        switch (as) {
        case InputForm::Hex:
        case InputForm::CArray:
            startWords(q, false, commentStop);
            return;
        case InputForm::Xxd:
        case InputForm::MemView:
            if (n.count > 16)
                return reject(q, "an address of at most 16 hex digits");
            startRow(q, after, true, addressOf(n).value_or(0), commentStop);
            return;
        case InputForm::Bytes:
            if (sameNarrow)
                startRow(q, q, false, 0, commentStop);
            else if (n.count <= 16)
                startRow(q, after, true, addressOf(n).value_or(0), commentStop);
            else
                reject(q, expected());
            return;
        case InputForm::Trace:
            if (n.count == 16) {
                traceName(n);
                return;
            }
            return reject(q, expected());
        case InputForm::Auto:
            break;
        default:
            return reject(q, expected());
        }
        if (!commentStop && n.count == 16 && !lone && isName(r, e)) {
            traceName(n);
            return;
        }
        if (!lone && n.count <= 16 && hasLoneDash(r, e)) {
            startRow(q, after, true, addressOf(n).value_or(0), commentStop);
            return;
        }
        if (sameNarrow) {
            startRow(q, q, false, 0, commentStop);
            return;
        }
        if (narrowerNext && n.count <= 16) {
            startRow(q, after, true, addressOf(n).value_or(0), commentStop);
            return;
        }
        startWords(q, false, commentStop);
    }

    static std::optional<std::uint64_t> addressOf(const Num &n)
    {
        if (n.count == 0 || n.count > 16)
            return std::nullopt;
        return hexValue(n.digits, n.count);
    }

    // A trace name: starts with a letter or '_' and is not all hex digits.
    static bool isName(const char *r, const char *e)
    {
        if (r >= e || !(isAlpha(*r) || *r == '_'))
            return false;
        for (const char *s = r; s < e && !isBlank(*s); ++s)
            if (!isHex(*s))
                return true;
        return false;
    }

    static bool hasLoneDash(const char *r, const char *e)
    {
        for (const char *s = r; s < e; ++s) {
            s = static_cast<const char *>(std::memchr(s, '-', static_cast<std::size_t>(e - s)));
            if (s == nullptr)
                return false;
            if (isBlank(s[-1]) && (s + 1 == e || isBlank(s[1])))
                return true;
        }
        return false;
    }

    void startWords(char *q, bool cLine, bool commentStop = false)
    {
        body = Body{};
        body.kind = BodyKind::Words;
        body.cLine = cLine;
        body.commentStop = commentStop;
        p = q;
        phase = Phase::Body;
    }

    void startRow(char *addressAt, char *q, bool hasAddress, std::uint64_t address, bool commentStop)
    {
        body = Body{};
        body.kind = BodyKind::Groups;
        body.hasAddress = hasAddress;
        body.rowAddress = address;
        body.commentStop = commentStop;
        if (hasAddress) {
            if (lastRow && address < *lastRow && !backwardsNoted) {
                noteAt(addressAt, "the address column goes backwards here (" + hexText(address) + " after " +
                                      hexText(*lastRow) + "); the commands are still read");
                backwardsNoted = true;
            }
            lastRow = address;
        }
        p = q;
        phase = Phase::Body;
    }

    // ---- traces ----

    void traceName(const Num &n)
    {
        noteForm(InputForm::Trace);
        emitWhole(static_cast<std::uint32_t>(hexValue(n.digits, 8)), static_cast<std::uint32_t>(hexValue(n.digits + 8, 8)),
                  std::nullopt);
        skipRest();
    }

    // A word of 1 to 8 hex digits, 0x optional, not followed by a name character.
    std::optional<std::uint32_t> traceWord(char *&s, char *e)
    {
        const Num n = scanNumber(s, e);
        if (n.count == 0 || n.count > 8 || (n.end < e && isIdentChar(*n.end)))
            return std::nullopt;
        s = n.end;
        return static_cast<std::uint32_t>(hexValue(n.digits, n.count));
    }

    void kvTrace(char *q)
    {
        char *e = viewEnd;
        char *s0 = scan.kv0, *s1 = scan.kv1;
        const auto w0 = traceWord(s0, e);
        if (!w0)
            return reject(scan.kv0, "a hex word after W0=");
        const auto w1 = traceWord(s1, e);
        if (!w1)
            return reject(scan.kv1, "a hex word after W1=");
        std::optional<std::uint64_t> address;
        const Num n = scanNumber(q, e);
        if (n.count != 0 && n.end < e && *n.end == ':')
            address = addressOf(n);
        noteForm(InputForm::Trace);
        emitWhole(*w0, *w1, address);
        skipRest();
    }

    void c0Trace(char *q)
    {
        char *e = viewEnd;
        char *s = skipBlanks(scan.c0 + 4, e);
        const auto w0 = traceWord(s, e);
        if (!w0)
            return reject(s, "a hex word after c0:");
        s = skipBlanks(s, e);
        if (s < e && *s == ',')
            s = skipBlanks(s + 1, e);
        if (!(e - s >= 3 && (s[0] | 0x20) == 'c' && s[1] == '1' && s[2] == ':'))
            return reject(s, "c1: and the second word");
        s = skipBlanks(s + 3, e);
        const auto w1 = traceWord(s, e);
        if (!w1)
            return reject(s, "a hex word after c1:");
        // The address: the hex number just before the parenthesis.
        std::optional<std::uint64_t> address;
        char *a = scan.c0;
        while (a > q && isBlank(a[-1]))
            --a;
        char *digitsEnd = a;
        while (a > q && isHex(a[-1]) && digitsEnd - a < 16)
            --a;
        if (a < digitsEnd) {
            char *from = a;
            if (from - q >= 2 && (from[-1] | 0x20) == 'x' && from[-2] == '0')
                from -= 2;
            if (from == q || !isIdentChar(from[-1]))
                address = hexValue(a, static_cast<std::size_t>(digitsEnd - a));
        }
        noteForm(InputForm::Trace);
        emitWhole(*w0, *w1, address);
        skipRest();
    }

    void bracketTrace(char *q)
    {
        if (!accepts(Kind::Trace))
            return reject(q, expected());
        char *e = viewEnd;
        const Num a = scanNumber(q + 1, e);
        if (a.count == 0 || a.count > 16 || a.end == e || *a.end != ']')
            return reject(q, "a trace line '[ADDRESS] COMMAND'");
        char *s = skipBlanks(a.end + 1, e);
        const Num c = scanNumber(s, e);
        std::uint32_t w0 = 0, w1 = 0;
        if (c.count == 16 && (c.end == e || isBlank(*c.end))) {
            w0 = static_cast<std::uint32_t>(hexValue(c.digits, 8));
            w1 = static_cast<std::uint32_t>(hexValue(c.digits + 8, 8));
        } else if (c.count == 8 && (c.end == e || isBlank(*c.end))) {
            char *t = skipBlanks(c.end, e);
            const Num d = scanNumber(t, e);
            if (d.count != 8 || (d.end != e && !isBlank(*d.end)))
                return reject(t, "the second word of the command");
            w0 = static_cast<std::uint32_t>(hexValue(c.digits, 8));
            w1 = static_cast<std::uint32_t>(hexValue(d.digits, 8));
        } else {
            return reject(s, "the command (16 hex digits) after the address");
        }
        noteForm(InputForm::Trace);
        emitWhole(w0, w1, addressOf(a));
        skipRest();
    }

    // ---- decompiler output ----

    // VALUE of `PTR->words.wN = VALUE;`: casts, a number or &symbol, an optional + N.
    bool decompValue(char *&s, char *e, int which, DecompWord &word)
    {
        s = skipBlanks(s, e);
        while (s < e && *s == '(') {  // casts: (u32), (uintptr_t), (Gfx *)
            char *t = s + 1;
            while (t < e && (isIdentChar(*t) || isBlank(*t) || *t == '*'))
                ++t;
            if (t == e || *t != ')')
                break;
            s = skipBlanks(t + 1, e);
        }
        bool negative = false;
        if (s < e && *s == '-') {
            negative = true;
            s = skipBlanks(s + 1, e);
        }
        if (s < e && *s == '&')
            s = skipBlanks(s + 1, e);
        std::uint64_t value = 0;
        if (s < e && isDigit(*s)) {
            const Num n = scanNumber(s, e);
            if (n.has0x) {
                if (n.count > 8)
                    return false;
                value = hexValue(n.digits, n.count);
                s = n.end;
            } else {
                char *t = s;
                while (t < e && isDigit(*t) && value <= 0xFFFFFFFFu)
                    value = value * 10 + static_cast<unsigned>(*t++ - '0');
                if (value > 0xFFFFFFFFu || (t < e && isHex(*t)))
                    return false;
                s = t;
            }
            while (s < e && isSuffix(*s))
                ++s;
            if (s < e && isIdentChar(*s))
                return false;
            word.symbol = -1;
        } else if (s < e && isIdentStart(*s) && *s != '.' && !negative) {
            char *t = s;
            while (t < e && isIdentChar(*t))
                ++t;
            const std::string_view name(s, static_cast<std::size_t>(t - s));
            if (which == 0) {
                noteAt(s, "a symbol cannot stand for the first word of a command, found " + quote(s, e));
                word.state = DecompWord::Bad;
                s = t;
                return true;
            }
            word.symbol = intern(name);
            value = nameAddress(name).value_or(0);
            s = skipBlanks(t, e);
            if (s < e && (*s == '+' || *s == '-')) {
                const bool minus = *s == '-';
                char *u = skipBlanks(s + 1, e);
                const Num n = scanNumber(u, e);
                if (n.count == 0 || n.count > 8)
                    return false;
                std::uint64_t addend = 0;
                if (n.has0x) {
                    addend = hexValue(n.digits, n.count);
                } else {
                    if (!allDecimal(n.digits, n.count))
                        return false;
                    for (std::size_t i = 0; i < n.count; ++i)
                        addend = addend * 10 + static_cast<unsigned>(n.digits[i] - '0');
                }
                value = minus ? value - addend : value + addend;
                s = n.end;
            }
        } else {
            return false;
        }
        if (negative)
            value = 0 - value;
        s = skipBlanks(s, e);
        if (s < e && *s != ';')
            return false;
        word.state = DecompWord::Set;
        word.value = static_cast<std::uint32_t>(value);
        return true;
    }

    void decompLine(char *q)
    {
        char *e = viewEnd;
        char *from = q;
        bool any = false;
        while (from < e) {
            const std::string_view w(from, static_cast<std::size_t>(e - from));
            const auto k = w.find("words.w");
            if (k == std::string_view::npos)
                break;
            char *at = from + k;
            char *s = at + 7;
            if (s == e || (*s != '0' && *s != '1') || (s + 1 < e && isIdentChar(s[1]))) {
                from = s;
                continue;
            }
            const int which = *s - '0';
            // The pointer: the statement's text before ->words / .words.
            char *ks = skipBlanks(from, at), *ke = at;
            if (ke - ks >= 2 && ke[-1] == '>' && ke[-2] == '-')
                ke -= 2;
            else if (ke > ks && ke[-1] == '.')
                --ke;
            while (ke > ks && isBlank(ke[-1]))
                --ke;
            char *t = skipBlanks(s + 1, e);
            if (t == e || *t != '=' || (t + 1 < e && t[1] == '=')) {  // a read or a comparison, not a write
                auto semi = static_cast<char *>(std::memchr(t, ';', static_cast<std::size_t>(e - t)));
                from = semi ? semi + 1 : e;
                continue;
            }
            if (ke == ks)
                return reject(at, "a pointer before ->words");
            any = true;
            noteForm(InputForm::Decomp);
            char *v = t + 1;
            char *valueAt = skipBlanks(v, e);
            DecompWord word;
            if (!decompValue(v, e, which, word)) {
                noteAt(valueAt, "expected a number or a symbol, found " + quote(valueAt, e));
                word.state = DecompWord::Bad;
            }
            decompAssign(std::string(ks, static_cast<std::size_t>(ke - ks)), which, word, ks);
            auto semi = static_cast<char *>(std::memchr(v, ';', static_cast<std::size_t>(e - v)));
            from = semi ? semi + 1 : e;
        }
        (void)any;
        skipRest();
    }

    // ---- assembly ----

    void addLabel(char *q, char *t)
    {
        const std::string_view name(q, static_cast<std::size_t>(t - q));
        labels.push_back(Label{intern(name), listOffset + accBytes, nameAddress(name), line});
        noteForm(InputForm::Asm);
    }

    void asmLine(char *q)
    {
        char *e = viewEnd;
        char *t = q + 1;
        while (t < e && isIdentChar(*t))
            ++t;
        if (!accepts(Kind::Asm))
            return reject(q, expected());
        if (t < e && *t == ':') {  // a local label: .L800E8D40:
            addLabel(q, t);
            p = t + 1;
            phase = Phase::Content;
            return;
        }
        const std::string_view d(q, static_cast<std::size_t>(t - q));
        if (const unsigned unit = directiveUnit(d); unit != 0) {
            if (t < e && !isBlank(*t))
                return reject(q, "an assembler directive");
            noteForm(InputForm::Asm);
            body = Body{};
            body.kind = BodyKind::Asm;
            body.unit = unit;
            p = t;
            phase = Phase::Body;
            return;
        }
        if (equalsLower(d, ".incbin"))
            noteAt(q, "the data that .incbin includes is not read");
        skipRest();
    }

    void identLine(char *q)
    {
        char *e = viewEnd;
        char *t = q;
        while (t < e && isIdentChar(*t))
            ++t;
        const std::string_view name(q, static_cast<std::size_t>(t - q));
        char *r = skipBlanks(t, e);
        if (name == "glabel" || name == "dlabel" || name == "jlabel") {
            if (!accepts(Kind::Asm))
                return reject(q, expected());
            if (r == e || !isIdentStart(*r))
                return reject(r, "a label name");
            char *u = r;
            while (u < e && isIdentChar(*u))
                ++u;
            addLabel(r, u);
            skipRest();
            return;
        }
        if (t < e && *t == ':' && !(t + 1 < e && t[1] == ':')) {
            if (!accepts(Kind::Asm))
                return accepts(Kind::Code) ? skipRest() : reject(q, expected());
            addLabel(q, t);
            p = t + 1;
            phase = Phase::Content;
            return;
        }
        const std::string_view w(q, static_cast<std::size_t>(e - q));
        // The statement without a trailing comment.
        const auto comment = std::min(w.find("/*"), w.find("//"));
        std::string_view code = w.substr(0, comment);
        while (!code.empty() && isBlank(code.back()))
            code.remove_suffix(1);
        const char last = code.empty() ? '\0' : code.back();
        if (r < e && *r == '(' && last != ';' && last != '{') {
            if (!accepts(Kind::CSource))
                return reject(q, expected());
            macroLine(q, comment == std::string_view::npos ? nullptr : q + comment);
            return;
        }
        const auto eq = code.find('=');
        if (eq != std::string_view::npos && code.find('{', eq) != std::string_view::npos && accepts(Kind::CSource)) {
            cContext = true;
            noteForm(InputForm::CArray);
            startWords(q + code.find('{', eq) + 1, true);
            return;
        }
        if (code.find_first_of(";{}=(") != std::string_view::npos && accepts(Kind::Code)) {
            skipRest();
            return;
        }
        reject(q, expected());
    }

    // gsDPPipeSync(), /* 00000000: E7000000 00000000 */
    void macroLine(char *q, char *comment)
    {
        const std::string macro(q, static_cast<std::size_t>(std::find(q, viewEnd, '(') - q));
        if (comment == nullptr) {
            noteAt(q, "expected the words of " + macro + "() in a comment on its line");
            skipRest();
            return;
        }
        const bool block = comment[1] == '*';
        char *s = comment + 2;
        char *ce = viewEnd;
        if (block) {
            const std::string_view rest(s, static_cast<std::size_t>(viewEnd - s));
            if (auto k = rest.find("*/"); k != std::string_view::npos)
                ce = s + k;
        }
        s = skipBlanks(s, ce);
        const Num n = scanNumber(s, ce);
        if (n.count == 0) {
            noteAt(s, "expected the words of " + macro + "() in the comment, found " + quote(s, ce));
            skipRest();
            return;
        }
        noteForm(InputForm::CArray);
        if (block) {
            commentLine = line;
            commentColumn = columnOf(comment);
        }
        numberLine(s, ce, n, InputForm::Auto, block);
        if (phase == Phase::Body)
            body.sawC = true;
    }

    // ---- bodies: words, assembly values, groups ----

    // Where a word may end: a separator, a comment, the end.
    bool wordEnds(const char *x, const char *e) const
    {
        if (x == e)
            return true;
        const char c = *x;
        return isBlank(c) || c == ',' || c == '{' || c == '}' || c == ';' || c == '/' || c == '#' ||
               (body.commentStop && c == '*');
    }

    Status bad(char *q, std::string_view what)
    {
        // The excerpt must not depend on where the buffer happens to end.
        const std::uint64_t column = columnOf(q);
        p = q;
        while (!lineWhole && lineEnd - p <= 32)
            more();
        badToken(p, what, lineEnd, column);
        return Status::SkipRest;
    }

    // Pushes an even number of hex digits as bytes; each push is placed at
    // its own digits, so a command's column is where its first digit stands.
    void pushDigits(const char *d, std::size_t n)
    {
        std::uint32_t v;
        // Byte by byte up to a command boundary, so that every command starts
        // at a push of its own, wherever a long run was cut into pieces.
        for (; n >= 2 && accBytes != 0; n -= 2, d += 2)
            pushBytes(hexValue(d, 2), 1, std::nullopt, d);
        while (n >= 16) {
            std::uint32_t v1;
            hex8(d, v);
            hex8(d + 8, v1);
            pushBytes((std::uint64_t{v} << 32) | v1, 8, std::nullopt, d);
            d += 16;
            n -= 16;
        }
        if (n >= 8) {
            hex8(d, v);
            pushBytes(v, 4, std::nullopt, d);
            d += 8;
            n -= 8;
        }
        for (; n >= 2; n -= 2, d += 2)
            pushBytes(hexValue(d, 2), 1, std::nullopt, d);
    }

    // A run of more than 16 hex digits without 0x (xxd -p), continued across
    // pieces of a long line.
    Status hexRun(char *&q, char *e)
    {
        char *r = q;
        while (r < e && isHex(*r))
            ++r;
        const auto n = static_cast<std::size_t>(r - q);
        if (r == e && !lineWhole) {
            const std::size_t even = n & ~std::size_t{1};
            pushDigits(q, even);
            body.runDigits += even;
            q += even;
            p = q;
            return Status::NeedData;
        }
        pushDigits(q, n & ~std::size_t{1});
        body.runDigits = 0;
        if (n % 2 != 0)
            return bad(r - 1, "an even number of hex digits");
        if (!wordEnds(r, e))
            return bad(r, "hex digits");
        body.runLine = body.tokens == 1;
        q = r;
        return Status::Continue;
    }

    // A number without 0x is a C decimal literal when it carries a suffix, or
    // on a line that writes its hex with 0x (or after a C declaration), or
    // on a braced line when it is not 8 or 16 digits long. A dump-width
    // number with a leading zero stays hex: C would not write a decimal so.
    bool decimalLiteral(const Num &n, bool suffix) const
    {
        if (!allDecimal(n.digits, n.count))
            return false;
        if (suffix)
            return true;
        const bool dumpWidth = n.count == 8 || n.count == 16;
        if (dumpWidth && n.digits[0] == '0')
            return false;
        return body.saw0x || cContext || forced(InputForm::CArray) || (body.cLine && !dumpWidth);
    }

    Status wordToken(char *&q, char *e)
    {
        char *t = q;
        const Num n = scanNumber(q, e);
        if (n.count == 0)
            return bad(q, expected());
        ++body.tokens;
        body.runLine = false;
        if (!n.has0x && n.count > 16) {  // a run of digits read as bytes, however long
            body.runDigits = 1;
            return hexRun(q, e);
        }
        char *s = n.end;
        if (s == e && !lineWhole) {
            if (e - t < static_cast<std::ptrdiff_t>(maxToken)) {
                --body.tokens;  // read again with the next piece
                p = t;
                return Status::NeedData;
            }
            return bad(t, "a word of at most 16 hex digits");
        }
        char *x = s;
        while (x < e && isSuffix(*x))
            ++x;
        if (x == e && !lineWhole) {
            --body.tokens;
            p = t;
            return Status::NeedData;
        }
        if (!wordEnds(x, e))
            return bad(t, expected());
        const std::string_view suffix(s, static_cast<std::size_t>(x - s));
        const int ls = suffixLongs(suffix);
        if (ls < 0)
            return bad(t, "a C integer suffix (u, l, ul, ll, ull)");
        if (n.has0x) {
            if (n.count > 16)
                return bad(t, "at most 16 hex digits");
            body.saw0x = true;
            body.cLine = true;
            if (!suffix.empty())
                body.sawC = true;
            const bool wide = n.count > 8 || ls == 2;
            pushBytes(hexValue(n.digits, n.count), wide ? 8 : 4, std::nullopt, t);
        } else if (decimalLiteral(n, !suffix.empty())) {
            std::uint64_t v = 0;
            bool fits = true;
            for (std::size_t i = 0; i < n.count && fits; ++i) {
                fits = v <= (~std::uint64_t{0} - 9) / 10;
                v = v * 10 + static_cast<unsigned>(n.digits[i] - '0');
            }
            if (!fits || (ls != 2 && v > 0xFFFFFFFFu))
                return bad(t, ls == 2 ? "a 64-bit number" : "a 32-bit number");
            body.sawC = true;
            pushBytes(v, ls == 2 ? 8 : 4, std::nullopt, t);
        } else if (!suffix.empty()) {
            return bad(t, "a decimal number before the suffix");
        } else if (n.count == 8 || n.count == 16) {
            pushDigits(n.digits, n.count);
        } else if (afterRunLine && body.tokens == 1 && n.count % 2 == 0 && skipBlanks(x, e) == e) {
            pushDigits(n.digits, n.count);  // the short last line of an xxd -p dump
        } else {
            return bad(t, "8 or 16 hex digits");
        }
        q = x;
        return Status::Continue;
    }

    Status asmToken(char *&q, char *e)
    {
        char *t = q;
        // The value ends at a comma, a comment or the end of the line.
        char *x = t;
        while (x < e && *x != ',' && *x != '#' && !(*x == '/' && x + 1 < e && (x[1] == '/' || x[1] == '*')))
            ++x;
        if (x == e && !lineWhole) {
            if (e - t < static_cast<std::ptrdiff_t>(maxToken)) {
                p = t;
                return Status::NeedData;
            }
            return bad(t, "a value of at most " + std::to_string(maxToken) + " characters");
        }
        char *ve = x;
        while (ve > t && isBlank(ve[-1]))
            --ve;
        char *s = t;
        bool negative = false;
        if (*s == '-' || *s == '+') {
            negative = *s == '-';
            s = skipBlanks(s + 1, ve);
        }
        const unsigned unit = body.unit;
        const std::uint64_t mask = unit == 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * unit)) - 1;
        if (s < ve && isDigit(*s)) {
            const Num n = scanNumber(s, ve);
            std::uint64_t v = 0;
            char *ne = nullptr;
            if (n.has0x) {
                if (n.count > 16)
                    return bad(t, "at most 16 hex digits");
                v = hexValue(n.digits, n.count);
                ne = n.end;
            } else {
                ne = s;
                while (ne < ve && isDigit(*ne)) {
                    if (v > (~std::uint64_t{0} - 9) / 10)
                        return bad(t, "a number that fits in 64 bits");
                    v = v * 10 + static_cast<unsigned>(*ne++ - '0');
                }
            }
            if (ne != ve)
                return bad(t, "a number or a symbol");
            if (negative)
                v = 0 - v;
            else if ((v & ~mask) != 0)
                return bad(t, "a value that fits in " + std::to_string(unit) + (unit == 1 ? " byte" : " bytes"));
            pushBytes(v & mask, unit, std::nullopt, t);
        } else if (s < ve && isIdentStart(*s) && !negative) {
            char *u = s;
            while (u < ve && isIdentChar(*u))
                ++u;
            const std::string_view name(s, static_cast<std::size_t>(u - s));
            std::uint64_t v = nameAddress(name).value_or(0);
            char *w = skipBlanks(u, ve);
            if (w < ve) {
                if (*w != '+' && *w != '-')
                    return bad(t, "a number or a symbol");
                const bool minus = *w == '-';
                char *a = skipBlanks(w + 1, ve);
                const Num n = scanNumber(a, ve);
                std::uint64_t addend = 0;
                if (n.has0x && n.count <= 8 && n.end == ve) {
                    addend = hexValue(n.digits, n.count);
                } else if (!n.has0x && n.count != 0 && n.count <= 10 && n.end == ve && allDecimal(n.digits, n.count)) {
                    for (std::size_t i = 0; i < n.count; ++i)
                        addend = addend * 10 + static_cast<unsigned>(n.digits[i] - '0');
                } else {
                    return bad(a, "a number after the symbol's + or -");
                }
                v = minus ? v - addend : v + addend;
            }
            const std::int32_t symbol = intern(name);
            if (unit == 4 && accBytes == 4) {
                pushBytes(v & mask, 4, std::nullopt, t, symbol);
            } else {
                noteAt(t, "the symbol " + std::string(name) +
                              " is not the second word of a command; it is read as " + hexText(v & mask));
                pushBytes(v & mask, unit, std::nullopt, t);
            }
        } else {
            return bad(t, "a number or a symbol");
        }
        q = x;
        return Status::Continue;
    }

    Status groupToken(char *&q, char *e, std::size_t gap)
    {
        const char c = *q;
        if (c == '-' && q + 1 == e && !lineWhole) {
            p = q;
            return Status::NeedData;
        }
        if (c == '-' && (q + 1 == e || isBlank(q[1]))) {
            body.sawDash = true;
            body.afterDash = true;
            ++q;
            return Status::Continue;
        }
        const bool afterDash = body.afterDash;
        body.afterDash = false;
        if (body.hasAddress && body.rowBytes > 0) {
            if (c == '|' || (gap >= 2 && !afterDash && !(gap == 2 && body.width == 2 && body.rowBytes == 8))) {
                p = q;  // the ASCII column
                return Status::SkipRest;
            }
        }
        const Num n = scanNumber(q, e);
        char *s = n.end;
        if (n.count != 0 && s == e && !lineWhole) {
            if (e - q < static_cast<std::ptrdiff_t>(maxToken)) {
                p = q;
                return Status::NeedData;
            }
            return bad(q, "a hex group of at most 16 digits");
        }
        const bool ends = s == e || isBlank(*s) || (body.commentStop && *s == '*');
        if (n.count != 0 && ends && n.count <= 16) {
            if (body.width == 0) {
                if (n.count != 2 && n.count != 4 && n.count != 8 && n.count != 16)
                    return bad(q, "hex groups of 2, 4, 8 or 16 digits");
                body.width = n.count;
            }
            if (!body.shortGroup && (n.count == body.width || (n.count % 2 == 0 && n.count < body.width))) {
                body.shortGroup = n.count < body.width;  // a shorter group ends the row's hex area
                const auto bytes = static_cast<unsigned>(n.count / 2);
                pushBytes(hexValue(n.digits, n.count), bytes,
                          body.hasAddress ? std::optional<std::uint64_t>(body.rowAddress + body.rowBytes) : std::nullopt,
                          q);
                body.rowBytes += bytes;
                q = s;
                return Status::Continue;
            }
        }
        if (body.hasAddress && body.width == 2 && body.rowBytes > 0) {
            p = q;  // an ASCII column right after 1-byte groups
            return Status::SkipRest;
        }
        return bad(q, body.width ? std::to_string(body.width) + "-digit hex groups" : std::string("hex groups"));
    }

    Status runBody()
    {
        char *q = p;
        char *e = lineEnd;
        for (;;) {
            if (queue.size() - qhead >= kQueueHigh || done) {
                p = q;
                return Status::Yield;
            }
            if (body.runDigits != 0) {
                const Status s = hexRun(q, e);
                if (s != Status::Continue)
                    return s;
                continue;
            }
            std::size_t gap = 0;
            if (body.kind == BodyKind::Groups) {
                for (; q < e && isBlank(*q); ++q)
                    ++gap;
            } else {
                for (; q < e; ++q) {
                    const char c = *q;
                    if (isBlank(c))
                        continue;
                    if (c == ',' || (body.kind == BodyKind::Words && (c == '{' || c == '}' || c == ';'))) {
                        body.sawSep = true;
                        if (c != ',')
                            body.cLine = true;
                        continue;
                    }
                    break;
                }
            }
            if (q == e) {
                p = q;
                return lineWhole ? Status::EndOfLine : Status::NeedData;
            }
            const char c = *q;
            if (c == '*' && body.commentStop) {
                if (q + 1 == e && !lineWhole) {
                    p = q;
                    return Status::NeedData;
                }
                if (q + 1 < e && q[1] == '/') {
                    p = q + 2;
                    body.commentStop = false;
                    return Status::SkipRest;
                }
            }
            if (c == '#') {
                p = q;
                return Status::SkipRest;
            }
            if (c == '/') {
                if (q + 1 == e && !lineWhole) {
                    p = q;
                    return Status::NeedData;
                }
                if (q + 1 < e && q[1] == '/') {
                    p = q;
                    return Status::SkipRest;
                }
                if (q + 1 < e && q[1] == '*' && !body.commentStop) {
                    commentLine = line;
                    commentColumn = columnOf(q);
                    p = q + 2;
                    return Status::Comment;
                }
            }
            Status s = Status::Continue;
            switch (body.kind) {
            case BodyKind::Words: s = wordToken(q, e); break;
            case BodyKind::Asm: s = asmToken(q, e); break;
            case BodyKind::Groups: s = groupToken(q, e, gap); break;
            }
            if (s != Status::Continue)
                return s;
        }
    }

    void noteBodyForm()
    {
        if (!body.data || detected != InputForm::Auto)
            return;
        switch (body.kind) {
        case BodyKind::Words:
            noteForm(cContext || body.sawC || (body.saw0x && body.sawSep) ? InputForm::CArray : InputForm::Hex);
            break;
        case BodyKind::Asm: noteForm(InputForm::Asm); break;
        case BodyKind::Groups:
            if (body.sawDash || body.width >= 8)
                noteForm(InputForm::MemView);
            else
                noteForm(body.width == 4 && body.hasAddress ? InputForm::Xxd : InputForm::Bytes);
            break;
        }
    }

    void bodyStep()
    {
        const Status s = runBody();
        noteBodyForm();
        switch (s) {
        case Status::Continue:
        case Status::Yield: break;
        case Status::EndOfLine:
            if (body.commentStop) {  // a macro's comment that goes on past this line
                inComment = true;
            }
            endLine();
            break;
        case Status::SkipRest: skipRest(); break;
        case Status::NeedData: more(); break;
        case Status::Comment: {
            // A comment inside the words: when it closes on this line, the words go on.
            inComment = true;
            bodyAfterComment = true;
            phase = Phase::Comment;
            break;
        }
        }
    }
};

// ---------------------------------------------------------------------------

std::uint64_t ByteSource::skip(std::uint64_t n)
{
    char scratch[4096];
    std::uint64_t done = 0;
    while (done < n) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(n - done, sizeof scratch));
        const std::size_t got = read(scratch, want);
        if (got == 0)
            break;
        done += got;
    }
    return done;
}

std::size_t FileSource::read(char *buf, std::size_t n)
{
    if (file_ == nullptr || failed_)
        return 0;
#ifdef DLSCOPE_POSIX_READ
    for (;;) {
        const ssize_t got = ::read(fileno(file_), buf, n);
        if (got >= 0)
            return static_cast<std::size_t>(got);
        if (errno != EINTR) {
            failed_ = true;
            return 0;
        }
    }
#else
    const std::size_t got = std::fread(buf, 1, n, file_);
    if (got == 0 && std::ferror(file_))
        failed_ = true;
    return got;
#endif
}

std::uint64_t FileSource::skip(std::uint64_t n)
{
#ifdef DLSCOPE_POSIX_READ
    if (file_ != nullptr && !failed_) {
        const int fd = fileno(file_);
        struct stat info {};
        if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
            const off_t here = ::lseek(fd, 0, SEEK_CUR);
            if (here >= 0) {
                const auto size = static_cast<std::uint64_t>(info.st_size);
                const auto at = static_cast<std::uint64_t>(here);
                const std::uint64_t step = at >= size ? 0 : std::min(n, size - at);
                if (::lseek(fd, static_cast<off_t>(at + step), SEEK_SET) >= 0)
                    return step;
            }
        }
    }
#endif
    return ByteSource::skip(n);
}

std::size_t MemorySource::read(char *buf, std::size_t n)
{
    const std::size_t got = std::min(n, data_.size());
    if (got != 0)
        std::memcpy(buf, data_.data(), got);
    data_.remove_prefix(got);
    return got;
}

std::uint64_t MemorySource::skip(std::uint64_t n)
{
    const auto got = static_cast<std::size_t>(std::min<std::uint64_t>(n, data_.size()));
    data_.remove_prefix(got);
    return got;
}

// ---------------------------------------------------------------------------

ListReader::ListReader(ByteSource &source, ReadOptions options) : state_(std::make_unique<State>(source, options)) {}
ListReader::~ListReader() = default;
ListReader::ListReader(ListReader &&) noexcept = default;
ListReader &ListReader::operator=(ListReader &&) noexcept = default;

std::size_t ListReader::read(std::span<RawCommand> out)
{
    State &s = *state_;
    if (!s.started)
        s.start();
    std::size_t n = 0;
    while (n < out.size()) {
        if (s.qhead < s.queue.size()) {
            const std::size_t k = std::min(out.size() - n, s.queue.size() - s.qhead);
            std::copy_n(s.queue.begin() + static_cast<std::ptrdiff_t>(s.qhead), k, out.begin() + static_cast<std::ptrdiff_t>(n));
            s.qhead += k;
            n += k;
            continue;
        }
        s.queue.clear();
        s.qhead = 0;
        if (s.done)
            break;
        if (s.binary) {
            const std::size_t got = s.readBinary(out.data() + n, out.size() - n);
            n += got;
            if (got == 0)
                break;
            continue;
        }
        if (s.fastReady()) {
            std::size_t want = out.size() - n;
            if (s.opt.count)
                want = static_cast<std::size_t>(std::min<std::uint64_t>(want, *s.opt.count - s.emitted));
            n += s.fastLines(out.data() + n, want);
            if (s.opt.count && s.emitted >= *s.opt.count)
                s.done = true;
            if (n == out.size() || s.done)
                continue;
        }
        s.step();
    }
    return n;
}

std::vector<ReadMessage> ListReader::takeMessages() { return std::exchange(state_->messages, {}); }
std::uint64_t ListReader::suppressedMessages() const { return state_->suppressed; }

InputForm ListReader::form() const
{
    return state_->opt.form != InputForm::Auto ? state_->opt.form : state_->detected;
}

std::span<const Label> ListReader::labels() const { return state_->labels; }

std::string_view ListReader::symbolName(std::int32_t index) const
{
    if (index < 0 || static_cast<std::size_t>(index) >= state_->names.size())
        return {};
    return state_->names[static_cast<std::size_t>(index)];
}

// ---------------------------------------------------------------------------

namespace {
constexpr std::array<std::pair<InputForm, std::string_view>, 10> kFormNames = {{
    {InputForm::Auto, "auto"}, {InputForm::Hex, "hex"}, {InputForm::Bytes, "bytes"}, {InputForm::Xxd, "xxd"},
    {InputForm::MemView, "memview"}, {InputForm::CArray, "c"}, {InputForm::Asm, "asm"},
    {InputForm::Decomp, "decomp"}, {InputForm::Trace, "trace"}, {InputForm::Binary, "binary"},
}};
constexpr std::array<std::pair<ByteOrder, std::string_view>, 4> kOrderNames = {{
    {ByteOrder::Big, "big"}, {ByteOrder::Little, "little"}, {ByteOrder::V64, "v64"}, {ByteOrder::N64, "n64"},
}};
} // namespace

std::string_view inputFormName(InputForm form)
{
    for (const auto &[f, name] : kFormNames)
        if (f == form)
            return name;
    return "?";
}

std::optional<InputForm> parseInputForm(std::string_view name)
{
    for (const auto &[f, n] : kFormNames)
        if (equalsLower(name, n))
            return f;
    return std::nullopt;
}

std::string_view byteOrderName(ByteOrder order)
{
    for (const auto &[o, name] : kOrderNames)
        if (o == order)
            return name;
    return "?";
}

std::optional<ByteOrder> parseByteOrder(std::string_view name)
{
    for (const auto &[o, n] : kOrderNames)
        if (equalsLower(name, n))
            return o;
    return std::nullopt;
}

std::string formatMessage(const ReadMessage &message)
{
    if (message.line == 0)
        return message.text;
    std::string s = "line " + std::to_string(message.line);
    if (message.column != 0)
        s += ", column " + std::to_string(message.column);
    return s + ": " + message.text;
}

} // namespace dlscope::gbi
