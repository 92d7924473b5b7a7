// A seeded random walk over the whole program: typing and pasting random
// texts, pressing "Info", clicking check boxes and options, running the
// wizard with random answers, closing and reopening windows; in the
// display-list window pasting random lists, selecting rows, editing
// arguments and words, undoing and redoing, changing how it decodes. Every message
// box is answered. After every action the invariants that the program's
// rules promise are checked; a failure prints the seed and the action number
// so that it can be replayed:
//   DLSCOPE_MONKEY_SEED=<seed> DLSCOPE_MONKEY_ACTIONS=<n> monkey_test

#include "app/program.h"
#include "ui/display_list_model.h"
#include "ui/display_list_window.h"
#include "ui/window_slots.h"
#include "window_test_support.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QShortcut>
#include <QSpinBox>
#include <QTableView>
#include <QUndoStack>
#include <QtTest>

#include <random>

using namespace dlscope;
using namespace dlscope::test;

namespace {

// Every text a box of this program may carry, or starts with (the wizard's
// questions are matched by their first line).
const QStringList kMessagePrefixes = {
    QStringLiteral("this is not hex"),
    QStringLiteral("oops... this will not work"),
    QStringLiteral("Please Enter the Full Binary of the Whole Command Including FC"),
    QStringLiteral("Please Enter the Full Binary of the Lower Word"),
    QStringLiteral("Tex Edge Found!"),
    QStringLiteral("Is Textured?"),
    QStringLiteral("Do you want to Enable Transparency on This texture"),
    QStringLiteral("Do you want Smooth Textures?\r\n"),
    QStringLiteral("VtxA?"),
    QStringLiteral("Would you like Fog?\r\n"),
    QStringLiteral("Vertex Alpha Detected with Fog Selected.\r\n"),
    QStringLiteral("Would you like to Fade Away?"),
    QStringLiteral("Vertex Alpha Detected with FadeAway Selected.\r\n"),
    QStringLiteral("Would you like to Automatically detect Draw Order (Prevent Overlaps)?\r\n"),
    QStringLiteral("Would you like FULL\r\n"),
    QStringLiteral("Do you want Normal Shaded Textures or Brightened Textures?\r\n"),
    QStringLiteral("Do you want a Normal Texture or a cool looking wireframe effect?\r\n"),
    QStringLiteral("You have completed the Wizard"),
    QStringLiteral("You have canceled the Wizard, however values you entered have been kept"),
    QStringLiteral("To use the Values, Copy the textboxes to calculator"),
};

const char *const kLauncherButtons[] = {"Command1", "Command2", "Command3", "Command4",
                                        "Command5", "Command6", "Command7"};

bool isProgramMessage(const QString &text)
{
    for (const QString &prefix : kMessagePrefixes)
        if (text == prefix || (prefix.endsWith(QLatin1Char('\n')) && text.startsWith(prefix)))
            return true;
    return false;
}

QString randomText(std::mt19937 &random)
{
    static const QString alphabet = QStringLiteral("0101010101010123456789ABCDEFabcdef  g?\u00e9\u4e2d");
    const int shape = static_cast<int>(random() % 4);
    int length = 0;
    switch (shape) {
    case 0: length = 16; break;  // a whole command's hex length
    case 1: length = 8; break;   // a word's hex length
    case 2: length = static_cast<int>(random() % 70); break;
    default: length = 32 + static_cast<int>(random() % 33); break;
    }
    const bool binary = random() % 3 == 0;
    QString text;
    for (int i = 0; i < length; ++i)
        text += binary ? QChar(QLatin1Char(random() % 2 ? '1' : '0'))
                       : alphabet[static_cast<qsizetype>(random() % static_cast<unsigned>(alphabet.size()))];
    return text;
}

// A list to paste: mostly command words of every opcode, with now and then
// a line of anything.
QString randomList(std::mt19937 &random)
{
    static const char *const kOpcodes[] = {"E7", "01", "05", "06", "D9", "DF", "FC", "E2", "E3", "FD", "F5", "F3",
                                           "F2", "FA", "FB", "B7", "B9", "BA", "BB", "B8", "BF", "04", "E6", "E8"};
    QString text;
    const int lines = 1 + static_cast<int>(random() % 40);
    for (int i = 0; i < lines; ++i) {
        if (random() % 10 == 0) {
            text += randomText(random) + QLatin1Char('\n');
            continue;
        }
        text += QString::fromLatin1(kOpcodes[random() % std::size(kOpcodes)]);
        text += QStringLiteral("%1 %2\n").arg(random() & 0xFFFFFF, 6, 16, QLatin1Char('0')).arg(random(), 8, 16, QLatin1Char('0'));
    }
    return text;
}

} // namespace

