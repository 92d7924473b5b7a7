// C constant expressions: literals, operators with the N64's C types, casts,
// the header's helper macros, named constants and symbols.

#include "gbi/parser_internal.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace dlscope::gbi::asm_detail {

Value Value::integer(CType type, std::uint64_t bits)
{
    Value v;
    v.type = type;
    switch (type) {
    case CType::S32: v.bits = static_cast<std::uint64_t>(static_cast<std::int64_t>(static_cast<std::int32_t>(static_cast<std::uint32_t>(bits)))); break;
    case CType::U32: v.bits = bits & 0xFFFFFFFFu; break;
    default: v.bits = bits; break;
    }
    return v;
}

Value Value::floating(CType type, double d)
{
    Value v;
    v.type = type;
    v.real = type == CType::F32 ? static_cast<double>(static_cast<float>(d)) : d;
    return v;
}

std::int64_t Value::asInt() const { return static_cast<std::int64_t>(bits); }

double Value::asReal() const
{
    if (isFloat(type))
        return real;
    return isUnsigned(type) ? static_cast<double>(bits) : static_cast<double>(static_cast<std::int64_t>(bits));
}

namespace {

// --- Types for casts and sizeof -------------------------------------------------------

struct TypeInfo {
    bool isVoid = false;
    bool isStruct = false; // a GBI structure: only usable behind a pointer
    CType type = CType::S32;
    int width = 32; // 8, 16, 32, 64 for integers
    bool isSigned = true;
    std::uint32_t size = 4;
    int pointers = 0;
};

struct NamedType {
    std::string_view name;
    TypeInfo info;
};

constexpr TypeInfo intT(int width, bool isSigned)
{
    TypeInfo t;
    t.width = width;
    t.isSigned = isSigned;
    t.type = width == 64 ? (isSigned ? CType::S64 : CType::U64) : (width == 32 && !isSigned ? CType::U32 : CType::S32);
    t.size = static_cast<std::uint32_t>(width / 8);
    return t;
}
constexpr TypeInfo floatT(bool isDouble)
{
    TypeInfo t;
    t.type = isDouble ? CType::F64 : CType::F32;
    t.size = isDouble ? 8 : 4;
    t.width = isDouble ? 64 : 32;
    return t;
}
constexpr TypeInfo structT(std::uint32_t size)
{
    TypeInfo t;
    t.isStruct = true;
    t.size = size;
    return t;
}

// Typedef names of the N64 headers and the GBI structures, with their sizes.
constexpr NamedType kTypedefs[] = {
    {"u8", intT(8, false)},       {"s8", intT(8, true)},        {"u16", intT(16, false)},    {"s16", intT(16, true)},
    {"u32", intT(32, false)},     {"s32", intT(32, true)},      {"u64", intT(64, false)},    {"s64", intT(64, true)},
    {"f32", floatT(false)},       {"f64", floatT(true)},        {"uint8_t", intT(8, false)}, {"int8_t", intT(8, true)},
    {"uint16_t", intT(16, false)}, {"int16_t", intT(16, true)}, {"uint32_t", intT(32, false)}, {"int32_t", intT(32, true)},
    {"uint64_t", intT(64, false)}, {"int64_t", intT(64, true)}, {"uintptr_t", intT(32, false)}, {"intptr_t", intT(32, true)},
    {"size_t", intT(32, false)},  {"ptrdiff_t", intT(32, true)}, {"Gfx", structT(8)},        {"Vtx", structT(16)},
    {"Vtx_t", structT(16)},       {"Vtx_tn", structT(16)},      {"Mtx", structT(64)},        {"Light", structT(16)},
    {"Light_t", structT(16)},     {"Ambient", structT(8)},      {"Ambient_t", structT(8)},   {"Lights0", structT(24)},
    {"Lights1", structT(24)},     {"Lights2", structT(40)},     {"Lights3", structT(56)},    {"Lights4", structT(72)},
    {"Lights5", structT(88)},     {"Lights6", structT(104)},    {"Lights7", structT(120)},   {"LookAt", structT(32)},
    {"Hilite", structT(16)},      {"Vp", structT(16)},          {"Vp_t", structT(16)},       {"uSprite", structT(24)},
};

const TypeInfo* typedefNamed(std::string_view name)
{
    for (const NamedType& t : kTypedefs)
        if (t.name == name)
            return &t.info;
    return nullptr;
}

bool typeKeyword(std::string_view w)
{
    return w == "void" || w == "char" || w == "short" || w == "int" || w == "long" || w == "signed" || w == "unsigned"
        || w == "float" || w == "double" || w == "const" || w == "volatile" || w == "struct";
}

// --- Literals ----------------------------------------------------------------------

struct Literal {
    bool ok = false;
    Value value;
    std::string error;
};

Literal parseNumber(std::string_view text)
{
    Literal out;
    const bool hexPrefix = text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const bool binPrefix = text.size() > 1 && text[0] == '0' && (text[1] == 'b' || text[1] == 'B');
    const bool isFloatText = hexPrefix ? text.find_first_of(".pP") != std::string_view::npos
                                       : text.find_first_of(".eE") != std::string_view::npos && !binPrefix;
    if (isFloatText) {
        std::string_view body = text;
        CType type = CType::F64;
        if (body.ends_with('f') || body.ends_with('F')) {
            type = CType::F32;
            body.remove_suffix(1);
        } else if (body.ends_with('l') || body.ends_with('L')) {
            body.remove_suffix(1);
        }
        double d = 0;
        std::from_chars_result r;
        if (hexPrefix)
            r = std::from_chars(body.data() + 2, body.data() + body.size(), d, std::chars_format::hex);
        else
            r = std::from_chars(body.data(), body.data() + body.size(), d, std::chars_format::general);
        if (r.ec == std::errc::result_out_of_range) {
            out.error = "floating constant " + quote(text) + " is out of range";
            return out;
        }
        if (r.ec != std::errc() || r.ptr != body.data() + body.size()) {
            out.error = "malformed number " + quote(text);
            return out;
        }
        out.ok = true;
        out.value = Value::floating(type, d);
        return out;
    }
    int base = 10;
    std::size_t p = 0;
    if (hexPrefix) {
        base = 16;
        p = 2;
    } else if (binPrefix) {
        base = 2;
        p = 2;
    } else if (text.size() > 1 && text[0] == '0') {
        base = 8;
        p = 1;
    }
    std::uint64_t v = 0;
    bool overflow = false;
    const std::size_t digitsStart = p;
    for (; p < text.size(); ++p) {
        const char c = text[p];
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            break;
        if (d >= base) {
            if (d >= 10)
                break; // a suffix

            out.error = "invalid digit '" + std::string(1, c) + "' in " + (base == 8 ? "octal" : "binary") + " constant " + quote(text);
            return out;
        }
        if (v > (std::numeric_limits<std::uint64_t>::max() - static_cast<unsigned>(d)) / static_cast<unsigned>(base))
            overflow = true;
        v = v * static_cast<unsigned>(base) + static_cast<unsigned>(d);
    }
    if (p == digitsStart && base != 8) {
        out.error = "malformed number " + quote(text);
        return out;
    }
    // Suffix: u, l, ll in any combination.
    const std::string_view suffix = text.substr(p);
    bool isU = false;
    int longs = 0;
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        const char c = suffix[i];
        if ((c == 'u' || c == 'U') && !isU) {
            isU = true;
        } else if ((c == 'l' || c == 'L') && longs == 0) {
            longs = 1;
            if (i + 1 < suffix.size() && suffix[i + 1] == c) {
                longs = 2;
                ++i;
            }
        } else {
            out.error = "invalid suffix " + quote(suffix) + " on number " + quote(text);
            return out;
        }
    }
    if (overflow) {
        out.error = "number " + quote(text) + " is too large (more than 64 bits)";
        return out;
    }
    // Types in the order C tries them (long is 32 bits here).
    CType type;
    const bool decimal = base == 10;
    if (longs == 2) {
        type = isU || v > 0x7FFFFFFFFFFFFFFFull ? CType::U64 : CType::S64;
    } else if (isU) {
        type = v <= 0xFFFFFFFFull ? CType::U32 : CType::U64;
    } else if (v <= 0x7FFFFFFFull) {
        type = CType::S32;
    } else if (!decimal && v <= 0xFFFFFFFFull) {
        type = CType::U32;
    } else if (v <= 0x7FFFFFFFFFFFFFFFull) {
        type = CType::S64;
    } else {
        type = CType::U64;
    }
    out.ok = true;
    out.value = Value::integer(type, v);
    return out;
}

