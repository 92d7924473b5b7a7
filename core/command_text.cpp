#include "command_text.h"

#include <algorithm>
#include <array>

namespace dlscope {
namespace {

constexpr std::size_t kPaddedLength = 64;

// Four binary digits per hex digit; index by the digit's value.
constexpr std::array<std::string_view, 16> kNibbles = {
    "0000", "0001", "0010", "0011", "0100", "0101", "0110", "0111",
    "1000", "1001", "1010", "1011", "1100", "1101", "1110", "1111"};

constexpr int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string lastCharacters(std::string text, std::size_t count)
{
    if (text.size() > count)
        text.erase(0, text.size() - count);
    return text;
}

} // namespace

HexConversion HexToBinary(std::string_view text)
{
    HexConversion result;
    result.binary.reserve(std::max(kPaddedLength, text.size() * 4));
    for (const char c : text) {
        if (c == ' ')
            continue;
        const int value = hexValue(c);
        if (value < 0) {
            result.badCharacter = true;
            break;
        }
        result.binary += kNibbles[static_cast<std::size_t>(value)];
    }
    if (result.binary.size() < kPaddedLength)
        result.binary.insert(0, kPaddedLength - result.binary.size(), '0');
    return result;
}

bool isBinaryText(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c == '0' || c == '1'; });
}

PreparedCommand PrepareCommandWord(std::string_view text, const CommandTextRule &rule)
{
    PreparedCommand prepared;
    std::string word(text);

    const auto convert = [&] {
        HexConversion conversion = HexToBinary(text);
        if (conversion.badCharacter)
            prepared.effects.emplace_back(ShowMessage{std::string(kNotHexMessage)});
        word = rule.keepRight ? lastCharacters(std::move(conversion.binary), static_cast<std::size_t>(*rule.keepRight))
                              : std::move(conversion.binary);
        prepared.effects.emplace_back(SetCommandText{word});
    };

    if (!isBinaryText(text)) {
        if (!rule.hexLength || text.size() == static_cast<std::size_t>(*rule.hexLength)) {
            convert();
        } else {
            prepared.effects.emplace_back(ShowMessage{std::string(kWillNotWorkMessage)});
            word = std::string(rule.resetText);
            prepared.effects.emplace_back(SetCommandText{word});
        }
    } else if (rule.padBinaryTo && word.size() < static_cast<std::size_t>(*rule.padBinaryTo)) {
        word.insert(0, static_cast<std::size_t>(*rule.padBinaryTo) - word.size(), '0');
        prepared.effects.emplace_back(SetCommandText{word});
    }

    if (rule.guardLength && word.size() != static_cast<std::size_t>(*rule.guardLength)) {
        prepared.effects.emplace_back(ShowMessage{std::string(rule.guardMessage)});
        return prepared;
    }
    prepared.word = std::move(word);
    return prepared;
}

} // namespace dlscope
