// The assembler's driver: reads the structure of a C source (arrays,
// functions, directives, declarations) and hands each macro call to the
// engine. See parser.h for what a source may hold.

#include "gbi/parser.h"

#include "gbi/parser_internal.h"
#include "gbi/symbols.h"

#include <algorithm>
#include <charconv>

namespace dlscope::gbi {

std::string_view severityName(Severity severity)
{
    switch (severity) {
    case Severity::Note: return "note";
    case Severity::Warning: return "warning";
    case Severity::Error: return "error";
    }
    return "error";
}

std::string formatAsmMessage(const AsmMessage& m, std::string_view file)
{
    std::string s;
    if (!file.empty()) {
        s.append(file);
        s.push_back(':');
    }
    s.append(std::to_string(m.line));
    s.push_back(':');
    s.append(std::to_string(m.column));
    s.append(": ");
    s.append(severityName(m.severity));
    s.append(": ");
    s.append(m.text);
    return s;
}

std::optional<SymbolInfo> MapResolver::resolve(std::string_view name) const
{
    const auto it = map_.find(name);
    if (it == map_.end())
        return std::nullopt;
    return it->second;
}

std::optional<SymbolInfo> SymbolTableResolver::resolve(std::string_view name) const
{
    const std::optional<std::uint32_t> address = table_.find(name);
    if (!address)
        return std::nullopt;
    return SymbolInfo{*address, 0};
}

namespace asm_detail {

std::string hex(std::uint64_t v)
{
    char buf[24] = "0x";
    const auto r = std::to_chars(buf + 2, buf + sizeof buf, v, 16);
    std::string s(buf, r.ptr);
    for (std::size_t i = 2; i < s.size(); ++i)
        if (s[i] >= 'a' && s[i] <= 'f')
            s[i] = static_cast<char>(s[i] - 'a' + 'A');
    return s;
}

std::string quote(std::string_view text)
{
    std::string s = "'";
    std::size_t n = 0;
    for (char c : text) {
        if (++n > 40) {
            s += "...";
            break;
        }
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u >= 0x7F) {
            static constexpr char digits[] = "0123456789ABCDEF";
            s += "\\x";
            s += digits[u >> 4];
            s += digits[u & 15];
        } else {
            s += c;
        }
    }
    s += "'";
    return s;
}

Engine::Engine(const AsmOptions& o) : options(o), ucode(o.ucode), sm64(o.names == Names::Sm64)
{
    out = &result.words;
    for (const auto& [name, value] : o.defines)
        userDefines.emplace(name, value);
}

void Engine::message(Severity severity, std::uint64_t line, std::uint32_t column, std::string text)
{
    if (provisional)
        return;
    if (severity == Severity::Error)
        ++result.errors;
    else if (severity == Severity::Warning)
        ++result.warnings;
    if (result.messages.size() >= options.messageLimit) {
        ++result.suppressed;
        return;
    }
    result.messages.push_back({line, std::max<std::uint32_t>(column, 1), severity, std::move(text)});
}

namespace {

bool hexDigits(std::string_view s)
{
    if (s.empty())
        return false;
    for (char c : s)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
            return false;
    return true;
}

std::uint32_t hexValue(std::string_view s)
{
    std::uint32_t v = 0;
    std::from_chars(s.data(), s.data() + s.size(), v, 16);
    return v;
}

// Words of a `/* 00000010: FC127E03 FFFFF3F8 */` comment: an optional
// address with a colon, then 8-digit words in pairs (or 16-digit commands).
bool commentWords(std::string_view body, std::vector<std::uint32_t>& words)
{
    words.clear();
    std::size_t p = 0;
    bool first = true;
    while (p < body.size()) {
        while (p < body.size() && (body[p] == ' ' || body[p] == '\t' || body[p] == '\r' || body[p] == '\n' || body[p] == ','))
            ++p;
        if (p >= body.size())
            break;
        std::size_t q = p;
        while (q < body.size() && body[q] != ' ' && body[q] != '\t' && body[q] != '\r' && body[q] != '\n' && body[q] != ',')
            ++q;
        std::string_view tok = body.substr(p, q - p);
        p = q;
        if (tok == "->")
            break; // a resolved address follows
        if (first && tok.size() > 1 && tok.back() == ':' && hexDigits(tok.substr(0, tok.size() - 1))) {
            first = false;
            continue;
        }
        first = false;
        if (tok.size() > 2 && tok[0] == '0' && (tok[1] == 'x' || tok[1] == 'X'))
            tok.remove_prefix(2);
        if (tok.size() == 8 && hexDigits(tok)) {
            words.push_back(hexValue(tok));
        } else if (tok.size() == 16 && hexDigits(tok)) {
            words.push_back(hexValue(tok.substr(0, 8)));
            words.push_back(hexValue(tok.substr(8)));
        } else {
            return false;
        }
    }
    return !words.empty() && words.size() % 2 == 0;
}

} // namespace

void Engine::comment(std::string_view body, std::uint64_t /*line*/, std::uint64_t offset)
{
    if (!options.collectExpected || provisional)
        return;
    thread_local std::vector<std::uint32_t> words;
    if (!commentWords(body, words))
        return;
    CommentWords c{offset, {}};
    for (std::size_t i = 0; i + 1 < words.size(); i += 2)
        c.words.push_back({words[i], words[i + 1]});
    comments_.push_back(std::move(c));
}

void Engine::recordMacro(const Token& name, std::size_t first, std::size_t count)
{
    if (!provisional)
        macroSpans_.push_back({name.offset, name.line, first, count});
}

void Engine::finishExpected()
{
    if (!options.collectExpected)
        return;
    // Each words comment belongs to the last macro that starts before it.
    std::size_t m = 0;
    std::size_t current = SIZE_MAX;
    for (CommentWords& c : comments_) {
        while (m < macroSpans_.size() && macroSpans_[m].offset < c.offset)
            ++m;
        if (m == 0)
            continue;
        const MacroSpan& span = macroSpans_[m - 1];
        if (current != m - 1) {
            // Macros written before it on the same line without a comment of
            // their own share it (a snake and its continuation entries).
            std::size_t k = m - 1;
            while (k > 0 && (current == SIZE_MAX || k - 1 > current) && macroSpans_[k - 1].line == span.line
                   && macroSpans_[k - 1].first + macroSpans_[k - 1].count == macroSpans_[k].first)
                --k;
            current = m - 1;
            const std::size_t first = std::min(macroSpans_[k].first, result.words.size());
            const std::size_t end = std::min(span.first + span.count, result.words.size());
            result.expected.push_back({first, end - first, span.line, {}});
        }
        auto& words = result.expected.back().words;
        words.insert(words.end(), c.words.begin(), c.words.end());
    }
    comments_.clear();
}

// --- Token sources ----------------------------------------------------------------------

namespace {

class TokenSource {
public:
    virtual ~TokenSource() = default;
    virtual Token next() = 0;
    virtual const Token& peek() = 0;
};

class StreamSource final : public TokenSource {
public:
    StreamSource(std::string_view source, LexListener* listener, bool comments) : lexer_(source, listener)
    {
        lexer_.wantComments = comments;
    }
    Token next() override
    {
        if (has_) {
            has_ = false;
            return buf_;
        }
        return lexer_.next();
    }
    const Token& peek() override
    {
        if (!has_) {
            buf_ = lexer_.next();
            has_ = true;
        }
        return buf_;
    }

private:
    Lexer lexer_;
    Token buf_;
    bool has_ = false;
};

class SpanSource final : public TokenSource {
public:
    SpanSource(std::span<const Token> tokens, const Token& end) : toks_(tokens), end_(end) { end_.kind = Tok::End; }
    Token next() override { return pos_ < toks_.size() ? toks_[pos_++] : end_; }
    const Token& peek() override { return pos_ < toks_.size() ? toks_[pos_] : end_; }
    bool atEnd() const { return pos_ >= toks_.size(); }

private:
    std::span<const Token> toks_;
    Token end_;
    std::size_t pos_ = 0;
};

bool opener(const Token& t) { return t.is("(") || t.is("[") || t.is("{"); }
bool closer(const Token& t) { return t.is(")") || t.is("]") || t.is("}"); }
char closerFor(char open) { return open == '(' ? ')' : open == '[' ? ']' : '}'; }

constexpr std::size_t kPrefixLimit = 64;
constexpr std::size_t kMaxNesting = 1000;         // open blocks outside arrays
constexpr std::size_t kMaxPadding = 1u << 20; // zero entries added to fill declared sizes (8 MB: more than N64 memory)

// Type names whose arrays the source may declare, with element sizes.
struct DeclType {
    std::string_view name;
    std::uint32_t size;
    DeclKind kind;
};
constexpr DeclType kDeclTypes[] = {
    {"Gfx", 8, DeclKind::Gfx},         {"Vtx", 16, DeclKind::Other},      {"Vtx_t", 16, DeclKind::Other},
    {"Vtx_tn", 16, DeclKind::Other},   {"Mtx", 64, DeclKind::Other},      {"Light", 16, DeclKind::Other},
    {"Ambient", 8, DeclKind::Other},   {"Lights0", 24, DeclKind::Lights}, {"Lights1", 24, DeclKind::Lights},
    {"Lights2", 40, DeclKind::Lights}, {"Lights3", 56, DeclKind::Lights}, {"Lights4", 72, DeclKind::Lights},
    {"Lights5", 88, DeclKind::Lights}, {"Lights6", 104, DeclKind::Lights}, {"Lights7", 120, DeclKind::Lights},
    {"Lightsn", 0, DeclKind::Lights},
    {"LookAt", 32, DeclKind::Other},   {"Hilite", 16, DeclKind::Other},   {"Vp", 16, DeclKind::Other},
    {"uSprite", 24, DeclKind::Other},  {"u8", 1, DeclKind::Other},        {"s8", 1, DeclKind::Other},
    {"u16", 2, DeclKind::Other},       {"s16", 2, DeclKind::Other},       {"u32", 4, DeclKind::Other},
    {"s32", 4, DeclKind::Other},       {"u64", 8, DeclKind::Other},       {"s64", 8, DeclKind::Other},
    {"f32", 4, DeclKind::Other},       {"f64", 8, DeclKind::Other},       {"char", 1, DeclKind::Other},
    {"short", 2, DeclKind::Other},     {"int", 4, DeclKind::Other},       {"long", 4, DeclKind::Other},
    {"float", 4, DeclKind::Other},     {"double", 8, DeclKind::Other},    {"uint8_t", 1, DeclKind::Other},
    {"uint16_t", 2, DeclKind::Other},  {"uint32_t", 4, DeclKind::Other}, {"uint64_t", 8, DeclKind::Other},
};

const DeclType* declType(std::string_view name)
{
    for (const DeclType& t : kDeclTypes)
        if (t.name == name)
            return &t;
    return nullptr;
}

bool qualifier(std::string_view w)
{
    return w == "static" || w == "const" || w == "extern" || w == "volatile" || w == "unsigned" || w == "signed"
        || w == "register";
}

} // namespace

class Driver {
public:
    Driver(Engine& engine, TokenSource& source, std::string_view text) : e_(engine), src_(source), text_(text) {}

