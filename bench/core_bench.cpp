// Every core operation on realistic command words, each beside its floor:
// the same result taken from the command held as an integer, with shifts,
// masks and indexed tables, in the same binary and the same kind of loop.
//
// Benchmark names are "<operation>/ours" and "<operation>/floor"; the
// report script pairs them and prints ours / floor. Before anything is
// timed, every floor is checked to give the same result as ours on every
// sample, so that a floor is never faster for doing less.
//
// Both sides get their input through an opaque pointer and hand their result
// to benchmark::DoNotOptimize, so neither can be folded away or hoisted out
// of the loop. Floors are kept out of line, as our operations are (they live
// in another library).

#include "core/command_text.h"
#include "core/geometry_mode.h"
#if DLSCOPE_BENCH_HAVE_COMBINER
#include "core/combiner.h"
#endif
#if DLSCOPE_BENCH_HAVE_RENDER_MODE
#include "core/render_mode.h"
#endif
#if DLSCOPE_BENCH_HAVE_RENDER_MODE_MACRO
#include "core/render_mode_macro.h"
#endif
#if DLSCOPE_BENCH_HAVE_OTHER_MODE_H
#include "core/other_mode_h.h"
#endif
#if DLSCOPE_BENCH_HAVE_TEXTURE
#include "core/texture.h"
#endif
#if DLSCOPE_BENCH_HAVE_WIZARD_FLOW
#include "wizard/questions.h"
#include "wizard/wizard_flow.h"
#endif

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace {

using namespace dlscope;

// ---------------------------------------------------------------------------
// Samples: commands as they come out of display-list dumps. Eight of each, a
// power of two so the loop picks the next one with a mask.

constexpr std::array<std::string_view, 8> kGeometryHex = {
    "B700000000002000", "B7000000000F0205", "B700000000022405", "B600000000060000",
    "B700000000000204", "B700000000010000", "B7000000000C0000", "B700000000003205"};

constexpr std::array<std::string_view, 8> kCombinerHex = {
    "FC26A0041FFC93FC", "FC127E24FFFFF9FC", "FC121824FF33FFFF", "FCFFFFFFFFFE793C",
    "FC309661552EFF7F", "FC127FFFFFFFF838", "FC41C8031F0CFFFF", "FC267E041FFCFDF8"};

// Lower words of B9 render-mode commands.
constexpr std::array<std::string_view, 8> kRenderModeHex = {"0C184078", "00552078", "C8112078", "0F0A4000",
                                                            "00553048", "0C192078", "00504240", "C8104DD8"};

constexpr std::array<std::string_view, 8> kOtherModeHHex = {
    "BA000C0200002000", "BA00140200300000", "BA00140200100000", "BA000E0200000000",
    "BA00110200010000", "BA00130200080000", "BA00080200000000", "BA00040200000010"};

// Upper words of BB texture commands.
constexpr std::array<std::string_view, 8> kTextureHex = {"BB002801", "BB000B01", "BB000001", "BB001001",
                                                         "BB002000", "BB000801", "BB003801", "BB001100"};

std::uint64_t hexValue(std::string_view hex)
{
    std::uint64_t value = 0;
    for (const char c : hex)
        value = value << 4 | static_cast<std::uint64_t>(c <= '9' ? c - '0' : c - 'A' + 10);
    return value;
}

std::string binaryText(std::uint64_t value, int width)
{
    std::string text;
    for (int bit = width - 1; bit >= 0; --bit)
        text += (value >> bit & 1) ? '1' : '0';
    return text;
}

template <std::size_t N> std::vector<std::string> binaryWords(const std::array<std::string_view, N> &hex, int width)
{
    std::vector<std::string> words;
    for (const std::string_view h : hex)
        words.push_back(binaryText(hexValue(h), width));
    return words;
}

template <std::size_t N> std::vector<std::uint64_t> values(const std::array<std::string_view, N> &hex)
{
    std::vector<std::uint64_t> result;
    for (const std::string_view h : hex)
        result.push_back(hexValue(h));
    return result;
}

// The timed loop of both sides: the next input through an opaque pointer,
// the result kept.
template <typename Input, typename Op> void timeOver(benchmark::State &state, const std::vector<Input> &inputs, Op op)
{
    const std::size_t mask = inputs.size() - 1;
    std::size_t i = 0;
    for (auto _ : state) {
        const Input *input = &inputs[i++ & mask];
        benchmark::DoNotOptimize(input);
        auto result = op(*input);
        benchmark::DoNotOptimize(result);
    }
}

std::vector<std::string_view> views(const std::vector<std::string> &texts)
{
    return {texts.begin(), texts.end()};
}

int floorMismatches = 0;

void expectSame(bool same, const char *operation, std::string_view sample)
{
    if (!same) {
        std::fprintf(stderr, "floor of %s disagrees with ours on %.*s\n", operation, static_cast<int>(sample.size()),
                     sample.data());
        ++floorMismatches;
    }
}

// ---------------------------------------------------------------------------
// Hex conversion and the command-text check. The floor holds the command as
// a number: it parses the text into a uint64_t.

struct HexParse {
    std::uint64_t value;
    bool badCharacter;
};

[[gnu::noinline]] HexParse parseHexFloor(std::string_view text)
{
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c == ' ')
            continue;
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return {value, true};
        value = value << 4 | static_cast<std::uint64_t>(digit);
    }
    return {value, false};
}

