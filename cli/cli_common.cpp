#include "cli/cli_common.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace dlscope::cli {

std::optional<std::uint64_t> parseNumber(std::string_view text, bool hexDefault)
{
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    } else if (hexDefault) {
        base = 16;
    }
    if (text.empty() || text.size() > 16)
        return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return std::nullopt;
        const std::uint64_t next = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
        if (base == 10 && next / 10 != value)
            return std::nullopt;
        value = next;
    }
    return value;
}

bool writeAll(std::FILE* out, std::string_view data)
{
    return data.empty() || std::fwrite(data.data(), 1, data.size(), out) == data.size();
}

void complain(std::string_view program, std::string_view message)
{
    std::string line;
    line.reserve(program.size() + message.size() + 3);
    line.append(program).append(": ").append(message).push_back('\n');
    std::fwrite(line.data(), 1, line.size(), stderr);
}

std::optional<std::string> readFile(const std::string& path, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::ostringstream s;
    s << in.rdbuf();
    if (in.bad()) {
        error = path + ": read error";
        return std::nullopt;
    }
    return s.str();
}

} // namespace dlscope::cli
