#include "launcher.h"

#include "ui/display_list_window.h"
#include "ui/message_box.h"
#include "ui/program_info.h"
#include "ui/twips.h"
#include "ui/window_slots.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGridLayout>
#include <QMimeData>
#include <QPushButton>
#include <QShortcut>

namespace dlscope {
namespace {

struct LauncherButton {
    const char *name;
    const char *caption;
    ToolWindow opens;
    int row, column;
};

constexpr LauncherButton kButtons[] = {
    {"Command1", "B7 Geomatry Mode", ToolWindow::GeometryMode, 0, 0},
    {"Command3", "FC Combiner", ToolWindow::Combiner, 0, 1},
    {"Command2", "B9_3RenderMode", ToolWindow::RenderMode, 0, 2},
    {"Command4", "BA SetOtherMode_H", ToolWindow::OtherModeH, 0, 3},
    {"Command5", "BB G_Texture", ToolWindow::Texture, 1, 0},
    {"Command6", "RenderMode Wizard", ToolWindow::Wizard, 1, 1},
    {"Command7", "SetTile", ToolWindow::SetTile, 1, 2},
};

// Each button is 1725 x 375 twips; wider only if its caption needs it in the
// font in use, so that no caption is clipped.
constexpr int kButtonWidthTwips = 1725;
constexpr int kButtonHeightTwips = 375;

} // namespace

Launcher::Launcher(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Menu"));
    setWindowTitle(QStringLiteral("GBI"));
    // Stays above every other window; set before the first show so that the
    // window manager learns it on map. The platform may ignore the hint.
    setWindowFlag(Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_DeleteOnClose);

    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(0);

    QList<QPushButton *> buttons;
    int width = twips(kButtonWidthTwips);
    for (const LauncherButton &row : kButtons) {
        auto *button = new QPushButton(QString::fromLatin1(row.caption), this);
        button->setObjectName(QString::fromLatin1(row.name));
        button->setAutoDefault(false);
        const ToolWindow kind = row.opens;
        connect(button, &QPushButton::clicked, this, [kind] { WindowSlots::showAndActivate(kind); });
        grid->addWidget(button, row.row, row.column);
        button->ensurePolished();  // the style's font decides the caption's width
        width = std::max(width, button->sizeHint().width());
        buttons << button;
    }
    const int height = std::max(twips(kButtonHeightTwips), buttons.front()->sizeHint().height());
    for (QPushButton *button : buttons)
        button->setFixedSize(width, height);

    // Tab order follows the buttons' visual order.
    for (qsizetype i = 1; i < buttons.size(); ++i)
        setTabOrder(buttons[i - 1], buttons[i]);

    grid->setSizeConstraint(QLayout::SetFixedSize);

    // The display-list window, reached without a button of its own. The
    // buttons pass right clicks and tool tips on to the launcher.
    setToolTip(tr("Right-click for the display-list window"));
    setContextMenuPolicy(Qt::ActionsContextMenu);
    auto *openList = new QAction(tr("Display List\u2026"), this);
    openList->setObjectName(QStringLiteral("DisplayListAction"));
    connect(openList, &QAction::triggered, this, [] { WindowSlots::showAndActivate(ToolWindow::DisplayList); });
    auto *about = new QAction(tr("About DL Scope"), this);
    about->setObjectName(QStringLiteral("AboutAction"));
    connect(about, &QAction::triggered, this,
            [this] { showMessageBox(this, MessageButtons::Ok, tr("About DL Scope"), aboutText()); });
    addAction(openList);
    addAction(about);

    auto *anywhere = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_L), this);
    anywhere->setObjectName(QStringLiteral("DisplayListShortcut"));
    anywhere->setContext(Qt::ApplicationShortcut);
    connect(anywhere, &QShortcut::activated, this, [] { WindowSlots::showAndActivate(ToolWindow::DisplayList); });
    auto *paste = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_V), this);
    paste->setObjectName(QStringLiteral("PasteShortcut"));
    connect(paste, &QShortcut::activated, this, [this] { this->openList(QGuiApplication::clipboard()->mimeData()); });
    setAcceptDrops(true);
}

void Launcher::openList(const QMimeData *mime)
{
    auto *window = qobject_cast<DisplayListWindow *>(WindowSlots::showAndActivate(ToolWindow::DisplayList));
    if (window)
        window->readMime(mime, DisplayListWindow::Place::Replace);
}

void Launcher::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls() || event->mimeData()->hasText())
        event->acceptProposedAction();
}

void Launcher::dropEvent(QDropEvent *event)
{
    openList(event->mimeData());
    event->acceptProposedAction();
}

void Launcher::closeEvent(QCloseEvent *event)
{
    // The program ends with the launcher: every tool window goes at once,
    // without its handlers running.
    WindowSlots::closeAll();
    event->accept();
    QCoreApplication::quit();
}

} // namespace dlscope