    void run()
    {
        for (;;) {
            Token t = src_.next();
            switch (t.kind) {
            case Tok::End: finish(t); return;
            case Tok::Directive: directive(t); break;
            case Tok::Bad: bad(t); break;
            case Tok::Ident: identifier(t); break;
            case Tok::Punct: punct(t); break;
            default:
                if (inGfx())
                    junk(t);
                else
                    pushPrefix(t);
                break;
            }
        }
    }

    // One macro alone, with an optional ',' or ';' after it.
    bool one()
    {
        Token t = src_.next();
        const std::size_t errors = e_.result.errors;
        if (t.kind != Tok::Ident || !src_.peek().is("(")) {
            e_.error(t, t.kind == Tok::End ? "expected a macro, such as gsDPPipeSync(), found nothing"
                                           : "expected a macro, such as gsDPPipeSync(), found " + quote(t.text));
            return false;
        }
        const MacroLookup m = findMacro(e_.ucode, t.text);
        if (!m.entry) {
            unknownMacro(t, m);
            return false;
        }
        if (!collect(src_, t, call_))
            return false;
        if (!e_.emitCall(call_, m))
            return false;
        Token after = src_.next();
        if (after.is(",") || after.is(";"))
            after = src_.next();
        if (after.kind != Tok::End) {
            e_.error(after, "unexpected " + quote(after.text) + " after the macro");
            return false;
        }
        return e_.result.errors == errors;
    }

