#include "state_panel.h"

#include "gbi/checks.h"
#include "gbi/macro_table.h"

#include <QStringList>

namespace dlscope {
namespace {

using gbi::ConstTable;
using gbi::Origin;

QString qs(std::string_view s) { return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())); }

QString hex(std::uint32_t v, int digits) { return QStringLiteral("0x%1").arg(v, digits, 16, QLatin1Char('0')).toUpper().replace(QLatin1String("0X"), QLatin1String("0x")); }

QString origin(Origin at)
{
    if (at == gbi::kNotSet)
        return QStringLiteral("not set");
    if (at == gbi::kClobbered)
        return QStringLiteral("unknown after an unfollowed call");
    return QStringLiteral("set at %1").arg(qs(gbi::entryAddress(static_cast<std::size_t>(at), std::nullopt)));
}

// A field's constant name, else its number; "?" while its bits are unknown.
QString fieldName(ConstTable table, gbi::Ucode ucode, int value, int shift)
{
    if (value < 0)
        return QStringLiteral("?");
    const std::string_view name = gbi::constName(table, ucode, static_cast<std::int64_t>(value) << shift);
    return name.empty() ? QString::number(value) : qs(name);
}

// Combiner inputs in the order of gbi::CcInput.
constexpr const char *kCcNames[] = {"COMBINED", "TEXEL0", "TEXEL1", "PRIMITIVE", "SHADE", "ENVIRONMENT", "1",
                                    "NOISE", "CENTER", "K4", "SCALE", "COMBINED_ALPHA", "TEXEL0_ALPHA",
                                    "TEXEL1_ALPHA", "PRIMITIVE_ALPHA", "SHADE_ALPHA", "ENV_ALPHA", "LOD_FRACTION",
                                    "PRIM_LOD_FRAC", "K5", "0"};
static_assert(std::size(kCcNames) == static_cast<std::size_t>(gbi::CcInput::Zero) + 1);

QString ccName(gbi::CcInput input, bool alpha)
{
    QString name = QString::fromLatin1(kCcNames[static_cast<std::size_t>(input)]);
    // In the alpha combiner every input is an alpha already.
    if (alpha && input != gbi::CcInput::LodFraction && input != gbi::CcInput::PrimLodFrac) {
        name.remove(QLatin1String("_ALPHA"));
        if (name == QLatin1String("ENV"))
            name = QStringLiteral("ENVIRONMENT");
    }
    return name;
}

QString equation(const gbi::CcInput (&in)[4], bool alpha)
{
    return QStringLiteral("(%1 - %2) * %3 + %4")
        .arg(ccName(in[0], alpha), ccName(in[1], alpha), ccName(in[2], alpha), ccName(in[3], alpha));
}

QString blendName(int slot, int value)
{
    const auto names = gbi::blendNames(slot);
    return static_cast<std::size_t>(value) < names.size() && !names[static_cast<std::size_t>(value)].empty()
               ? qs(names[static_cast<std::size_t>(value)])
               : QString::number(value);
}

QString colour(const gbi::ColorState &c)
{
    return c.at == gbi::kNotSet ? QStringLiteral("not set") : QStringLiteral("%1 (%2)").arg(hex(c.value, 8), origin(c.at));
}

QString image(const gbi::ImageState &i, gbi::Ucode u)
{
    if (i.at == gbi::kNotSet)
        return QStringLiteral("not set");
    return QStringLiteral("%1 %2, width %3, at %4 (%5)")
        .arg(fieldName(ConstTable::ImFmt, u, i.fmt, 0), fieldName(ConstTable::ImSiz, u, i.siz, 0))
        .arg(i.width)
        .arg(hex(i.address, 8), origin(i.at));
}

QString clampMirror(int cm)
{
    QStringList out;
    if (cm & 1)
        out << QStringLiteral("mirror");
    if (cm & 2)
        out << QStringLiteral("clamp");
    return out.isEmpty() ? QStringLiteral("wrap") : out.join(QLatin1Char('+'));
}

} // namespace

