// Every decoder on arbitrary bytes of any length: never a crash or an
// out-of-bounds read, and on a complete word every field is read.

#include "core/bits.h"
#include "core/combiner.h"
#include "core/command_text.h"
#include "core/geometry_mode.h"
#include "core/other_mode_h.h"
#include "core/render_mode.h"
#include "core/render_mode_macro.h"
#include "core/texture.h"
#include "fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

using namespace dlscope;

bool charIsOne(std::string_view text, int position)
{
    return text.size() >= static_cast<std::size_t>(position) && text[static_cast<std::size_t>(position - 1)] == '1';
}

bool complete(std::string_view text, std::size_t length)
{
    return text.size() == length && isBinaryText(text);
}

void geometryMode(std::string_view text)
{
    const GeometryModeFlags flags = DecodeGeometryMode(text);
    for (const GeometryModeFlagLayout &row : kGeometryModeLayout)
        FUZZ_CHECK(flags.*row.flag == charIsOne(text, row.position));
}

void renderMode(std::string_view text)
{
    const RenderModeFields fields = DecodeRenderMode(text);
    const std::string macro = BuildRenderModeMacro(MacroInputOf(fields));
    FUZZ_CHECK(macro.starts_with(kRenderModeMacroStart));
    FUZZ_CHECK(macro.ends_with("),"));
    if (!complete(text, 32))
        return;
    for (const RenderModeFieldLayout &row : kRenderModeLayout) {
        const std::string_view piece = text.substr(static_cast<std::size_t>(row.bits.first - 1),
                                                   static_cast<std::size_t>(row.bits.width));
        switch (row.kind) {
        case RenderModeFieldKind::Flag:
            FUZZ_CHECK(fields.flag(row.flag) == (piece == "1"));
            break;
        case RenderModeFieldKind::ZMode:
            FUZZ_CHECK(fields.zMode == std::stoi(std::string(piece), nullptr, 2));
            break;
        case RenderModeFieldKind::Coverage:
            FUZZ_CHECK(fields.coverage == std::stoi(std::string(piece), nullptr, 2));
            break;
        case RenderModeFieldKind::BlendInput: {
            const BlendInput &input = fields.blend[static_cast<std::size_t>(row.cycle)][static_cast<std::size_t>(row.input)];
            FUZZ_CHECK(input.name == BlendInputName(kBlendLetters[static_cast<std::size_t>(row.input)], piece));
            FUZZ_CHECK(!input.name.empty());
            break;
        }
        }
    }
}

// The macro over any eight names: always a whole call text.
void macroOverNames(std::string_view text)
{
    RenderModeMacroInput input;
    std::size_t start = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        const std::size_t end = std::min(text.size(), text.find('|', start));
        const std::string_view name = start <= text.size() ? text.substr(start, end - start) : std::string_view();
        (i < 4 ? input.cycle1[i] : input.cycle2[i - 4]) = name;
        start = end + 1;
    }
    input.decoded = !text.empty() && (text[0] & 1);
    for (const RenderModeFlag flag : kAllRenderModeFlags)
        input.flags.set(flag, !text.empty() && (text.back() >> static_cast<int>(flag)) & 1);
    input.zMode = text.size() % 4;
    input.coverage = (text.size() / 4) % 4;
    const std::string macro = BuildRenderModeMacro(input);
    FUZZ_CHECK(macro.starts_with(kRenderModeMacroStart));
    FUZZ_CHECK(macro.ends_with("),"));
    if (!input.decoded)
        FUZZ_CHECK(macro.find("DevDefined") != std::string::npos);
}

void combiner(std::string_view text)
{
    const CombinerInputs inputs = DecodeCombiner(text);
    if (!complete(text, 64))
        return;
    for (const CombinerFieldLayout &row : kCombinerLayout)
        FUZZ_CHECK(!(inputs.*row.input).empty());  // every code of every slot has a name
}

void otherModeH(std::string_view text)
{
    const OtherModeHFields fields = DecodeOtherModeH(text);
    const auto piece = [&](BitField f) { return readField(text, f); };
    for (const OtherModeHGroupLayout &row : kOtherModeHLayout) {
        const std::optional<int> option = fields.option(row.group);
        const auto value = piece(row.field);
        if (!value) {
            FUZZ_CHECK(!option);  // a field past the end selects nothing
            continue;
        }
        std::optional<int> expected;
        for (const OtherModeHValue &v : row.values)
            if (!v.code.empty() && v.code == *value)
                expected = v.option;
        FUZZ_CHECK(option == expected);
        if (option)
            FUZZ_CHECK(static_cast<std::size_t>(*option) < row.optionCount());
        const auto shift = piece(kOtherModeHShiftField);
        FUZZ_CHECK((fields.highlighted == row.group) == (shift && *shift == row.shiftCode));
    }
}

void texture(std::string_view text)
{
    const TextureFields fields = DecodeTexture(text);
    FUZZ_CHECK(fields.on == charIsOne(text, kTextureOnPosition));
    FUZZ_CHECK(fields.bowtie.size() <= 8 && fields.tile.size() <= 3 && fields.level.size() <= 3);
    if (complete(text, 32)) {
        FUZZ_CHECK(fields.bowtie == text.substr(8, 8));
        FUZZ_CHECK(fields.tile.size() == 1 && fields.tile[0] >= '0' && fields.tile[0] <= '7');
        FUZZ_CHECK(fields.level.size() == 1 && fields.level[0] >= '1' && fields.level[0] <= '8');
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    geometryMode(text);
    renderMode(text);
    macroOverNames(text);
    combiner(text);
    otherModeH(text);
    texture(text);
    // The same bytes read as a binary word: map each byte to a digit so that
    // complete words are reached often.
    std::string binary(text.size(), '0');
    for (std::size_t i = 0; i < text.size(); ++i)
        binary[i] = (text[i] & 1) ? '1' : '0';
    geometryMode(binary);
    renderMode(binary);
    combiner(binary);
    otherModeH(binary);
    texture(binary);
    return 0;
}