    // Array starts of the source, for list addresses.
    std::vector<AsmList> lists;

private:
    struct Array {
        std::string name;
        std::vector<std::uint64_t> dims; // 0: not given
        std::size_t first = 0;
        std::uint64_t line = 0;
    };
    struct Ctx {
        bool gfx = false;
        int level = 0;          // brace level inside the array initializer (1: the array's own braces)
        std::size_t start = 0;  // entries before this brace
        bool wantSeparator = false;
        Token open;
    };

    bool inGfx() const { return !stack_.empty() && stack_.back().gfx; }

    void bad(const Token& t)
    {
        if (t.line == lastBadLine_)
            return;
        lastBadLine_ = t.line;
        e_.error(t, "unexpected character " + quote(t.text) + " (only C source is read)");
    }

    void pushPrefix(const Token& t)
    {
        if (prefix_.size() < kPrefixLimit)
            prefix_.push_back(t);
        else
            prefixOverflow_ = true;
    }
    void clearPrefix()
    {
        prefix_.clear();
        prefixOverflow_ = false;
    }

    // --- Directives

    void directive(const Token& t)
    {
        const std::size_t lineStart = static_cast<std::size_t>(t.offset) - (t.column - 1);
        Lexer sub(text_, static_cast<std::size_t>(t.offset) + 1, static_cast<std::size_t>(t.offset + t.text.size()), t.line,
                  lineStart, &e_);
        const Token name = sub.next();
        if (name.kind == Tok::End)
            return; // the null directive
        if (name.ident("define")) {
            const Token macro = sub.next();
            if (macro.kind != Tok::Ident) {
                e_.error(macro.kind == Tok::End ? name : macro, "#define: expected a name");
                return;
            }
            DefineBody body;
            const std::size_t after = static_cast<std::size_t>(macro.offset + macro.text.size());
            body.functionLike = after < t.offset + t.text.size() && text_[after] == '(';
            for (Token b = sub.next(); b.kind != Tok::End; b = sub.next())
                if (body.tokens.size() < kMaxCallTokens)
                    body.tokens.push_back(b);
            e_.defines[std::string(macro.text)] = std::move(body);
            return;
        }
        if (name.ident("undef")) {
            const Token macro = sub.next();
            if (macro.kind == Tok::Ident)
                e_.defines.erase(std::string(macro.text));
            return;
        }
        std::string shown(t.text.substr(0, std::min<std::size_t>(t.text.size(), 60)));
        if (const std::size_t nl = shown.find('\n'); nl != std::string::npos)
            shown.resize(nl);
        e_.note(t, "preprocessor line skipped: " + quote(shown));
    }

private:
    // --- Identifiers

