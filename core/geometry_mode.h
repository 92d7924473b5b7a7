#pragma once

// G_SETGEOMETRYMODE (opcode B7): the geometry-mode flags of the lower word.

#include <string_view>

namespace dlscope {

struct GeometryModeFlags {
    bool zBuffer = false;
    bool shade = false;
    bool smoothShade = false;
    bool cullFront = false;
    bool cullBack = false;
    bool fog = false;
    bool lighting = false;
    bool textureGen = false;
    bool textureGenLinear = false;

    bool operator==(const GeometryModeFlags &) const = default;
};

struct GeometryModeFlagLayout {
    bool GeometryModeFlags::*flag;
    int position;  // character position in the 64-character command word
};

// The nine flags in the order the window sets its check boxes. Bit n of the
// lower word sits at position 64 - n.
inline constexpr GeometryModeFlagLayout kGeometryModeLayout[] = {
    {&GeometryModeFlags::zBuffer, 64},          // bit 0
    {&GeometryModeFlags::shade, 62},            // bit 2
    {&GeometryModeFlags::smoothShade, 55},      // bit 9
    {&GeometryModeFlags::cullFront, 52},        // bit 12
    {&GeometryModeFlags::cullBack, 51},         // bit 13
    {&GeometryModeFlags::fog, 48},              // bit 16
    {&GeometryModeFlags::lighting, 47},         // bit 17
    {&GeometryModeFlags::textureGen, 46},       // bit 18
    {&GeometryModeFlags::textureGenLinear, 45}, // bit 19
};

// Reads the nine flag positions. A flag whose position lies beyond the end
// of a short word reads as cleared; the opcode is not examined.
GeometryModeFlags DecodeGeometryMode(std::string_view word);

} // namespace dlscope
