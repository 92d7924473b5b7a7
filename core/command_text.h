#pragma once

// How a decoder window reads its command text: the hex-to-binary conversion,
// each window's input rule, and the check that every "Info" press runs
// before it decodes.
//
// The check is pure. It returns the effects that the window must play, in
// order (messages to show modally, texts to write into its command box), and
// the command word to decode, or nothing when the decode is to be skipped.
//
// Texts are byte strings, one byte per character. The window layer hands over
// one byte per character of its text box, so lengths agree with what the
// user sees counted.

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace dlscope {

inline constexpr std::string_view kNotHexMessage = "this is not hex";
inline constexpr std::string_view kWillNotWorkMessage = "oops... this will not work";

inline constexpr std::string_view kOnes58 = "1111111111111111111111111111111111111111111111111111111111";
inline constexpr std::string_view kOnes64 = "1111111111111111111111111111111111111111111111111111111111111111";
inline constexpr std::string_view kOnes32 = "11111111111111111111111111111111";

struct HexConversion {
    std::string binary;         // '0'/'1' only, at least 64 characters
    bool badCharacter = false;  // the scan stopped at a character that is not hex
};

// Four binary digits per upper-case hex digit, spaces skipped; the scan stops
// at the first other character. A result shorter than 64 characters is
// padded on the left with '0' to 64.
HexConversion HexToBinary(std::string_view text);

// True when the text is non-empty and made of '0' and '1' only.
bool isBinaryText(std::string_view text);

struct CommandTextRule {
    std::string_view window;         // form name of the window
    int maxLength;                   // characters the command box accepts
    std::optional<int> hexLength;    // the one length at which non-binary text is converted; none: always
    std::optional<int> keepRight;    // keep only this many characters from the right of a conversion
    std::optional<int> padBinaryTo;  // pad a shorter binary text on the left with '0' to this length
    std::string_view resetText;      // written after a rejected text; empty: the window never rejects
    std::optional<int> guardLength;  // the command word must be exactly this long to be decoded
    std::string_view guardMessage;
    bool liveCounter;                // the counter label follows the command text
};

namespace rules {
inline constexpr CommandTextRule GeometryMode{
    "GM", 64, 16, std::nullopt, std::nullopt, kOnes58, std::nullopt, {}, true};
inline constexpr CommandTextRule Combiner{
    "CC", 64, 16, std::nullopt, std::nullopt, kOnes64, 64,
    "Please Enter the Full Binary of the Whole Command Including FC", true};
inline constexpr CommandTextRule RenderMode{
    "RM", 32, std::nullopt, 32, 32, {}, 32, "Please Enter the Full Binary of the Lower Word", true};
inline constexpr CommandTextRule OtherModeH{
    "OM_H", 64, 16, std::nullopt, std::nullopt, kOnes32, std::nullopt, {}, true};
inline constexpr CommandTextRule Texture{
    "G_Texture", 32, 8, 32, std::nullopt, kOnes32, std::nullopt, {}, true};
inline constexpr CommandTextRule SetTile{
    "SetTile", 64, 16, std::nullopt, std::nullopt, kOnes32, std::nullopt, {}, false};

inline constexpr CommandTextRule All[] = {GeometryMode, Combiner, RenderMode, OtherModeH, Texture, SetTile};
} // namespace rules

struct ShowMessage {
    std::string text;
    bool operator==(const ShowMessage &) const = default;
};
struct SetCommandText {
    std::string text;
    bool operator==(const SetCommandText &) const = default;
};
using InputEffect = std::variant<ShowMessage, SetCommandText>;

struct PreparedCommand {
    std::vector<InputEffect> effects;  // to be played in order
    std::optional<std::string> word;   // the command word, or nothing: skip the decode
};

PreparedCommand PrepareCommandWord(std::string_view text, const CommandTextRule &rule);

} // namespace dlscope