    void identifier(const Token& t)
    {
        if (src_.peek().is("(")) {
            const MacroLookup m = findMacro(e_.ucode, t.text);
            if (m.entry) {
                macroCall(src_, t, m, t);
                return;
            }
            if (m.otherUcodes || looksLikeMacro(t.text)) {
                unknownMacro(t, m);
                skipCall(src_);
                if (inGfx())
                    stack_.back().wantSeparator = true;
                return;
            }
        } else if (const auto it = e_.defines.find(t.text); it != e_.defines.end() && defineMacro(it->second, t)) {
            return;
        }
        if (inGfx()) {
            junk(t);
            return;
        }
        pushPrefix(t);
    }

    void unknownMacro(const Token& t, const MacroLookup& m)
    {
        if (m.otherUcodes) {
            std::string where;
            for (Ucode u : kAllUcodes)
                if (m.otherUcodes & ucodeBit(u)) {
                    if (!where.empty())
                        where += ", ";
                    where += ucodeName(u);
                }
            e_.error(t, quote(t.text) + " does not exist on " + std::string(ucodeName(e_.ucode)) + " (it does on " + where + ")");
        } else {
            e_.error(t, "unknown macro " + quote(t.text));
        }
    }

    // A define whose body is a macro call, used as an element or a statement.
    bool defineMacro(const DefineBody& body, const Token& use)
    {
        if (body.functionLike || body.tokens.size() < 2 || body.tokens[0].kind != Tok::Ident || !body.tokens[1].is("("))
            return false;
        const MacroLookup m = findMacro(e_.ucode, body.tokens[0].text);
        if (!m.entry)
            return false;
        if (++defineDepth_ > 1) {
            --defineDepth_;
            return false;
        }
        SpanSource sub(body.tokens, use);
        Token name = sub.next();
        macroCall(sub, name, m, use);
        if (!sub.atEnd())
            e_.error(use, "the definition of " + quote(use.text) + " holds more than one macro call");
        --defineDepth_;
        return true;
    }

    void macroCall(TokenSource& src, const Token& name, const MacroLookup& m, const Token& use)
    {
        if (inGfx() && stack_.back().wantSeparator)
            e_.error(use, "expected ',' before " + quote(use.text));
        Token shown = name;
        shown.line = use.line;
        shown.column = use.column;
        shown.offset = use.offset;
        stoppedAtMacro_ = false;
        if (collect(src, shown, call_)) {
            e_.emitCall(call_, m);
        } else if (e_.options.collectExpected) {
            e_.recordMacro(shown, e_.out->size(), 0);
        }
        if (inGfx())
            stack_.back().wantSeparator = !stoppedAtMacro_;
        else
            clearPrefix();
    }

