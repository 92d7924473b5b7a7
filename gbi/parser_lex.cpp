#include "gbi/parser_internal.h"

#include <cstring>

namespace dlscope::gbi::asm_detail {
namespace {

bool identStart(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool identChar(unsigned char c) { return identStart(c) || (c >= '0' && c <= '9'); }
bool digit(unsigned char c) { return c >= '0' && c <= '9'; }

} // namespace

std::uint32_t columnOf(std::size_t offset, std::size_t lineStart)
{
    const std::size_t c = offset - lineStart + 1;
    return c > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(c);
}

Lexer::Lexer(std::string_view source, LexListener* listener)
    : src_(source), pos_(0), end_(source.size()), line_(1), lineStart_(0), listener_(listener)
{
}

Lexer::Lexer(std::string_view source, std::size_t begin, std::size_t end, std::uint64_t line, std::size_t lineStart,
             LexListener* listener)
    : src_(source), pos_(begin), end_(end), line_(line), lineStart_(lineStart), atLineStart_(false), listener_(listener)
{
}

Token Lexer::make(Tok kind, std::size_t begin, std::size_t end, std::uint64_t line, std::size_t lineStart) const
{
    Token t;
    t.kind = kind;
    t.text = src_.substr(begin, end - begin);
    t.line = line;
    t.column = columnOf(begin, lineStart);
    t.offset = begin;
    return t;
}

void Lexer::newline(std::size_t at)
{
    ++line_;
    lineStart_ = at + 1;
}

// At "/*": skips to after "*/"; false when the comment never ends.
bool Lexer::skipBlockComment()
{
    const std::size_t start = pos_;
    const std::uint64_t startLine = line_;
    const std::size_t startLineStart = lineStart_;
    std::size_t p = pos_ + 2;
    while (p < end_) {
        const void* hit = std::memchr(src_.data() + p, '\n', end_ - p);
        const std::size_t nl = hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - src_.data()) : end_;
        // Look for the end on this line first.
        const std::string_view segment = src_.substr(p, nl - p);
        const std::size_t close = segment.find("*/");
        // A "*" at the end of the previous piece and "/" here cannot happen:
        // pieces end at newlines, and "*\n/" is no terminator.
        if (close != std::string_view::npos) {
            const std::size_t after = p + close + 2;
            if (wantComments && listener_)
                listener_->comment(src_.substr(start + 2, p + close - start - 2), startLine, start);
            pos_ = after;
            return true;
        }
        if (nl >= end_)
            break;
        newline(nl);
        p = nl + 1;
    }
    if (listener_)
        listener_->lexError(startLine, columnOf(start, startLineStart), "unterminated comment: expected '*/'");
    pos_ = end_;
    return false;
}

void Lexer::skipLineComment()
{
    const std::size_t start = pos_;
    const void* hit = std::memchr(src_.data() + pos_, '\n', end_ - pos_);
    const std::size_t nl = hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - src_.data()) : end_;
    if (wantComments && listener_)
        listener_->comment(src_.substr(start + 2, nl - start - 2), line_, start);
    pos_ = nl;
}

std::size_t Lexer::scanNumber(std::size_t p) const
{
    // A C preprocessing number: digits, letters, '_', '.', and a sign after
    // an exponent letter.
    while (p < end_) {
        const auto c = static_cast<unsigned char>(src_[p]);
        if (identChar(c) || c == '.') {
            const char prev = src_[p];
            ++p;
            if ((prev == 'e' || prev == 'E' || prev == 'p' || prev == 'P') && p < end_ && (src_[p] == '+' || src_[p] == '-'))
                ++p;
            continue;
        }
        break;
    }
    return p;
}

std::size_t Lexer::scanQuoted(std::size_t p, char quote, bool& closed) const
{
    closed = false;
    ++p;
    while (p < end_) {
        const char c = src_[p];
        if (c == '\n')
            return p;
        if (c == '\\' && p + 1 < end_ && src_[p + 1] != '\n') {
            p += 2;
            continue;
        }
        ++p;
        if (c == quote) {
            closed = true;
            return p;
        }
    }
    return p;
}