Literal parseChar(std::string_view text)
{
    Literal out;
    std::string_view body = text.substr(1, text.size() - 2);
    int v = 0;
    if (body.size() == 1 && body[0] != '\\') {
        v = static_cast<signed char>(body[0]);
    } else if (body.size() >= 2 && body[0] == '\\') {
        const char e = body[1];
        if (body.size() == 2) {
            switch (e) {
            case 'n': v = '\n'; break;
            case 't': v = '\t'; break;
            case 'r': v = '\r'; break;
            case '0': v = 0; break;
            case '\\': v = '\\'; break;
            case '\'': v = '\''; break;
            case '"': v = '"'; break;
            case 'a': v = 7; break;
            case 'b': v = 8; break;
            case 'f': v = 12; break;
            case 'v': v = 11; break;
            default: out.error = "unknown escape in character constant " + quote(text); return out;
            }
        } else if (e == 'x' || (e >= '0' && e <= '7')) {
            const int base = e == 'x' ? 16 : 8;
            unsigned acc = 0;
            for (std::size_t i = e == 'x' ? 2 : 1; i < body.size(); ++i) {
                const char c = body[i];
                const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : 99;
                if (d >= base || acc > 0xFFF) {
                    out.error = "malformed character constant " + quote(text);
                    return out;
                }
                acc = acc * static_cast<unsigned>(base) + static_cast<unsigned>(d);
            }
            v = static_cast<signed char>(static_cast<unsigned char>(acc));
        } else {
            out.error = "malformed character constant " + quote(text);
            return out;
        }
    } else {
        out.error = "character constant " + quote(text) + " must hold one character";
        return out;
    }
    out.ok = true;
    out.value = Value::s32(v);
    return out;
}

// --- Arithmetic ----------------------------------------------------------------------

CType commonType(CType a, CType b)
{
    if (a == CType::F64 || b == CType::F64)
        return CType::F64;
    if (a == CType::F32 || b == CType::F32)
        return CType::F32;
    if (a == b)
        return a;
    const bool s64 = a == CType::S64 || b == CType::S64;
    const bool u64 = a == CType::U64 || b == CType::U64;
    if (u64)
        return CType::U64;
    if (s64)
        return CType::S64; // S64 holds every U32
    return CType::U32;     // S32 with U32
}

