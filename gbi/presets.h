#pragma once

// Finding render-mode and combine-mode presets for decoded words.

#include "gbi/command.h"

#include <cstdint>
#include <span>
#include <string_view>

namespace dlscope::gbi {

// Combine: the sixteen slot codes are args[0..15]. Stores the preset indices
// (into combinePresets()) in args[16] and args[17]; false when either cycle
// has no preset under these names.
bool findCombinePresets(std::span<std::int64_t> args, Names names);

// The argument positions of the two c slots among the sixteen codes: only
// they have codes without a token (16 to 30).
inline constexpr std::size_t kCombineC0 = 2;
inline constexpr std::size_t kCombineC1 = 10;

// True when the code of argument `slot` has a token gsDPSetCombineLERP can
// write (so every preset's codes have).
constexpr bool combineTokenExists(std::size_t slot, std::int64_t code)
{
    return (slot != kCombineC0 && slot != kCombineC1) || !(code >= 16 && code <= 30);
}


// Render mode: args[0] = the cycle-1 part of the word, args[1] = the cycle-2
// blender bits. Stores the preset indices (into renderPresets()) in args[2]
// and args[3], or -1 in both when the word is no preset pair.
void findRenderPresets(std::span<std::int64_t> args, Names names);

// The other-mode fields of each half, for printing field by field.
struct OtherModeField {
    std::string_view shiftName; // G_MDSFT_...
    int shift;
    int length;
    ConstTable table;
};
std::span<const OtherModeField> otherModeFieldsH();
std::span<const OtherModeField> otherModeFieldsL(); // alpha compare and Z source only

} // namespace dlscope::gbi