    // Reads `( args )` after a macro name into `call`; false (with a
    // message) when the call does not close.
    bool collect(TokenSource& src, const Token& name, Call& call)
    {
        call.name = name;
        call.open = src.next();
        call.tokens.clear();
        call.args.clear();
        call.ends.clear();
        std::vector<char>& depth = depth_;
        depth.clear();
        std::size_t argStart = 0;
        bool sawComma = false;
        std::uint64_t lastLine = call.open.line;
        for (;;) {
            const Token& p = src.peek();
            if (p.kind == Tok::End) {
                e_.error(call.open, "missing ')' to close " + std::string(name.text) + "(");
                return false;
            }
            if (p.kind == Tok::Directive) {
                e_.error(p, "preprocessor line inside the arguments of " + std::string(name.text) + " is not supported");
                src.next();
                continue;
            }
            if (p.kind == Tok::Ident && p.line != lastLine && findMacro(e_.ucode, p.text).entry) {
                // A display-list macro starting a later line is not an
                // argument: the call lacks its ')'.
                e_.error(p, "expected ')' to close " + std::string(name.text) + "( before " + quote(p.text));
                stoppedAtMacro_ = true;
                return false;
            }
            if (depth.empty()) {
                if (p.is(")")) {
                    call.close = src.next();
                    break;
                }
                if (p.is(",")) {
                    lastLine = p.line;
                    call.ends.push_back(src.next());
                    call.args.push_back({argStart, call.tokens.size()});
                    argStart = call.tokens.size();
                    sawComma = true;
                    continue;
                }
                if (p.is(";") || p.is("}") || p.is("]")) {
                    e_.error(p, "expected ')' to close " + std::string(name.text) + "( before " + quote(p.text));
                    return false;
                }
            }
            if (opener(p)) {
                depth.push_back(p.text[0]);
            } else if (closer(p)) {
                if (closerFor(depth.back()) != p.text[0]) {
                    e_.error(p, "expected '" + std::string(1, closerFor(depth.back())) + "' but found " + quote(p.text)
                                    + " in the arguments of " + std::string(name.text));
                    skipToClose(src, depth);
                    return false;
                }
                depth.pop_back();
            }
            if (call.tokens.size() >= kMaxCallTokens) {
                e_.error(call.open, "the call of " + std::string(name.text) + " is too long (more than "
                                        + std::to_string(kMaxCallTokens) + " tokens)");
                skipToClose(src, depth);
                return false;
            }
            lastLine = p.line;
            call.tokens.push_back(src.next());
        }
        if (sawComma || !call.tokens.empty()) {
            call.args.push_back({argStart, call.tokens.size()});
            call.ends.push_back(call.close);
        }
        return true;
    }

    // Skips to the ')' that closes a call whose inner brackets are `depth`.
    void skipToClose(TokenSource& src, std::vector<char>& depth)
    {
        std::size_t open = depth.size() + 1;
        for (;;) {
            const Token t = src.next();
            if (t.kind == Tok::End)
                return;
            if (opener(t))
                ++open;
            else if (closer(t) && --open == 0)
                return;
        }
    }

    void skipCall(TokenSource& src)
    {
        src.next(); // '('
        std::size_t open = 1;
        for (;;) {
            const Token& p = src.peek();
            if (p.kind == Tok::End)
                return;
            if (open == 1 && (p.is(";") || p.is("}")))
                return;
            const Token t = src.next();
            if (opener(t))
                ++open;
            else if (closer(t) && --open == 0)
                return;
        }
    }

    // Inside an array: anything but a macro, ',', '{' or '}'.
    void junk(const Token& t)
    {
        e_.error(t, "expected a display-list macro, found " + quote(t.text));
        // Skip to the next ',' or closing brace of this level.
        std::size_t open = opener(t) ? 1 : 0;
        for (;;) {
            const Token& p = src_.peek();
            if (p.kind == Tok::End)
                return;
            if (open == 0 && (p.is(",") || p.is("}") || p.is(";")))
                return;
            const Token n = src_.next();
            if (opener(n))
                ++open;
            else if (closer(n) && open > 0)
                --open;
        }
    }

    // --- Punctuation

    void punct(const Token& t)
    {
        if (inGfx()) {
            gfxPunct(t);
            return;
        }
        if (t.is("{")) {
            openBrace(t);
            return;
        }
        if (t.is("}")) {
            if (deepBlocks_ > 0) {
                --deepBlocks_;
            } else if (stack_.empty()) {
                e_.error(t, "unbalanced '}': no block is open");
            } else {
                stack_.pop_back();
            }
            clearPrefix();
            return;
        }
        if (t.is(";")) {
            declaration();
            clearPrefix();
            return;
        }
        if (t.is(",") && prefix_.empty())
            return; // after a bare macro line
        pushPrefix(t);
    }