// The check of one "Info" press on the number: a binary text is taken as it
// is, a hex text of the window's hex length is converted, anything else is
// replaced by the reset value.
[[gnu::noinline]] std::optional<std::uint64_t> prepareFloor(std::string_view text, std::size_t hexLength,
                                                            std::uint64_t resetValue)
{
    std::uint64_t value = 0;
    bool binary = !text.empty();
    for (const char c : text) {
        if (c != '0' && c != '1') {
            binary = false;
            break;
        }
        value = value << 1 | static_cast<std::uint64_t>(c - '0');
    }
    if (binary)
        return value;
    if (text.size() != hexLength)
        return resetValue;
    return parseHexFloor(text).value;
}

std::uint64_t parseBinary(std::string_view text)
{
    std::uint64_t value = 0;
    for (const char c : text)
        value = value << 1 | static_cast<std::uint64_t>(c == '1');
    return value;
}

// ---------------------------------------------------------------------------
// Geometry mode.

[[gnu::noinline]] GeometryModeFlags geometryModeFloor(std::uint64_t command)
{
    GeometryModeFlags flags;
    for (const auto &row : kGeometryModeLayout)
        flags.*row.flag = (command >> (64 - row.position) & 1) != 0;
    return flags;
}

// ---------------------------------------------------------------------------
// Combiner: each field by shift and mask, named through a table indexed by
// its code (filled from our own naming before timing starts).

#if DLSCOPE_BENCH_HAVE_COMBINER
struct CombinerFloorRow {
    std::string_view CombinerInputs::*input;
    int shift;
    std::uint64_t mask;
    std::array<std::string_view, 32> names;  // by code
};

using CombinerFloorTable = std::array<CombinerFloorRow, std::size(kCombinerLayout)>;

CombinerFloorTable combinerFloorRows()
{
    CombinerFloorTable rows{};
    std::size_t r = 0;
    for (const CombinerFieldLayout &row : kCombinerLayout) {
        const int width = row.bits.width;
        CombinerFloorRow &floor = rows[r++];
        floor = {row.input, 64 - (row.bits.first + width - 1), (1u << width) - 1u, {}};
        for (unsigned code = 0; code < (1u << width); ++code) {
            const std::string field = binaryText(code, width);
            std::string_view &name = floor.names[code];
            switch (row.naming) {
            case InputNaming::Colour:
                name = ColourInputName(field, width, false);
                break;
            case InputNaming::ColourB:
                name = ColourInputName(field, width, true);
                break;
            case InputNaming::Alpha:
                name = AlphaInputName(field, false);
                break;
            case InputNaming::AlphaC:
                name = AlphaInputName(field, true);
                break;
            }
        }
    }
    return rows;
}

const CombinerFloorTable kCombinerFloor = combinerFloorRows();

[[gnu::noinline]] CombinerInputs combinerFloor(std::uint64_t command)
{
    CombinerInputs inputs;
    for (const CombinerFloorRow &row : kCombinerFloor)
        inputs.*row.input = row.names[command >> row.shift & row.mask];
    return inputs;
}
#endif

// ---------------------------------------------------------------------------
// Render mode.

#if DLSCOPE_BENCH_HAVE_RENDER_MODE
[[gnu::noinline]] RenderModeFields renderModeFloor(std::uint32_t word)
{
    RenderModeFields fields;
    // Input k of cycle c: bits 31 - 4k - 2c and the one below.
    for (std::size_t input = 0; input < kBlendInputs; ++input) {
        const auto &names = input == 1 ? kBlendNamesB : input == 3 ? kBlendNamesD : kBlendNamesAC;
        for (std::size_t cycle = 0; cycle < kBlendCycles; ++cycle) {
            const unsigned code = word >> (30 - 4 * input - 2 * cycle) & 3u;
            fields.blend[cycle][input] = {static_cast<int>(code), names[code]};
        }
    }
    using enum RenderModeFlag;
    constexpr struct {
        RenderModeFlag flag;
        int bit;
    } kFlagBits[] = {{TEX_E, 15}, {FC_BL, 14}, {A_CVG, 13}, {CVGxA, 12}, {C_CVG, 7},
                     {IM_RD, 6},  {Z_UPD, 5},  {Z_CMP, 4},  {AA, 3}};
    for (const auto &row : kFlagBits)
        fields.flags.set(row.flag, (word >> row.bit & 1u) != 0);
    fields.zMode = static_cast<int>(word >> 10 & 3u);
    fields.coverage = static_cast<int>(word >> 8 & 3u);
    return fields;
}
#endif

// ---------------------------------------------------------------------------
// Render-mode macro: the presets as flag masks and codes, the blender
// patterns as packed 2-bit codes of one cycle (a, b, c, d).

#if DLSCOPE_BENCH_HAVE_RENDER_MODE_MACRO
constexpr unsigned pack(unsigned a, unsigned b, unsigned c, unsigned d) { return a << 6 | b << 4 | c << 2 | d; }

// Codes of the names: a and c CLR_IN 0, CLR_MEM 1, CLR_BL 2, CLR_FOG 3;
// b A_IN 0, A_FOG 1, A_SHADE 2, 0.0 3; d 1-A 0, A_MEM 1, 1.0 2, 0.0 3.
constexpr unsigned kPackOpaque = pack(0, 0, 1, 1);
constexpr unsigned kPackTranslucent = pack(0, 0, 1, 0);
constexpr unsigned kPackPass = pack(0, 3, 0, 2);
constexpr unsigned kPackAdd = pack(0, 1, 1, 2);
constexpr unsigned kPackCoverageView = pack(0, 3, 2, 1);
constexpr unsigned kPackFogShade = pack(3, 2, 0, 0);
constexpr unsigned kPackFogPrim = pack(3, 1, 0, 0);

struct MacroFloorPreset {
    unsigned flagMask;  // bit i: RenderModeFlag i
    int zMode;          // -1: any
    int coverage;       // -1: any
    PresetBlend blend;
    std::string_view text;
};

