#include "wizard/wizard_flow.h"

#include "wizard/questions.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

using namespace dlscope;
using namespace dlscope::wizard;

namespace {

using Q = Question;
constexpr MessageAnswer Yes = MessageAnswer::Yes;
constexpr MessageAnswer No = MessageAnswer::No;
constexpr MessageAnswer Cancel = MessageAnswer::Cancel;

// ---------------------------------------------------------------------------
// The boxes as the user must see them.

struct Box {
    MessageButtons buttons;
    std::string title;
    std::string text;
    bool operator==(const Box &) const = default;
};

void PrintTo(const Box &box, std::ostream *os)
{
    *os << "{" << static_cast<int>(box.buttons) << ", \"" << box.title << "\", \"" << box.text << "\"}";
}

const std::map<Q, Box> &expectedBoxes()
{
    static const std::map<Q, Box> boxes = {
        {Q::Textured, {MessageButtons::YesNo, "", "Is Textured?"}},
        {Q::Transparency,
         {MessageButtons::YesNo, "Alpha Detected in Texture", "Do you want to Enable Transparency on This texture"}},
        {Q::SmoothTextures,
         {MessageButtons::YesNo, "",
          "Do you want Smooth Textures?\r\nSelect No ONLY if you can guarentee that a texture will NEVER be "
          "smaller onscreen than its resolution\r\nDefault is YES, Please say Yes if you are not sure"}},
        {Q::VertexAlpha, {MessageButtons::YesNo, "", "VtxA?"}},
        {Q::Fog,
         {MessageButtons::YesNoCancel, "RenderMode Wizard",
          "Would you like Fog?\r\nFor FadeAway Please Say No to this Question"}},
        {Q::FogWithVertexAlpha,
         {MessageButtons::YesNo, "Vertex Alpha Warning",
          "Vertex Alpha Detected with Fog Selected.\r\nUnfortunatly Vertex Alpha does NOT work with Fog\r\n"
          "If you choose to continue Vertex Alpha will be lost.\r\nDo You Want to Continue with Fog?"}},
        {Q::FadeAway, {MessageButtons::YesNoCancel, "RenderMode Wizard", "Would you like to Fade Away?"}},
        {Q::FadeAwayWithVertexAlpha,
         {MessageButtons::YesNo, "Vertex Alpha Warning",
          "Vertex Alpha Detected with FadeAway Selected.\r\nUnfortunatly Vertex Alpha does NOT work with Fog\r\n"
          "If you choose to continue Vertex Alpha will be lost.\r\nDo You Want to Continue with FadeAway?"}},
        {Q::DrawOrder,
         {MessageButtons::YesNoCancel, "RenderMode Wizard",
          "Would you like to Automatically detect Draw Order (Prevent Overlaps)?\r\nDefault is Yes, however "
          "this incurs a 10-20% Performance Hit\r\nThere are 2 Modes of Z-Buffer. Compare and FULL.\r\n"
          "By Default FULL is used."}},
        {Q::FullZBuffer,
         {MessageButtons::YesNoCancel, "RenderMode Wizard",
          "Would you like FULL\r\nBy Default FULL is used.\r\nIf you select No, Compare Only will be used and "
          "Intersecting faces or Backfaces will draw wrongly"}},
        {Q::CombinerType,
         {MessageButtons::YesNoCancel, "Combiner Type",
          "Do you want Normal Shaded Textures or Brightened Textures?\r\nDefault is Normal"}},
        {Q::TransparencyCombinerType,
         {MessageButtons::YesNoCancel, "Transparency Combiner Type",
          "Do you want a Normal Texture or a cool looking wireframe effect?\r\nDefault is Normal"}},
        {Q::Completed, {MessageButtons::Ok, "", "You have completed the Wizard"}},
        {Q::Cancelled,
         {MessageButtons::Ok, "", "You have canceled the Wizard, however values you entered have been kept"}},
        {Q::UseValues, {MessageButtons::Ok, "", "To use the Values, Copy the textboxes to calculator"}},
    };
    return boxes;
}

struct Step {
    Q question;
    MessageAnswer answer;
};
using Script = std::vector<Step>;

// Answers each box with the next scripted answer and records what was asked.
class ScriptedAsker : public Asker {
public:
    explicit ScriptedAsker(Script script) : script_(std::move(script)) {}