    void gfxPunct(const Token& t)
    {
        Ctx& c = stack_.back();
        if (t.is(",")) {
            if (!c.wantSeparator)
                e_.error(t, "expected a display-list macro before ','");
            c.wantSeparator = false;
            return;
        }
        if (t.is("{")) {
            const Array& a = arrays_.back();
            if (c.wantSeparator)
                e_.error(t, "expected ',' before '{'");
            if (static_cast<std::size_t>(c.level) < a.dims.size()) {
                c.wantSeparator = true;
                stack_.push_back({true, c.level + 1, e_.out->size(), false, t});
            } else {
                rawEntry(t);
                stack_.back().wantSeparator = true;
            }
            return;
        }
        if (t.is("}")) {
            closeGfx(t);
            return;
        }
        if (t.is(";")) {
            e_.error(t, "expected '}' to close the array " + quote(arrays_.back().name) + " before ';'");
            while (inGfx())
                closeGfx(t);
            clearPrefix();
            return;
        }
        junk(t);
    }

    // The entries one brace level covers: the product of its dimensions.
    std::optional<std::uint64_t> coverage(const Array& a, int level) const
    {
        std::uint64_t n = 1;
        for (std::size_t i = static_cast<std::size_t>(level - 1); i < a.dims.size(); ++i) {
            if (a.dims[i] == 0)
                return std::nullopt;
            n *= a.dims[i];
            if (n > (1ull << 32))
                return std::nullopt;
        }
        return n;
    }

    void closeGfx(const Token& t)
    {
        const Ctx c = stack_.back();
        stack_.pop_back();
        Array& a = arrays_.back();
        const std::size_t have = e_.out->size() - c.start;
        if (const std::optional<std::uint64_t> want = coverage(a, c.level)) {
            if (have > *want) {
                e_.warning(t, "excess entries in " + quote(a.name) + ": " + std::to_string(have) + " given, "
                                  + std::to_string(*want) + " declared; the rest are dropped, as C drops them");
                truncate(c.start + static_cast<std::size_t>(*want));
            } else if (have < *want && c.level >= 1) {
                pad(static_cast<std::size_t>(*want - have));
            }
        }
        if (c.level == 1) {
            AsmList list{a.name, a.first, e_.out->size() - a.first, a.line};
            lists.push_back(list);
            arrays_.pop_back();
            clearPrefix();
        }
    }

    void truncate(std::size_t size)
    {
        e_.out->resize(size);
        if (e_.out == &e_.result.words)
            e_.result.lines.resize(size);
    }

    // C fills the rest of a declared array with zero entries.
    void pad(std::size_t n)
    {
        if (n > kMaxPadding - padded_) {
            e_.message(Severity::Error, arrays_.back().line, 1,
                       "the declared size of " + quote(arrays_.back().name) + " is too large to fill with zero entries");
            return;
        }
        padded_ += n;
        const AsmLine where{arrays_.back().line, 1};
        for (std::size_t i = 0; i < n; ++i) {
            e_.out->push_back({0, 0});
            if (e_.out == &e_.result.words)
                e_.result.lines.push_back(where);
        }
    }

    // `{w0, w1}` or `{{w0, w1}}`: an entry given as words.
    void rawEntry(const Token& open)
    {
        std::vector<Token>& toks = raw_;
        toks.clear();
        std::size_t depth = 1;
        for (;;) {
            const Token& p = src_.peek();
            if (p.kind == Tok::End || (depth == 1 && p.is(";"))) {
                e_.error(open, "expected '}' to close this entry");
                return;
            }
            const Token t = src_.next();
            if (opener(t))
                ++depth;
            else if (closer(t) && --depth == 0)
                break;
            if (toks.size() < 4096)
                toks.push_back(t);
        }
        std::span<const Token> body(toks);
        if (body.size() >= 2 && body.front().is("{") && body.back().is("}"))
            body = body.subspan(1, body.size() - 2);
        std::size_t comma = SIZE_MAX;
        int d = 0;
        for (std::size_t i = 0; i < body.size(); ++i) {
            if (opener(body[i]))
                ++d;
            else if (closer(body[i]))
                --d;
            else if (d == 0 && body[i].is(",")) {
                if (comma != SIZE_MAX) {
                    e_.error(body[i], "expected two words in the entry, {w0, w1}");
                    return;
                }
                comma = i;
            }
        }
        if (comma == SIZE_MAX) {
            e_.error(open, "expected two words in the entry, {w0, w1}");
            return;
        }
        const auto w0 = word(body.subspan(0, comma), open, "the entry's first word");
        const auto w1 = word(body.subspan(comma + 1), open, "the entry's second word");
        if (!w0 || !w1)
            return;
        const std::size_t start = e_.out->size();
        e_.out->push_back({*w0, *w1});
        if (e_.out == &e_.result.words)
            e_.result.lines.push_back({open.line, open.column});
        if (e_.options.collectExpected)
            e_.recordMacro(open, start, 1);
    }