std::vector<MacroFloorPreset> macroFloorPresets()
{
    std::vector<MacroFloorPreset> rows;
    for (const RenderModePreset &preset : kRenderModePresets) {
        unsigned mask = 0;
        for (const RenderModeFlag flag : kAllRenderModeFlags)
            if (preset.flags.has(flag))
                mask |= 1u << static_cast<unsigned>(flag);
        rows.push_back({mask, preset.zMode.value_or(-1), preset.coverage.value_or(-1), preset.blend, preset.text});
    }
    return rows;
}

const std::vector<MacroFloorPreset> kMacroFloor = macroFloorPresets();

[[gnu::noinline]] std::string renderModeMacroFloor(std::uint32_t word)
{
    unsigned flags = 0;
    for (const RenderModeFieldLayout &row : kRenderModeLayout)
        if (row.kind == RenderModeFieldKind::Flag)
            flags |= (word >> (32 - row.bits.first) & 1u) << static_cast<unsigned>(row.flag);
    const int zMode = static_cast<int>(word >> 10 & 3);
    const int coverageCode = static_cast<int>(word >> 8 & 3);
    const unsigned cycle1 = pack(word >> 30 & 3, word >> 26 & 3, word >> 22 & 3, word >> 18 & 3);
    const unsigned cycle2 = pack(word >> 28 & 3, word >> 24 & 3, word >> 20 & 3, word >> 16 & 3);

    std::string text;
    text.reserve(64);
    text += kRenderModeMacroStart;
    bool twoCycle = true;
    if (cycle1 == kPackPass)
        text += "G_RM_PASS, ";
    else if (cycle1 == kPackFogShade)
        text += "G_RM_FOG_SHADE_A,";
    else if (cycle1 == kPackFogPrim)
        text += "G_RM_FOG_PRIM_A,";
    else
        twoCycle = false;

    const auto holds = [&](unsigned pattern) { return cycle1 == pattern || (twoCycle && cycle2 == pattern); };
    const bool opaque = holds(kPackOpaque);
    const bool translucent = !opaque && holds(kPackTranslucent);
    std::string_view named = kUnknownPreset;
    for (const MacroFloorPreset &row : kMacroFloor) {
        if ((flags & row.flagMask) != row.flagMask || (row.zMode >= 0 && row.zMode != zMode) ||
            (row.coverage >= 0 && row.coverage != coverageCode))
            continue;
        bool blend = false;
        switch (row.blend) {
        case PresetBlend::Opaque: blend = opaque; break;
        case PresetBlend::Translucent: blend = translucent; break;
        case PresetBlend::PassPattern: blend = holds(kPackPass); break;
        case PresetBlend::AddPattern: blend = holds(kPackAdd); break;
        case PresetBlend::CoverageViewPattern: blend = holds(kPackCoverageView); break;
        }
        if (blend) {
            named = row.text;
            break;
        }
    }
    text += named;
    if (twoCycle) {
        text.resize(text.size() - 2);
        text += "2),";
    } else {
        text += "),";
    }
    return text;
}
#endif

// ---------------------------------------------------------------------------
// Other mode H: each group's option by a table indexed by the field's value,
// the highlighted frame by a table indexed by the shift.

#if DLSCOPE_BENCH_HAVE_OTHER_MODE_H
struct OtherModeHFloorTables {
    std::array<int, kOtherModeHGroupCount> shift{};
    std::array<std::uint64_t, kOtherModeHGroupCount> mask{};
    std::array<std::array<std::int8_t, 8>, kOtherModeHGroupCount> option{};  // -1: none
    std::array<std::int8_t, 32> highlighted{};                                // -1: none
};

OtherModeHFloorTables otherModeHFloorTables()
{
    OtherModeHFloorTables tables;
    tables.highlighted.fill(-1);
    for (std::size_t g = 0; g < kOtherModeHGroupCount; ++g) {
        const OtherModeHGroupLayout &row = kOtherModeHLayout[g];
        const int width = row.field.width;
        tables.shift[g] = 64 - (row.field.first + width - 1);
        tables.mask[g] = (1u << width) - 1u;
        tables.option[g].fill(-1);
        for (unsigned code = 0; code < (1u << width); ++code)
            for (const OtherModeHValue &value : row.values)
                if (!value.code.empty() && value.code == binaryText(code, width))
                    tables.option[g][code] = static_cast<std::int8_t>(value.option);
        tables.highlighted[static_cast<std::size_t>(parseBinary(row.shiftCode))] = static_cast<std::int8_t>(g);
    }
    return tables;
}

const OtherModeHFloorTables kOtherModeHFloor = otherModeHFloorTables();

[[gnu::noinline]] OtherModeHFields otherModeHFloor(std::uint64_t command)
{
    const OtherModeHFloorTables &tables = kOtherModeHFloor;
    OtherModeHFields fields;
    for (std::size_t g = 0; g < kOtherModeHGroupCount; ++g) {
        const int option = tables.option[g][command >> tables.shift[g] & tables.mask[g]];
        if (option >= 0)
            fields.options[g] = option;
    }
    // Positions 20-24: bits 44-40 of the command.
    const int group = tables.highlighted[command >> 40 & 31];
    if (group >= 0)
        fields.highlighted = static_cast<OtherModeHGroup>(group);
    return fields;
}
#endif

// ---------------------------------------------------------------------------
// Texture.

