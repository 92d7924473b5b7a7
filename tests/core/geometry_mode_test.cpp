#include "core/command_text.h"
#include "core/geometry_mode.h"

#include <gtest/gtest.h>

namespace dlscope {
namespace {

std::string fromHex(const char *hex) { return HexToBinary(hex).binary; }

struct GeometryCase {
    const char *name;
    std::string word;
    GeometryModeFlags expected;
};

std::ostream &operator<<(std::ostream &out, const GeometryCase &c) { return out << c.name; }

GeometryModeFlags only(bool GeometryModeFlags::*flag)
{
    GeometryModeFlags f;
    f.*flag = true;
    return f;
}

std::vector<GeometryCase> geometryCases()
{
    std::vector<GeometryCase> cases = {
        {"Default", "1011011100000000000000000000000000000000000000000010000000000000", only(&GeometryModeFlags::cullBack)},
        {"OpcodeIgnored", fromHex("FF00000000002000"), only(&GeometryModeFlags::cullBack)},
        {"AllButCulling", fromHex("B7000000000F0205"), {true, true, true, false, false, true, true, true, true}},
        {"Position63IsNotAFlag", std::string(62, '0') + "10", {}},
        // The 58 ones of a reset: positions 59 to 64 do not exist.
        {"Reset58Ones", std::string(kOnes58), {false, false, true, true, true, true, true, true, true}},
        {"Empty", "", {}},
    };
    // Each flag alone, at the position of its bit.
    const struct {
        const char *name;
        int bit;
        bool GeometryModeFlags::*flag;
    } singles[] = {{"ZBuffer", 0, &GeometryModeFlags::zBuffer},       {"Shade", 2, &GeometryModeFlags::shade},
                   {"Smooth", 9, &GeometryModeFlags::smoothShade},    {"CullFront", 12, &GeometryModeFlags::cullFront},
                   {"CullBack", 13, &GeometryModeFlags::cullBack},    {"Fog", 16, &GeometryModeFlags::fog},
                   {"Lighting", 17, &GeometryModeFlags::lighting},    {"TexGen", 18, &GeometryModeFlags::textureGen},
                   {"TexGenLinear", 19, &GeometryModeFlags::textureGenLinear}};
    for (const auto &s : singles) {
        std::string word(64, '0');
        word[static_cast<std::size_t>(63 - s.bit)] = '1';
        cases.push_back({s.name, word, only(s.flag)});
    }
    // A short word: the flags that exist take their digits (positions 45..50).
    GeometryModeFlags shortWord;
    shortWord.textureGenLinear = shortWord.textureGen = shortWord.lighting = shortWord.fog = true;
    cases.push_back({"ShortWordReadsWhatExists", std::string(50, '1'), shortWord});
    return cases;
}

class DecodeGeometryModeTest : public testing::TestWithParam<GeometryCase> {};

TEST_P(DecodeGeometryModeTest, ReadsEachFlagAtItsPosition)
{
    EXPECT_EQ(DecodeGeometryMode(GetParam().word), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Words, DecodeGeometryModeTest, testing::ValuesIn(geometryCases()),
                         [](const testing::TestParamInfo<GeometryCase> &p) { return std::string(p.param.name); });

} // namespace
} // namespace dlscope