std::size_t Lexer::scanPunct(std::size_t p) const
{
    const char c = src_[p];
    const char d = p + 1 < end_ ? src_[p + 1] : '\0';
    switch (c) {
    case '(': case ')': case '[': case ']': case '{': case '}': case ',': case ';': case '~': case '?': case ':':
        return p + 1;
    case '.':
        return d == '.' && p + 2 < end_ && src_[p + 2] == '.' ? p + 3 : p + 1;
    case '<':
    case '>':
        if (d == c)
            return p + 2 < end_ && src_[p + 2] == '=' ? p + 3 : p + 2;
        return d == '=' ? p + 2 : p + 1;
    case '-':
        return d == '>' || d == '-' || d == '=' ? p + 2 : p + 1;
    case '+':
    case '&':
    case '|':
        return d == c || d == '=' ? p + 2 : p + 1;
    case '#':
        return d == '#' ? p + 2 : p + 1;
    case '*': case '/': case '%': case '^': case '!': case '=':
        return d == '=' ? p + 2 : p + 1;
    default: return p;
    }
}

Token Lexer::next()
{
    for (;;) {
        if (pos_ >= end_)
            return make(Tok::End, end_, end_, line_, lineStart_);
        const char c = src_[pos_];
        if (c == '\n') {
            newline(pos_);
            ++pos_;
            atLineStart_ = true;
            continue;
        }
        if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
            ++pos_;
            continue;
        }
        if (c == '\\') {
            // A line continuation counts as space.
            std::size_t p = pos_ + 1;
            while (p < end_ && (src_[p] == ' ' || src_[p] == '\t' || src_[p] == '\r'))
                ++p;
            if (p < end_ && src_[p] == '\n') {
                newline(p);
                pos_ = p + 1;
                continue;
            }
        }
        if (c == '/' && pos_ + 1 < end_ && src_[pos_ + 1] == '*') {
            skipBlockComment();
            continue;
        }
        if (c == '/' && pos_ + 1 < end_ && src_[pos_ + 1] == '/') {
            skipLineComment();
            continue;
        }
        const std::size_t begin = pos_;
        const std::uint64_t line = line_;
        const std::size_t lineStart = lineStart_;
        if (c == '#' && atLineStart_) {
            // The directive runs to the end of the logical line.
            std::size_t p = pos_;
            while (p < end_ && src_[p] != '\n')
                ++p;
            while (p < end_) {
                std::size_t q = p;
                while (q > begin && (src_[q - 1] == ' ' || src_[q - 1] == '\t' || src_[q - 1] == '\r'))
                    --q;
                if (q > begin && src_[q - 1] == '\\') {
                    newline(p);
                    ++p;
                    while (p < end_ && src_[p] != '\n')
                        ++p;
                    continue;
                }
                break;
            }
            pos_ = p;
            atLineStart_ = false;
            return make(Tok::Directive, begin, p, line, lineStart);
        }
        atLineStart_ = false;
        const auto u = static_cast<unsigned char>(c);
        if (identStart(u)) {
            std::size_t p = pos_ + 1;
            while (p < end_ && identChar(static_cast<unsigned char>(src_[p])))
                ++p;
            pos_ = p;
            return make(Tok::Ident, begin, p, line, lineStart);
        }
        if (digit(u) || (c == '.' && pos_ + 1 < end_ && digit(static_cast<unsigned char>(src_[pos_ + 1])))) {
            pos_ = scanNumber(pos_);
            return make(Tok::Number, begin, pos_, line, lineStart);
        }
        if (c == '\'' || c == '"') {
            bool closed = false;
            pos_ = scanQuoted(pos_, c, closed);
            if (!closed) {
                if (listener_)
                    listener_->lexError(line, columnOf(begin, lineStart),
                                        c == '"' ? "unterminated string: expected '\"'" : "unterminated character constant: expected \"'\"");
                return make(Tok::Bad, begin, pos_, line, lineStart);
            }
            return make(c == '"' ? Tok::String : Tok::CharLit, begin, pos_, line, lineStart);
        }
        const std::size_t p = scanPunct(pos_);
        if (p > pos_) {
            pos_ = p;
            return make(Tok::Punct, begin, p, line, lineStart);
        }
        // A byte that starts no token; a whole UTF-8 sequence is one.
        std::size_t q = pos_ + 1;
        if (u >= 0xC0)
            while (q < end_ && q < pos_ + 4 && (static_cast<unsigned char>(src_[q]) & 0xC0) == 0x80)
                ++q;
        pos_ = q;
        return make(Tok::Bad, begin, q, line, lineStart);
    }
}

} // namespace dlscope::gbi::asm_detail
