#include "gbi/ucode.h"

namespace dlscope::gbi {

std::string_view ucodeName(Ucode ucode)
{
    switch (ucode) {
    case Ucode::F3D: return "f3d";
    case Ucode::F3DEX: return "f3dex";
    case Ucode::F3DEX2: return "f3dex2";
    case Ucode::F3DEX3: return "f3dex3";
    }
    return "?";
}

std::optional<Ucode> parseUcode(std::string_view name)
{
    for (Ucode u : kAllUcodes)
        if (ucodeName(u) == name)
            return u;
    return std::nullopt;
}

std::string_view f3dex3OptionName(F3dex3Option option)
{
    switch (option) {
    case kF3dex2Segments: return "F3DEX2_SEGMENTS";
    case kNoSyncsInTextureLoads: return "NO_SYNCS_IN_TEXTURE_LOADS";
    case kRiskyRdpSyncs: return "RISKY_RDP_SYNCS";
    case kDisableAa: return "DISABLE_AA";
    case kKazeGbiHacks: return "KAZE_GBI_HACKS";
    }
    return "?";
}

std::optional<F3dex3Option> parseF3dex3Option(std::string_view name)
{
    for (F3dex3Option o : kAllF3dex3Options)
        if (f3dex3OptionName(o) == name)
            return o;
    return std::nullopt;
}

} // namespace dlscope::gbi