// Converts an integer or float to another type as C does. `ok` turns false
// when a float does not fit the integer type.
Value convert(const Value& v, CType to, bool& ok)
{
    if (isFloat(to))
        return Value::floating(to, v.asReal());
    if (isFloat(v.type)) {
        const double d = std::trunc(v.real);
        if (!(d > -9.2e18 && d < 1.8e19)) {
            ok = false;
            return Value::integer(to, 0);
        }
        const std::uint64_t bits = d < 0 ? static_cast<std::uint64_t>(static_cast<std::int64_t>(d))
            : d >= 9.2e18 ? static_cast<std::uint64_t>(d) : static_cast<std::uint64_t>(static_cast<std::int64_t>(d));
        return Value::integer(to, bits);
    }
    return Value::integer(to, v.bits);
}

// Truncates an integer to a width and signedness (8/16/32/64) and gives the
// value the type it promotes to.
Value truncateTo(const Value& v, int width, bool isSigned)
{
    std::uint64_t bits = v.bits;
    if (width < 64) {
        const std::uint64_t mask = (1ull << width) - 1;
        bits &= mask;
        if (isSigned && (bits >> (width - 1)) & 1)
            bits |= ~mask;
    }
    if (width <= 16)
        return Value::integer(CType::S32, bits);
    if (width == 32)
        return Value::integer(isSigned ? CType::S32 : CType::U32, bits);
    return Value::integer(isSigned ? CType::S64 : CType::U64, bits);
}

bool truthy(const Value& v) { return isFloat(v.type) ? v.real != 0 : v.bits != 0; }

Value boolean(bool b) { return Value::s32(b ? 1 : 0); }

struct QHelper {
    std::string_view name;
    int frac;
    int width;
    bool isSigned;
};
// Fixed-point helpers: (type)(x * 2^frac), named by signedness, integer
// bits and fraction bits.
constexpr QHelper kQHelpers[] = {
    {"qu016", 16, 16, false}, {"qu102", 2, 16, false},  {"qu105", 5, 16, false}, {"qs105", 5, 16, true},
    {"qu510", 10, 16, false}, {"qs510", 10, 16, true},  {"qs1114", 14, 16, true}, {"qs1616", 16, 32, true},
    {"qu1616", 16, 32, false}, {"qu111", 11, 16, false}, {"qs111", 11, 16, true},
};

// --- The parser ------------------------------------------------------------------------

class ExprParser {
public:
    ExprParser(Engine& engine, std::span<const Token> tokens, const Token& where, std::string_view what, int depth)
        : e_(engine), toks_(tokens), where_(where), what_(what), depth_(depth)
    {
        end_ = tokens.empty() ? where : tokens.back();
        end_.kind = Tok::End;
        end_.column = end_.column + static_cast<std::uint32_t>(std::min<std::size_t>(end_.text.size(), 0xFFFF));
        end_.text = {};
    }

    std::optional<Value> parseAll()
    {
        if (toks_.empty()) {
            e_.error(where_, std::string(what_) + " is empty");
            return std::nullopt;
        }
        Value v = conditional();
        if (failed_)
            return std::nullopt;
        if (pos_ < toks_.size()) {
            fail(peek(), "unexpected " + describe(peek()) + " after the expression");
            return std::nullopt;
        }
        return v;
    }

private:
    const Token& peek(std::size_t k = 0) const { return pos_ + k < toks_.size() ? toks_[pos_ + k] : end_; }
    const Token& take() { return pos_ < toks_.size() ? toks_[pos_++] : end_; }

    static std::string describe(const Token& t)
    {
        if (t.kind == Tok::End)
            return "the end of the argument";
        return quote(t.text);
    }

    Value fail(const Token& at, std::string text)
    {
        if (!failed_)
            e_.error(at, std::string(what_) + ": " + text);
        failed_ = true;
        return Value{};
    }
    // Errors that C reports only where the operand is evaluated.
    Value evalFail(const Token& at, std::string text)
    {
        if (skipping_ > 0)
            return Value::s32(0);
        return fail(at, std::move(text));
    }

    bool expect(std::string_view punct)
    {
        if (peek().is(punct)) {
            ++pos_;
            return true;
        }
        fail(peek(), "expected '" + std::string(punct) + "', found " + describe(peek()));
        return false;
    }

    struct DepthGuard {
        ExprParser& p;
        explicit DepthGuard(ExprParser& parser) : p(parser) { ++p.depth_; }
        ~DepthGuard() { --p.depth_; }
    };
    bool tooDeep(const Token& at)
    {
        if (depth_ <= kMaxDepth)
            return false;
        fail(at, "expression nested too deeply (more than " + std::to_string(kMaxDepth) + " levels)");
        return true;
    }

    Value conditional()
    {
        DepthGuard guard(*this);
        if (tooDeep(peek()))
            return Value{};
        Value c = binary(1);
        if (failed_ || !peek().is("?"))
            return c;
        ++pos_;
        const bool which = truthy(c);
        if (!which)
            ++skipping_;
        Value a = conditional();
        if (!which)
            --skipping_;
        if (failed_ || !expect(":"))
            return Value{};
        if (which)
            ++skipping_;
        Value b = conditional();
        if (which)
            --skipping_;
        if (failed_)
            return Value{};
        if (a.pointer && b.pointer)
            return which ? a : b;
        bool ok = true;
        const CType t = commonType(a.type, b.type);
        return which ? convert(a, t, ok) : convert(b, t, ok);
    }

    static int precedence(const Token& t)
    {
        if (t.kind != Tok::Punct)
            return 0;
        const std::string_view s = t.text;
        if (s == "||") return 1;
        if (s == "&&") return 2;
        if (s == "|") return 3;
        if (s == "^") return 4;
        if (s == "&") return 5;
        if (s == "==" || s == "!=") return 6;
        if (s == "<" || s == ">" || s == "<=" || s == ">=") return 7;
        if (s == "<<" || s == ">>") return 8;
        if (s == "+" || s == "-") return 9;
        if (s == "*" || s == "/" || s == "%") return 10;
        return 0;
    }

