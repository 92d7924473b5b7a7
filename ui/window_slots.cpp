#include "window_slots.h"

#include "geometry_mode_window.h"
#include "combiner_window.h"
#include "display_list_window.h"
#include "other_mode_h_window.h"
#include "render_mode_window.h"
#include "set_tile_window.h"
#include "texture_window.h"
#include "wizard_window.h"

#include <QPointer>
#include <QWidget>

#include <array>

namespace dlscope {
namespace {

using Factory = QWidget *(*)();

struct SlotKind {
    ToolWindow kind;
    std::string_view formName;
    Factory create;  // null until the window exists in the program
};

template <typename Window> QWidget *make() { return new Window; }

constexpr SlotKind kSlotKinds[] = {
    {ToolWindow::GeometryMode, "GM", &make<GeometryModeWindow>},
    {ToolWindow::RenderMode, "RM", &make<RenderModeWindow>},
    {ToolWindow::Combiner, "CC", &make<CombinerWindow>},
    {ToolWindow::OtherModeH, "OM_H", &make<OtherModeHWindow>},
    {ToolWindow::Texture, "G_Texture", &make<TextureWindow>},
    {ToolWindow::Wizard, "RMWiz", &make<WizardWindow>},
    {ToolWindow::SetTile, "SetTile", &make<SetTileWindow>},
    {ToolWindow::DisplayList, "DisplayList", &make<DisplayListWindow>},
};

constexpr std::size_t kSlotCount = std::size(kSlotKinds);

const SlotKind &slotKind(ToolWindow kind) { return kSlotKinds[static_cast<std::size_t>(kind)]; }

std::array<QPointer<QWidget>, kSlotCount> &slotTable()
{
    static std::array<QPointer<QWidget>, kSlotCount> windows;
    return windows;
}

static_assert([] {
    for (std::size_t i = 0; i < kSlotCount; ++i)
        if (static_cast<std::size_t>(kSlotKinds[i].kind) != i)
            return false;
    return true;
}(), "slot table rows must follow the ToolWindow order");

} // namespace

namespace WindowSlots {

std::string_view formName(ToolWindow kind) { return slotKind(kind).formName; }

bool kindOf(std::string_view name, ToolWindow &kind)
{
    for (const SlotKind &row : kSlotKinds)
        if (row.formName == name) {
            kind = row.kind;
            return true;
        }
    return false;
}

QWidget *existing(ToolWindow kind) { return slotTable()[static_cast<std::size_t>(kind)].data(); }

QWidget *getOrCreate(ToolWindow kind)
{
    QPointer<QWidget> &slot = slotTable()[static_cast<std::size_t>(kind)];
    if (!slot) {
        const Factory create = slotKind(kind).create;
        if (!create)
            return nullptr;
        QWidget *window = create();
        // Closing a tool window destroys it; the next request makes it anew.
        window->setAttribute(Qt::WA_DeleteOnClose);
        slot = window;
    }
    return slot.data();
}

QWidget *showAndActivate(ToolWindow kind)
{
    QWidget *window = getOrCreate(kind);
    if (!window)
        return nullptr;
    if (window->isMinimized())
        window->showNormal();
    else
        window->show();
    window->raise();
    window->activateWindow();
    return window;
}

void closeAll()
{
    for (QPointer<QWidget> &slot : slotTable()) {
        delete slot.data();
        slot.clear();
    }
}

} // namespace WindowSlots
} // namespace dlscope
