#pragma once

// Small helpers the command-line programs share: numbers in options, the
// output buffer, and messages on standard error.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace dlscope::cli {

// Decimal or 0x hex (also a bare hex word of 8 or 16 digits when `hexDefault`).
std::optional<std::uint64_t> parseNumber(std::string_view text, bool hexDefault = false);

// Writes everything or reports failure (a closed pipe, a full disk).
bool writeAll(std::FILE* out, std::string_view data);

// "program: message" on standard error.
void complain(std::string_view program, std::string_view message);

// The whole content of a file, or nothing with the reason in `error`.
std::optional<std::string> readFile(const std::string& path, std::string& error);

} // namespace dlscope::cli