    Value binary(int minPrec)
    {
        Value lhs = unary();
        while (!failed_) {
            const Token& op = peek();
            const int prec = precedence(op);
            if (prec == 0 || prec < minPrec)
                break;
            ++pos_;
            const bool shortCircuit = (op.text == "&&" && !truthy(lhs)) || (op.text == "||" && truthy(lhs));
            if (shortCircuit)
                ++skipping_;
            Value rhs = binary(prec + 1);
            if (shortCircuit)
                --skipping_;
            if (failed_)
                break;
            lhs = apply(op, lhs, rhs);
        }
        return lhs;
    }

    Value apply(const Token& opTok, const Value& a, const Value& b)
    {
        const std::string_view op = opTok.text;
        if (op == "&&")
            return boolean(truthy(a) && truthy(b));
        if (op == "||")
            return boolean(truthy(a) || truthy(b));
        // Pointer arithmetic counts elements.
        if ((op == "+" || op == "-") && (a.pointer || b.pointer) && !isFloat(a.type) && !isFloat(b.type)) {
            if (a.pointer && b.pointer) {
                if (op == "+")
                    return fail(opTok, "cannot add two addresses");
                const std::int64_t diff = static_cast<std::int64_t>(static_cast<std::uint32_t>(a.bits)) - static_cast<std::int64_t>(static_cast<std::uint32_t>(b.bits));
                const std::uint32_t size = a.elemSize ? a.elemSize : 1;
                return Value::s32(diff / static_cast<std::int64_t>(size));
            }
            const Value& ptr = a.pointer ? a : b;
            const Value& n = a.pointer ? b : a;
            if (op == "-" && !a.pointer)
                return fail(opTok, "cannot subtract an address from a number");
            const std::uint64_t scale = ptr.elemSize ? ptr.elemSize : 1;
            const std::uint64_t delta = n.bits * scale;
            Value r = Value::integer(CType::U32, op == "+" ? ptr.bits + delta : ptr.bits - delta);
            r.pointer = true;
            r.elemSize = ptr.elemSize;
            r.symbol = ptr.symbol;
            return r;
        }
        if (isFloat(a.type) || isFloat(b.type)) {
            if (op == "%" || op == "<<" || op == ">>" || op == "&" || op == "|" || op == "^")
                return fail(opTok, "operator '" + std::string(op) + "' needs integer operands");
            const CType t = commonType(a.type, b.type);
            bool ok = true;
            const double x = convert(a, t, ok).real, y = convert(b, t, ok).real;
            if (op == "==") return boolean(x == y);
            if (op == "!=") return boolean(x != y);
            if (op == "<") return boolean(x < y);
            if (op == ">") return boolean(x > y);
            if (op == "<=") return boolean(x <= y);
            if (op == ">=") return boolean(x >= y);
            if (t == CType::F32) {
                const float fx = static_cast<float>(x), fy = static_cast<float>(y);
                if (op == "+") return Value::floating(t, fx + fy);
                if (op == "-") return Value::floating(t, fx - fy);
                if (op == "*") return Value::floating(t, fx * fy);
                if (fy == 0)
                    return evalFail(opTok, "division by zero");
                return Value::floating(t, fx / fy);
            }
            if (op == "+") return Value::floating(t, x + y);
            if (op == "-") return Value::floating(t, x - y);
            if (op == "*") return Value::floating(t, x * y);
            if (y == 0)
                return evalFail(opTok, "division by zero");
            return Value::floating(t, x / y);
        }
        if (op == "<<" || op == ">>") {
            const CType t = a.type;
            const int width = widthOf(t);
            const std::int64_t count = isUnsigned(b.type) && b.bits > 0x7FFFFFFFFFFFFFFFull ? -1 : b.asInt();
            if (count < 0 || count >= width)
                return evalFail(opTok, "shift count " + std::to_string(count) + " is out of range for a " + std::to_string(width) + "-bit value");
            if (op == "<<")
                return Value::integer(t, a.bits << count);
            if (isUnsigned(t))
                return Value::integer(t, (t == CType::U32 ? (a.bits & 0xFFFFFFFFu) : a.bits) >> count);
            return Value::integer(t, static_cast<std::uint64_t>(a.asInt() >> count));
        }
        const CType t = commonType(a.type, b.type);
        bool ok = true;
        const Value x = convert(a, t, ok), y = convert(b, t, ok);
        const bool u = isUnsigned(t);
        if (op == "==") return boolean(x.bits == y.bits);
        if (op == "!=") return boolean(x.bits != y.bits);
        if (op == "<") return boolean(u ? x.bits < y.bits : x.asInt() < y.asInt());
        if (op == ">") return boolean(u ? x.bits > y.bits : x.asInt() > y.asInt());
        if (op == "<=") return boolean(u ? x.bits <= y.bits : x.asInt() <= y.asInt());
        if (op == ">=") return boolean(u ? x.bits >= y.bits : x.asInt() >= y.asInt());
        if (op == "+") return Value::integer(t, x.bits + y.bits);
        if (op == "-") return Value::integer(t, x.bits - y.bits);
        if (op == "*") return Value::integer(t, x.bits * y.bits);
        if (op == "&") return Value::integer(t, x.bits & y.bits);
        if (op == "|") return Value::integer(t, x.bits | y.bits);
        if (op == "^") return Value::integer(t, x.bits ^ y.bits);
        // "/" and "%"
        if (y.bits == 0)
            return evalFail(opTok, op == "/" ? "division by zero" : "remainder by zero");
        if (u) {
            const std::uint64_t xb = t == CType::U32 ? x.bits & 0xFFFFFFFFu : x.bits;
            const std::uint64_t yb = t == CType::U32 ? y.bits & 0xFFFFFFFFu : y.bits;
            return Value::integer(t, op == "/" ? xb / yb : xb % yb);
        }
        const std::int64_t xi = x.asInt(), yi = y.asInt();
        if (yi == -1)
            return Value::integer(t, op == "/" ? 0 - static_cast<std::uint64_t>(xi) : 0);
        return Value::integer(t, static_cast<std::uint64_t>(op == "/" ? xi / yi : xi % yi));
    }

