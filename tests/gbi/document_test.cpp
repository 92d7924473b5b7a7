#include "gbi/document.h"

#include "gbi/idioms.h"
#include "gbi/reader.h"

#include <gtest/gtest.h>

#include <random>

using namespace dlscope::gbi;

namespace {

std::vector<Entry> entriesOf(std::initializer_list<Words> words)
{
    std::vector<Entry> out;
    for (const Words& w : words)
        out.push_back(Entry{w, false, std::nullopt, {}});
    return out;
}

std::vector<Entry> entriesOf(const std::vector<Words>& words)
{
    std::vector<Entry> out;
    for (const Words& w : words)
        out.push_back(Entry{w, false, std::nullopt, {}});
    return out;
}

// The words of gsDPLoadTextureBlock(0x06000000, RGBA, 16b, 32, 32, 0, ...).
std::vector<Words> textureBlock(Ucode u, std::uint32_t image = 0x06000000)
{
    const auto rows = macrosNamed(u, "gsDPLoadTextureBlock");
    EXPECT_FALSE(rows.empty());
    const std::int64_t args[] = {image, 0, 2, 32, 32, 0, 0, 0, 5, 5, 0, 0};
    std::vector<Words> out;
    EXPECT_TRUE(expandIdiom(u, *rows.front(), args, out));
    return out;
}

std::vector<std::size_t> rowStarts(const ListDocument& d)
{
    std::vector<std::size_t> out;
    for (std::size_t r = 0; r < d.rowCount(); ++r)
        out.push_back(d.rowStart(r));
    return out;
}

std::vector<std::size_t> allRows(const ListDocument& d)
{
    std::vector<std::size_t> rows(d.rowCount());
    for (std::size_t r = 0; r < rows.size(); ++r)
        rows[r] = r;
    return rows;
}

constexpr Words kPipeSync{0xE7000000, 0};
constexpr Words kEndEx2{0xDF000000, 0};
constexpr Words kEndF3d{0xB8000000, 0};
constexpr Words kTri{0x05000204, 0};      // f3dex2 gsSP1Triangle(0, 1, 2, 0)
constexpr Words kVertex{0x01020040, 0x06000000};

} // namespace

// --- Rows after edits: the incremental refind must equal a fresh pass -------

TEST(DocumentRows, SplicesKeepTheSameRowsAsAFreshDocument)
{
    std::mt19937 random(7);
    const std::vector<Words> block = textureBlock(Ucode::F3DEX2);
    std::vector<Words> pieces[] = {{kPipeSync}, {kTri}, {kVertex}, block, {block.begin(), block.begin() + 3}, {kEndEx2}};
    ListDocument doc;
    doc.setOptions({Ucode::F3DEX2, Names::Libultra, true});
    for (int step = 0; step < 300; ++step) {
        const std::size_t first = doc.size() ? random() % (doc.size() + 1) : 0;
        const std::size_t count = doc.size() - first ? random() % std::min<std::size_t>(doc.size() - first + 1, 12) : 0;
        const auto& piece = pieces[random() % std::size(pieces)];
        doc.splice(first, count, entriesOf(piece));
        if (random() % 5 == 0 && doc.rowCount()) {
            const std::size_t row = random() % doc.rowCount();
            doc.setUnfolded(doc.rowStart(row), !doc.unfolded(doc.rowStart(row)));
        }

        ListDocument fresh;
        fresh.setOptions(doc.options());
        fresh.splice(0, 0, doc.entries(0, doc.size()));
        for (std::size_t e = 0; e < doc.size(); ++e)
            if (doc.unfolded(e))
                fresh.setUnfolded(e, true);
        ASSERT_EQ(rowStarts(doc), rowStarts(fresh)) << "step " << step;
    }
}

TEST(DocumentRows, FoldingJoinsAMacroIntoOneRowAndUnfoldingSplitsIt)
{
    const std::vector<Words> block = textureBlock(Ucode::F3DEX2);
    std::vector<Words> list{kPipeSync};
    list.insert(list.end(), block.begin(), block.end());
    list.push_back(kEndEx2);
    ListDocument doc;
    doc.setOptions({Ucode::F3DEX2, Names::Libultra, true});
    doc.splice(0, 0, entriesOf(list));

    ASSERT_EQ(doc.rowCount(), 3u);
    EXPECT_EQ(doc.rowLength(1), block.size());
    EXPECT_EQ(doc.rowOf(4), 1u);
    EXPECT_EQ(doc.rowText(1, {}).rfind("gsDPLoadTextureBlock(", 0), 0u);

    doc.setUnfolded(1, true);
    EXPECT_EQ(doc.rowCount(), 2 + block.size());
    EXPECT_EQ(doc.rowText(1, {}).rfind("gsDPSetTextureImage(", 0), 0u);
    doc.setUnfolded(1, false);
    EXPECT_EQ(doc.rowCount(), 3u);

    ListDocument::Options off = doc.options();
    off.fold = false;
    doc.setOptions(off);
    EXPECT_EQ(doc.rowCount(), list.size());
}

