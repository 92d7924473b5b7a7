#pragma once

// The microcodes whose display lists DL Scope reads.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace dlscope::gbi {

enum class Ucode : std::uint8_t { F3D, F3DEX, F3DEX2 };

inline constexpr std::array<Ucode, 3> kAllUcodes = {Ucode::F3D, Ucode::F3DEX, Ucode::F3DEX2};

// "f3d", "f3dex", "f3dex2".
std::string_view ucodeName(Ucode ucode);
std::optional<Ucode> parseUcode(std::string_view name);

// The opcode that ends a display list under this microcode.
constexpr std::uint8_t endListOpcode(Ucode ucode) { return ucode == Ucode::F3DEX2 ? 0xDF : 0xB8; }

} // namespace dlscope::gbi