    // A parenthesised type name at the cursor ('(' already seen at peek()).
    bool castAhead(TypeInfo& type, std::size_t& length) const
    {
        std::size_t k = 1;
        bool any = false;
        bool isUnsignedWord = false;
        int longs = 0;
        bool shortWord = false, charWord = false, intWord = false, floatWord = false, doubleWord = false, voidWord = false;
        const TypeInfo* named = nullptr;
        bool structWord = false;
        for (;; ++k) {
            const Token& t = peek(k);
            if (t.kind == Tok::Ident) {
                const std::string_view w = t.text;
                if (structWord) {
                    // struct TAG: only as a pointer.
                    named = typedefNamed(w);
                    structWord = false;
                    if (!named)
                        named = &kStructUnknown;
                    any = true;
                    continue;
                }
                if (w == "const" || w == "volatile")
                    continue;
                if (w == "struct") {
                    structWord = true;
                    continue;
                }
                if (typeKeyword(w)) {
                    any = true;
                    if (w == "unsigned") isUnsignedWord = true;
                    else if (w == "signed") {}
                    else if (w == "long") ++longs;
                    else if (w == "short") shortWord = true;
                    else if (w == "char") charWord = true;
                    else if (w == "int") intWord = true;
                    else if (w == "float") floatWord = true;
                    else if (w == "double") doubleWord = true;
                    else if (w == "void") voidWord = true;
                    continue;
                }
                if (!any && !named) {
                    named = typedefNamed(w);
                    if (named) {
                        any = true;
                        continue;
                    }
                }
                return false;
            }
            if (t.is("*")) {
                if (!any)
                    return false;
                ++type.pointers;
                continue;
            }
            if (t.is(")") && any)
                break;
            return false;
        }
        (void)intWord;
        if (named) {
            const int pointers = type.pointers;
            type = *named;
            type.pointers = pointers;
        } else if (voidWord) {
            type.isVoid = true;
            type.size = 1;
        } else if (floatWord || doubleWord) {
            type = floatT(doubleWord);
        } else {
            const int width = charWord ? 8 : shortWord ? 16 : longs >= 2 ? 64 : 32;
            const int pointers = type.pointers;
            type = intT(width, !isUnsignedWord);
            type.pointers = pointers;
        }
        length = k + 1;
        return true;
    }

    static constexpr TypeInfo kStructUnknown = structT(0);

    Value castTo(const Token& at, const TypeInfo& type, const Value& v)
    {
        if (type.pointers > 0) {
            if (isFloat(v.type))
                return fail(at, "cannot cast a floating value to a pointer");
            Value r = Value::integer(CType::U32, v.bits);
            r.pointer = true;
            r.symbol = v.symbol;
            r.elemSize = type.pointers > 1 ? 4 : type.isVoid ? 0 : type.size;
            return r;
        }
        if (type.isStruct)
            return fail(at, "cannot cast to a structure");
        if (type.isVoid)
            return Value::s32(0);
        if (isFloat(type.type)) {
            bool ok = true;
            return convert(v, type.type, ok);
        }
        bool ok = true;
        Value i = convert(v, type.width == 64 ? (type.isSigned ? CType::S64 : CType::U64) : CType::S64, ok);
        if (!ok)
            return evalFail(at, "the floating value does not fit the integer type");
        if (isFloat(v.type) && !type.isSigned && v.real < 0 && skipping_ == 0)
            e_.warning(at, std::string(what_) + ": a negative floating value converted to an unsigned type");
        return truncateTo(i, type.width, type.isSigned);
    }

    Value unary()
    {
        DepthGuard guard(*this);
        if (tooDeep(peek()))
            return Value{};
        const Token& t = peek();
        if (t.kind == Tok::Punct) {
            if (t.text == "(") {
                TypeInfo type;
                std::size_t length = 0;
                if (castAhead(type, length)) {
                    const Token& at = t;
                    pos_ += length;
                    Value v = unary();
                    if (failed_)
                        return v;
                    return castTo(at, type, v);
                }
            }
            if (t.text == "+" || t.text == "-" || t.text == "~" || t.text == "!") {
                const Token& op = take();
                Value v = unary();
                if (failed_)
                    return v;
                if (op.text == "!")
                    return boolean(!truthy(v));
                if (isFloat(v.type)) {
                    if (op.text == "~")
                        return fail(op, "operator '~' needs an integer operand");
                    return op.text == "-" ? Value::floating(v.type, -v.real) : v;
                }
                if (op.text == "-")
                    return Value::integer(v.type, 0 - v.bits);
                if (op.text == "~")
                    return Value::integer(v.type, ~v.bits);
                v.member = false;
                return v;
            }
            if (t.text == "&") {
                const Token& op = take();
                Value v = unary();
                if (failed_)
                    return v;
                if (!v.pointer)
                    return fail(op, "'&' needs a symbol, an element or a member");
                v.member = false;
                return v;
            }
            if (t.text == "*")
                return fail(t, "cannot read memory: '*' has no value in a constant expression");
            if (t.text == "++" || t.text == "--")
                return fail(t, "'" + std::string(t.text) + "' is not allowed in a constant expression");
        }
        if (t.ident("sizeof"))
            return sizeOf();
        return postfix(primary());
    }

