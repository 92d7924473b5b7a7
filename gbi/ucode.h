#pragma once

// The microcodes whose display lists DL Scope reads.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace dlscope::gbi {

enum class Ucode : std::uint8_t { F3D, F3DEX, F3DEX2, F3DEX3 };

inline constexpr std::array<Ucode, 4> kAllUcodes = {Ucode::F3D, Ucode::F3DEX, Ucode::F3DEX2, Ucode::F3DEX3};
inline constexpr std::size_t kUcodeCount = kAllUcodes.size();

// "f3d", "f3dex", "f3dex2", "f3dex3".
std::string_view ucodeName(Ucode ucode);
std::optional<Ucode> parseUcode(std::string_view name);

// F3DEX2 and F3DEX3 share the F3DEX2 command numbering (G_DL is 0xDE, the
// other modes 0xE2/0xE3, the half-commands 0xE1/0xF1, ...).
constexpr bool isF3dex2Family(Ucode ucode) { return ucode == Ucode::F3DEX2 || ucode == Ucode::F3DEX3; }

// The opcode that ends a display list under this microcode.
constexpr std::uint8_t endListOpcode(Ucode ucode) { return isF3dex2Family(ucode) ? 0xDF : 0xB8; }

// The F3DEX3 header's build switches that change the words it writes.
enum F3dex3Option : std::uint8_t {
    kF3dex2Segments = 1,         // gsSPSegment writes the F3DEX2 moveword form
    kNoSyncsInTextureLoads = 2,  // texture and palette loads leave out their syncs
    kRiskyRdpSyncs = 4,          // gsDPPipeSync writes a tile sync
    kDisableAa = 8,              // the AA render-mode presets lose AA_EN and IM_RD
    kKazeGbiHacks = 16,          // gsSPSetLights1 and gsDPSetEnvColor become no-ops
};
std::string_view f3dex3OptionName(F3dex3Option option);
std::optional<F3dex3Option> parseF3dex3Option(std::string_view name);
inline constexpr std::array<F3dex3Option, 5> kAllF3dex3Options = {kF3dex2Segments, kNoSyncsInTextureLoads, kRiskyRdpSyncs,
                                                                  kDisableAa, kKazeGbiHacks};

// The header revision the F3DEX3 tables describe.
inline constexpr std::string_view kF3dex3Revision = "F3DEX3 gbi.h of 2025-07-26 (repository head of 2025-09-06)";

} // namespace dlscope::gbi
