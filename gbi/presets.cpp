#include "gbi/presets.h"

#include <algorithm>
#include <array>
#include <vector>

namespace dlscope::gbi {
namespace {

constexpr std::uint32_t kCycle1Blender = 0xCCCC0000u;
constexpr std::uint32_t kCycle2Blender = 0x33330000u;
constexpr std::uint32_t kModeBits = 0x0000FFFFu;

std::uint32_t combineKey(const std::uint8_t codes[8])
{
    return static_cast<std::uint32_t>(codes[0]) << 24 | static_cast<std::uint32_t>(codes[1]) << 20
        | static_cast<std::uint32_t>(codes[2]) << 15 | static_cast<std::uint32_t>(codes[3]) << 12
        | static_cast<std::uint32_t>(codes[4]) << 9 | static_cast<std::uint32_t>(codes[5]) << 6
        | static_cast<std::uint32_t>(codes[6]) << 3 | static_cast<std::uint32_t>(codes[7]);
}

std::uint32_t combineKey(std::span<const std::int64_t> args, std::size_t first)
{
    std::uint8_t codes[8];
    for (std::size_t i = 0; i < 8; ++i)
        codes[i] = static_cast<std::uint8_t>(args[first + i]);
    return combineKey(codes);
}

struct KeyIndex {
    std::uint32_t key;
    std::int32_t preset;
    friend bool operator<(const KeyIndex& a, const KeyIndex& b) { return a.key < b.key; }
};

// For each names flavour and each cycle, the best preset per set of codes:
// presets of that cycle before the others, names that are not aliases before
// aliases, public names before the header's underscore names, then the order
// of the header.
struct CombineIndex {
    std::array<std::array<std::vector<KeyIndex>, 2>, 2> byFlavourCycle;

    CombineIndex()
    {
        const auto presets = combinePresets();
        for (int flavour = 0; flavour < 2; ++flavour) {
            for (int cycle = 0; cycle < 2; ++cycle) {
                std::vector<std::pair<int, KeyIndex>> ranked;
                for (std::size_t i = 0; i < presets.size(); ++i) {
                    const CombinePreset& p = presets[i];
                    if (flavour == 0 ? !p.libultra : !p.sm64)
                        continue;
                    const int rank = (p.cycle == cycle + 1 ? 0 : 4) + (p.alias ? 2 : 0) + (p.name.starts_with("_") ? 1 : 0);
                    ranked.push_back({rank * 1000 + static_cast<int>(i), {combineKey(p.codes), static_cast<std::int32_t>(i)}});
                }
                std::sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
                auto& out = byFlavourCycle[static_cast<std::size_t>(flavour)][static_cast<std::size_t>(cycle)];
                for (const auto& r : ranked) {
                    const bool seen = std::any_of(out.begin(), out.end(), [&](const KeyIndex& k) { return k.key == r.second.key; });
                    if (!seen)
                        out.push_back(r.second);
                }
                std::sort(out.begin(), out.end());
            }
        }
    }

    std::int32_t find(Names names, int cycle, std::uint32_t key) const
    {
        const auto& v = byFlavourCycle[names == Names::Sm64 ? 1 : 0][static_cast<std::size_t>(cycle)];
        auto it = std::lower_bound(v.begin(), v.end(), KeyIndex{key, 0});
        return it != v.end() && it->key == key ? it->preset : -1;
    }
};

const CombineIndex& combineIndex()
{
    static const CombineIndex instance;
    return instance;
}

} // namespace

bool findCombinePresets(std::span<std::int64_t> args, Names names)
{
    const CombineIndex& index = combineIndex();
    const std::int32_t a = index.find(names, 0, combineKey(args, 0));
    if (a < 0)
        return false;
    const std::int32_t b = index.find(names, 1, combineKey(args, 8));
    if (b < 0)
        return false;
    args[16] = a;
    args[17] = b;
    return true;
}

namespace {

// Every word that some pair of presets gives, with the best pair for it:
// the pair of one preset first; then both cycles carrying the mode bits;
// then a pass or fog first cycle; then an empty second cycle. Built once per
// names flavour; a lookup is one probe of an open-addressed table.
struct RenderPairs {
    struct Slot {
        std::uint32_t word;
        std::int16_t first = -1;
        std::int16_t second = -1;
        std::int8_t score = -1;
    };
    static constexpr std::size_t kSize = 1u << 13;
    std::array<std::array<Slot, kSize>, 2> table{};