    Value sizeOf()
    {
        const Token& at = take();
        TypeInfo type;
        std::size_t length = 0;
        if (peek().is("(") && castAhead(type, length)) {
            pos_ += length;
            if (type.pointers > 0)
                return Value::integer(CType::U32, 4);
            if (type.size == 0 || type.isVoid)
                return fail(at, "the size of this type is unknown");
            return Value::integer(CType::U32, type.size);
        }
        return fail(at, "sizeof needs a type name here, as in sizeof(Vtx)");
    }

    Value primary()
    {
        const Token& t = take();
        switch (t.kind) {
        case Tok::Number: {
            Literal lit = parseNumber(t.text);
            if (!lit.ok)
                return fail(t, lit.error);
            return lit.value;
        }
        case Tok::CharLit: {
            Literal lit = parseChar(t.text);
            if (!lit.ok)
                return fail(t, lit.error);
            return lit.value;
        }
        case Tok::String: return fail(t, "a string is not a number");
        case Tok::Ident:
            if (peek().is("("))
                return call(t);
            return identifier(t);
        case Tok::Punct:
            if (t.text == "(") {
                Value v = conditional();
                if (failed_)
                    return v;
                if (!expect(")"))
                    return Value{};
                return v;
            }
            break;
        default: break;
        }
        if (t.kind == Tok::End)
            return fail(t, "expected a value, found the end of the argument");
        return fail(t, "expected a value, found " + describe(t));
    }

    // Light structures: `.a`, `.l`, `.l[i]`, and `.l` of an element (the
    // union's own member); other arrays: `[i]` counts elements.
    enum class Shape : std::uint8_t { Plain, Unknown, Lights, LightsArray, LightArray, LightElem, Array };

    Value identifier(const Token& t)
    {
        std::optional<Value> v = e_.lookupIdentifier(t, depth_, what_);
        if (!v) {
            failed_ = true;
            return Value{};
        }
        shape_ = Shape::Plain;
        if (v->pointer) {
            const auto it = e_.decls.find(t.text);
            if (it == e_.decls.end())
                shape_ = Shape::Unknown;
            else if (it->second.kind == DeclKind::Lights)
                shape_ = it->second.array ? Shape::LightsArray : Shape::Lights;
            else
                shape_ = Shape::Array;
        }
        return *v;
    }

    Value postfix(Value v)
    {
        if (failed_)
            return v;
        Shape shape = shape_;
        shape_ = Shape::Plain;
        for (;;) {
            const Token& t = peek();
            if (t.is("[")) {
                ++pos_;
                if (!v.pointer || shape == Shape::Plain || shape == Shape::Lights || shape == Shape::LightElem)
                    return fail(t, "'[' needs an array");
                Value index = conditional();
                if (failed_ || !expect("]"))
                    return Value{};
                if (isFloat(index.type))
                    return fail(t, "an array index must be an integer");
                const std::int64_t i = index.asInt();
                if (i != 0 && v.elemSize == 0)
                    return fail(t, "the element size of " + quote(v.symbol) + " is unknown: write " + std::string(v.symbol)
                                   + " + BYTES, or declare it in the source (Vtx " + std::string(v.symbol) + "[] ...)");
                v.bits = (v.bits + static_cast<std::uint64_t>(i) * v.elemSize) & 0xFFFFFFFFu;
                v.member = true;
                shape = shape == Shape::LightArray ? Shape::LightElem : shape == Shape::LightsArray ? Shape::Lights : Shape::Plain;
                v.elemSize = 0;
                continue;
            }
            if (t.is(".") || t.is("->")) {
                ++pos_;
                const Token& m = take();
                if (m.kind != Tok::Ident)
                    return fail(m, "expected a member name after '" + std::string(t.text) + "'");
                if (t.text == "->")
                    return fail(t, "cannot read memory through '->' in a constant expression");
                if ((shape == Shape::Lights || shape == Shape::Unknown) && m.text == "a") {
                    v.member = true;
                    v.elemSize = 0;
                    shape = Shape::LightElem;
                    continue;
                }
                if ((shape == Shape::Lights || shape == Shape::Unknown) && m.text == "l") {
                    v.bits = (v.bits + 8) & 0xFFFFFFFFu;
                    v.elemSize = 16;
                    v.member = false; // an array: decays to its address
                    shape = Shape::LightArray;
                    continue;
                }
                if (shape == Shape::LightElem && m.text == "l") {
                    v.member = true;
                    continue;
                }
                return fail(m, "unsupported member " + quote(m.text) + ": only the light structures' .a, .l and .l[i] are known");
            }
            break;
        }
        return v;
    }

