#pragma once

// The assembler's parts shared by its source files: the lexer, C values,
// the macro-name index and the engine that turns tokens into entries.

#include "gbi/macro_table.h"
#include "gbi/parser.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace dlscope::gbi::asm_detail {

// --- Tokens -------------------------------------------------------------------

enum class Tok : std::uint8_t { End, Ident, Number, CharLit, String, Punct, Directive, Bad };

struct Token {
    Tok kind = Tok::End;
    std::string_view text;
    std::uint64_t line = 0;
    std::uint32_t column = 0;
    std::uint64_t offset = 0; // byte offset in the source
    bool is(std::string_view punct) const
    {
        if (kind != Tok::Punct || text.size() != punct.size())
            return false;
        for (std::size_t i = 0; i < punct.size(); ++i)
            if (text[i] != punct[i])
                return false;
        return true;
    }
    bool ident(std::string_view name) const { return kind == Tok::Ident && text == name; }
};

// Receives what the lexer skips or cannot read.
class LexListener {
public:
    virtual ~LexListener() = default;
    virtual void lexError(std::uint64_t line, std::uint32_t column, std::string text) = 0;
    // The text between the comment delimiters.
    virtual void comment(std::string_view body, std::uint64_t line, std::uint64_t offset) = 0;
};

// Splits C source into tokens on demand, so that memory stays flat whatever
// the input size. Comments and backslash-newlines are skipped; a '#' first
// on a line starts a Directive token that runs to the end of the logical
// line. Bytes that start no token come out as Bad tokens (a whole UTF-8
// sequence at a time).
class Lexer {
public:
    Lexer(std::string_view source, LexListener* listener);
    // A part of the source, for re-reading a directive: begin/end are byte
    // offsets, line/lineStart the position of `begin`.
    Lexer(std::string_view source, std::size_t begin, std::size_t end, std::uint64_t line, std::size_t lineStart,
          LexListener* listener);
    Token next();
    bool wantComments = false;

private:
    Token make(Tok kind, std::size_t begin, std::size_t end, std::uint64_t line, std::size_t lineStart) const;
    void newline(std::size_t at);
    bool skipBlockComment();
    void skipLineComment();
    std::size_t scanNumber(std::size_t p) const;
    std::size_t scanQuoted(std::size_t p, char quote, bool& closed) const;
    std::size_t scanPunct(std::size_t p) const;

    std::string_view src_;
    std::size_t pos_;
    std::size_t end_;
    std::uint64_t line_;
    std::size_t lineStart_;
    bool atLineStart_ = true;
    LexListener* listener_;
};

std::uint32_t columnOf(std::size_t offset, std::size_t lineStart);

// --- Values ---------------------------------------------------------------------

// The C types arithmetic runs in on the N64: int and long are 32 bits,
// long long 64, pointers 32.
enum class CType : std::uint8_t { S32, U32, S64, U64, F32, F64 };

constexpr bool isFloat(CType t) { return t == CType::F32 || t == CType::F64; }
constexpr bool isUnsigned(CType t) { return t == CType::U32 || t == CType::U64; }
constexpr int widthOf(CType t) { return t == CType::S32 || t == CType::U32 || t == CType::F32 ? 32 : 64; }

struct Value {
    CType type = CType::S32;
    std::uint64_t bits = 0; // integers: the value in two's complement, normalised to the type
    double real = 0;        // F32 / F64
    std::uint32_t elemSize = 0; // a pointer: what + and - count in
    bool pointer = false;       // an address (symbol-derived or cast to a pointer)
    bool member = false;        // a structure member or element named without '&'
    std::string_view symbol;    // the symbol an address comes from (for messages)

    static Value integer(CType type, std::uint64_t bits);
    static Value s32(std::int64_t v) { return integer(CType::S32, static_cast<std::uint64_t>(v)); }
    static Value floating(CType type, double v);
    std::int64_t asInt() const; // integers only
    double asReal() const;
};

// --- Macro index -------------------------------------------------------------------

// Macros of the facts that the command tables have no row for.
enum class Extra : std::uint8_t {
    None, Dma1p, Dma2p, Immp0, Immp2, Immp3, Immp21, SetImage, NoParam, Param, SetColor, RGBColor, LoadTileGeneric,
    BlendMask, FogPosition, BranchLessZ, BranchLessZrg, MaskImage, DPTexRect, DPTexRectFlip, BlockTile,
    GeometryModeSetFirst, LoadUcodeL, NoStaticForm,
};

// Rows whose arguments need more than evaluation before encoding.
enum class RowRule : std::uint8_t {
    Plain,
    Scissor, // float pixels times four
    Flagged, // F3DEX and later: the triangle or line flag is read, and the
             // encoder stores the vertices in the order it picks
};

struct MacroEntry {
    std::string_view name;                 // static name
    RowRule rule = RowRule::Plain;
    std::vector<const MacroSpec*> rows;    // rows of this microcode, in the order they are tried
    Extra extra = Extra::None;
    std::uint8_t argCount = 0;
    bool sm64Only = false;
    std::string signature;                 // "gsDPSetPrimColor(m, l, r, g, b, a)"
};

