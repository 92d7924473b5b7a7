#pragma once

// Macro text of decoded commands: C that, compiled with the microcode's
// standard GBI header, gives back the same words.

#include "gbi/command.h"

#include <cstddef>
#include <cstring>
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
    TextSink() { buffer_.resize(1 << 16); }

    void reserve(std::size_t n)
    {
        if (static_cast<std::size_t>(buffer_.size() - length_) < n)
            buffer_.resize((buffer_.size() + n) * 2);
    }
    void put(std::string_view s)
    {
        std::memcpy(buffer_.data() + length_, s.data(), s.size());
        length_ += s.size();
    }
    void put(char c) { buffer_[length_++] = c; }
    char* cursor() { return buffer_.data() + length_; }
    void advance(std::size_t n) { length_ += n; }

    std::string_view view() const { return {buffer_.data(), length_}; }
    std::size_t size() const { return length_; }
    void clear() { length_ = 0; }

private:
    std::string buffer_;
    std::size_t length_ = 0;
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
