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
    // First find where the scan stops and how many digits it takes, so the
    // result is made once at its final size: the padding zeros in front,
    // then four characters per digit.
    HexConversion result;
    std::size_t digits = 0;
    std::size_t end = 0;
    for (; end < text.size(); ++end) {
        const char c = text[end];
        if (c == ' ')
            continue;
        if (hexValue(c) < 0) {
            result.badCharacter = true;
            break;
        }
        ++digits;
    }
    result.binary.assign(std::max(kPaddedLength, digits * 4), '0');
    char *out = result.binary.data() + (result.binary.size() - digits * 4);
    for (std::size_t i = 0; i < end; ++i) {
        const int value = hexValue(text[i]);
        if (value < 0)
            continue;  // a space
        kNibbles[static_cast<std::size_t>(value)].copy(out, 4);
        out += 4;
    }
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