    MessageAnswer ask(MessageButtons buttons, std::string_view title, std::string_view text) override
    {
        asked_.push_back({buttons, std::string(title), std::string(text)});
        const std::size_t i = asked_.size() - 1;
        return i < script_.size() ? script_[i].answer : MessageAnswer::Ok;
    }

    const std::vector<Box> &asked() const { return asked_; }

private:
    Script script_;
    std::vector<Box> asked_;
};

// The boxes a script expects, closing boxes included.
std::vector<Box> expectedSequence(const Script &script, bool completed)
{
    std::vector<Box> boxes;
    for (const Step &step : script)
        boxes.push_back(expectedBoxes().at(step.question));
    boxes.push_back(expectedBoxes().at(completed ? Q::Completed : Q::Cancelled));
    boxes.push_back(expectedBoxes().at(Q::UseValues));
    return boxes;
}

Script withClosing(Script script, bool completed)
{
    script.push_back({completed ? Q::Completed : Q::Cancelled, MessageAnswer::Ok});
    script.push_back({Q::UseValues, MessageAnswer::Ok});
    return script;
}

// ---------------------------------------------------------------------------
// The windows' controls, in memory.

struct State {
    std::string text;
    int check = 0;
    bool enabled = true;
};

class MemoryStore : public ControlStore {
public:
    std::string text(ControlRef c) override { return at(c).text; }
    void setText(ControlRef c, std::string_view t) override { write(c).text = t; }
    int checkValue(ControlRef c) override { return at(c).check; }
    void setCheckValue(ControlRef c, int v) override { write(c).check = v; }
    bool enabled(ControlRef c) override { return at(c).enabled; }
    void setEnabled(ControlRef c, bool e) override { write(c).enabled = e; }

