#pragma once

// G_SETOTHERMODE_H (opcode BA): the eleven mode fields of the lower word, and
// the one field that the command's shift amount addresses.
//
// Every field is read as text and compared, as text, with the codes of its
// group; no number is computed from the word. The opcode and length bytes
// are not examined.

#include "bits.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace dlscope {

// The groups in the order the decode fills them and the window lays them out.
enum class OtherModeHGroup {
    AlphaDither,
    ColourDither,
    CombineKey,
    TextureConvert,
    TextureFilter,
    TextureLut,
    TextureLod,
    TextureDetail,
    TexturePersp,
    Cycle,
    Pipeline,
};

inline constexpr std::size_t kOtherModeHGroupCount = 11;

// A field value that selects an option. Values of a field that are not listed
// select no option.
struct OtherModeHValue {
    std::string_view code;  // the field's characters, most significant first
    int option;             // index into the option array
};

inline constexpr std::size_t kOtherModeHMaxOptions = 4;

struct OtherModeHGroupLayout {
    OtherModeHGroup group;
    std::string_view optionArray;   // name of the option-button array ("AlphaDith")
    std::string_view frame;         // name of the frame holding it ("AD")
    std::string_view frameCaption;  // shown on the frame
    BitField field;                 // positions in the 64-character command word
    std::array<OtherModeHValue, kOtherModeHMaxOptions> values;  // rows with an empty code are unused
    std::array<std::string_view, kOtherModeHMaxOptions> captions;  // by option index; empty: no such option
    std::string_view shiftCode;     // positions 20-24 naming this field (its lowest lower-word bit)

    constexpr std::size_t optionCount() const
    {
        std::size_t n = 0;
        while (n < captions.size() && !captions[n].empty())
            ++n;
        return n;
    }
};

// The low five bits of the shift byte.
inline constexpr BitField kOtherModeHShiftField{20, 5};

// Lower-word bit n sits at position 64 - n; a field's first position is that
// of its most significant bit.
inline constexpr OtherModeHGroupLayout kOtherModeHLayout[kOtherModeHGroupCount] = {
    {OtherModeHGroup::AlphaDither, "AlphaDith", "AD", "Alpha Dither", {59, 2},
     {{{"00", 0}, {"01", 1}, {"10", 2}, {"11", 3}}},
     {"Pattern", "NoPattern", "Noise", "Dissabled"}, "00100"},
    {OtherModeHGroup::ColourDither, "ColourDith", "CD", "Colour Dither", {57, 2},
     {{{"00", 0}, {"01", 1}, {"10", 2}, {"11", 3}}},
     {"MagicSq", "Bayer", "Noise", "Dissabled"}, "00110"},
    {OtherModeHGroup::CombineKey, "CombKey", "CK", "Combine Key", {56, 1},
     {{{"0", 0}, {"1", 1}}},
     {"None", "Key"}, "01000"},
    {OtherModeHGroup::TextureConvert, "TexCon", "TC", "TextureConvert", {53, 3},
     {{{"000", 0}, {"101", 1}, {"110", 2}}},
     {"Convert", "FilterConv", "Filter"}, "01001"},
    {OtherModeHGroup::TextureFilter, "TexFilt", "TF", "TextureFilter", {51, 2},
     {{{"00", 0}, {"10", 1}, {"11", 2}}},
     {"Point", "Bi-Linear", "Average"}, "01100"},
    {OtherModeHGroup::TextureLut, "TexLUT", "TLU", "Texture LUT", {49, 2},
     {{{"00", 0}, {"10", 1}, {"11", 2}}},
     {"None", "RGBa16", "IA16"}, "01110"},
    {OtherModeHGroup::TextureLod, "TexLOD", "TL", "Texture LOD", {48, 1},
     {{{"0", 0}, {"1", 1}}},
     {"Tile", "LOD"}, "10000"},
    {OtherModeHGroup::TextureDetail, "TexDET", "TD", "Texture Detail", {46, 2},
     {{{"00", 0}, {"01", 1}, {"10", 2}}},
     {"Clamp", "Sharpen", "Detail"}, "10001"},
    {OtherModeHGroup::TexturePersp, "TexPersp", "TP", "Texture Persp", {45, 1},
     {{{"0", 0}, {"1", 1}}},
     {"None", "Corrected"}, "10011"},
    {OtherModeHGroup::Cycle, "Cycle", "Cy", "Cycle", {43, 2},
     {{{"00", 0}, {"01", 1}, {"10", 2}, {"11", 3}}},
     {"1", "2", "Copy", "Fill"}, "10100"},
    {OtherModeHGroup::Pipeline, "Option1", "Pip", "Pipeline - span buffer Coherency ", {41, 1},
     {{{"0", 0}, {"1", 1}}},
     {"NPrimitive (NotCoherent - Dont Wait)", "1Primitive (Coherent - wait)"}, "10111"},
};

namespace detail {
// The shift code must name the lowest lower-word bit of the field, every
// code must be as wide as its field, and every option must have a caption.
constexpr bool otherModeHLayoutIsConsistent()
{
    for (std::size_t i = 0; i < kOtherModeHGroupCount; ++i) {
        const OtherModeHGroupLayout &row = kOtherModeHLayout[i];
        if (static_cast<std::size_t>(row.group) != i)
            return false;
        const int lowestBit = 64 - (row.field.first + row.field.width - 1);
        if (row.shiftCode.size() != static_cast<std::size_t>(kOtherModeHShiftField.width))
            return false;
        int shift = 0;
        for (const char c : row.shiftCode)
            shift = shift * 2 + (c == '1' ? 1 : 0);
        if (shift != lowestBit)
            return false;
        for (const OtherModeHValue &value : row.values) {
            if (value.code.empty())
                continue;
            if (value.code.size() != static_cast<std::size_t>(row.field.width))
                return false;
            if (value.option < 0 || static_cast<std::size_t>(value.option) >= row.optionCount())
                return false;
        }
    }
    return true;
}
} // namespace detail
static_assert(detail::otherModeHLayoutIsConsistent(), "other-mode-H layout rows disagree");

struct OtherModeHFields {
    // The selected option of each group, indexed by OtherModeHGroup; none:
    // the group shows no option.
    std::array<std::optional<int>, kOtherModeHGroupCount> options{};
    // The frame that the shift amount addresses, if any.
    std::optional<OtherModeHGroup> highlighted;

    std::optional<int> option(OtherModeHGroup group) const { return options[static_cast<std::size_t>(group)]; }

    bool operator==(const OtherModeHFields &) const = default;
};

constexpr const OtherModeHGroupLayout &otherModeHLayout(OtherModeHGroup group)
{
    return kOtherModeHLayout[static_cast<std::size_t>(group)];
}

// Reads each field and the shift code. A field (or the shift field) that runs
// past the end of a short word matches no value; positions that exist are
// decoded normally. Never fails.
OtherModeHFields DecodeOtherModeH(std::string_view word);

} // namespace dlscope