class MonkeyTest : public QObject {
    Q_OBJECT

private slots:
    void randomWalkKeepsEveryInvariant()
    {
        const quint32 seed = qEnvironmentVariableIsSet("DLSCOPE_MONKEY_SEED")
                                 ? static_cast<quint32>(qEnvironmentVariableIntValue("DLSCOPE_MONKEY_SEED"))
                                 : 20261208u;
        const int actions = qEnvironmentVariableIsSet("DLSCOPE_MONKEY_ACTIONS")
                                ? qEnvironmentVariableIntValue("DLSCOPE_MONKEY_ACTIONS")
                                : 3000;
        std::mt19937 random(seed);
        std::printf("monkey: seed %u, %d actions\n", seed, actions);

        MessageBoxScript boxes;
        boxes.answerOthersWith([&random](const QMessageBox &box) {
            QList<QAbstractButton *> buttons = box.buttons();
            return box.standardButton(buttons[static_cast<qsizetype>(random() % buttons.size())]);
        });

        QPointer<QWidget> launcher = startProgram();
        int boxesSeen = 0;
        for (int step = 0; step < actions; ++step) {
            const QString where = QStringLiteral("seed %1, action %2").arg(seed).arg(step);
            act(random, launcher);
            flushDeletes();
            if (!launcher) {
                QVERIFY2(liveTopLevels().isEmpty(), qPrintable(where + QStringLiteral(": a window outlived the launcher")));
                launcher = startProgram();  // the user closed it: start again
            }
            for (qsizetype i = boxesSeen; i < boxes.seen().size(); ++i)
                QVERIFY2(isProgramMessage(boxes.seen()[i].text),
                         qPrintable(where + QStringLiteral(": foreign message ") + boxes.seen()[i].text));
            boxesSeen = static_cast<int>(boxes.seen().size());
            checkInvariants(launcher, where);
            if (QTest::currentTestFailed())
                return;
        }
        std::printf("monkey: %lld message boxes answered, %d actions in the display-list window\n",
                    static_cast<long long>(boxes.seen().size()), listActions_);
        launcher->close();
        QCOMPARE(destroyTopLevels(), 0);
    }

private:
    void act(std::mt19937 &random, QWidget *launcher)
    {
        const int kind = static_cast<int>(random() % 100);
        if (kind < 10) {
            const char *name = kLauncherButtons[random() % std::size(kLauncherButtons)];
            launcher->findChild<QPushButton *>(QString::fromLatin1(name))->click();
            return;
        }
        if (kind < 12) {
            // The display-list window, through the launcher's menu or a paste onto it.
            if (random() % 2) {
                launcher->findChild<QAction *>(QStringLiteral("DisplayListAction"))->trigger();
            } else {
                QGuiApplication::clipboard()->setText(randomList(random));
                emit launcher->findChild<QShortcut *>(QStringLiteral("PasteShortcut"))->activated();
                waitForList();
            }
            return;
        }
        QList<QWidget *> windows;
        for (QWidget *w : liveTopLevels())
            if (w != launcher && w->isVisible())
                windows << w;
        if (windows.isEmpty() || kind >= 99) {
            if (kind == 99)
                launcher->close();
            return;
        }
        QWidget *window = windows[static_cast<qsizetype>(random() % windows.size())];
        if (auto *list = qobject_cast<DisplayListWindow *>(window); list && kind < 92) {
            actOnList(random, list);
            return;
        }
        auto *text = window->findChild<QLineEdit *>(QStringLiteral("Text1"));
        if (kind < 35 && text) {
            if (random() % 2) {
                // Typed (ASCII only, as QTest types it): the box's limit applies.
                QString typed = randomText(random);
                for (QChar &c : typed)
                    if (c.unicode() >= 0x80)
                        c = QLatin1Char('g');
                text->selectAll();
                QTest::keyClicks(text, typed);
            } else {
                QGuiApplication::clipboard()->setText(randomText(random));
                text->selectAll();
                text->paste();
            }
        } else if (kind < 70) {
            if (auto *info = window->findChild<QPushButton *>(QStringLiteral("Command1")))
                info->click();  // "Info", or the wizard's "START"
        } else if (kind < 85) {
            QList<QAbstractButton *> clickable;
            for (QAbstractButton *b : window->findChildren<QAbstractButton *>())
                if (qobject_cast<QCheckBox *>(b) || qobject_cast<QRadioButton *>(b))
                    clickable << b;
            if (!clickable.isEmpty())
                QTest::mouseClick(clickable[static_cast<qsizetype>(random() % clickable.size())], Qt::LeftButton);
        } else if (kind < 92) {
            // The wizard's other buttons: the two views and "Close".
            for (const char *name : {"Command2", "Command3", "OKButton"})
                if (random() % 3 == 0)
                    if (auto *b = window->findChild<QPushButton *>(QString::fromLatin1(name)))
                        if (window->objectName() == QLatin1String("RMWiz")) {
                            b->click();
                            break;
                        }
        } else {
            window->close();
        }
    }

    void waitForList()
    {
        if (auto *list = qobject_cast<DisplayListWindow *>(WindowSlots::existing(ToolWindow::DisplayList)))
            QVERIFY2(QTest::qWaitFor([list] { return !list->busy(); }, 10000), "a paste was still being read after 10 s");
    }

    int listActions_ = 0;