    std::optional<std::uint32_t> word(std::span<const Token> toks, const Token& where, std::string_view what)
    {
        const std::optional<std::int64_t> v = e_.evaluateInt(toks, toks.empty() ? where : toks.front(), what);
        if (!v)
            return std::nullopt;
        if (*v < -2147483648ll || *v > 0xFFFFFFFFll) {
            e_.error(toks.front(), std::string(what) + ": " + hex(static_cast<std::uint64_t>(*v)) + " does not fit in 32 bits");
            return std::nullopt;
        }
        return static_cast<std::uint32_t>(*v);
    }

    // --- Declarations

    struct Declarator {
        const DeclType* type = nullptr;
        Token name;
        std::vector<std::uint64_t> dims;
        bool pointer = false;
        bool found = false;
    };

    // Reads `[qualifiers] TYPE NAME[dims]...` from the prefix, up to '='.
    Declarator declarator() const
    {
        Declarator d;
        std::size_t i = 0;
        const std::size_t n = prefix_.size();
        for (; i < n; ++i) {
            const Token& t = prefix_[i];
            if (t.kind != Tok::Ident)
                return d;
            if (qualifier(t.text))
                continue;
            d.type = declType(t.text);
            if (d.type) {
                ++i;
                break;
            }
            // Unknown words before the type (ALIGNED8, UNUSED, macros).
            if (i + 1 < n && prefix_[i + 1].kind == Tok::Ident)
                continue;
            return d;
        }
        if (!d.type)
            return d;
        // `long long`, `unsigned int` and the like.
        while (i < n && prefix_[i].kind == Tok::Ident && (qualifier(prefix_[i].text) || declType(prefix_[i].text)))
            ++i;
        while (i < n && prefix_[i].is("*")) {
            d.pointer = true;
            ++i;
        }
        while (i < n && prefix_[i].kind == Tok::Ident && qualifier(prefix_[i].text))
            ++i;
        if (i >= n || prefix_[i].kind != Tok::Ident)
            return d;
        d.name = prefix_[i++];
        while (i < n && prefix_[i].is("[")) {
            std::size_t j = i + 1;
            int depth = 0;
            while (j < n && !(depth == 0 && prefix_[j].is("]"))) {
                if (prefix_[j].is("["))
                    ++depth;
                else if (prefix_[j].is("]"))
                    --depth;
                ++j;
            }
            if (j >= n)
                return d;
            std::uint64_t dim = 0;
            if (j > i + 1) {
                std::span<const Token> expr(prefix_.data() + i + 1, j - i - 1);
                dim = dimension(expr);
            }
            d.dims.push_back(dim);
            i = j + 1;
        }
        if (i < n && prefix_[i].is("("))
            return d; // a function
        d.found = true;
        return d;
    }

    std::uint64_t dimension(std::span<const Token> expr) const
    {
        const std::size_t errors = e_.result.errors;
        const bool wasProvisional = e_.provisional;
        // A size the engine cannot work out only loses the padding.
        e_.provisional = true;
        const std::optional<Value> v = e_.evaluate(expr, expr.front(), "array size");
        e_.provisional = wasProvisional;
        e_.result.errors = errors;
        if (!v || isFloat(v->type) || v->asInt() <= 0 || v->asInt() > (1ll << 32))
            return 0;
        return static_cast<std::uint64_t>(v->asInt());
    }

    void recordDecl(const Declarator& d)
    {
        if (!d.found || d.pointer)
            return;
        Decl decl;
        decl.kind = d.type->kind;
        decl.array = !d.dims.empty();
        std::uint64_t inner = 1;
        for (std::size_t k = 1; k < d.dims.size(); ++k)
            inner *= d.dims[k];
        decl.elemSize = d.dims.empty() ? d.type->size : static_cast<std::uint32_t>(std::min<std::uint64_t>(inner * d.type->size, 0xFFFFFFFFu));
        e_.decls[std::string(d.name.text)] = decl;
    }