#if DLSCOPE_BENCH_HAVE_TEXTURE
[[gnu::noinline]] TextureFields textureFloor(std::uint32_t word)
{
    TextureFields fields;
    fields.on = (word & 1) != 0;
    fields.tile.assign(1, static_cast<char>('0' + (word >> 8 & 7)));
    fields.level.assign(1, static_cast<char>('1' + (word >> 11 & 7)));
    char bowtie[8];
    for (int i = 0; i < 8; ++i)
        bowtie[i] = static_cast<char>('0' + (word >> (23 - i) & 1));
    fields.bowtie.assign(bowtie, 8);
    return fields;
}
#endif

// ---------------------------------------------------------------------------
// Wizard: ours runs the real flow against a scripted asker and an in-memory
// control store keyed by window and control name. The floor runs the same
// decisions on a packed state (check boxes as bits, selector texts as codes,
// the word as a number) and asks the same asker, with prompt texts joined
// once beforehand.

#if DLSCOPE_BENCH_HAVE_WIZARD_FLOW
class ScriptedAsker final : public wizard::Asker {
public:
    void start(std::span<const MessageAnswer> script)
    {
        script_ = script;
        next_ = 0;
    }

    MessageAnswer ask(MessageButtons buttons, std::string_view title, std::string_view text) override
    {
        benchmark::DoNotOptimize(title.data());
        benchmark::DoNotOptimize(text.data());
        if (buttons == MessageButtons::Ok)
            return MessageAnswer::Ok;
        return next_ < script_.size() ? script_[next_++] : MessageAnswer::Cancel;
    }

private:
    std::span<const MessageAnswer> script_;
    std::size_t next_ = 0;
};

// Control states in a small open-addressing table keyed by window and
// control name: a lookup hashes the two short names and compares once, and
// allocates nothing, so the time measured is the flow's, not the store's.
class MemoryStore final : public wizard::ControlStore {
public:
    MemoryStore()
    {
        for (const char *name : {"FOG", "SHADE", "SMOOTHSHADE", "TGEN", "TGENL", "LIGHT", "ZBUFF", "CULLB", "CULLF"})
            add(wizard::kGeometryWindow, name, "");
        for (const char *name :
             {"chkFC_BL", "chkAA", "chkIM_RD", "chkA_CVG", "chkCVGxA", "chkC_CVG", "chkZ_CMP", "chkZ_UPD"})
            add(wizard::kRenderModeWindow, name, "");
        add(wizard::kRenderModeWindow, "ZType", "Z Mode");
        add(wizard::kRenderModeWindow, "CoverageType", "Coverage Change");
        add(wizard::kRenderModeWindow, "Text1", "00001100000110000010000001111000");
        for (const char *box : {"a0", "b0", "c0", "d0", "a1", "b1", "c1", "d1"})
            add(wizard::kRenderModeWindow, box, std::string(1, box[0]));
        for (const char *box : {"a0", "b0", "c0", "d0", "a1", "b1", "c1", "d1", "aa0", "ab0", "ac0", "ad0", "aa1",
                                "ab1", "ac1", "ad1"})
            add(wizard::kCombinerWindow, box, std::string(1, box[std::string_view(box).size() - 2]));
        add(wizard::kWizardWindow, "Text1", "Text1");
    }

    std::string text(wizard::ControlRef control) override
    {
        const Control *c = find(control);
        return c ? c->text : std::string();
    }
    void setText(wizard::ControlRef control, std::string_view text) override
    {
        if (Control *c = find(control))
            c->text.assign(text);
    }
    int checkValue(wizard::ControlRef control) override
    {
        const Control *c = find(control);
        return c ? c->check : 0;
    }
    void setCheckValue(wizard::ControlRef control, int value) override
    {
        if (Control *c = find(control))
            c->check = value;
    }
    bool enabled(wizard::ControlRef control) override
    {
        const Control *c = find(control);
        return c ? c->enabled : true;
    }
    void setEnabled(wizard::ControlRef control, bool enabled) override
    {
        if (Control *c = find(control))
            c->enabled = enabled;
    }

private:
    struct Control {
        std::string window;  // empty: a free slot
        std::string name;
        std::string text;
        int check = 0;
        bool enabled = true;
    };
    static constexpr std::size_t kSlots = 128;  // a power of two, well above the 46 controls

    static std::size_t hash(wizard::ControlRef control)
    {
        std::uint32_t h = 2166136261u;
        for (const char c : control.window)
            h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
        h = (h ^ '.') * 16777619u;
        for (const char c : control.name)
            h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
        return h;
    }

    void add(std::string_view window, std::string_view name, std::string text)
    {
        for (std::size_t i = hash({window, name});; ++i) {
            Control &slot = slots_[i & (kSlots - 1)];
            if (slot.window.empty()) {
                slot = Control{std::string(window), std::string(name), std::move(text)};
                return;
            }
        }
    }

    Control *find(wizard::ControlRef control)
    {
        for (std::size_t i = hash(control);; ++i) {
            Control &slot = slots_[i & (kSlots - 1)];
            if (slot.window.empty())
                return nullptr;
            if (slot.name == control.name && slot.window == control.window)
                return &slot;
        }
    }

    std::array<Control, kSlots> slots_{};
};

// Records the store calls of runs, to time them alone: how much of a run is
// the store's rather than the flow's.
class RecordingStore final : public wizard::ControlStore {
public:
    enum class Op { Text, SetText, Check, SetCheck, Enabled, SetEnabled };
    struct Call {
        Op op;
        wizard::ControlRef control;  // views of the flow's own static names
        std::string text;
        int value;
    };

    explicit RecordingStore(wizard::ControlStore &inner) : inner_(inner) {}
    std::vector<Call> calls;

