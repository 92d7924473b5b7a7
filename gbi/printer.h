#pragma once

// Macro text of decoded commands: C that, compiled with the microcode's
// standard GBI header, gives back the same words.

#include "gbi/command.h"

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace dlscope::gbi {

// Names addresses (display lists, vertices, images...) where the user gave
// symbols. Returns false to print the number.
class AddressNamer {
public:
    virtual ~AddressNamer() = default;
    virtual bool name(std::uint32_t address, std::string& out) const = 0;
};

struct PrintOptions {
    bool dynamic = false;                         // gXxx(pointer, ...) instead of gsXxx(...)
    std::string_view pointer = "gDisplayListHead++";
    Names names = Names::Libultra;
    const AddressNamer* addresses = nullptr;
};

// An append-only text buffer that the printer writes into without a bounds
// check per character: every command first reserves what it may need.
class TextSink {
public:
    static constexpr std::size_t kInitialCapacity = 2u << 20;

    // Streams (a whole list into one buffer) want the large default; a
    // single command's text wants little.
    explicit TextSink(std::size_t capacity = kInitialCapacity)
        : buffer_(new char[capacity]), end_(buffer_.get()), limit_(buffer_.get() + capacity)
    {
    }

    void reserve(std::size_t n)
    {
        if (static_cast<std::size_t>(limit_ - end_) < n)
            grow(n);
    }
    [[gnu::always_inline]] void put(std::string_view s)
    {
        char* d = end_;
        const char* p = s.data();
        const std::size_t n = s.size();
        // Short names are copied inline with two overlapping loads and stores
        // that stay within the source, which saves a library call per name.
        if (n >= 8 && n <= 16) {
            std::uint64_t a, b;
            std::memcpy(&a, p, 8);
            std::memcpy(&b, p + n - 8, 8);
            std::memcpy(d, &a, 8);
            std::memcpy(d + n - 8, &b, 8);
        } else if (n > 16 && n <= 32) {
            std::memcpy(d, p, 16);
            std::memcpy(d + n - 16, p + n - 16, 16);
        } else if (n >= 4 && n < 8) {
            std::uint32_t a, b;
            std::memcpy(&a, p, 4);
            std::memcpy(&b, p + n - 4, 4);
            std::memcpy(d, &a, 4);
            std::memcpy(d + n - 4, &b, 4);
        } else if (n != 0 && n < 4) {
            // 1 to 3 characters: first, middle and last cover them all.
            d[0] = p[0];
            d[n / 2] = p[n / 2];
            d[n - 1] = p[n - 1];
        } else {
            std::memcpy(d, p, n);
        }
        end_ = d + n;
    }
    // A string literal: its length is known here, so the copy is a store or two.
    template <std::size_t N>
    [[gnu::always_inline]] void put(const char (&literal)[N])
    {
        static_assert(N >= 1);
        assert(literal[N - 1] == '\0' && std::char_traits<char>::length(literal) == N - 1);
        std::memcpy(end_, literal, N - 1);
        end_ += N - 1;
    }
    // Text from a table whose every entry is readable for Cap bytes: the copy
    // is a fixed number of wide stores (what lies past `n` is overwritten by
    // the next text or never shown). Needs Cap bytes of room, which the
    // command reserve gives.
    template <std::size_t Cap>
    [[gnu::always_inline]] void putPadded(const char* p, std::size_t n)
    {
        assert(n <= Cap && static_cast<std::size_t>(limit_ - end_) >= Cap);
        std::memcpy(end_, p, Cap);
        end_ += n;
    }
    void put(char c) { *end_++ = c; }
    char* cursor() { return end_; }
    void advance(std::size_t n) { end_ += n; }

    std::string_view view() const { return {buffer_.get(), size()}; }
    std::size_t size() const { return static_cast<std::size_t>(end_ - buffer_.get()); }
    void clear() { end_ = buffer_.get(); }

private:
    void grow(std::size_t n)
    {
        const std::size_t length = size();
        const std::size_t capacity = (static_cast<std::size_t>(limit_ - buffer_.get()) + n) * 2;
        std::unique_ptr<char[]> bigger(new char[capacity]);
        std::memcpy(bigger.get(), buffer_.get(), length);
        buffer_ = std::move(bigger);
        end_ = buffer_.get() + length;
        limit_ = buffer_.get() + capacity;
    }

    // The text is buffer_ .. end_; limit_ is the end of the buffer. Pointers
    // rather than a length, so that appending is one load and one store.
    std::unique_ptr<char[]> buffer_;
    char* end_;
    char* limit_;
};

// Room a command's text may take beyond long symbol names and the pointer
// expression, which are reserved separately.
inline constexpr std::size_t kCommandTextReserve = 4096;

// Writes the macro text of one command (no trailing comma or semicolon).
void printCommand(const Command& command, const PrintOptions& options, TextSink& out);

// The same into a string, for tests and the windows.
std::string commandText(const Command& command, const PrintOptions& options = {});

// gsXxx -> gXxx (and _gsXxx -> _gXxx).
std::string dynamicName(std::string_view staticName);

} // namespace dlscope::gbi