    // `extern Gfx dl[];`, `Lights1 light = gdSPDefLights1(...);` and the like.
    void declaration()
    {
        if (prefixOverflow_)
            return;
        if (const auto eq = std::find_if(prefix_.begin(), prefix_.end(), [](const Token& t) { return t.is("="); }); eq != prefix_.end())
            prefix_.erase(eq, prefix_.end());
        recordDecl(declarator());
    }

    void openBrace(const Token& t)
    {
        if (!prefix_.empty() && prefix_.back().is("=") && !prefixOverflow_) {
            prefix_.pop_back();
            const Declarator d = declarator();
            recordDecl(d);
            if (d.found && !d.pointer && d.type->kind == DeclKind::Gfx) {
                Array a;
                a.name = std::string(d.name.text);
                a.dims = d.dims;
                if (a.dims.empty())
                    a.dims.push_back(1);
                a.first = e_.out->size();
                a.line = d.name.line;
                arrays_.push_back(std::move(a));
                stack_.push_back({true, 1, e_.out->size(), false, t});
                clearPrefix();
                return;
            }
        }
        if (stack_.size() >= kMaxNesting) {
            if (deepBlocks_++ == 0)
                e_.error(t, "blocks nested too deeply (more than " + std::to_string(kMaxNesting) + "); only their macros are read");
            clearPrefix();
            return;
        }
        stack_.push_back({false, 0, 0, false, t});
        clearPrefix();
    }

    void finish(const Token& end)
    {
        while (!stack_.empty()) {
            const Ctx& c = stack_.back();
            if (c.gfx) {
                e_.error(c.open, "missing '}': the array " + quote(arrays_.back().name) + " is not closed");
                while (inGfx())
                    closeGfx(end);
                continue;
            }
            e_.error(c.open, "missing '}' for this '{'");
            stack_.pop_back();
        }
    }

    Engine& e_;
    TokenSource& src_;
    std::string_view text_;
    Call call_;
    std::vector<char> depth_;
    std::vector<Token> prefix_;
    bool prefixOverflow_ = false;
    std::vector<Ctx> stack_;
    std::vector<Array> arrays_;
    std::vector<Token> raw_;
    std::uint64_t lastBadLine_ = 0;
    int defineDepth_ = 0;
    bool stoppedAtMacro_ = false;
    std::size_t deepBlocks_ = 0; // '{' beyond kMaxNesting, counted only
    std::size_t padded_ = 0;
};

void Engine::run(std::string_view source)
{
    StreamSource src(source, this, options.collectExpected);
    Driver driver(*this, src, source);
    driver.run();
    result.lists = std::move(driver.lists);
    finishExpected();
}

bool Engine::runOneMacro(std::string_view text)
{
    StreamSource src(text, this, false);
    Driver driver(*this, src, text);
    return driver.one();
}

} // namespace asm_detail

using asm_detail::Engine;

AsmResult assemble(std::string_view source, const AsmOptions& options)
{
    if (options.base) {
        // A first pass finds where each display list of the file starts.
        Engine first(options);
        first.provisional = true;
        first.run(source);
        Engine second(options);
        for (const AsmList& list : first.result.lists)
            second.listAddresses.emplace(list.name, static_cast<std::uint32_t>(*options.base + 8 * list.first));
        second.run(source);
        return std::move(second.result);
    }
    Engine engine(options);
    engine.run(source);
    return std::move(engine.result);
}

MacroResult parseMacro(std::string_view text, const AsmOptions& options)
{
    Engine engine(options);
    MacroResult r;
    engine.out = &r.words;
    r.ok = engine.runOneMacro(text);
    if (!r.ok)
        r.words.clear();
    r.messages = std::move(engine.result.messages);
    return r;
}

struct MacroParser::State {
    explicit State(const AsmOptions& o) : options(o), engine(options) {}
    AsmOptions options;
    Engine engine;
};

MacroParser::MacroParser(const AsmOptions& options) : state_(std::make_unique<State>(options)) {}
MacroParser::~MacroParser() = default;

bool MacroParser::parse(std::string_view text, std::vector<Words>& out)
{
    Engine& e = state_->engine;
    e.result.messages.clear();
    e.result.errors = 0;
    e.result.warnings = 0;
    e.result.suppressed = 0;
    const std::size_t before = out.size();
    e.out = &out;
    const bool ok = e.runOneMacro(text);
    if (!ok)
        out.resize(before);
    return ok;
}

const std::vector<AsmMessage>& MacroParser::messages() const { return state_->engine.result.messages; }

} // namespace dlscope::gbi