    std::string text(wizard::ControlRef c) override
    {
        calls.push_back({Op::Text, c, {}, 0});
        return inner_.text(c);
    }
    void setText(wizard::ControlRef c, std::string_view t) override
    {
        calls.push_back({Op::SetText, c, std::string(t), 0});
        inner_.setText(c, t);
    }
    int checkValue(wizard::ControlRef c) override
    {
        calls.push_back({Op::Check, c, {}, 0});
        return inner_.checkValue(c);
    }
    void setCheckValue(wizard::ControlRef c, int v) override
    {
        calls.push_back({Op::SetCheck, c, {}, v});
        inner_.setCheckValue(c, v);
    }
    bool enabled(wizard::ControlRef c) override
    {
        calls.push_back({Op::Enabled, c, {}, 0});
        return inner_.enabled(c);
    }
    void setEnabled(wizard::ControlRef c, bool e) override
    {
        calls.push_back({Op::SetEnabled, c, {}, e ? 1 : 0});
        inner_.setEnabled(c, e);
    }

private:
    wizard::ControlStore &inner_;
};

[[gnu::noinline]] void replay(wizard::ControlStore &store, const std::vector<RecordingStore::Call> &calls)
{
    using Op = RecordingStore::Op;
    for (const RecordingStore::Call &call : calls) {
        switch (call.op) {
        case Op::Text: {
            std::string text = store.text(call.control);
            benchmark::DoNotOptimize(text);
            break;
        }
        case Op::SetText: store.setText(call.control, call.text); break;
        case Op::Check: {
            int value = store.checkValue(call.control);
            benchmark::DoNotOptimize(value);
            break;
        }
        case Op::SetCheck: store.setCheckValue(call.control, call.value); break;
        case Op::Enabled: {
            bool value = store.enabled(call.control);
            benchmark::DoNotOptimize(value);
            break;
        }
        case Op::SetEnabled: store.setEnabled(call.control, call.value != 0); break;
        }
    }
}

using Y = MessageAnswer;
// Three runs from the wizard's documented cases: the defaults without
// transparency or fog, a transparent fogged texture, an untextured fogged
// surface.
const std::vector<std::vector<MessageAnswer>> kWizardScripts = {
    {Y::Yes, Y::No, Y::Yes, Y::No, Y::No, Y::No, Y::Yes, Y::Yes, Y::Yes},
    {Y::Yes, Y::Yes, Y::Yes, Y::No, Y::Yes, Y::Yes, Y::Yes, Y::Yes, Y::Yes},
    {Y::No, Y::No, Y::Yes, Y::Yes, Y::Yes},
};

enum GmBit : unsigned { Fog, Shade, SmoothShade, TGen, TGenL, Light, ZBuff, CullB, CullF };
enum RmBit : unsigned { FcBl, Aa, ImRd, ACvg, CvgXA, CCvg, ZCmp, ZUpd };
constexpr unsigned bit(unsigned b) { return 1u << b; }

struct PackedWizardState {
    unsigned gm = 0;         // GmBit
    unsigned rm = 0;         // RmBit
    unsigned zMode = 0;      // the code ZType stands for: INTER 1, XLU 2
    unsigned coverage = 0;   // the code CoverageType stands for: CLAMP 0, WRAP 1
    unsigned disabled = 0;   // bits 0-3 RM a1..d1, bits 4-11 CC second-cycle boxes
    std::uint32_t word = 0;  // the wizard's Text1, most significant position first
    int wordLength = 0;
    std::uint32_t renderModeWord = 0;
    std::array<std::string_view, 8> blend{};  // RM a0 b0 c0 d0 a1 b1 c1 d1
    std::array<std::string_view, 16> combiner{};  // CC a0-d0, aa0-ad0, a1-d1, aa1-ad1
};

struct PackedBlenderRow {
    std::uint32_t selectors;
    std::array<std::string_view, 8> names;
    bool forceBlender;
};

// Indexed by fog choice, then 0 two-cycle, 1 one-cycle transparent, 2 one-cycle opaque.
std::array<std::array<PackedBlenderRow, 3>, 3> packedBlenderRows()
{
    std::array<std::array<PackedBlenderRow, 3>, 3> rows{};
    for (int fog = 0; fog < 3; ++fog)
        for (int kind = 0; kind < 3; ++kind) {
            const wizard::BlenderRow &row =
                wizard::blenderRow(static_cast<wizard::FogChoice>(fog), kind == 0, kind == 1);
            PackedBlenderRow &packed = rows[static_cast<std::size_t>(fog)][static_cast<std::size_t>(kind)];
            packed.selectors = static_cast<std::uint32_t>(parseBinary(row.selectors));
            for (std::size_t i = 0; i < 4; ++i) {
                packed.names[i] = row.firstCycle[i];
                packed.names[4 + i] = row.secondCycle[i];
            }
            packed.forceBlender = row.forceBlender;
        }
    return rows;
}

struct JoinedPrompt {
    MessageButtons buttons;
    std::string_view title;
    std::string text;
};

const std::vector<JoinedPrompt> &joinedPrompts()
{
    static const std::vector<JoinedPrompt> prompts = [] {
        std::vector<JoinedPrompt> result;
        for (const wizard::Prompt &prompt : wizard::kPrompts)
            result.push_back({prompt.buttons, prompt.title, wizard::promptText(prompt)});
        return result;
    }();
    return prompts;
}