// --- The microcode choice and its hint -----------------------------------------

TEST(DocumentUcode, ChoiceAndHint)
{
    struct Case {
        const char* name;
        std::vector<Words> words;
        std::optional<Ucode> forced;
        Ucode used;
        std::string hint;
    };
    // Lists that several microcodes read alike go to f3dex2, the most common,
    // then f3dex3, f3dex, f3d.
    const std::vector<Case> cases = {
        {"f3dex2 mesh", {kPipeSync, kVertex, kTri, kEndEx2}, std::nullopt, Ucode::F3DEX2,
         "Microcode f3dex2 (chosen from the words): decodes all 4 commands; equally valid as f3dex3"},
        {"f3dex's two-triangle command is no command of f3d", {kPipeSync, {0xB1000204, 0x00060A08}, kEndF3d},
         std::nullopt, Ucode::F3DEX, "Microcode f3dex (chosen from the words): decodes all 3 commands; runner-up f3d: 1 of 3 invalid"},
        {"forced wrong", {kPipeSync, kVertex, kTri, kEndEx2}, Ucode::F3D, Ucode::F3D,
         "1 of 4 commands are invalid as f3d; f3dex2 decodes all 4"},
        {"forced right", {kPipeSync, kEndEx2}, Ucode::F3DEX2, Ucode::F3DEX2, "f3dex2 decodes all 2 commands"},
        {"rdp only: a tie", {kPipeSync, {0xFB000000, 0xFF0000FF}}, std::nullopt, Ucode::F3DEX2,
         "Microcode f3dex2 (chosen from the words): decodes all 2 commands; equally valid as f3dex3"},
        {"empty", {}, std::nullopt, Ucode::F3DEX2, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ListDocument doc;
        doc.setOptions({c.forced, Names::Libultra, true});
        doc.splice(0, 0, entriesOf(c.words));
        EXPECT_EQ(doc.ucode(), c.used);
        EXPECT_EQ(doc.hint(), c.hint);
    }
}

TEST(DocumentUcode, AnEditThatMakesTheListValidElsewhereSwitchesTheAutomaticChoice)
{
    ListDocument doc;
    doc.splice(0, 0, entriesOf({kPipeSync, kEndF3d}));
    EXPECT_NE(doc.ucode(), Ucode::F3DEX2);
    doc.splice(1, 1, entriesOf({kEndEx2}));
    EXPECT_GE(static_cast<int>(doc.ucode()), static_cast<int>(Ucode::F3DEX2));
}

// --- Copying and saving --------------------------------------------------------

TEST(DocumentFormat, EachCopyFormat)
{
    ListDocument doc;
    doc.setOptions({Ucode::F3DEX2, Names::Libultra, true});
    doc.splice(0, 0, entriesOf({kPipeSync, kVertex, kEndEx2}));
    const std::vector<std::size_t> rows{0, 1};
    PrintOptions print;
    print.pointer = "glistp++";
    const struct {
        CopyFormat format;
        std::string text;
    } cases[] = {
        {CopyFormat::Static, "gsDPPipeSync(),\ngsSPVertex(0x06000000, 32, 0),\n"},
        {CopyFormat::Dynamic, "gDPPipeSync(glistp++);\ngSPVertex(glistp++, 0x06000000, 32, 0);\n"},
        {CopyFormat::Hex, "E7000000 00000000\n01020040 06000000\n"},
        {CopyFormat::CWords, "{{0xE7000000, 0x00000000}},\n{{0x01020040, 0x06000000}},\n"},
        {CopyFormat::Source, "Gfx displayList[] = {\n    gsDPPipeSync(), /* E7000000 00000000 */\n"
                             "    gsSPVertex(0x06000000, 32, 0), /* 01020040 06000000 */\n};\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(doc.format(rows, c.format, print), c.text) << static_cast<int>(c.format);
    EXPECT_EQ(doc.binary().substr(0, 16), std::string("\xE7\0\0\0\0\0\0\0\x01\x02\x00\x40\x06\0\0\0", 16));
}

TEST(DocumentFormat, EveryTextFormatReadsBackToTheSameWords)
{
    const std::vector<Words> block = textureBlock(Ucode::F3DEX2);
    std::vector<Words> list{kPipeSync, kVertex};
    list.insert(list.end(), block.begin(), block.end());
    list.push_back(kTri);
    list.push_back(kEndEx2);
    ListDocument doc;
    doc.setOptions({Ucode::F3DEX2, Names::Libultra, true});
    doc.splice(0, 0, entriesOf(list));
    for (const CopyFormat format : {CopyFormat::Hex, CopyFormat::CWords, CopyFormat::Source}) {
        const std::string text = doc.format(allRows(doc), format, {});
        MemorySource source(text);
        ListReader reader(source);
        std::vector<RawCommand> read(list.size() + 4);
        read.resize(reader.read(read));
        ASSERT_EQ(read.size(), list.size()) << text;
        for (std::size_t i = 0; i < list.size(); ++i)
            EXPECT_EQ((Words{read[i].w0, read[i].w1}), list[i]) << i;
        EXPECT_TRUE(reader.takeMessages().empty());
    }
}

// --- Entries and their side data -----------------------------------------------

TEST(DocumentEntries, SpliceKeepsAddressesSymbolsAndEditMarksAndUndoesExactly)
{
    ListDocument doc;
    doc.splice(0, 0, entriesOf({kPipeSync, kTri, kEndEx2}));
    EXPECT_FALSE(doc.hasAddresses());
    const std::vector<Entry> before = doc.entries(0, doc.size());

    const std::vector<Entry> inserted = {
        Entry{kVertex, true, 0x80001000u, "gMeshVtx"},
        Entry{kTri, false, std::nullopt, {}},
    };
    doc.splice(1, 1, inserted);
    ASSERT_EQ(doc.size(), 4u);
    EXPECT_TRUE(doc.hasAddresses());
    EXPECT_EQ(doc.entry(1), inserted[0]);
    EXPECT_EQ(doc.entry(2), inserted[1]);
    EXPECT_EQ(doc.address(3), std::nullopt);
    EXPECT_EQ(doc.rowText(1, {}), "gsSPVertex(gMeshVtx, 32, 0)");
    EXPECT_TRUE(doc.rowEdited(1));

    // Undo keeps runs in the compact layout: taking one and putting it back
    // restores every entry's side data.
    const EntryRun edited = doc.run(0, doc.size());
    doc.splice(1, 2, std::vector<Entry>(before.begin() + 1, before.begin() + 2));
    EXPECT_EQ(doc.entries(0, doc.size()), before);
    doc.splice(0, doc.size(), edited);
    EXPECT_EQ(doc.entry(1), inserted[0]);
    EXPECT_EQ(doc.symbol(2), "");
    doc.splice(0, doc.size(), EntryRun{});
    EXPECT_EQ(doc.rowCount(), 0u);
    EXPECT_EQ(doc.hint(), "");
}

TEST(DocumentEntries, SideDataStaysSmallPerEntry)
{
    std::vector<Words> words;
    const std::vector<Words> block = textureBlock(Ucode::F3DEX2);
    while (words.size() < 200000) {
        words.insert(words.end(), {kPipeSync, kVertex, kTri, kTri});
        words.insert(words.end(), block.begin(), block.end());
    }
    ListDocument doc;
    doc.splice(0, 0, entriesOf(words));
    EXPECT_LE(doc.sideBytes() / doc.size(), 8u);
}

// --- Symbols and segments ------------------------------------------------------

TEST(DocumentSymbols, SegmentedAddressesAreNamedThroughTheirSegmentBase)
{
    ListNamer namer;
    EXPECT_TRUE(namer.empty());
    namer.symbols.add(0x80200040u, "gTreeVtx", 0x100);
    namer.symbols.add(0x06000000u, "gTreeDL");
    namer.segments.set(6, 0x80200000u);
    EXPECT_FALSE(namer.empty());
    const struct {
        std::uint32_t address;
        const char* name;
    } cases[] = {{0x06000040, "gTreeVtx"},     {0x06000000, "gTreeDL"}, {0x05000040, ""},
                 {0x80200040, "gTreeVtx"},     {0x06000050, "gTreeVtx + 0x10"}};
    for (const auto& c : cases) {
        std::string out;
        EXPECT_EQ(namer.name(c.address, out), *c.name != 0) << std::hex << c.address;
        EXPECT_EQ(out, c.name);
    }
}