    static std::size_t hash(std::uint32_t w) { return (w * 0x9E3779B1u) >> (32 - 13); }

    RenderPairs()
    {
        const auto presets = renderPresets();
        for (std::size_t flavour = 0; flavour < 2; ++flavour) {
            for (std::size_t ai = 0; ai < presets.size(); ++ai) {
                const RenderPreset& a = presets[ai];
                if ((a.sm64Only && flavour == 0) || (a.cycle1 & kCycle2Blender) != 0)
                    continue;
                for (std::size_t bi = 0; bi < presets.size(); ++bi) {
                    const RenderPreset& b = presets[bi];
                    if ((b.sm64Only && flavour == 0) || b.name2.empty() || (b.cycle2 & kCycle1Blender) != 0)
                        continue;
                    const std::uint32_t aMode = a.cycle1 & kModeBits, bMode = b.cycle2 & kModeBits;
                    const std::uint32_t word = a.cycle1 | b.cycle2;
                    const std::uint32_t mode = word & kModeBits;
                    if ((aMode != mode && aMode != 0) || (bMode != mode && bMode != 0))
                        continue;
                    int score;
                    if (a.name2 == b.name2 && aMode == mode && bMode == mode)
                        score = 4;
                    else if (aMode == mode && bMode == mode)
                        score = 3;
                    else if (bMode == mode)
                        score = a.name2.empty() ? 2 : 1;
                    else
                        score = 0;
                    insert(flavour, word, static_cast<std::int16_t>(ai), static_cast<std::int16_t>(bi), static_cast<std::int8_t>(score));
                }
            }
        }
    }

    void insert(std::size_t flavour, std::uint32_t word, std::int16_t a, std::int16_t b, std::int8_t score)
    {
        auto& t = table[flavour];
        for (std::size_t h = hash(word);; h = (h + 1) & (kSize - 1)) {
            Slot& s = t[h];
            if (s.score < 0) {
                s = {word, a, b, score};
                return;
            }
            if (s.word == word) {
                if (score > s.score)
                    s = {word, a, b, score};
                return;
            }
        }
    }

    const Slot* find(std::size_t flavour, std::uint32_t word) const
    {
        const auto& t = table[flavour];
        for (std::size_t h = hash(word);; h = (h + 1) & (kSize - 1)) {
            const Slot& s = t[h];
            if (s.score < 0)
                return nullptr;
            if (s.word == word)
                return &s;
        }
    }
};

const RenderPairs& renderPairs()
{
    static const RenderPairs instance;
    return instance;
}

} // namespace

void findRenderPresets(std::span<std::int64_t> args, Names names)
{
    const auto word = static_cast<std::uint32_t>(args[0] | args[1]);
    const RenderPairs::Slot* s = renderPairs().find(names == Names::Sm64 ? 1 : 0, word);
    args[2] = s ? s->first : -1;
    args[3] = s ? s->second : -1;
}

std::span<const OtherModeField> otherModeFieldsH()
{
    static constexpr OtherModeField fields[] = {
        {"G_MDSFT_ALPHADITHER", 4, 2, ConstTable::Ad}, {"G_MDSFT_RGBDITHER", 6, 2, ConstTable::Cd},
        {"G_MDSFT_COMBKEY", 8, 1, ConstTable::Ck},     {"G_MDSFT_TEXTCONV", 9, 3, ConstTable::Tc},
        {"G_MDSFT_TEXTFILT", 12, 2, ConstTable::Tf},   {"G_MDSFT_TEXTLUT", 14, 2, ConstTable::Tt},
        {"G_MDSFT_TEXTLOD", 16, 1, ConstTable::Tl},    {"G_MDSFT_TEXTDETAIL", 17, 2, ConstTable::Td},
        {"G_MDSFT_TEXTPERSP", 19, 1, ConstTable::Tp},  {"G_MDSFT_CYCLETYPE", 20, 2, ConstTable::Cyc},
        {"G_MDSFT_PIPELINE", 23, 1, ConstTable::Pm},
    };
    return fields;
}

std::span<const OtherModeField> otherModeFieldsL()
{
    static constexpr OtherModeField fields[] = {
        {"G_MDSFT_ALPHACOMPARE", 0, 2, ConstTable::Ac},
        {"G_MDSFT_ZSRCSEL", 2, 1, ConstTable::Zs},
    };
    return fields;
}

} // namespace dlscope::gbi