    // Helper macros of the header that sources use in arguments.
    Value call(const Token& name)
    {
        const Token& open = take(); // '('
        std::vector<Value> args;
        if (!peek().is(")")) {
            for (;;) {
                args.push_back(conditional());
                if (failed_)
                    return Value{};
                if (peek().is(",")) {
                    ++pos_;
                    continue;
                }
                break;
            }
        }
        if (!expect(")"))
            return Value{};
        const std::string_view n = name.text;
        auto need = [&](std::size_t count) {
            if (args.size() == count)
                return true;
            fail(name, std::string(n) + " takes " + std::to_string(count) + " argument" + (count == 1 ? "" : "s") + ", found "
                           + std::to_string(args.size()));
            return false;
        };
        auto integerArg = [&](std::size_t i, std::int64_t& out) {
            bool ok = true;
            if (isFloat(args[i].type)) {
                out = convert(args[i], CType::S64, ok).asInt();
                return ok;
            }
            out = args[i].asInt();
            return true;
        };
        (void)open;
        if (n == "GBL_c1" || n == "GBL_c2") {
            if (!need(4))
                return Value{};
            const int top = n == "GBL_c1" ? 30 : 28;
            std::uint64_t bits = 0;
            for (int i = 0; i < 4; ++i) {
                std::int64_t a;
                if (!integerArg(static_cast<std::size_t>(i), a))
                    return fail(name, "bad argument");
                bits |= static_cast<std::uint64_t>(a) << (top - 4 * i);
            }
            return Value::integer(CType::S32, bits);
        }
        if (n == "CALC_DXT" || n == "TXL2WORDS") {
            if (!need(2))
                return Value{};
            std::int64_t w, b;
            integerArg(0, w);
            integerArg(1, b);
            const std::int64_t words = std::max<std::int64_t>(1, static_cast<std::int32_t>(w * b) / 8);
            if (n == "TXL2WORDS")
                return Value::s32(words);
            return Value::s32((2048 + words - 1) / words);
        }
        if (n == "CALC_DXT_4b" || n == "TXL2WORDS_4b") {
            if (!need(1))
                return Value{};
            std::int64_t w;
            integerArg(0, w);
            const std::int64_t words = std::max<std::int64_t>(1, static_cast<std::int32_t>(w) / 16);
            if (n == "TXL2WORDS_4b")
                return Value::s32(words);
            return Value::s32((2048 + words - 1) / words);
        }
        if (n == "MIN") {
            if (!need(2))
                return Value{};
            Token lt = name;
            lt.kind = Tok::Punct;
            lt.text = "<";
            const bool firstLess = truthy(apply(lt, args[0], args[1]));
            bool ok = true;
            const CType t = commonType(args[0].type, args[1].type);
            return convert(firstLess ? args[0] : args[1], t, ok);
        }
        if (n == "GPACK_RGBA5551") {
            if (!need(4))
                return Value{};
            std::int64_t r, g, b, a;
            integerArg(0, r);
            integerArg(1, g);
            integerArg(2, b);
            integerArg(3, a);
            return Value::s32(((r << 8) & 0xF800) | ((g << 3) & 0x7C0) | ((b >> 2) & 0x3E) | (a & 1));
        }
        if (n == "GPACK_ZDZ") {
            if (!need(2))
                return Value{};
            std::int64_t z, dz;
            integerArg(0, z);
            integerArg(1, dz);
            return Value::integer(CType::S32, static_cast<std::uint64_t>((z << 2) | dz));
        }
        if (n == "_SHIFTL" || n == "_SHIFTR") {
            if (!need(3))
                return Value{};
            std::int64_t v, s, w;
            integerArg(0, v);
            integerArg(1, s);
            integerArg(2, w);
            if (s < 0 || s > 31 || w < 0 || w > 31)
                return evalFail(name, "shift or width out of range in " + std::string(n));
            const std::uint32_t mask = (1u << w) - 1u;
            const auto u = static_cast<std::uint32_t>(v);
            return Value::integer(CType::U32, n == "_SHIFTL" ? (u & mask) << s : (u >> s) & mask);
        }
        if (n == "FTOFIX32") {
            if (!need(1))
                return Value{};
            const float f = static_cast<float>(args[0].asReal()) * 65536.0f;
            if (!(f > -2147483648.0f && f < 2147483648.0f))
                return evalFail(name, "FTOFIX32 argument out of range");
            return Value::s32(static_cast<std::int32_t>(f));
        }
        for (const QHelper& q : kQHelpers) {
            if (q.name != n)
                continue;
            if (!need(1))
                return Value{};
            Value x = args[0];
            Value scaled;
            if (isFloat(x.type)) {
                const double d = x.real * static_cast<double>(1ll << q.frac);
                scaled = Value::floating(x.type, d);
            } else {
                scaled = Value::integer(x.type, x.bits << q.frac);
            }
            bool ok = true;
            Value i = convert(scaled, CType::S64, ok);
            if (!ok)
                return evalFail(name, std::string(n) + " argument out of range");
            return truncateTo(i, q.width, q.isSigned);
        }
        const auto def = e_.defines.find(n);
        if (def != e_.defines.end() && def->second.functionLike)
            return fail(name, "function-like macro " + quote(n) + " of this file is not supported");
        if (looksLikeMacro(n))
            return fail(name, quote(n) + " is a display-list macro, not a value");
        return fail(name, "unknown function " + quote(n));
    }

    Engine& e_;
    std::span<const Token> toks_;
    const Token& where_;
    std::string_view what_;
    Token end_;
    std::size_t pos_ = 0;
    int depth_;
    int skipping_ = 0;
    bool failed_ = false;
    Shape shape_ = Shape::Plain;
};

} // namespace

std::optional<Value> Engine::evaluate(std::span<const Token> tokens, const Token& where, std::string_view what, int depth)
{
    ExprParser parser(*this, tokens, where, what, depth);
    std::optional<Value> v = parser.parseAll();
    // The first pass for list addresses only counts entries: a value it
    // cannot work out yet must not drop a macro.
    if (!v && provisional)
        return Value::s32(0);
    return v;
}