    void actOnList(std::mt19937 &random, DisplayListWindow *list)
    {
        ++listActions_;
        auto *table = list->findChild<QTableView *>(QStringLiteral("Table"));
        QWidget *inspector = list->findChild<QWidget *>(QStringLiteral("ArgumentInspector"));
        const int rows = list->model()->rowCount();
        switch (random() % 8) {
        case 0:
        case 1:
            QGuiApplication::clipboard()->setText(random() % 8 ? randomList(random) : randomText(random));
            list->findChild<QAction *>(random() % 4 ? QStringLiteral("PasteAction") : QStringLiteral("PasteReplacingAction"))
                ->trigger();
            waitForList();
            break;
        case 2:
            if (rows > 0)
                table->selectionModel()->setCurrentIndex(list->model()->index(static_cast<int>(random() % static_cast<unsigned>(rows)), 2),
                                                         QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            break;
        case 3:
        case 4: {
            // An argument or a word of the selected command.
            QList<QWidget *> editors;
            for (QWidget *w : inspector->findChildren<QWidget *>())
                if (w->isVisible() && (qobject_cast<QSpinBox *>(w) || qobject_cast<QComboBox *>(w) ||
                                       qobject_cast<QCheckBox *>(w) || qobject_cast<QLineEdit *>(w)))
                    editors << w;
            if (editors.isEmpty())
                break;
            QWidget *w = editors[static_cast<qsizetype>(random() % editors.size())];
            if (auto *spin = qobject_cast<QSpinBox *>(w)) {
                spin->setValue(spin->minimum() + static_cast<int>(random() % static_cast<unsigned>(std::min(spin->maximum() - spin->minimum(), 1 << 20) + 1)));
            } else if (auto *combo = qobject_cast<QComboBox *>(w)) {
                if (combo->count() > 0)
                    combo->setCurrentIndex(static_cast<int>(random() % static_cast<unsigned>(combo->count())));
            } else if (auto *check = qobject_cast<QCheckBox *>(w)) {
                check->click();
            } else if (auto *edit = qobject_cast<QLineEdit *>(w)) {
                edit->setText(random() % 4 ? QStringLiteral("0x%1").arg(random(), 0, 16) : randomText(random));
                emit edit->editingFinished();
            }
            break;
        }
        case 5:
            if (random() % 2)
                list->undoStack()->undo();
            else
                list->undoStack()->redo();
            break;
        case 6:
            if (auto *ucode = list->findChild<QComboBox *>(QStringLiteral("Ucode")))
                ucode->setCurrentIndex(static_cast<int>(random() % static_cast<unsigned>(ucode->count())));
            break;
        default:
            if (rows > 0)
                table->doubleClicked(list->model()->index(static_cast<int>(random() % static_cast<unsigned>(rows)), 0));
            break;
        }
    }

    void checkInvariants(QWidget *launcher, const QString &where)
    {
        if (auto *list = qobject_cast<DisplayListWindow *>(WindowSlots::existing(ToolWindow::DisplayList))) {
            // Rows cover every entry once, and the table shows every row.
            const gbi::ListDocument &document = list->document();
            const std::size_t rows = document.rowCount();
            QVERIFY2(static_cast<std::size_t>(list->model()->rowCount()) == rows, qPrintable(where + QStringLiteral(": table rows")));
            std::size_t covered = 0;
            for (std::size_t r = 0; r < rows; ++r) {
                QVERIFY2(document.rowStart(r) == covered, qPrintable(where + QStringLiteral(": row starts")));
                covered += document.rowLength(r);
            }
            QVERIFY2(covered == document.size(), qPrintable(where + QStringLiteral(": rows cover the list")));
        }
        QVERIFY2(launcher && launcher->windowFlags().testFlag(Qt::WindowStaysOnTopHint), qPrintable(where));
        QSet<QString> names;
        for (QWidget *w : liveTopLevels()) {
            QVERIFY2(!names.contains(w->objectName()), qPrintable(where + QStringLiteral(": two ") + w->objectName()));
            names.insert(w->objectName());
            auto *text = w->findChild<QLineEdit *>(QStringLiteral("Text1"));
            auto *counter = w->findChild<QLabel *>(QStringLiteral("Label1"));
            if (!text || !counter || w->objectName() == QLatin1String("RMWiz"))
                continue;
            const QString expected = w->objectName() == QLatin1String("SetTile") ? QStringLiteral("64")
                                                                                 : QString::number(text->text().size());
            QVERIFY2(counter->text() == expected,
                     qPrintable(where + QStringLiteral(": counter of ") + w->objectName() + QStringLiteral(" shows ") +
                                counter->text() + QStringLiteral(", text has ") + QString::number(text->text().size())));
            QVERIFY2(text->text().size() <= text->maxLength(), qPrintable(where));
        }
        if (QWidget *omh = WindowSlots::existing(ToolWindow::OtherModeH)) {
            int red = 0;
            for (QGroupBox *frame : omh->findChildren<QGroupBox *>())
                if (frame->autoFillBackground() && frame->palette().color(frame->backgroundRole()) == QColor(255, 0, 0))
                    ++red;
            QVERIFY2(red <= 1, qPrintable(where + QStringLiteral(": red frames ") + QString::number(red)));
        }
    }
};

QTEST_MAIN(MonkeyTest)
#include "monkey_test.moc"
