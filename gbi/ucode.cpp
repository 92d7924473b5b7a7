#include "gbi/ucode.h"

namespace dlscope::gbi {

std::string_view ucodeName(Ucode ucode)
{
    switch (ucode) {
    case Ucode::F3D: return "f3d";
    case Ucode::F3DEX: return "f3dex";
    case Ucode::F3DEX2: return "f3dex2";
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

} // namespace dlscope::gbi