std::optional<std::int64_t> Engine::evaluateInt(std::span<const Token> tokens, const Token& where, std::string_view what,
                                                bool structure)
{
    std::optional<Value> v = evaluate(tokens, where, what);
    if (!v)
        return std::nullopt;
    const Token& at = tokens.empty() ? where : tokens.front();
    if (v->member && !structure)
        warning(at, std::string(what) + ": this names a structure, not its address: write '&' before it");
    if (isFloat(v->type)) {
        const double d = std::trunc(v->real);
        if (!(d > -9.2e18 && d < 9.2e18)) {
            error(at, std::string(what) + ": the floating value is out of range");
            return std::nullopt;
        }
        if (d != v->real)
            warning(at, std::string(what) + ": the fraction of " + std::to_string(v->real) + " is dropped (the header takes an integer here)");
        return static_cast<std::int64_t>(d);
    }
    return v->asInt();
}

std::optional<std::int64_t> Engine::headerConstant(std::string_view name)
{
    const auto it = constantCache_.find(name);
    if (it != constantCache_.end())
        return it->second;
    std::optional<std::int64_t> v = constantValue(ucode, name, sm64);
    if (!v) {
        // Names the printer takes from the command tables' own constant
        // tables (the combiner slots excepted: those are pasted tokens).
        for (int t = 1; t < static_cast<int>(ConstTable::MuxA) && !v; ++t)
            for (const NamedValue& nv : constTable(static_cast<ConstTable>(t), ucode))
                if (nv.name == name) {
                    v = nv.value;
                    break;
                }
    }
    if (v || constantCache_.size() < 100000)
        constantCache_.emplace(std::string(name), v);
    return v;
}

std::optional<Value> Engine::lookupIdentifier(const Token& name, int depth, std::string_view what)
{
    const std::string_view n = name.text;
    if (const auto it = userDefines.find(n); it != userDefines.end()) {
        const std::int64_t v = it->second;
        if (v >= INT32_MIN && v <= INT32_MAX)
            return Value::s32(v);
        if (v >= 0 && v <= 0xFFFFFFFFll)
            return Value::integer(CType::U32, static_cast<std::uint64_t>(v));
        return Value::integer(CType::S64, static_cast<std::uint64_t>(v));
    }
    if (const auto it = defines.find(n); it != defines.end()) {
        DefineBody& body = it->second;
        if (body.functionLike) {
            error(name, std::string(what) + ": function-like macro " + quote(n) + " used without arguments");
            return std::nullopt;
        }
        if (body.state == DefineBody::Done)
            return body.value;
        if (body.state == DefineBody::Failed)
            return std::nullopt;
        if (body.state == DefineBody::Evaluating) {
            error(name, std::string(what) + ": the definition of " + quote(n) + " refers to itself");
            return std::nullopt;
        }
        if (depth >= kMaxDepth) {
            error(name, std::string(what) + ": definitions nest too deeply at " + quote(n));
            return std::nullopt;
        }
        body.state = DefineBody::Evaluating;
        const Token where = body.tokens.empty() ? name : body.tokens.front();
        std::optional<Value> v = evaluate(body.tokens, where, std::string(what) + ", in the definition of " + std::string(n), depth + 8);
        body.state = v ? DefineBody::Done : DefineBody::Failed;
        if (v)
            body.value = *v;
        return v;
    }
    if (const std::optional<std::int64_t> c = headerConstant(n)) {
        const std::int64_t v = *c;
        if (v >= INT32_MIN && v <= INT32_MAX)
            return Value::s32(v);
        if (v >= 0 && v <= 0xFFFFFFFFll)
            return Value::integer(CType::U32, static_cast<std::uint64_t>(v));
        return Value::integer(CType::S64, static_cast<std::uint64_t>(v));
    }
    if (n == "NULL")
        return Value::s32(0);
    auto addressValue = [&](std::uint32_t address, std::uint32_t elemSize) {
        Value v = Value::integer(CType::U32, address);
        v.pointer = true;
        v.elemSize = elemSize;
        v.symbol = n;
        return v;
    };
    const auto decl = decls.find(n);
    if (const auto it = listAddresses.find(n); it != listAddresses.end())
        return addressValue(it->second, decl != decls.end() ? decl->second.elemSize : 8);
    if (options.resolver) {
        if (const std::optional<SymbolInfo> s = options.resolver->resolve(n)) {
            std::uint32_t elem = s->elementSize;
            if (elem == 0 && decl != decls.end())
                elem = decl->second.elemSize;
            return addressValue(s->address, elem);
        }
    }
    if (provisional) {
        if (unknownNames.size() < 100000)
            unknownNames.emplace_back(n);
        Value v = addressValue(0, decl != decls.end() ? decl->second.elemSize : 0);
        return v;
    }
    if (decl != decls.end()) {
        const bool gfx = decl->second.kind == DeclKind::Gfx;
        error(name, std::string(what) + ": the address of " + quote(n) + " is unknown: give it with --define " + std::string(n) + "=ADDRESS"
                        + (gfx ? ", --base, or a symbol file" : " or a symbol file"));
        return std::nullopt;
    }
    if (looksLikeMacro(n))
        error(name, std::string(what) + ": " + quote(n) + " is a display-list macro, not a value");
    else
        error(name, std::string(what) + ": unknown identifier " + quote(n) + ": not a constant of the " + std::string(ucodeName(ucode))
                        + " header, a define or a known symbol");
    return std::nullopt;
}

} // namespace dlscope::gbi::asm_detail