// Finds a macro by its static or dynamic name. `otherUcodes` tells, when the
// name exists only for other microcodes, which ones (bit per Ucode).
struct MacroLookup {
    const MacroEntry* entry = nullptr;
    bool dynamic = false;
    std::uint8_t otherUcodes = 0;
};
MacroLookup findMacro(Ucode ucode, std::string_view name);

// True for names that look like GBI macros (gsXxx, gXxx with a capital
// second part, sDPRGBColor...), so that unknown ones are reported rather
// than skipped as ordinary C.
bool looksLikeMacro(std::string_view name);

// --- Engine ---------------------------------------------------------------------

// The tokens of one macro call: arguments as ranges of `tokens`.
struct Call {
    Token name;
    Token open;  // '('
    Token close; // ')' (or where the call stopped)
    std::vector<Token> tokens;
    std::vector<std::pair<std::size_t, std::size_t>> args; // [begin, end) into tokens
    std::vector<Token> ends;                               // the ',' or ')' after each argument
    std::span<const Token> arg(std::size_t i) const
    {
        return std::span<const Token>(tokens).subspan(args[i].first, args[i].second - args[i].first);
    }
};

struct DefineBody {
    enum State : std::uint8_t { Unevaluated, Evaluating, Done, Failed };
    std::vector<Token> tokens;
    bool functionLike = false;
    State state = Unevaluated; // values are worked out once, on first use
    Value value;
};

// What the source declares about a name.
enum class DeclKind : std::uint8_t { Gfx, Lights, Other };
struct Decl {
    DeclKind kind = DeclKind::Other;
    std::uint32_t elemSize = 0;        // size of one element of the outermost dimension (0: unknown)
    bool array = false;
    std::optional<std::uint32_t> address;
};

struct StringHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};
template <class T>
using NameMap = std::unordered_map<std::string, T, StringHash, std::equal_to<>>;

class Engine final : public LexListener {
public:
    explicit Engine(const AsmOptions& options);

    // --- messages
    void message(Severity severity, std::uint64_t line, std::uint32_t column, std::string text);
    void error(const Token& at, std::string text) { message(Severity::Error, at.line, at.column, std::move(text)); }
    void warning(const Token& at, std::string text) { message(Severity::Warning, at.line, at.column, std::move(text)); }
    void note(const Token& at, std::string text) { message(Severity::Note, at.line, at.column, std::move(text)); }
    void lexError(std::uint64_t line, std::uint32_t column, std::string text) override
    {
        message(Severity::Error, line, column, std::move(text));
    }
    void comment(std::string_view body, std::uint64_t line, std::uint64_t offset) override;

    // --- expressions (parser_expr.cpp)
    // Evaluates a whole token range as one expression; reports and returns
    // nothing on an error. `what` names it in messages ("argument 2 (l)").
    std::optional<Value> evaluate(std::span<const Token> tokens, const Token& where, std::string_view what, int depth = 0);
    // The same converted to an integer as the header's arithmetic sees it
    // (floats truncated toward zero, with a warning when a fraction is lost).
    // `structure`: the macro takes a structure by name (gsSPSetLights1), so
    // naming one without '&' is right.
    std::optional<std::int64_t> evaluateInt(std::span<const Token> tokens, const Token& where, std::string_view what,
                                            bool structure = false);
    std::optional<Value> lookupIdentifier(const Token& name, int depth, std::string_view what);
    std::optional<std::int64_t> headerConstant(std::string_view name);

    // --- macros (parser_macros.cpp)
    // Assembles one call and appends its entries; false on an error.
    bool emitCall(const Call& call, const MacroLookup& macro);

    // --- driver (parser.cpp)
    void run(std::string_view source);
    bool runOneMacro(std::string_view text);

    const AsmOptions& options;
    const Ucode ucode;
    const bool sm64;
    AsmResult result;
    std::vector<Words>* out = nullptr; // where entries go (result.words, or a caller's vector)
    bool provisional = false;          // first pass for list addresses: unknown names are 0, messages dropped
    std::vector<std::string> unknownNames;

    NameMap<std::int64_t> userDefines;
    NameMap<DefineBody> defines;
    NameMap<Decl> decls;
    NameMap<std::uint32_t> listAddresses;

private:
    NameMap<std::optional<std::int64_t>> constantCache_;

    // --check comments and the macros they follow
    struct CommentWords {
        std::uint64_t offset;
        std::vector<Words> words;
    };
    struct MacroSpan {
        std::uint64_t offset;
        std::uint64_t line;
        std::size_t first;
        std::size_t count;
    };
    std::vector<CommentWords> comments_;
    std::vector<MacroSpan> macroSpans_;
    friend class Driver;
    friend class MacroParserAccess;

public:
    void recordMacro(const Token& name, std::size_t first, std::size_t count);
    void finishExpected();
};

// Limits that keep bad input cheap.
inline constexpr int kMaxDepth = 200;                  // nested parentheses, operators, defines
inline constexpr std::size_t kMaxCallTokens = 1u << 20; // tokens of one macro call

// "0x1F" for messages.
std::string hex(std::uint64_t v);
// A token's text shortened for messages.
std::string quote(std::string_view text);

} // namespace dlscope::gbi::asm_detail
