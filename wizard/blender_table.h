#pragma once

// The blender settings the wizard writes for each combination of fog choice,
// cycle count and transparency: the first half of the render-mode word, the
// names shown in the render mode window's blender boxes and whether the
// blender is forced on.

#include <array>
#include <cstddef>
#include <iterator>
#include <string_view>

namespace dlscope::wizard {

enum class FogChoice { Fog, FadeAway, NoFog };

enum class TransparencyMatch { Any, Yes, No };

// Names of the blender inputs a, b, c, d of one cycle.
using BlendInputs = std::array<std::string_view, 4>;

struct BlenderRow {
    FogChoice fogChoice;
    bool twoCycle;
    TransparencyMatch transparency;
    // Positions 1 to 16 of the render-mode word, two characters per input,
    // interleaved: a first cycle, a second cycle, b first, b second, ...
    std::string_view selectors;
    BlendInputs firstCycle;
    BlendInputs secondCycle;
    bool forceBlender;  // false: `chkFC_BL` keeps the 0 of the presets
};

// Second cycle of every two-cycle row: the incoming colour blended over memory.
inline constexpr BlendInputs kAlphaBlendOverMemory = {"CLR_IN", "A_IN", "CLR_MEM", "1-A"};

inline constexpr BlenderRow kBlenderTable[] = {
    {FogChoice::Fog, true, TransparencyMatch::Any, "1100100000010000",
     {"CLR_FOG", "A_SHADE", "CLR_IN", "1-A"}, kAlphaBlendOverMemory, false},
    {FogChoice::Fog, false, TransparencyMatch::Yes, "1111000000000000",
     {"CLR_FOG", "A_IN", "CLR_IN", "1-A"}, {"CLR_FOG", "A_IN", "CLR_IN", "1-A"}, true},
    {FogChoice::Fog, false, TransparencyMatch::No, "1111101000000000",
     {"CLR_FOG", "A_SHADE", "CLR_IN", "1-A"}, {"CLR_FOG", "A_SHADE", "CLR_IN", "1-A"}, true},
    {FogChoice::FadeAway, true, TransparencyMatch::Any, "0100100000010000",
     {"CLR_MEM", "A_SHADE", "CLR_IN", "1-A"}, kAlphaBlendOverMemory, false},
    {FogChoice::FadeAway, false, TransparencyMatch::Yes, "0101000000000000",
     {"CLR_MEM", "A_IN", "CLR_IN", "1-A"}, {"CLR_MEM", "A_IN", "CLR_IN", "1-A"}, true},
    {FogChoice::FadeAway, false, TransparencyMatch::No, "0101101000000000",
     {"CLR_MEM", "A_SHADE", "CLR_IN", "1-A"}, {"CLR_MEM", "A_SHADE", "CLR_IN", "1-A"}, true},
    {FogChoice::NoFog, true, TransparencyMatch::Any, "0000100000010000",
     {"CLR_IN", "A_SHADE", "CLR_IN", "1-A"}, kAlphaBlendOverMemory, false},
    {FogChoice::NoFog, false, TransparencyMatch::Yes, "0000000000000000",
     {"CLR_IN", "A_IN", "CLR_IN", "1-A"}, {"CLR_IN", "A_IN", "CLR_IN", "1-A"}, false},
    {FogChoice::NoFog, false, TransparencyMatch::No, "0000101000000000",
     {"CLR_IN", "A_SHADE", "CLR_IN", "1-A"}, {"CLR_IN", "A_SHADE", "CLR_IN", "1-A"}, false},
};

constexpr bool matches(const BlenderRow &row, FogChoice fogChoice, bool twoCycle, bool transparency)
{
    return row.fogChoice == fogChoice && row.twoCycle == twoCycle &&
           (row.transparency == TransparencyMatch::Any ||
            (row.transparency == TransparencyMatch::Yes) == transparency);
}

// Every combination has exactly one row (checked below), so this always finds one.
constexpr const BlenderRow &blenderRow(FogChoice fogChoice, bool twoCycle, bool transparency)
{
    for (const BlenderRow &row : kBlenderTable)
        if (matches(row, fogChoice, twoCycle, transparency))
            return row;
    return kBlenderTable[0];
}

namespace detail {

// The selector codes that occur in the table, with the names the render mode
// window decodes them to.
struct BlendCodeName {
    std::size_t input;  // 0 a, 1 b, 2 c, 3 d
    std::string_view code;
    std::string_view name;
};

inline constexpr BlendCodeName kBlendCodeNames[] = {
    {0, "00", "CLR_IN"}, {0, "01", "CLR_MEM"}, {0, "11", "CLR_FOG"}, {1, "00", "A_IN"}, {1, "10", "A_SHADE"},
    {2, "00", "CLR_IN"}, {2, "01", "CLR_MEM"}, {2, "11", "CLR_FOG"}, {3, "00", "1-A"},
};

constexpr bool namesCode(std::size_t input, std::string_view code, std::string_view name)
{
    for (const BlendCodeName &entry : kBlendCodeNames)
        if (entry.input == input && entry.code == code)
            return entry.name == name;
    return false;
}

constexpr bool rowIsConsistent(const BlenderRow &row)
{
    if (row.selectors.size() != 16)
        return false;
    for (std::size_t input = 0; input < 4; ++input) {
        if (!namesCode(input, row.selectors.substr(4 * input, 2), row.firstCycle[input]) ||
            !namesCode(input, row.selectors.substr(4 * input + 2, 2), row.secondCycle[input]))
            return false;
    }
    return true;
}

constexpr bool tableCoversEveryCaseOnce()
{
    for (FogChoice fog : {FogChoice::Fog, FogChoice::FadeAway, FogChoice::NoFog})
        for (bool twoCycle : {false, true})
            for (bool transparency : {false, true}) {
                int found = 0;
                for (const BlenderRow &row : kBlenderTable)
                    found += matches(row, fog, twoCycle, transparency) ? 1 : 0;
                if (found != 1)
                    return false;
            }
    return true;
}

} // namespace detail

static_assert([] {
    for (const BlenderRow &row : kBlenderTable)
        if (!detail::rowIsConsistent(row))
            return false;
    return true;
}(), "each blender row's names must be the names of its selector codes");
static_assert(detail::tableCoversEveryCaseOnce(), "each fog/cycle/transparency case needs exactly one blender row");

} // namespace dlscope::wizard