[[gnu::noinline]] bool wizardFloor(wizard::Asker &asker, PackedWizardState &s)
{
    static const auto rows = packedBlenderRows();
    using wizard::Question;
    const auto ask = [&](Question q) {
        const JoinedPrompt &p = joinedPrompts()[static_cast<std::size_t>(q)];
        return asker.ask(p.buttons, p.title, p.text);
    };
    constexpr std::array<std::string_view, 4> kNormal = {"Combined", "0", "Shade", "0"};
    constexpr std::array<std::string_view, 4> kBright = {"Shade", "Combined", "Shade", "Combined"};
    constexpr std::array<std::string_view, 4> kUntextured = {"1", "0", "Shade", "0"};
    constexpr std::array<std::string_view, 4> kNormalAlpha = {"Combined", "0", "Environment", "0"};
    constexpr std::array<std::string_view, 4> kWire = {"Combined", "0", "Environment", "Texel0"};
    constexpr std::array<std::string_view, 4> kOpaqueAlpha = {"0", "0", "0", "1"};
    constexpr std::array<std::string_view, 4> kLevelMix = {"Texel1", "Texel0", "LOD_FRACTION", "Texel0"};
    const auto put = [&](std::size_t first, const std::array<std::string_view, 4> &texts) {
        for (std::size_t i = 0; i < 4; ++i)
            s.combiner[first + i] = texts[i];
    };

    s.gm = (s.gm & ~0x1FFu) | bit(Fog) | bit(Shade) | bit(SmoothShade) | bit(ZBuff) | bit(CullB);
    s.zMode = 1;
    s.coverage = 0;
    s.rm = (s.rm & ~bit(FcBl)) | bit(Aa) | bit(ImRd);

    bool textured = false, transparency = false, smooth = false, completed = false;
    if (ask(Question::Textured) == Y::Yes) {
        textured = true;
        transparency = ask(Question::Transparency) == Y::Yes;
        smooth = ask(Question::SmoothTextures) == Y::Yes;
    }
    const bool vertexAlpha = ask(Question::VertexAlpha) == Y::Yes;
    const bool twoCycle = smooth && textured;
    if (transparency) {
        s.zMode = 2;
        s.coverage = 1;
    }
    if (twoCycle)
        s.rm |= bit(ACvg);
    if (transparency)
        s.rm = (s.rm & ~bit(ACvg)) | bit(CvgXA);

    int fog = -1;  // -1: cancelled
    const Y q5 = ask(Question::Fog);
    if (q5 == Y::Yes) {
        fog = !vertexAlpha || ask(Question::FogWithVertexAlpha) == Y::Yes ? 0 : 2;
    } else if (q5 == Y::No) {
        const Y q6 = ask(Question::FadeAway);
        if (q6 == Y::Yes)
            fog = !vertexAlpha || ask(Question::FadeAwayWithVertexAlpha) == Y::Yes ? 1 : 2;
        else if (q6 == Y::No)
            fog = 2;
    }
    if (fog >= 0) {
        if (fog == 2 && vertexAlpha)
            s.gm &= ~bit(Fog);
        const PackedBlenderRow &row =
            rows[static_cast<std::size_t>(fog)][twoCycle ? 0 : transparency ? 1 : 2];
        s.word = row.selectors;
        s.wordLength = 16;
        s.blend = row.names;
        if (row.forceBlender)
            s.rm |= bit(FcBl);
        if (!twoCycle)
            s.disabled |= 0xFu;

        bool depth = true;
        const Y q7 = ask(Question::DrawOrder);
        if (q7 == Y::Yes) {
            const Y q8 = ask(Question::FullZBuffer);
            if (q8 == Y::Yes)
                s.rm |= bit(ZCmp) | bit(ZUpd);
            else if (q8 == Y::No)
                s.rm = (s.rm | bit(ZCmp)) & ~bit(ZUpd);
            else
                depth = false;
        } else if (q7 == Y::No) {
            s.rm &= ~(bit(ZCmp) | bit(ZUpd));
        } else {
            depth = false;
        }
        if (depth) {
            const auto has = [&](RmBit b) { return (s.rm >> b & 1u); };
            const std::uint32_t half = has(FcBl) << 14 | has(ACvg) << 13 | has(CvgXA) << 12 | s.zMode << 10 |
                                       s.coverage << 8 | has(CCvg) << 7 | has(ImRd) << 6 | has(ZUpd) << 5 |
                                       has(ZCmp) << 4 | has(Aa) << 3;
            s.word = s.word << 16 | half;
            s.wordLength = 32;
            s.renderModeWord = s.word;

            put(8, textured ? (ask(Question::CombinerType) == Y::Yes ? kNormal : kBright) : kUntextured);
            if (textured)
                put(12, transparency ? (ask(Question::TransparencyCombinerType) == Y::Yes ? kNormalAlpha : kWire)
                                     : kOpaqueAlpha);
            if (twoCycle) {
                put(0, kLevelMix);
                put(4, kLevelMix);
            } else {
                for (std::size_t i = 0; i < 8; ++i)
                    s.combiner[i] = s.combiner[8 + i];
                s.disabled |= 0xFFu << 4;
            }
            completed = true;
        }
    }
    ask(completed ? Question::Completed : Question::Cancelled);
    ask(Question::UseValues);
    return completed;
}
#endif

// ---------------------------------------------------------------------------
// Checks that each floor gives our result on every sample.

