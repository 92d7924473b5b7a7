// Symbol tables from the listings toolchains write, their lookups, and the
// segment table.

#include "gbi/symbols.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

using namespace dlscope::gbi;

namespace {

template <class Case>
std::string caseName(const testing::TestParamInfo<Case> &param)
{
    return param.param.name;
}

std::string describe(const SymbolTable &table, std::uint32_t address)
{
    const auto match = table.lookup(address);
    return match ? formatSymbol(*match) : "-";
}

// ---- loading ----

struct Probe {
    std::uint32_t address;
    const char *expected;  // formatSymbol of the lookup, or "-"
};

struct LoadCase {
    const char *name;
    const char *text;
    std::vector<Probe> probes;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> messages;  // line, column
};

class LoadTest : public testing::TestWithParam<LoadCase> {};

TEST_P(LoadTest, ReadsEachListingForm)
{
    const LoadCase &c = GetParam();
    SymbolTable table;
    const std::vector<ReadMessage> messages = table.load(c.text);
    std::vector<std::pair<std::uint64_t, std::uint64_t>> where;
    for (const ReadMessage &m : messages) {
        where.emplace_back(m.line, m.column);
        EXPECT_EQ(m.text.rfind("expected ", 0), 0u) << m.text;
    }
    EXPECT_EQ(where, c.messages);
    for (const Probe &probe : c.probes)
        EXPECT_EQ(describe(table, probe.address), probe.expected) << std::hex << probe.address;
}

INSTANTIATE_TEST_SUITE_P(Forms, LoadTest, testing::Values(
    LoadCase{"Plain", "80012345 func_a\n0x80012400 D_80012400\n",
             {{0x80012345, "func_a"}, {0x80012400, "D_80012400"}, {0x80012346, "-"}}, {}},
    LoadCase{"Nm", "80012345 T main\n80012400 d sData\n                 U printf\n",
             {{0x80012345, "main"}, {0x80012400, "sData"}}, {}},
    LoadCase{"NmWithSizes", "80012340 00000020 T main\n0000000080012400 0000000000000010 D sData\n",
             {{0x80012340, "main"}, {0x8001235F, "main + 0x1F"}, {0x80012360, "-"}, {0x8001240F, "sData + 0xF"}}, {}},
    LoadCase{"LinkerScript", "func_80012340 = 0x80012340; // type:func size:0x40\nD_80000000 = 0x80000000;\n",
             {{0x80012370, "func_80012340 + 0x30"}, {0x80000000, "D_80000000"}, {0x80000001, "-"}}, {}},
    LoadCase{"DemangledNameWithSpaces", "80012345 T foo(int, char const*)\n", {{0x80012345, "foo(int, char const*)"}},
             {}},
    LoadCase{"SignExtendedAddress", "ffffffff80012345 T main\n", {{0x80012345, "main"}}, {}},
    LoadCase{"CommentsAndBlankLines", "# symbols\n\n// more\r\n  80000000 start\r\n", {{0x80000000, "start"}}, {}},
    LoadCase{"BadLinesAreReportedTheRestLoaded",
             "zz main\n80000000\n123456789abcdef01 x\n1234567812345678 T y\nname = zz;\n80000010 good\n"
             "  sym = 0x80000020; // size:qq\n",
             {{0x80000010, "good"}, {0x80000020, "-"}}, {{1, 1}, {2, 9}, {3, 1}, {4, 1}, {5, 8}, {7, 29}}}),
    caseName<LoadCase>);

// ---- lookups ----

struct Sym {
    std::uint32_t address;
    const char *name;
    std::uint32_t size;
};

struct LookupCase {
    const char *name;
    std::vector<Sym> symbols;
    std::vector<Probe> probes;
};

class LookupTest : public testing::TestWithParam<LookupCase> {};

TEST_P(LookupTest, ExactInsideOrNothing)
{
    SymbolTable table;
    for (const Sym &s : GetParam().symbols)
        table.add(s.address, s.name, s.size);
    for (const Probe &probe : GetParam().probes)
        EXPECT_EQ(describe(table, probe.address), probe.expected) << std::hex << probe.address;
}

INSTANTIATE_TEST_SUITE_P(Tables, LookupTest, testing::Values(
    LookupCase{"ExactAndInside", {{0x100, "a", 0x10}, {0x200, "b", 0}},
               {{0x100, "a"}, {0x108, "a + 0x8"}, {0x10F, "a + 0xF"}, {0x110, "-"}, {0x200, "b"}, {0x201, "-"},
                {0xFF, "-"}, {0, "-"}}},
    LookupCase{"NestedSymbolsInnermostWins", {{0x100, "outer", 0x100}, {0x120, "inner", 0x10}},
               {{0x125, "inner + 0x5"}, {0x135, "outer + 0x35"}, {0x1FF, "outer + 0xFF"}, {0x200, "-"}}},
    LookupCase{"UnsizedSymbolInsideASizedOne", {{0x100, "table", 0x100}, {0x150, "label", 0}},
               {{0x150, "label"}, {0x160, "table + 0x60"}}},
    LookupCase{"OverlappingRanges", {{0x100, "a", 0x30}, {0x110, "b", 0x40}, {0x120, "c", 0x8}},
               {{0x12C, "b + 0x1C"}, {0x124, "c + 0x4"}, {0x14F, "b + 0x3F"}, {0x150, "-"}, {0x105, "a + 0x5"}}},
    LookupCase{"SameAddressFirstAddedWins", {{0x100, "first", 0}, {0x100, "second", 0x10}},
               {{0x100, "first"}, {0x104, "second + 0x4"}}},
    LookupCase{"AddedOutOfOrder", {{0x300, "c", 4}, {0x100, "a", 4}, {0x200, "b", 4}},
               {{0x102, "a + 0x2"}, {0x201, "b + 0x1"}, {0x303, "c + 0x3"}, {0x304, "-"}}},
    LookupCase{"RangeReachingTheTopOfMemory", {{0xFFFFFFF0, "top", 0x20}},
               {{0xFFFFFFFF, "top + 0xF"}, {0xFFFFFFEF, "-"}}},
    LookupCase{"Empty", {}, {{0x80000000, "-"}}}),
    caseName<LookupCase>);

TEST(SymbolTableTest, FindByName)
{
    SymbolTable table;
    table.load("80000100 T main\n80000200 T helper\n80000300 T main\n");
    table.add(0x80000400, "late");
    EXPECT_EQ(table.find("main"), std::optional<std::uint32_t>(0x80000100)) << "the first of a repeated name";
    EXPECT_EQ(table.find("helper"), std::optional<std::uint32_t>(0x80000200));
    EXPECT_EQ(table.find("late"), std::optional<std::uint32_t>(0x80000400)) << "added after a lookup was built";
    EXPECT_EQ(table.find("mai"), std::nullopt);
    EXPECT_EQ(table.find(""), std::nullopt);
    EXPECT_EQ(table.size(), 4u);
}

TEST(SymbolTableTest, HundredsOfThousandsOfSymbols)
{
    // 200k sized symbols in shuffled order; every start, middle and gap.
    std::vector<std::uint32_t> order(200'000);
    for (std::uint32_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::shuffle(order.begin(), order.end(), std::mt19937(7));
    SymbolTable table;
    for (const std::uint32_t i : order)
        table.add(0x80000000u + 0x20 * i, "s" + std::to_string(i), 0x18);
    for (std::uint32_t i = 0; i < order.size(); ++i) {
        const std::uint32_t a = 0x80000000u + 0x20 * i;
        const auto exact = table.lookup(a);
        ASSERT_TRUE(exact && exact->delta == 0 && exact->name == "s" + std::to_string(i));
        const auto inside = table.lookup(a + 0x17);
        ASSERT_TRUE(inside && inside->delta == 0x17 && inside->name == exact->name);
        ASSERT_FALSE(table.lookup(a + 0x18));
    }
    EXPECT_EQ(table.find("s199999"), std::optional<std::uint32_t>(0x80000000u + 0x20 * 199'999));
}

// ---- segments ----

struct AssignCase {
    const char *name;
    const char *text;
    std::optional<unsigned> segment;  // none: refused
    std::uint32_t base;
};

class SegmentAssignTest : public testing::TestWithParam<AssignCase> {};

TEST_P(SegmentAssignTest, ParsesOrSaysWhy)
{
    const AssignCase &c = GetParam();
    SegmentTable table;
    const auto error = table.assign(c.text);
    if (c.segment) {
        EXPECT_EQ(error, std::nullopt) << *error;
        EXPECT_EQ(table.base(*c.segment), std::optional<std::uint32_t>(c.base));
    } else {
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(error->rfind("expected ", 0), 0u) << *error;
        for (unsigned s = 0; s < SegmentTable::kCount; ++s)
            EXPECT_EQ(table.base(s), std::nullopt) << "a refused text sets nothing";
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, SegmentAssignTest, testing::Values(
    AssignCase{"Decimal", "6=80123000", 6, 0x80123000},
    AssignCase{"HexBoth", "0x6=0x80123000", 6, 0x80123000},
    AssignCase{"DecimalTwoDigits", "15=00100000", 15, 0x00100000},
    AssignCase{"HexLetter", "a=00100000", 10, 0x00100000},
    AssignCase{"Spaces", "  2 = 0X12345678 ", 2, 0x12345678},
    AssignCase{"ZeroBase", "0=0", 0, 0},
    AssignCase{"SegmentTooLarge", "16=0", std::nullopt, 0},
    AssignCase{"HexSegmentTooLarge", "0x10=0", std::nullopt, 0},
    AssignCase{"SegmentNotANumber", "x=1", std::nullopt, 0},
    AssignCase{"NoEquals", "6", std::nullopt, 0},
    AssignCase{"AddressNotHex", "6=zz", std::nullopt, 0},
    AssignCase{"AddressTooLong", "6=123456789", std::nullopt, 0},
    AssignCase{"AddressMissing", "6=", std::nullopt, 0},
    AssignCase{"Empty", "", std::nullopt, 0}),
    caseName<AssignCase>);

struct ResolveCase {
    const char *name;
    std::uint32_t address;
    std::optional<std::uint32_t> expected;
};

class SegmentResolveTest : public testing::TestWithParam<ResolveCase> {};

TEST_P(SegmentResolveTest, ResolvesOnlySegmentedAddressesOfSetSegments)
{
    SegmentTable table;
    table.set(6, 0x80123000);
    table.set(0, 0x00000000);
    table.set(15, 0x00400000);
    table.set(16, 0x11111111);  // ignored
    EXPECT_EQ(table.resolve(GetParam().address), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Addresses, SegmentResolveTest, testing::Values(
    ResolveCase{"SetSegment", 0x06000010, 0x80123010},
    ResolveCase{"SegmentOffsetTop", 0x06FFFFFF, 0x80123000 + 0xFFFFFF},
    ResolveCase{"SegmentZero", 0x00001234, 0x00001234},
    ResolveCase{"SegmentFifteen", 0x0F000020, 0x00400020},
    ResolveCase{"UnsetSegment", 0x07000010, std::nullopt},
    ResolveCase{"VirtualAddress", 0x80000000, std::nullopt},
    ResolveCase{"TopByteAboveFifteen", 0x16000000, std::nullopt}),
    caseName<ResolveCase>);

TEST(SegmentTableTest, ClearAndClassify)
{
    SegmentTable table;
    table.set(3, 0x100);
    table.clear(3);
    table.clear(99);
    EXPECT_EQ(table.resolve(0x03000000), std::nullopt);
    EXPECT_TRUE(SegmentTable::isSegmented(0x0F123456));
    EXPECT_FALSE(SegmentTable::isSegmented(0x10000000));
    EXPECT_EQ(SegmentTable::segmentOf(0x0E000000), 14u);
    EXPECT_EQ(table.base(16), std::nullopt);
}

} // namespace