    State &operator()(std::string_view window, std::string_view name)
    {
        return states_[{std::string(window), std::string(name)}];
    }
    const std::set<std::pair<std::string, std::string>> &written() const { return written_; }

private:
    using Key = std::pair<std::string, std::string>;
    State &at(ControlRef c) { return states_[{std::string(c.window), std::string(c.name)}]; }
    State &write(ControlRef c)
    {
        written_.insert({std::string(c.window), std::string(c.name)});
        return at(c);
    }
    std::map<Key, State> states_;
    std::set<Key> written_;
};

using Four = std::vector<std::string>;
const char *const kColourFirst[] = {"a0", "b0", "c0", "d0"};
const char *const kAlphaFirst[] = {"aa0", "ab0", "ac0", "ad0"};
const char *const kColourSecond[] = {"a1", "b1", "c1", "d1"};
const char *const kAlphaSecond[] = {"aa1", "ab1", "ac1", "ad1"};
const char *const kBlendFirst[] = {"a0", "b0", "c0", "d0"};
const char *const kBlendSecond[] = {"a1", "b1", "c1", "d1"};

const std::string kRenderModeDefault = "00001100000110000010000001111000";
const Four kDesigned = {"a", "b", "c", "d"};
// The combiner boxes after "Info" on the combiner window's default command.
const Four kDecodedColour0 = {"Texel1", "Texel0", "LOD_FRACTION", "Texel0"};
const Four kDecodedAlpha0 = {"Texel1", "Texel0", "LOD_Fraction", "Texel0"};
const Four kDecodedColour1 = {"Combined", "0.0", "SHADE", "0.0"};
const Four kDecodedAlpha1 = {"0.0", "0.0", "0.0", "SHADE"};

// Windows as the user finds them: GM and RM as created, CC after a decode of
// its default command, the wizard's result box as created.
void fillFreshWindows(MemoryStore &store)
{
    store("RMWiz", "Text1").text = "Text1";
    store("RMWiz", "Text2").text = "Text1";
    store("RM", "Text1").text = kRenderModeDefault;
    store("RM", "ZType").text = "Z Mode";
    store("RM", "CoverageType").text = "Coverage Change";
    for (int i = 0; i < 4; ++i) {
        store("RM", kBlendFirst[i]).text = kDesigned[i];
        store("RM", kBlendSecond[i]).text = kDesigned[i];
        store("CC", kColourFirst[i]).text = kDecodedColour0[i];
        store("CC", kAlphaFirst[i]).text = kDecodedAlpha0[i];
        store("CC", kColourSecond[i]).text = kDecodedColour1[i];
        store("CC", kAlphaSecond[i]).text = kDecodedAlpha1[i];
    }
}

Four texts(MemoryStore &store, std::string_view window, const char *const (&names)[4])
{
    Four result;
    for (const char *name : names)
        result.push_back(store(window, name).text);
    return result;
}

std::vector<bool> enabledStates(MemoryStore &store, std::string_view window, const char *const (&names)[4])
{
    std::vector<bool> result;
    for (const char *name : names)
        result.push_back(store(window, name).enabled);
    return result;
}

// The blender box names of the first 16 characters of a render-mode word, as
// the render mode window decodes them.
std::pair<Four, Four> blenderNames(const std::string &word)
{
    const std::map<std::string, std::string> ac = {{"00", "CLR_IN"}, {"01", "CLR_MEM"}, {"10", "CLR_BL"}, {"11", "CLR_FOG"}};
    const std::map<std::string, std::string> b = {{"00", "A_IN"}, {"01", "A_FOG"}, {"10", "A_SHADE"}, {"11", "0.0"}};
    const std::map<std::string, std::string> d = {{"00", "1-A"}, {"01", "A_MEM"}, {"10", "1.0"}, {"11", "0.0"}};
    const std::map<std::string, std::string> *byInput[] = {&ac, &b, &ac, &d};
    Four first, second;
    for (std::size_t k = 0; k < 4; ++k) {
        first.push_back(byInput[k]->at(word.substr(4 * k, 2)));
        second.push_back(byInput[k]->at(word.substr(4 * k + 2, 2)));
    }
    return {first, second};
}

// ---------------------------------------------------------------------------
// One run from fresh windows: answers, and everything it must leave behind.

const Four kNormal = {"Combined", "0", "Shade", "0"};
const Four kBright = {"Shade", "Combined", "Shade", "Combined"};
const Four kUntextured = {"1", "0", "Shade", "0"};
const Four kSeeThrough = {"Combined", "0", "Environment", "0"};
const Four kWireframe = {"Combined", "0", "Environment", "Texel0"};
const Four kOpaque = {"0", "0", "0", "1"};
const Four kLevelMix = {"Texel1", "Texel0", "LOD_FRACTION", "Texel0"};

struct FlowCase {
    const char *name;
    Script script;  // closing boxes are added
    bool completed;
    int gmFog;
    std::string wizardText;  // the wizard's Text1 at the end
    // chkFC_BL chkAA chkIM_RD chkA_CVG chkCVGxA chkZ_CMP chkZ_UPD
    std::string rmChecks;
    std::string zType;
    std::string coverage;
    Four colour1, alpha1, colour0, alpha0;  // combiner boxes at the end
    bool rmSecondEnabled;
    bool ccSecondEnabled;
};

const char *const kReportedChecks[] = {"chkFC_BL", "chkAA", "chkIM_RD", "chkA_CVG", "chkCVGxA", "chkZ_CMP", "chkZ_UPD"};

const FlowCase kFlowCases[] = {
    {"FogTwoCycle",
     {{Q::Textured, Yes}, {Q::Transparency, No}, {Q::SmoothTextures, Yes}, {Q::VertexAlpha, No}, {Q::Fog, Yes},
      {Q::DrawOrder, Yes}, {Q::FullZBuffer, Yes}, {Q::CombinerType, Yes}},
     true, 1, "11001000000100000010010001111000", "0111011", "INTER", "CLAMP",
     kNormal, kOpaque, kLevelMix, kLevelMix, true, true},
    {"DefaultsNoFogTwoCycle",
     {{Q::Textured, Yes}, {Q::Transparency, No}, {Q::SmoothTextures, Yes}, {Q::VertexAlpha, No}, {Q::Fog, No},
      {Q::FadeAway, No}, {Q::DrawOrder, Yes}, {Q::FullZBuffer, Yes}, {Q::CombinerType, Yes}},
     true, 1, "00001000000100000010010001111000", "0111011", "INTER", "CLAMP",
     kNormal, kOpaque, kLevelMix, kLevelMix, true, true},
    {"FogTransparentTwoCycle",
     {{Q::Textured, Yes}, {Q::Transparency, Yes}, {Q::SmoothTextures, Yes}, {Q::VertexAlpha, No}, {Q::Fog, Yes},
      {Q::DrawOrder, Yes}, {Q::FullZBuffer, Yes}, {Q::CombinerType, Yes}, {Q::TransparencyCombinerType, Yes}},
     true, 1, "11001000000100000001100101111000", "0110111", "XLU", "WRAP",
     kNormal, kSeeThrough, kLevelMix, kLevelMix, true, true},
    {"FogTransparentOneCycleCompareOnlyBrightWireframe",
     {{Q::Textured, Yes}, {Q::Transparency, Yes}, {Q::SmoothTextures, No}, {Q::VertexAlpha, No}, {Q::Fog, Yes},
      {Q::DrawOrder, Yes}, {Q::FullZBuffer, No}, {Q::CombinerType, No}, {Q::TransparencyCombinerType, No}},
     true, 1, "11110000000000000101100101011000", "1110110", "XLU", "WRAP",
     kBright, kWireframe, kBright, kWireframe, false, false},
    {"FogUntextured",
     {{Q::Textured, No}, {Q::VertexAlpha, No}, {Q::Fog, Yes}, {Q::DrawOrder, Yes}, {Q::FullZBuffer, Yes}},
     true, 1, "11111010000000000100010001111000", "1110011", "INTER", "CLAMP",
     kUntextured, kDecodedAlpha1, kUntextured, kDecodedAlpha1, false, false},
    {"FadeAwayTwoCycleNoDepthBrightOnCancel",
     {{Q::Textured, Yes}, {Q::Transparency, No}, {Q::SmoothTextures, Yes}, {Q::VertexAlpha, No}, {Q::Fog, No},
      {Q::FadeAway, Yes}, {Q::DrawOrder, No}, {Q::CombinerType, Cancel}},
     true, 1, "01001000000100000010010001001000", "0111000", "INTER", "CLAMP",
     kBright, kOpaque, kLevelMix, kLevelMix, true, true},
    {"FadeAwayTransparentOneCycleVertexAlphaGivenUpWireframeOnCancel",
     {{Q::Textured, Yes}, {Q::Transparency, Yes}, {Q::SmoothTextures, No}, {Q::VertexAlpha, Yes}, {Q::Fog, No},
      {Q::FadeAway, Yes}, {Q::FadeAwayWithVertexAlpha, Yes}, {Q::DrawOrder, Yes}, {Q::FullZBuffer, Yes},
      {Q::CombinerType, Yes}, {Q::TransparencyCombinerType, Cancel}},
     true, 1, "01010000000000000101100101111000", "1110111", "XLU", "WRAP",
     kNormal, kWireframe, kNormal, kWireframe, false, false},
    {"FadeAwayUntexturedVertexAlphaGivenUp",
     {{Q::Textured, No}, {Q::VertexAlpha, Yes}, {Q::Fog, No}, {Q::FadeAway, Yes}, {Q::FadeAwayWithVertexAlpha, Yes},
      {Q::DrawOrder, Yes}, {Q::FullZBuffer, Yes}},
     true, 1, "01011010000000000100010001111000", "1110011", "INTER", "CLAMP",
     kUntextured, kDecodedAlpha1, kUntextured, kDecodedAlpha1, false, false},
    {"VertexAlphaKeptOverFogTwoCycle",
     {{Q::Textured, Yes}, {Q::Transparency, Yes}, {Q::SmoothTextures, Yes}, {Q::VertexAlpha, Yes}, {Q::Fog, Yes},
      {Q::FogWithVertexAlpha, No}, {Q::DrawOrder, Yes}, {Q::FullZBuffer, Yes}, {Q::CombinerType, Yes},
      {Q::TransparencyCombinerType, No}},
     true, 0, "00001000000100000001100101111000", "0110111", "XLU", "WRAP",
     kNormal, kWireframe, kLevelMix, kLevelMix, true, true},
    {"NoFogTransparentOneCycleVertexAlpha",
     {{Q::Textured, Yes}, {Q::Transparency, Yes}, {Q::SmoothTextures, No}, {Q::VertexAlpha, Yes}, {Q::Fog, No},
      {Q::FadeAway, No}, {Q::DrawOrder, No}, {Q::CombinerType, Yes}, {Q::TransparencyCombinerType, Yes}},
     true, 0, "00000000000000000001100101001000", "0110100", "XLU", "WRAP",
     kNormal, kSeeThrough, kNormal, kSeeThrough, false, false},
    {"NoFogUntextured",
     {{Q::Textured, No}, {Q::VertexAlpha, No}, {Q::Fog, No}, {Q::FadeAway, No}, {Q::DrawOrder, Yes},
      {Q::FullZBuffer, Yes}},
     true, 1, "00001010000000000000010001111000", "0110011", "INTER", "CLAMP",
     kUntextured, kDecodedAlpha1, kUntextured, kDecodedAlpha1, false, false},
    {"VertexAlphaGivenUpForFog",
     {{Q::Textured, No}, {Q::VertexAlpha, Yes}, {Q::Fog, Yes}, {Q::FogWithVertexAlpha, Yes}, {Q::DrawOrder, No}},
     true, 1, "11111010000000000100010001001000", "1110000", "INTER", "CLAMP",
     kUntextured, kDecodedAlpha1, kUntextured, kDecodedAlpha1, false, false},
    {"VertexAlphaKeptOverFadeAway",
     {{Q::Textured, No}, {Q::VertexAlpha, Yes}, {Q::Fog, No}, {Q::FadeAway, Yes}, {Q::FadeAwayWithVertexAlpha, No},
      {Q::DrawOrder, Yes}, {Q::FullZBuffer, No}},
     true, 0, "00001010000000000000010001011000", "0110010", "INTER", "CLAMP",
     kUntextured, kDecodedAlpha1, kUntextured, kDecodedAlpha1, false, false},
    // Cancels: what was written before the cancel stays, nothing after it.
    {"CancelAtFog",
     {{Q::Textured, Yes}, {Q::Transparency, Yes}, {Q::SmoothTextures, Yes}, {Q::VertexAlpha, No},
      {Q::Fog, Cancel}},
     false, 1, "Text1", "0110100", "XLU", "WRAP",
     kDecodedColour1, kDecodedAlpha1, kDecodedColour0, kDecodedAlpha0, true, true},
    {"CancelAtFadeAwayKeepsFog",
     {{Q::Textured, No}, {Q::VertexAlpha, Yes}, {Q::Fog, No}, {Q::FadeAway, Cancel}},
     false, 1, "Text1", "0110000", "INTER", "CLAMP",
     kDecodedColour1, kDecodedAlpha1, kDecodedColour0, kDecodedAlpha0, true, true},
    {"CancelAtDrawOrder",
     {{Q::Textured, Yes}, {Q::Transparency, No}, {Q::SmoothTextures, No}, {Q::VertexAlpha, No}, {Q::Fog, Yes},
      {Q::DrawOrder, Cancel}},
     false, 1, "1111101000000000", "1110000", "INTER", "CLAMP",
     kDecodedColour1, kDecodedAlpha1, kDecodedColour0, kDecodedAlpha0, false, true},
    {"CancelAtFullZBuffer",
     {{Q::Textured, Yes}, {Q::Transparency, No}, {Q::SmoothTextures, Yes}, {Q::VertexAlpha, Yes}, {Q::Fog, No},
      {Q::FadeAway, No}, {Q::DrawOrder, Yes}, {Q::FullZBuffer, Cancel}},
     false, 0, "0000100000010000", "0111000", "INTER", "CLAMP",
     kDecodedColour1, kDecodedAlpha1, kDecodedColour0, kDecodedAlpha0, true, true},
};

// Everything the wizard may write; anything else (Check3, chkC_CVG, chkTEX_E,
// the copy boxes, the other command texts, Text2) must stay untouched.
const std::set<std::pair<std::string, std::string>> &writableControls()
{
    static const std::set<std::pair<std::string, std::string>> controls = [] {
        std::set<std::pair<std::string, std::string>> set;
        for (const char *name : {"FOG", "SHADE", "SMOOTHSHADE", "TGEN", "TGENL", "LIGHT", "ZBUFF", "CULLB", "CULLF"})
            set.insert({"GM", name});
        for (const char *name : {"chkFC_BL", "chkAA", "chkIM_RD", "chkA_CVG", "chkCVGxA", "chkZ_CMP", "chkZ_UPD",
                                 "ZType", "CoverageType", "a0", "b0", "c0", "d0", "a1", "b1", "c1", "d1", "Text1"})
            set.insert({"RM", name});
        for (const char *name : {"a0", "b0", "c0", "d0", "aa0", "ab0", "ac0", "ad0", "a1", "b1", "c1", "d1", "aa1",
                                 "ab1", "ac1", "ad1"})
            set.insert({"CC", name});
        set.insert({"RMWiz", "Text1"});
        return set;
    }();
    return controls;
}

void PrintTo(const FlowCase &c, std::ostream *os) { *os << c.name; }

class WizardFlowTest : public testing::TestWithParam<FlowCase> {};

TEST_P(WizardFlowTest, AsksInOrderAndLeavesTheSettings)
{
    const FlowCase &c = GetParam();
    MemoryStore store;
    fillFreshWindows(store);
    ScriptedAsker asker(withClosing(c.script, c.completed));

    const WizardRun run = RunWizard(asker, store);

    EXPECT_EQ(asker.asked(), expectedSequence(c.script, c.completed));
    EXPECT_EQ(run.Completed, c.completed);
    for (const auto &control : store.written())
        EXPECT_TRUE(writableControls().count(control)) << control.first << "." << control.second << " was written";

    // Geometry mode presets, and fog dropped only for kept vertex alpha.
    for (const char *on : {"SHADE", "SMOOTHSHADE", "ZBUFF", "CULLB"})
        EXPECT_EQ(store("GM", on).check, 1) << on;
    for (const char *off : {"TGEN", "TGENL", "LIGHT", "CULLF"})
        EXPECT_EQ(store("GM", off).check, 0) << off;
    EXPECT_EQ(store("GM", "FOG").check, c.gmFog);

    EXPECT_EQ(store("RMWiz", "Text1").text, c.wizardText);
    EXPECT_EQ(store("RM", "Text1").text, c.completed ? c.wizardText : kRenderModeDefault);
    std::string checks;
    for (const char *name : kReportedChecks)
        checks += store("RM", name).check ? '1' : '0';
    EXPECT_EQ(checks, c.rmChecks);
    EXPECT_EQ(store("RM", "ZType").text, c.zType);
    EXPECT_EQ(store("RM", "CoverageType").text, c.coverage);

    // The blender boxes show the names of the word's selector codes.
    const bool blenderWritten = c.wizardText != "Text1";
    const auto [first, second] = blenderWritten ? blenderNames(c.wizardText) : std::pair{kDesigned, kDesigned};
    EXPECT_EQ(texts(store, "RM", kBlendFirst), first);
    EXPECT_EQ(texts(store, "RM", kBlendSecond), second);
    EXPECT_EQ(enabledStates(store, "RM", kBlendSecond), std::vector<bool>(4, c.rmSecondEnabled));

    EXPECT_EQ(texts(store, "CC", kColourSecond), c.colour1);
    EXPECT_EQ(texts(store, "CC", kAlphaSecond), c.alpha1);
    EXPECT_EQ(texts(store, "CC", kColourFirst), c.colour0);
    EXPECT_EQ(texts(store, "CC", kAlphaFirst), c.alpha0);
    EXPECT_EQ(enabledStates(store, "CC", kColourSecond), std::vector<bool>(4, c.ccSecondEnabled));
    EXPECT_EQ(enabledStates(store, "CC", kAlphaSecond), std::vector<bool>(4, c.ccSecondEnabled));
    for (const char *const (*group)[4] : {&kColourFirst, &kAlphaFirst})
        EXPECT_EQ(enabledStates(store, "CC", *group), std::vector<bool>(4, true));
}

INSTANTIATE_TEST_SUITE_P(Runs, WizardFlowTest, testing::ValuesIn(kFlowCases),
                         [](const testing::TestParamInfo<FlowCase> &row) { return std::string(row.param.name); });

// ---------------------------------------------------------------------------
// Read-back: the second half of the word carries what the render mode window
// holds, whoever set it.

struct ReadBackCase {
    const char *name;
    std::vector<Script> earlierRuns;
    std::vector<std::string> userChecks;  // render mode check boxes ticked before the last run
    Script lastRun;
    std::string word;
};

const Script kPlainTwoCycle = {{Q::Textured, Yes}, {Q::Transparency, No}, {Q::SmoothTextures, Yes},
                               {Q::VertexAlpha, No}, {Q::Fog, No}, {Q::FadeAway, No}, {Q::DrawOrder, Yes},
                               {Q::FullZBuffer, Yes}, {Q::CombinerType, Yes}};
const Script kTransparentCancelled = {{Q::Textured, Yes}, {Q::Transparency, Yes}, {Q::SmoothTextures, No},
                                      {Q::VertexAlpha, No}, {Q::Fog, Cancel}};
const Script kUntexturedFog = {{Q::Textured, No}, {Q::VertexAlpha, No}, {Q::Fog, Yes}, {Q::DrawOrder, Yes},
                               {Q::FullZBuffer, Yes}};

const ReadBackCase kReadBackCases[] = {
    {"ColourOnCoverageTickedByUser", {}, {"chkC_CVG"}, kPlainTwoCycle, "00001000000100000010010011111000"},
    {"TextureEdgeIsNeverRead", {}, {"chkTEX_E"}, kPlainTwoCycle, "00001000000100000010010001111000"},
    // The earlier run leaves chkCVGxA set; its transparency does not carry over.
    {"CoverageTimesAlphaLeftByEarlierRun", {kTransparentCancelled}, {}, kPlainTwoCycle,
     "00001000000100000011010001111000"},
    // The earlier two-cycle run left chkA_CVG set; a one-cycle run keeps it.
    {"AlphaCoverageLeftByEarlierRun", {kPlainTwoCycle}, {}, kUntexturedFog, "11111010000000000110010001111000"},
};

void PrintTo(const ReadBackCase &c, std::ostream *os) { *os << c.name; }

class WizardReadBackTest : public testing::TestWithParam<ReadBackCase> {};

TEST_P(WizardReadBackTest, WordCarriesTheWindowsState)
{
    const ReadBackCase &c = GetParam();
    MemoryStore store;
    fillFreshWindows(store);
    for (const Script &earlier : c.earlierRuns) {
        ScriptedAsker asker(earlier);  // the closing boxes are answered Ok
        RunWizard(asker, store);
    }
    for (const std::string &name : c.userChecks)
        store("RM", name).check = 1;
    ScriptedAsker asker(c.lastRun);
    RunWizard(asker, store);
    EXPECT_EQ(asker.asked(), expectedSequence(c.lastRun, true));
    EXPECT_EQ(store("RMWiz", "Text1").text, c.word);
    EXPECT_EQ(store("RM", "Text1").text, c.word);
    EXPECT_EQ(store("RM", "ZType").text, "INTER");
}

INSTANTIATE_TEST_SUITE_P(Words, WizardReadBackTest, testing::ValuesIn(kReadBackCases),
                         [](const testing::TestParamInfo<ReadBackCase> &row) { return std::string(row.param.name); });

// ---------------------------------------------------------------------------
// A run starts from the presets, whatever the windows held; only the listed
// controls are reset.

TEST(WizardPresets, OverwriteOnlyTheListedControls)
{
    MemoryStore store;
    fillFreshWindows(store);
    for (const char *name : {"TGEN", "TGENL", "LIGHT", "CULLF", "Check3"})
        store("GM", name).check = 1;
    for (const char *name : {"FOG", "SHADE", "SMOOTHSHADE", "ZBUFF", "CULLB"})
        store("GM", name).check = 0;
    for (const char *name : {"chkFC_BL", "chkA_CVG", "chkCVGxA", "chkC_CVG", "chkZ_CMP", "chkZ_UPD"})
        store("RM", name).check = 1;
    store("RM", "ZType").text = "DECAL";
    store("RM", "CoverageType").text = "SAVE";
    store("RMWiz", "Text1").text = "kept";

    ScriptedAsker asker(withClosing({{Q::Textured, No}, {Q::VertexAlpha, No}, {Q::Fog, Cancel}}, false));
    RunWizard(asker, store);

    std::string gm;
    for (const char *name : {"FOG", "SHADE", "SMOOTHSHADE", "TGEN", "TGENL", "LIGHT", "ZBUFF", "CULLB", "CULLF", "Check3"})
        gm += store("GM", name).check ? '1' : '0';
    EXPECT_EQ(gm, "1110001101");
    std::string rm;
    for (const char *name : {"chkFC_BL", "chkAA", "chkIM_RD", "chkA_CVG", "chkCVGxA", "chkC_CVG", "chkZ_CMP", "chkZ_UPD"})
        rm += store("RM", name).check ? '1' : '0';
    EXPECT_EQ(rm, "01111111");
    EXPECT_EQ(store("RM", "ZType").text, "INTER");
    EXPECT_EQ(store("RM", "CoverageType").text, "CLAMP");
    EXPECT_EQ(store("RMWiz", "Text1").text, "kept");
}

// ---------------------------------------------------------------------------
// Second-cycle boxes: a one-cycle run disables the ones it leaves unused, a
// later two-cycle run enables the ones it writes again.

struct EnabledCase {
    const char *name;
    std::vector<std::pair<Script, bool>> runs;  // script, completed
    bool rmSecondEnabled;
    bool ccSecondEnabled;
    std::string lastWord;
};

const Script kOneCycle = {{Q::Textured, Yes}, {Q::Transparency, No}, {Q::SmoothTextures, No},
                          {Q::VertexAlpha, No}, {Q::Fog, Yes}, {Q::DrawOrder, Yes}, {Q::FullZBuffer, Yes},
                          {Q::CombinerType, Yes}};
const Script kTwoCycleCancelledAtDepth = {{Q::Textured, Yes}, {Q::Transparency, No}, {Q::SmoothTextures, Yes},
                                          {Q::VertexAlpha, No}, {Q::Fog, Yes}, {Q::DrawOrder, Cancel}};

const EnabledCase kEnabledCases[] = {
    {"OneCycleThenTwoCycle", {{kOneCycle, true}, {kPlainTwoCycle, true}}, true, true,
     "00001000000100000010010001111000"},
    {"TwoCycleThenOneCycle", {{kPlainTwoCycle, true}, {kOneCycle, true}}, false, false,
     "11111010000000000110010001111000"},
    // The cancel comes after the blender step but before the combiner step.
    {"OneCycleThenCancelledTwoCycle", {{kOneCycle, true}, {kTwoCycleCancelledAtDepth, false}}, true, false,
     "1100100000010000"},
};

void PrintTo(const EnabledCase &c, std::ostream *os) { *os << c.name; }

class WizardEnabledTest : public testing::TestWithParam<EnabledCase> {};

TEST_P(WizardEnabledTest, SecondCycleBoxesFollowTheLastRunThatWroteThem)
{
    const EnabledCase &c = GetParam();
    MemoryStore store;
    fillFreshWindows(store);
    for (const auto &[script, completed] : c.runs) {
        ScriptedAsker asker(withClosing(script, completed));
        RunWizard(asker, store);
    }
    EXPECT_EQ(store("RMWiz", "Text1").text, c.lastWord);
    EXPECT_EQ(enabledStates(store, "RM", kBlendSecond), std::vector<bool>(4, c.rmSecondEnabled));
    EXPECT_EQ(enabledStates(store, "CC", kColourSecond), std::vector<bool>(4, c.ccSecondEnabled));
    EXPECT_EQ(enabledStates(store, "CC", kAlphaSecond), std::vector<bool>(4, c.ccSecondEnabled));
    if (c.rmSecondEnabled) {
        EXPECT_EQ(texts(store, "RM", kBlendSecond), (Four{"CLR_IN", "A_IN", "CLR_MEM", "1-A"}));
    }
    if (c.ccSecondEnabled) {
        EXPECT_EQ(texts(store, "CC", kColourSecond), kNormal);
    }
}

INSTANTIATE_TEST_SUITE_P(Sequences, WizardEnabledTest, testing::ValuesIn(kEnabledCases),
                         [](const testing::TestParamInfo<EnabledCase> &row) { return std::string(row.param.name); });

// Only the wizard's own window exists: the other windows' controls read as
// defaults and ignore writes, and the run still ends with a 32-digit word.
TEST(WizardWithoutWindows, MissingControlsReadAsDefaults)
{
    class WizardOnlyStore : public ControlStore {
    public:
        std::string text(ControlRef c) override { return c == kText ? wizardText : std::string(); }
        void setText(ControlRef c, std::string_view t) override
        {
            if (c == kText)
                wizardText = t;
        }
        int checkValue(ControlRef) override { return 0; }
        void setCheckValue(ControlRef, int) override {}
        bool enabled(ControlRef) override { return true; }
        void setEnabled(ControlRef, bool) override {}
        const ControlRef kText{kWizardWindow, "Text1"};
        std::string wizardText = "Text1";
    } store;
    ScriptedAsker asker(withClosing(kPlainTwoCycle, true));
    EXPECT_TRUE(RunWizard(asker, store).Completed);
    EXPECT_EQ(asker.asked(), expectedSequence(kPlainTwoCycle, true));
    EXPECT_EQ(store.wizardText, "0000100000010000" "0000000000000000");
}

} // namespace