void checkFloors()
{
    for (const std::string_view hex : kGeometryHex) {
        const HexConversion ours = HexToBinary(hex);
        const HexParse floor = parseHexFloor(hex);
        expectSame(parseBinary(ours.binary) == floor.value && ours.badCharacter == floor.badCharacter,
                   "HexToBinary", hex);

        const PreparedCommand prepared = PrepareCommandWord(hex, rules::GeometryMode);
        const auto floorWord = prepareFloor(hex, 16, parseBinary(kOnes58));
        expectSame(prepared.word && floorWord && parseBinary(*prepared.word) == *floorWord,
                   "PrepareCommandWord (hex)", hex);

        const std::string binary = binaryText(hexValue(hex), 64);
        const PreparedCommand fromBinary = PrepareCommandWord(binary, rules::GeometryMode);
        const auto floorBinary = prepareFloor(binary, 16, parseBinary(kOnes58));
        expectSame(fromBinary.word && floorBinary && parseBinary(*fromBinary.word) == *floorBinary,
                   "PrepareCommandWord (binary)", hex);

        expectSame(DecodeGeometryMode(binary) == geometryModeFloor(hexValue(hex)), "DecodeGeometryMode", hex);
    }
#if DLSCOPE_BENCH_HAVE_COMBINER
    for (const std::string_view hex : kCombinerHex)
        expectSame(DecodeCombiner(binaryText(hexValue(hex), 64)) == combinerFloor(hexValue(hex)), "DecodeCombiner",
                   hex);
#endif
#if DLSCOPE_BENCH_HAVE_RENDER_MODE
    for (const std::string_view hex : kRenderModeHex) {
        const auto word = static_cast<std::uint32_t>(hexValue(hex));
        expectSame(DecodeRenderMode(binaryText(word, 32)) == renderModeFloor(word), "DecodeRenderMode", hex);
#if DLSCOPE_BENCH_HAVE_RENDER_MODE_MACRO
        expectSame(BuildRenderModeMacro(MacroInputOf(DecodeRenderMode(binaryText(word, 32)))) ==
                       renderModeMacroFloor(word),
                   "BuildRenderModeMacro", hex);
#endif
    }
#endif
#if DLSCOPE_BENCH_HAVE_OTHER_MODE_H
    for (const std::string_view hex : kOtherModeHHex)
        expectSame(DecodeOtherModeH(binaryText(hexValue(hex), 64)) == otherModeHFloor(hexValue(hex)),
                   "DecodeOtherModeH", hex);
#endif
#if DLSCOPE_BENCH_HAVE_TEXTURE
    for (const std::string_view hex : kTextureHex) {
        const auto word = static_cast<std::uint32_t>(hexValue(hex));
        expectSame(DecodeTexture(binaryText(word, 32)) == textureFloor(word), "DecodeTexture", hex);
    }
#endif
#if DLSCOPE_BENCH_HAVE_WIZARD_FLOW
    for (const auto &script : kWizardScripts) {
        ScriptedAsker asker;
        MemoryStore store;
        asker.start(script);
        wizard::RunWizard(asker, store);
        PackedWizardState packed;
        asker.start(script);
        wizardFloor(asker, packed);
        const std::string floorWord = binaryText(packed.word, packed.wordLength);
        const std::string ourWord = store.text({"RMWiz", "Text1"});
        expectSame(ourWord == floorWord && store.text({"RM", "Text1"}) == binaryText(packed.renderModeWord, 32) &&
                       store.text({"CC", "a0"}) == packed.combiner[0] &&
                       store.checkValue({"GM", "FOG"}) == static_cast<int>(packed.gm & 1u),
                   "RunWizard", ourWord);
    }
#endif
}

// ---------------------------------------------------------------------------

template <typename Fn> void add(const std::string &name, Fn fn)
{
    benchmark::RegisterBenchmark(name.c_str(), fn);
}