QString describeState(const gbi::RenderState &s, gbi::Ucode u)
{
    QStringList out;
    auto line = [&out](const QString &text) { out << text; };

    const int cycle = s.cycleType();
    line(QStringLiteral("Cycle type: %1").arg(fieldName(ConstTable::Cyc, u, cycle, 20)));
    line(QStringLiteral("Walk %1 (%2), call depth %3, matrix depth %4")
             .arg(s.walk)
             .arg(s.frame ? QStringLiteral("frame") : QStringLiteral("object"))
             .arg(s.callDepth)
             .arg(s.matrixDepth));

    line(QString());
    if (s.knownH == 0)
        line(QStringLiteral("Other modes, high word: %1").arg(origin(s.otherHAt)));
    else
        line(QStringLiteral("Other modes, high word (%1):").arg(origin(s.otherHAt)));
    struct Field {
        ConstTable table;
        const char *label;
        int shift, length;
    };
    static constexpr Field high[] = {
        {ConstTable::Pm, "pipeline", 23, 1},       {ConstTable::Tp, "perspective", 19, 1},
        {ConstTable::Td, "detail", 17, 2},         {ConstTable::Tl, "LOD", 16, 1},
        {ConstTable::Tt, "TLUT", 14, 2},           {ConstTable::Tf, "filter", 12, 2},
        {ConstTable::Tc, "convert", 9, 3},         {ConstTable::Ck, "chroma key", 8, 1},
        {ConstTable::Cd, "colour dither", 6, 2},   {ConstTable::Ad, "alpha dither", 4, 2},
    };
    for (const Field &f : high)
        if (s.knownH != 0)
            line(QStringLiteral("  %1: %2").arg(QString::fromLatin1(f.label),
                                            fieldName(f.table, u, s.otherHField(f.shift, f.length), f.shift)));
    if (s.knownL == 0) {
        line(QStringLiteral("Other modes, low word: %1").arg(origin(s.otherLAt)));
    } else {
        line(QStringLiteral("Other modes, low word (%1):").arg(origin(s.otherLAt)));
        line(QStringLiteral("  alpha compare: %1").arg(fieldName(ConstTable::Ac, u, s.alphaCompare(), 0)));
        line(QStringLiteral("  depth source: %1").arg(fieldName(ConstTable::Zs, u, s.zSource(), 2)));
    }

    line(QString());
    if (s.combineAt == gbi::kNotSet) {
        line(QStringLiteral("Combiner: not set"));
    } else {
        const gbi::Combiner c = gbi::decodeCombiner(s.combine);
        line(QStringLiteral("Combiner (%1):").arg(origin(s.combineAt)));
        for (int k = 0; k < 2; ++k) {
            const char *use = k == 0 ? "cycle 1 (2-cycle mode only)" : "cycle 2 (the one 1-cycle mode uses)";
            line(QStringLiteral("  %1").arg(QString::fromLatin1(use)));
            line(QStringLiteral("    colour = %1").arg(equation(c.cycle[k].rgb, false)));
            line(QStringLiteral("    alpha  = %1").arg(equation(c.cycle[k].alpha, true)));
        }
    }

    line(QString());
    if (!s.renderModeKnown()) {
        line(QStringLiteral("Render mode: unknown"));
    } else {
        const std::uint32_t l = s.otherL;
        line(QStringLiteral("Render mode (%1):").arg(origin(s.otherLAt)));
        for (int k = 0; k < 2; ++k) {
            const gbi::BlenderCycle b = gbi::blenderCycle(l, k);
            line(QStringLiteral("  blender cycle %1 = (%2 * %3 + %4 * %5) / (%3 + %5)")
                     .arg(k + 1)
                     .arg(blendName(0, b.p), blendName(1, b.a), blendName(2, b.m), blendName(3, b.b)));
        }
        QStringList flags;
        static constexpr std::pair<std::uint32_t, const char *> bits[] = {
            {0x8, "AA_EN"},         {0x10, "Z_CMP"},         {0x20, "Z_UPD"},     {0x40, "IM_RD"},
            {0x80, "CLR_ON_CVG"},   {0x1000, "CVG_X_ALPHA"}, {0x2000, "ALPHA_CVG_SEL"}, {0x4000, "FORCE_BL"},
        };
        for (const auto &[bit, name] : bits)
            if (l & bit)
                flags << QString::fromLatin1(name);
        static constexpr const char *cvg[] = {"CVG_DST_CLAMP", "CVG_DST_WRAP", "CVG_DST_FULL", "CVG_DST_SAVE"};
        static constexpr const char *zmode[] = {"ZMODE_OPA", "ZMODE_INTER", "ZMODE_XLU", "ZMODE_DEC"};
        flags << QString::fromLatin1(cvg[(l >> 8) & 3]) << QString::fromLatin1(zmode[(l >> 10) & 3]);
        line(QStringLiteral("  flags: %1").arg(flags.join(QStringLiteral(" | "))));
    }

    line(QString());
    QStringList on, unknown;
    for (const gbi::NamedValue &v : gbi::constTable(ConstTable::GeometryMode, u)) {
        const auto flag = static_cast<std::uint32_t>(v.value);
        if (!flag || (flag & (flag - 1)))
            continue; // combinations and zero
        if (s.geometryOn(flag))
            on << qs(v.name);
        else if (!s.geometryOff(flag))
            unknown << qs(v.name);
    }
    line(QStringLiteral("Geometry mode (%1): %2").arg(origin(s.geometryAt), on.isEmpty() ? QStringLiteral("none") : on.join(QStringLiteral(" | "))));
    if (!unknown.isEmpty())
        line(QStringLiteral("  unknown: %1").arg(unknown.join(QStringLiteral(" | "))));

    line(QString());
    if (s.texture.at == gbi::kNotSet)
        line(QStringLiteral("Texture: not set"));
    else
        line(QStringLiteral("Texture: %1, tile %2, levels %3, scale %4 %5 (%6)")
                 .arg(s.texture.on ? QStringLiteral("on") : QStringLiteral("off"))
                 .arg(s.texture.tile)
                 .arg(s.texture.level + 1)
                 .arg(hex(s.texture.s, 4), hex(s.texture.t, 4), origin(s.texture.at)));
    line(QStringLiteral("Texture image: %1").arg(image(s.textureImage, u)));
    line(QStringLiteral("Tiles:"));
    for (int t = 0; t < gbi::kTileCount; ++t) {
        const gbi::TileState &tile = s.tiles[static_cast<std::size_t>(t)];
        if (tile.setAt == gbi::kNotSet && tile.sizeAt == gbi::kNotSet) {
            line(QStringLiteral("  %1: not set").arg(t));
            continue;
        }
        QString text = QStringLiteral("  %1: %2 %3, line %4, tmem %5, palette %6, s %7 mask %8 shift %9")
                           .arg(t)
                           .arg(fieldName(ConstTable::ImFmt, u, tile.fmt, 0), fieldName(ConstTable::ImSiz, u, tile.siz, 0))
                           .arg(tile.line)
                           .arg(hex(tile.tmem, 3))
                           .arg(tile.palette)
                           .arg(clampMirror(tile.cms))
                           .arg(tile.masks)
                           .arg(tile.shifts);
        text += QStringLiteral(", t %1 mask %2 shift %3").arg(clampMirror(tile.cmt)).arg(tile.maskt).arg(tile.shiftt);
        if (tile.hasExtents())
            text += QStringLiteral(", size %1x%2").arg(tile.width()).arg(tile.height());
        line(text);
    }
    line(QStringLiteral("Texture memory:"));
    if (s.loadCount == 0)
        line(QStringLiteral("  nothing loaded"));
    const int kept = std::min<int>(s.loadCount, gbi::kTmemLoadsKept);
    for (int i = 0; i < kept; ++i) {
        const gbi::TmemLoad &load = s.loads[static_cast<std::size_t>(i)];
        QString text = QStringLiteral("  %1-%2: %3 through tile %4")
                           .arg(hex(load.begin, 3), hex(load.end, 3), qs(gbi::commandKindName(load.kind)))
                           .arg(load.tile);
        if (load.imageKnown)
            text += QStringLiteral(", %1 %2").arg(fieldName(ConstTable::ImFmt, u, load.fmt, 0),
                                                  fieldName(ConstTable::ImSiz, u, load.siz, 0));
        if (load.split)
            text += QStringLiteral(", split across both halves");
        if (load.overflow)
            text += QStringLiteral(", runs past the end");
        text += QStringLiteral(" (%1)").arg(origin(load.at));
        line(text);
    }

    line(QString());
    line(QStringLiteral("Colour image: %1").arg(image(s.colorImage, u)));
    line(QStringLiteral("Depth image: %1").arg(image(s.depthImage, u)));
    line(QStringLiteral("Colours: fill %1").arg(colour(s.fill)));
    line(QStringLiteral("  fog %1").arg(colour(s.fog)));
    line(QStringLiteral("  blend %1").arg(colour(s.blend)));
    line(QStringLiteral("  primitive %1, min level %2, LOD fraction %3").arg(colour(s.prim)).arg(s.primMinLevel).arg(s.primLodFrac));
    line(QStringLiteral("  environment %1").arg(colour(s.env)));

    line(QString());
    const int slotCount = gbi::ucodeTraits(u).vertexBuffer;
    QStringList loaded;
    int count = 0;
    for (int v = 0; v < slotCount && v < gbi::kMaxVertexSlots;) {
        if (s.vertexAt[static_cast<std::size_t>(v)] < 0) {
            ++v;
            continue;
        }
        int end = v;
        while (end + 1 < slotCount && end + 1 < gbi::kMaxVertexSlots && s.vertexAt[static_cast<std::size_t>(end + 1)] >= 0)
            ++end;
        loaded << (end == v ? QString::number(v) : QStringLiteral("%1-%2").arg(v).arg(end));
        count += end - v + 1;
        v = end + 1;
    }
    line(QStringLiteral("Vertices loaded: %1 of %2 slots%3")
             .arg(count)
             .arg(slotCount)
             .arg(loaded.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(loaded.join(QStringLiteral(", ")))));
    line(QStringLiteral("Matrices: projection %1, modelview %2").arg(origin(s.projectionAt), origin(s.modelviewAt)));
    return out.join(QLatin1Char('\n'));
}

} // namespace dlscope
