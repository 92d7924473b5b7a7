// Opens every window of the program in a representative state and saves one
// PNG of each into the folder given as the first argument. Run under a real
// X server (scripts/screenshots does that); QT_SCALE_FACTOR=2 gives the
// high-DPI pictures.

#include "app/program.h"
#include "ui/display_list_model.h"
#include "ui/display_list_window.h"
#include "ui/window_slots.h"
#include "window_test_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QItemSelectionModel>
#include <QSpinBox>
#include <QTableView>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include <cstdio>

using namespace dlscope;

namespace {

QString folder;
int saved = 0;

void settle()
{
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
}

void save(QWidget *widget, const QString &name)
{
    settle();
    const QString path = QDir(folder).filePath(name + QStringLiteral(".png"));
    if (widget && widget->grab().save(path)) {
        std::printf("saved %s\n", qPrintable(path));
        ++saved;
    } else {
        std::printf("could not save %s\n", qPrintable(path));
    }
}

QWidget *open(ToolWindow kind) { return WindowSlots::showAndActivate(kind); }

// Types a command and presses "Info", answering every box with its default.
void decode(QWidget *window, const QString &command)
{
    if (!window)
        return;
    window->findChild<QLineEdit *>(QStringLiteral("Text1"))->setText(command);
    test::MessageBoxScript boxes;
    boxes.answerOk(4);
    window->findChild<QPushButton *>(QStringLiteral("Command1"))->click();
}

// Grabs the first question box the wizard shows, then answers the run.
class WizardRun : public QObject {
public:
    explicit WizardRun(QStringList script) : script_(std::move(script)) { qApp->installEventFilter(this); }
    ~WizardRun() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *box = qobject_cast<QMessageBox *>(watched);
        if (!box || event->type() != QEvent::Show)
            return false;
        const int index = asked_++;
        QTimer::singleShot(50, box, [this, box, index] {
            if (index == 0 || index == 4)
                save(box, QStringLiteral("wizard-question-%1").arg(index + 1));
            const QString answer = index < script_.size() ? script_[index] : QStringLiteral("Ok");
            for (QAbstractButton *b : box->buttons())
                if (box->standardButton(b) == (answer == QLatin1String("Yes")   ? QMessageBox::Yes
                                               : answer == QLatin1String("No")  ? QMessageBox::No
                                               : answer == QLatin1String("Ok")  ? QMessageBox::Ok
                                                                                : QMessageBox::Cancel)) {
                    b->click();
                    return;
                }
            box->reject();
        });
        return false;
    }

private:
    QStringList script_;
    int asked_ = 0;
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs/screenshots");
    QDir().mkpath(folder);

    QWidget *launcher = startProgram();
    save(launcher, QStringLiteral("launcher"));

    QWidget *gm = open(ToolWindow::GeometryMode);
    decode(gm, QStringLiteral("B7000000000F0205"));
    save(gm, QStringLiteral("geometry-mode"));

    QWidget *rm = open(ToolWindow::RenderMode);
    decode(rm, QStringLiteral("0C184078"));
    save(rm, QStringLiteral("render-mode"));
    decode(rm, QStringLiteral("C8112078"));
    save(rm, QStringLiteral("render-mode-two-cycle-fog"));

    QWidget *cc = open(ToolWindow::Combiner);
    decode(cc, QStringLiteral("FC26A0041FFC93FC"));
    save(cc, QStringLiteral("combiner"));

    QWidget *omh = open(ToolWindow::OtherModeH);
    decode(omh, QStringLiteral("BA00140200300000"));
    save(omh, QStringLiteral("other-mode-h"));

    QWidget *texture = open(ToolWindow::Texture);
    decode(texture, QStringLiteral("BB002801"));
    save(texture, QStringLiteral("texture"));

    save(open(ToolWindow::SetTile), QStringLiteral("set-tile"));

    // An F3DEX2 opaque mesh: sync, combiner, render mode, geometry mode, a
    // texture load, vertex loads and triangles, the end.
    if (auto *list = qobject_cast<DisplayListWindow *>(open(ToolWindow::DisplayList))) {
        QGuiApplication::clipboard()->setText(QStringLiteral(
            "E7000000 00000000\nFC127E24 FFFFF9FC\nE200001C 00552078\nD9FFFFFF 00220405\nD7000002 FFFFFFFF\n"
            "FD100000 06000000\nF5100000 07014050\nE6000000 00000000\nF3000000 073FF100\n"
            "E7000000 00000000\nF5101000 00014050\nF2000000 0007C07C\n"
            "01020040 06000800\n05000204 00000000\n06020406 00060A08\n060C0E10 00121416\n0618161A 001C1E00\n"
            "01010020 06000A00\n06000204 00040608\n05080A0C 00000000\nDF000000 00000000\n"));
        list->findChild<QAction *>(QStringLiteral("PasteAction"))->trigger();
        for (int i = 0; i < 200 && list->busy(); ++i) {
            QApplication::processEvents();
            QThread::msleep(5);
        }
        settle();
        auto *table = list->findChild<QTableView *>(QStringLiteral("Table"));
        auto select = [&](int row) {
            table->selectionModel()->setCurrentIndex(list->model()->index(row, 2),
                                                     QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        };
        // One edited command (the second vertex load's count), then the
        // render mode in the inspector.
        select(11);
        if (auto *n = list->findChild<QSpinBox *>(QStringLiteral("arg1")))
            n->setValue(12);
        // The checks run on a worker thread after each change.
        for (int i = 0; i < 400 && list->checking(); ++i) {
            QApplication::processEvents();
            QThread::msleep(5);
        }
        select(2);
        settle();
        save(list, QStringLiteral("display-list"));
    }

    QWidget *wizard = open(ToolWindow::Wizard);
    if (wizard) {
        WizardRun run({"Yes", "No", "Yes", "No", "No", "No", "Yes", "Yes", "Yes", "Ok", "Ok"});
        wizard->findChild<QPushButton *>(QStringLiteral("Command1"))->click();
        save(wizard, QStringLiteral("wizard"));
    }

    launcher->close();
    settle();
    std::printf("%d pictures\n", saved);
    return saved > 0 ? 0 : 1;
}