void registerAll()
{
    static const std::vector<std::string> geometryBinary = binaryWords(kGeometryHex, 64);
    static const std::vector<std::string_view> geometryHex(kGeometryHex.begin(), kGeometryHex.end());
    static const std::vector<std::uint64_t> geometryValues = values(kGeometryHex);
    static const std::vector<std::string_view> geometryBinaryViews = views(geometryBinary);
    static const std::uint64_t resetValue = parseBinary(kOnes58);

    add("HexToBinary/ours", [](benchmark::State &state) {
        timeOver(state, geometryHex, [](std::string_view hex) { return HexToBinary(hex); });
    });
    add("HexToBinary/floor", [](benchmark::State &state) {
        timeOver(state, geometryHex, [](std::string_view hex) { return parseHexFloor(hex); });
    });
    add("PrepareCommandWord_hex/ours", [](benchmark::State &state) {
        timeOver(state, geometryHex, [](std::string_view text) { return PrepareCommandWord(text, rules::GeometryMode); });
    });
    add("PrepareCommandWord_hex/floor", [](benchmark::State &state) {
        timeOver(state, geometryHex, [](std::string_view text) { return prepareFloor(text, 16, resetValue); });
    });
    add("PrepareCommandWord_binary/ours", [](benchmark::State &state) {
        timeOver(state, geometryBinaryViews,
                 [](std::string_view text) { return PrepareCommandWord(text, rules::GeometryMode); });
    });
    add("PrepareCommandWord_binary/floor", [](benchmark::State &state) {
        timeOver(state, geometryBinaryViews, [](std::string_view text) { return prepareFloor(text, 16, resetValue); });
    });
    add("DecodeGeometryMode/ours", [](benchmark::State &state) {
        timeOver(state, geometryBinaryViews, [](std::string_view word) { return DecodeGeometryMode(word); });
    });
    add("DecodeGeometryMode/floor", [](benchmark::State &state) {
        timeOver(state, geometryValues, [](std::uint64_t command) { return geometryModeFloor(command); });
    });

#if DLSCOPE_BENCH_HAVE_COMBINER
    static const std::vector<std::string> combinerBinary = binaryWords(kCombinerHex, 64);
    static const std::vector<std::string_view> combinerViews = views(combinerBinary);
    static const std::vector<std::uint64_t> combinerValues = values(kCombinerHex);
    add("DecodeCombiner/ours", [](benchmark::State &state) {
        timeOver(state, combinerViews, [](std::string_view word) { return DecodeCombiner(word); });
    });
    add("DecodeCombiner/floor", [](benchmark::State &state) {
        timeOver(state, combinerValues, [](std::uint64_t command) { return combinerFloor(command); });
    });
#endif

#if DLSCOPE_BENCH_HAVE_RENDER_MODE
    static const std::vector<std::string> renderModeBinary = binaryWords(kRenderModeHex, 32);
    static const std::vector<std::string_view> renderModeViews = views(renderModeBinary);
    static const std::vector<std::uint32_t> renderModeValues = [] {
        std::vector<std::uint32_t> result;
        for (const std::uint64_t v : values(kRenderModeHex))
            result.push_back(static_cast<std::uint32_t>(v));
        return result;
    }();
    add("DecodeRenderMode/ours", [](benchmark::State &state) {
        timeOver(state, renderModeViews, [](std::string_view word) { return DecodeRenderMode(word); });
    });
    add("DecodeRenderMode/floor", [](benchmark::State &state) {
        timeOver(state, renderModeValues, [](std::uint32_t word) { return renderModeFloor(word); });
    });
#if DLSCOPE_BENCH_HAVE_RENDER_MODE_MACRO
    static const std::vector<RenderModeMacroInput> macroInputs = [] {
        std::vector<RenderModeMacroInput> result;
        for (const std::string &word : renderModeBinary)
            result.push_back(MacroInputOf(DecodeRenderMode(word)));
        return result;
    }();
    add("BuildRenderModeMacro/ours", [](benchmark::State &state) {
        timeOver(state, macroInputs, [](const RenderModeMacroInput &input) { return BuildRenderModeMacro(input); });
    });
    add("BuildRenderModeMacro/floor", [](benchmark::State &state) {
        timeOver(state, renderModeValues, [](std::uint32_t word) { return renderModeMacroFloor(word); });
    });
#endif
#endif

#if DLSCOPE_BENCH_HAVE_OTHER_MODE_H
    static const std::vector<std::string> otherModeHBinary = binaryWords(kOtherModeHHex, 64);
    static const std::vector<std::string_view> otherModeHViews = views(otherModeHBinary);
    static const std::vector<std::uint64_t> otherModeHValues = values(kOtherModeHHex);
    add("DecodeOtherModeH/ours", [](benchmark::State &state) {
        timeOver(state, otherModeHViews, [](std::string_view word) { return DecodeOtherModeH(word); });
    });
    add("DecodeOtherModeH/floor", [](benchmark::State &state) {
        timeOver(state, otherModeHValues, [](std::uint64_t command) { return otherModeHFloor(command); });
    });
#endif

#if DLSCOPE_BENCH_HAVE_TEXTURE
    static const std::vector<std::string> textureBinary = binaryWords(kTextureHex, 32);
    static const std::vector<std::string_view> textureViews = views(textureBinary);
    static const std::vector<std::uint32_t> textureValues = [] {
        std::vector<std::uint32_t> result;
        for (const std::uint64_t v : values(kTextureHex))
            result.push_back(static_cast<std::uint32_t>(v));
        return result;
    }();
    add("DecodeTexture/ours", [](benchmark::State &state) {
        timeOver(state, textureViews, [](std::string_view word) { return DecodeTexture(word); });
    });
    add("DecodeTexture/floor", [](benchmark::State &state) {
        timeOver(state, textureValues, [](std::uint32_t word) { return textureFloor(word); });
    });
#endif

#if DLSCOPE_BENCH_HAVE_WIZARD_FLOW
    // The stores live across iterations, as the windows do: after the first
    // run of each script the state they hold repeats.
    add("RunWizard/ours", [](benchmark::State &state) {
        ScriptedAsker asker;
        MemoryStore store;
        std::size_t i = 0;
        for (auto _ : state) {
            asker.start(kWizardScripts[i++ % kWizardScripts.size()]);
            wizard::WizardRun run = wizard::RunWizard(asker, store);
            benchmark::DoNotOptimize(run);
            benchmark::ClobberMemory();
        }
    });
    // Not a floor: the store calls of the same runs replayed alone, the part
    // of RunWizard/ours that is the in-memory store's.
    add("RunWizard/store", [](benchmark::State &state) {
        MemoryStore store;
        std::vector<std::vector<RecordingStore::Call>> runs;
        for (const auto &script : kWizardScripts) {
            ScriptedAsker asker;
            RecordingStore recorder(store);
            asker.start(script);
            wizard::RunWizard(asker, recorder);
            runs.push_back(std::move(recorder.calls));
        }
        std::size_t i = 0;
        for (auto _ : state) {
            replay(store, runs[i++ % runs.size()]);
            benchmark::ClobberMemory();
        }
        state.counters["calls_per_run"] = static_cast<double>(runs[0].size() + runs[1].size() + runs[2].size()) / 3.0;
    });
    add("RunWizard/floor", [](benchmark::State &state) {
        ScriptedAsker asker;
        PackedWizardState packed;
        std::size_t i = 0;
        for (auto _ : state) {
            asker.start(kWizardScripts[i++ % kWizardScripts.size()]);
            bool completed = wizardFloor(asker, packed);
            benchmark::DoNotOptimize(completed);
            benchmark::DoNotOptimize(packed);
            benchmark::ClobberMemory();
        }
    });
#endif
}

} // namespace

int main(int argc, char **argv)
{
    checkFloors();
    if (floorMismatches) {
        std::fprintf(stderr, "%d floor mismatches: the comparison would not be fair\n", floorMismatches);
        return 1;
    }
    registerAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
