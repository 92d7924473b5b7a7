#include "app/program.h"
#include "ui/display_list_model.h"
#include "ui/display_list_window.h"
#include "ui/window_slots.h"
#include "window_test_support.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QColorDialog>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QUndoStack>
#include <QtTest>

#include <functional>

using namespace dlscope;
using namespace dlscope::test;

namespace {

// An F3DEX2 mesh: pipe sync, vertices, a triangle, the end.
const QString kMesh = QStringLiteral("E7000000 00000000\n01020040 06000000\n05000204 00000000\nDF000000 00000000\n");

// An F3DEX2 list with faults: 2-cycle mode and a combiner, four vertices,
// a triangle, the combiner set again with no pipe sync after the draw, a
// triangle of vertices 4-6 that no load brought, the end.
const QString kFaulty = QStringLiteral("E3000A01 00100000\nFC127E24 FFFFF9FC\n01004008 06000000\n05000204 00000000\n"
                                       "FC127E24 FFFFF9FC\n05080A0C 00000000\nDF000000 00000000\n");

QString binaryOf(const QString &hex)
{
    QString out;
    for (const QChar c : hex)
        out += QStringLiteral("%1").arg(QString(c).toUInt(nullptr, 16), 4, 2, QLatin1Char('0'));
    return out;
}

} // namespace

class DisplayListWindowTest : public QObject {
    Q_OBJECT

    MessageBoxScript *boxes_ = nullptr;
    QPointer<QWidget> launcher_;

    DisplayListWindow *window() { return qobject_cast<DisplayListWindow *>(WindowSlots::existing(ToolWindow::DisplayList)); }
    DisplayListWindow *open()
    {
        auto *w = qobject_cast<DisplayListWindow *>(WindowSlots::showAndActivate(ToolWindow::DisplayList));
        if (w && !QTest::qWaitForWindowActive(w))  // shortcuts go to the active window
            qWarning("the display-list window did not become active");
        return w;
    }
    QTableView *table() { return control<QTableView>(window(), QStringLiteral("Table")); }
    int rows() { return window()->model()->rowCount(); }
    QString cell(int row, int column = DisplayListModel::MacroColumn)
    {
        return window()->model()->index(row, column).data().toString();
    }
    QString words(int row) { return cell(row, DisplayListModel::WordsColumn); }
    QString message() { return window()->message(); }
    QString hint() { return control<QLabel>(window(), QStringLiteral("Hint"))->text(); }
    void trigger(const char *action) { control<QAction>(window(), QString::fromLatin1(action))->trigger(); }
    void waitRead() { QTRY_VERIFY_WITH_TIMEOUT(!window()->busy(), 20000); }

    void paste(const QString &text, const char *action = "PasteAction")
    {
        QGuiApplication::clipboard()->setText(text);
        trigger(action);
        waitRead();
    }
    void select(int row)
    {
        table()->setFocus();
        table()->selectionModel()->setCurrentIndex(window()->model()->index(row, 2),
                                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    // Answers the window's file dialog of that name with a path.
    void chooseFile(const char *name, const QString &path)
    {
        auto *dialog = window()->findChild<QFileDialog *>(QString::fromLatin1(name));
        QVERIFY2(dialog && dialog->isVisible(), name);
        dialog->selectFile(path);
        static_cast<QDialog *>(dialog)->accept();
        flushDeletes();
    }
    template <typename T> T *editor(const QString &name)
    {
        return control<QWidget>(window(), QStringLiteral("ArgumentInspector"))->findChild<T *>(name);
    }

private slots:
    void init() { boxes_ = new MessageBoxScript; }

    void cleanup()
    {
        if (launcher_)
            launcher_->close();
        flushDeletes();
        finishWindowTest(boxes_);
    }

    // --- Reaching the window ---------------------------------------------------

    void launcherContextMenuOffersTheWindowAndAbout()
    {
        launcher_ = startProgram();
        QCOMPARE(launcher_->findChildren<QPushButton *>().size(), 7);
        QCOMPARE(launcher_->toolTip(), QStringLiteral("Right-click for the display-list window"));

        // A right click on a button opens the launcher's menu.
        QStringList offered;
        QTimer::singleShot(50, [&offered] {
            if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
                for (QAction *a : menu->actions())
                    offered << a->text();
                menu->close();
            }
        });
        auto *button = launcher_->findChild<QPushButton *>(QStringLiteral("Command1"));
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), button->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(button, &event);
        QTRY_COMPARE(offered, (QStringList{QStringLiteral("Display List\u2026"), QStringLiteral("About DL Scope")}));

        launcher_->findChild<QAction *>(QStringLiteral("DisplayListAction"))->trigger();
        QVERIFY(window() && window()->isVisible());
        QCOMPARE(window()->objectName(), QStringLiteral("DisplayList"));
        QCOMPARE(window()->windowTitle(), QStringLiteral("Display List"));

        boxes_->answerOk();
        launcher_->findChild<QAction *>(QStringLiteral("AboutAction"))->trigger();
        QCOMPARE(boxes_->seen().size(), 1);
        QCOMPARE(boxes_->seen()[0].title, QStringLiteral("About DL Scope"));
        QVERIFY(boxes_->seen()[0].text.startsWith(QStringLiteral("DL Scope 0.1.0\n")));
        QCOMPARE(boxes_->seen()[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }

    void controlLOpensItFromAnyWindow()
    {
        launcher_ = startProgram();
        QWidget *gm = WindowSlots::showAndActivate(ToolWindow::GeometryMode);
        QVERIFY(QTest::qWaitForWindowActive(gm));  // keys go to the active window
        QTest::keyClick(control<QLineEdit>(gm, QStringLiteral("Text1")), Qt::Key_L, Qt::ControlModifier);
        QVERIFY(window() && window()->isVisible());
        QPointer<QWidget> first = window();
        launcher_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(launcher_));
        QTest::keyClick(launcher_, Qt::Key_L, Qt::ControlModifier);
        QCOMPARE(window(), first.data());  // one instance
    }

    void pasteAndDropOntoTheLauncherOpenTheList()
    {
        launcher_ = startProgram();
        QGuiApplication::clipboard()->setText(kMesh);
        QVERIFY(QTest::qWaitForWindowActive(launcher_));
        QTest::keyClick(launcher_, Qt::Key_V, Qt::ControlModifier);
        QVERIFY(window());
        waitRead();
        QCOMPARE(rows(), 4);
        QCOMPARE(cell(3), QStringLiteral("gsSPEndDisplayList()"));

        auto *mime = new QMimeData;
        mime->setText(QStringLiteral("E7000000 00000000\nDF000000 00000000"));
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(launcher_, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(launcher_, &drop);
        waitRead();
        QCOMPARE(rows(), 2);  // replaced, and undo brings the earlier list back
        window()->undoStack()->undo();
        QCOMPARE(rows(), 4);
        delete mime;
    }

    // --- Reading ---------------------------------------------------------------------

    void pasteForms_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("form");
        QTest::newRow("hex words") << kMesh << 4 << "gsDPPipeSync()" << "hex";
        QTest::newRow("C words") << "Gfx d[] = {\n{{0xE7000000, 0x00000000}},\n{{0xDF000000, 0}},\n};" << 2
                                 << "gsDPPipeSync()" << "c";
        QTest::newRow("bytes") << "E7 00 00 00 00 00 00 00 DF 00 00 00 00 00 00 00" << 2 << "gsDPPipeSync()" << "bytes";
        QTest::newRow("memory view") << "80123450: E7000000 00000000 DF000000 00000000" << 2 << "gsDPPipeSync()"
                                     << "memview";
        QTest::newRow("decompiler") << "gfx->words.w0 = 0xE7000000;\ngfx->words.w1 = 0;\n" << 1 << "gsDPPipeSync()"
                                    << "decomp";
        QTest::newRow("assembly with a symbol") << "glabel D_80123450\n.word 0x01020040, gMeshVtx\n" << 1
                                                << "gsSPVertex(gMeshVtx, 32, 0)" << "asm";
        QTest::newRow("trace") << "[0xa0100208] e700000000000000  SYNC_PIPE" << 1 << "gsDPPipeSync()" << "trace";
    }

    void pasteForms()
    {
        QFETCH(QString, text);
        QFETCH(int, rows);
        QFETCH(QString, first);
        QFETCH(QString, form);
        open();
        paste(text);
        QCOMPARE(this->rows(), rows);
        QCOMPARE(cell(0), first);
        QVERIFY2(message().contains(QStringLiteral("(%1)").arg(form)), qPrintable(message()));
    }

    void memoryViewShowsAddresses()
    {
        open();
        paste(QStringLiteral("80123450: E7000000 00000000 DF000000 00000000"));
        QCOMPARE(window()->model()->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("Address"));
        QCOMPARE(cell(1, DisplayListModel::WhereColumn).trimmed(), QStringLiteral("80123458"));
    }

    void pasteInsertsAfterTheSelectedRowAndReplacingReplaces()
    {
        open();
        paste(kMesh);
        select(0);
        paste(QStringLiteral("FB000000 FF0000FF"));
        QCOMPARE(rows(), 5);
        QCOMPARE(cell(1), QStringLiteral("gsDPSetEnvColor(255, 0, 0, 255)"));
        paste(QStringLiteral("E7000000 00000000"), "PasteReplacingAction");
        QCOMPARE(rows(), 1);
    }

    void droppedTextIsInsertedAndADroppedFileReplaces()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("one.txt"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("FB000000 FF0000FF\n");
        file.close();
        open();
        paste(kMesh);
        select(3);
        auto drop = [this](QMimeData *mime) {
            QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(window(), &enter);
            QVERIFY(enter.isAccepted());
            QDropEvent dropped(QPointF(5, 5), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(window(), &dropped);
            waitRead();
            delete mime;
        };
        auto *text = new QMimeData;
        text->setText(QStringLiteral("E7000000 00000000"));
        drop(text);
        QCOMPARE(rows(), 5);
        auto *files = new QMimeData;
        files->setUrls({QUrl::fromLocalFile(path)});
        drop(files);
        QCOMPARE(rows(), 1);
        QCOMPARE(cell(0), QStringLiteral("gsDPSetEnvColor(255, 0, 0, 255)"));
    }

    void badInputKeepsTheTableAndSaysWhy_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("says");
        QTest::newRow("image") << "image" << "image, not a display list";
        QTest::newRow("empty") << "empty" << "clipboard is empty";
        QTest::newRow("prose") << "prose" << "Nothing was read from the clipboard";
        QTest::newRow("bad lines among good") << "mixed" << "could not be read (line 2, column 1";
        QTest::newRow("large prose") << "large" << "Nothing was read";
    }

    void badInputKeepsTheTableAndSaysWhy()
    {
        QFETCH(QString, kind);
        QFETCH(QString, says);
        open();
        paste(kMesh);
        const int before = rows();
        auto *mime = new QMimeData;
        if (kind == QLatin1String("image")) {
            mime->setImageData(QImage(4, 4, QImage::Format_RGB32));
        } else if (kind == QLatin1String("prose")) {
            mime->setText(QStringLiteral("Dear diary,\nToday I looked at a display list.\n"));
        } else if (kind == QLatin1String("mixed")) {
            mime->setText(QStringLiteral("E7000000 00000000\nzz top\nDF000000 00000000\n"));
        } else if (kind == QLatin1String("large")) {
            QByteArray prose;
            while (prose.size() < 20 * 1024 * 1024)
                prose += "It was a dark and stormy night; the rain fell in torrents, except at occasional intervals.\n";
            mime->setData(QStringLiteral("text/plain"), prose);
        }
        QGuiApplication::clipboard()->setMimeData(mime);
        QElapsedTimer clock;
        clock.start();
        trigger("PasteAction");
        QVERIFY2(clock.elapsed() < 1000, "the paste held the window");  // the reading runs on its own
        waitRead();
        QVERIFY2(message().contains(says), qPrintable(message()));
        QCOMPARE(rows(), kind == QLatin1String("mixed") ? before + 2 : before);
        QCOMPARE(cell(0), QStringLiteral("gsDPPipeSync()"));
    }

    void unreadableFileGivesOneMessage()
    {
        open();
        boxes_->answerOk();
        window()->openFile(QStringLiteral("/nonexistent/list.bin"));
        waitRead();
        QCOMPARE(boxes_->seen().size(), 1);
        QVERIFY2(boxes_->seen()[0].text.contains(QStringLiteral("No such file")), qPrintable(boxes_->seen()[0].text));
    }

    void binaryFileWithReadOptions()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("list.bin"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        // 4 bytes of header, then the mesh little-endian (PC ports).
        file.write(QByteArray::fromHex("DEADBEEF" "00000000000000E7" "0000000640000201" "00000000000000DF"));
        file.close();
        open();
        control<QComboBox>(window(), QStringLiteral("ByteOrder"))->setCurrentText(QStringLiteral("little"));
        control<QLineEdit>(window(), QStringLiteral("Offset"))->setText(QStringLiteral("4"));
        control<QLineEdit>(window(), QStringLiteral("Count"))->setText(QStringLiteral("2"));
        trigger("OpenAction");
        chooseFile("OpenDialog", path);
        waitRead();
        QVERIFY2(rows() == 2, qPrintable(message()));
        QCOMPARE(words(1), QStringLiteral("01020040 06000000"));
        QCOMPARE(cell(0, DisplayListModel::WhereColumn).trimmed(), QStringLiteral("000004"));
    }

    void stopAtTheEndOfTheList()
    {
        open();
        control<QCheckBox>(window(), QStringLiteral("StopAtEnd"))->setChecked(true);
        paste(kMesh + QStringLiteral("E7000000 00000000\nE7000000 00000000\n"));
        QCOMPARE(rows(), 4);
        QVERIFY(message().contains(QStringLiteral("Stopped at the end of the list after 4 of 6")));
    }

    // --- Decoding options ---------------------------------------------------------

    void microcodeChangeRedecodes()
    {
        open();
        paste(kMesh);
        auto *ucode = control<QComboBox>(window(), QStringLiteral("Ucode"));
        // f3dex2 and f3dex3 read this list alike; ties go to f3dex2.
        const QString chosen = QStringLiteral("f3dex2");
        QCOMPARE(ucode->itemText(0), QStringLiteral("auto (%1)").arg(chosen));
        QVERIFY2(hint().contains(QStringLiteral("%1 (chosen from the words): decodes all 4").arg(chosen)), qPrintable(hint()));
        QCOMPARE(cell(1), QStringLiteral("gsSPVertex(0x06000000, 32, 0)"));
        ucode->setCurrentText(QStringLiteral("f3d"));
        QCOMPARE(hint(), QStringLiteral("1 of 4 commands are invalid as f3d; %1 decodes all 4").arg(chosen));
        QVERIFY(cell(1).startsWith(QStringLiteral("gsSPMatrix")));
        QVERIFY(window()->model()->index(3, 2).data(Qt::ToolTipRole).toString().startsWith(QStringLiteral("Invalid")));
        select(0);
        QVERIFY(!control<QAction>(window(), QStringLiteral("ClassicAction"))->isEnabled() ||
                cell(0) == QStringLiteral("gsDPPipeSync()"));
        ucode->setCurrentIndex(0);
        QCOMPARE(cell(1), QStringLiteral("gsSPVertex(0x06000000, 32, 0)"));
    }

    void dynamicMacrosUseThePointer()
    {
        open();
        paste(kMesh);
        control<QComboBox>(window(), QStringLiteral("Style"))->setCurrentIndex(1);
        auto *pointer = control<QLineEdit>(window(), QStringLiteral("Pointer"));
        pointer->setText(QStringLiteral("glistp++"));
        emit pointer->editingFinished();
        QCOMPARE(cell(0), QStringLiteral("gDPPipeSync(glistp++)"));
    }

    void foldingAndUnfolding()
    {
        open();
        // gsDPLoadTextureBlock(0x06000000, G_IM_FMT_RGBA, G_IM_SIZ_16b, 32, 32, 0, ...) between a sync and the end.
        paste(QStringLiteral("E7000000 00000000\n"
                             "FD100000 06000000\nF5100000 07014050\nE6000000 00000000\nF3000000 073FF100\n"
                             "E7000000 00000000\nF5101000 00014050\nF2000000 0007C07C\n"
                             "DF000000 00000000\n"));
        QCOMPARE(rows(), 3);
        QVERIFY2(cell(1).startsWith(QStringLiteral("gsDPLoadTextureBlock(0x06000000")), qPrintable(cell(1)));
        table()->doubleClicked(window()->model()->index(1, 0));
        QCOMPARE(rows(), 9);
        QVERIFY(cell(1).startsWith(QStringLiteral("gsDPSetTextureImage")));
        table()->doubleClicked(window()->model()->index(4, 0));
        QCOMPARE(rows(), 3);
        control<QCheckBox>(window(), QStringLiteral("Fold"))->setChecked(false);
        QCOMPARE(rows(), 9);
    }

    void filterFindsRowsByMacroOrWords()
    {
        open();
        paste(kMesh);
        QTest::keyClick(table(), Qt::Key_F, Qt::ControlModifier);
        auto *filter = control<QLineEdit>(window(), QStringLiteral("Filter"));
        QVERIFY(filter->hasFocus());
        QTest::keyClicks(filter, QStringLiteral("vertex"));
        QTRY_COMPARE(rows(), 1);
        QCOMPARE(cell(0), QStringLiteral("gsSPVertex(0x06000000, 32, 0)"));
        filter->setText(QStringLiteral("df000000 00000000"));
        QTRY_COMPARE(cell(0), QStringLiteral("gsSPEndDisplayList()"));
        QCOMPARE(rows(), 1);
        filter->clear();
        QTRY_COMPARE(rows(), 4);
    }

    // --- Editing -------------------------------------------------------------------------

    void editingAnArgumentChangesTheWords_data()
    {
        QTest::addColumn<QString>("list");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("words");
        QTest::addColumn<QString>("macro");
        QTest::newRow("spin box") << "01020040 06000000" << "arg1" << "16" << "01010020 06000000"
                                  << "gsSPVertex(0x06000000, 16, 0)";
        QTest::newRow("address") << "01020040 06000000" << "arg0" << "0x06000100" << "01020040 06000100"
                                 << "gsSPVertex(0x06000100, 32, 0)";
        QTest::newRow("named constant") << "F5100000 07000000" << "arg0" << "G_IM_FMT_CI" << "F5500000 07000000"
                                        << "";
        QTest::newRow("tile") << "F5100000 07000000" << "arg4" << "G_TX_RENDERTILE (0)" << "F5100000 00000000" << "";
        QTest::newRow("flag") << "D9FFFFFF 00000004" << "G_ZBUFFER" << "on" << "D9FFFFFF 00000005"
                              << "gsSPSetGeometryMode(G_ZBUFFER | G_SHADE)";
        QTest::newRow("clamp flag") << "F5100000 07000000" << "G_TX_CLAMP" << "on" << "F5100000 07080000" << "";
        QTest::newRow("colour channel") << "FA000000 FF0000FF" << "arg2" << "0" << "FA000000 000000FF"
                                        << "gsDPSetPrimColor(0, 0, 0, 0, 0, 255)";
        QTest::newRow("render-mode flag") << "E200001C 00552078" << "Z_UPD" << "off" << "E200001C 00552058" << "";
        QTest::newRow("blender input") << "E200001C 00552078" << "m1a_cycle_1" << "G_BL_CLR_FOG" << "E200001C C0552078"
                                       << "";
        QTest::newRow("render-mode preset") << "E200001C 00552078" << "RenderPreset1" << "G_RM_ZB_OPA_SURF" << "" << "";
        QTest::newRow("combiner input") << "FC127E24 FFFFF9FC" << "arg3" << "SHADE" << "" << "";
        QTest::newRow("combine preset") << "FC127E24 FFFFF9FC" << "CombinePreset2" << "G_CC_PASS2" << ""
                                        << "gsDPSetCombineMode(G_CC_MODULATEI, G_CC_PASS2)";
        QTest::newRow("raw word") << "E7000000 00000000" << "w1_0" << "12345678" << "E7000000 12345678" << "";
    }

    void editingAnArgumentChangesTheWords()
    {
        QFETCH(QString, list);
        QFETCH(QString, name);
        QFETCH(QString, value);
        QFETCH(QString, words);
        QFETCH(QString, macro);
        open();
        paste(QStringLiteral("E7000000 00000000\n") + list + QStringLiteral("\nDF000000 00000000\n"));
        select(1);
        const QString before = this->words(1);
        QWidget *w = editor<QWidget>(name);
        QVERIFY2(w, qPrintable(name));
        if (auto *spin = qobject_cast<QSpinBox *>(w)) {
            spin->setValue(value.toInt());
        } else if (auto *combo = qobject_cast<QComboBox *>(w)) {
            const int at = combo->findText(value, Qt::MatchStartsWith);
            QVERIFY2(at >= 0, qPrintable(value));
            combo->setCurrentIndex(at);
        } else if (auto *check = qobject_cast<QCheckBox *>(w)) {
            QCOMPARE(check->isChecked(), value != QLatin1String("on"));
            QTest::mouseClick(check, Qt::LeftButton);
        } else if (auto *edit = qobject_cast<QLineEdit *>(w)) {
            edit->setText(value);
            emit edit->editingFinished();
        }
        if (!words.isEmpty())
            QCOMPARE(this->words(1), words);
        else
            QVERIFY(this->words(1) != before);
        if (!macro.isEmpty())
            QCOMPARE(cell(1), macro);
        QCOMPARE(window()->model()->index(1, 2).data(Qt::BackgroundRole).value<QBrush>().color(), QColor(255, 243, 186));
        QVERIFY(message().isEmpty());
    }

    void colourSwatchSetsAllFourChannels()
    {
        open();
        paste(QStringLiteral("FB000000 FF0000FF"));
        select(0);
        editor<QToolButton>(QStringLiteral("Colour"))->click();
        auto *dialog = window()->findChild<QColorDialog *>(QStringLiteral("ColourDialog"));
        QVERIFY(dialog && dialog->isVisible());
        dialog->setCurrentColor(QColor(0x10, 0x20, 0x30, 0x40));
        dialog->accept();
        QCOMPARE(words(0), QStringLiteral("FB000000 10203040"));
    }

    void anEditNoMacroCanHoldIsRefusedWithTheReason()
    {
        open();
        paste(QStringLiteral("D7000002 FFFFFFFF\n"));  // f3dex2 gsSPTexture(0xFFFF, 0xFFFF, 0, 0, G_ON)
        select(0);
        auto *s = editor<QLineEdit>(QStringLiteral("arg0"));
        QVERIFY(s);
        s->setText(QStringLiteral("0x12345"));
        emit s->editingFinished();
        QCOMPARE(words(0), QStringLiteral("D7000002 FFFFFFFF"));
        QVERIFY2(message().contains(QStringLiteral("does not fit gsSPTexture")), qPrintable(message()));
        QCOMPARE(editor<QLineEdit>(QStringLiteral("arg0"))->text(), QStringLiteral("0xFFFF"));
        QCOMPARE(window()->undoStack()->count(), 1);  // only the paste
    }

    void undoAndRedoEveryEdit()
    {
        open();
        paste(kMesh);
        select(1);
        editor<QSpinBox>(QStringLiteral("arg1"))->setValue(8);
        editor<QSpinBox>(QStringLiteral("arg1"))->setValue(9);  // merges with the edit before
        auto *v = editor<QLineEdit>(QStringLiteral("arg0"));
        v->setText(QStringLiteral("0x06000200"));
        emit v->editingFinished();
        QCOMPARE(words(1), QStringLiteral("01009012 06000200"));
        QTest::keyClick(table(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(words(1), QStringLiteral("01009012 06000000"));
        QTest::keyClick(table(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(words(1), QStringLiteral("01020040 06000000"));
        QVERIFY(!window()->model()->index(1, 2).data(Qt::BackgroundRole).isValid());  // no longer marked
        QTest::keyClick(table(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QTest::keyClick(table(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(words(1), QStringLiteral("01009012 06000200"));
        QCOMPARE(editor<QSpinBox>(QStringLiteral("arg1"))->value(), 9);
        window()->undoStack()->setIndex(0);
        QCOMPARE(rows(), 0);
    }

    void editingAFoldedMacroRewritesAllItsCommands()
    {
        open();
        paste(QStringLiteral("FD100000 06000000\nF5100000 07014050\nE6000000 00000000\nF3000000 073FF100\n"
                             "E7000000 00000000\nF5101000 00014050\nF2000000 0007C07C\n"));
        QCOMPARE(rows(), 1);
        select(0);
        editor<QSpinBox>(QStringLiteral("arg3"))->setValue(16);  // width
        QVERIFY2(cell(0).startsWith(QStringLiteral("gsDPLoadTextureBlock(0x06000000, G_IM_FMT_RGBA, G_IM_SIZ_16b, 16, 32")),
                 qPrintable(cell(0)));
        QCOMPARE(rows(), 1);
    }

    // --- Typing macros, inserting and deleting ------------------------------------------

    void typingAMacroReencodesTheRow_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("rowsAfter");
        QTest::addColumn<QString>("words");
        QTest::addColumn<QString>("macro");
        QTest::newRow("same command, new value") << "gsSPVertex(0x06000100, 16, 0)" << 4 << "01010020 06000100"
                                                 << "gsSPVertex(0x06000100, 16, 0)";
        QTest::newRow("another command") << "gsDPSetPrimColor(0, 0, 1, 2, 3, 4)," << 4 << "FA000000 01020304"
                                         << "gsDPSetPrimColor(0, 0, 1, 2, 3, 4)";
        QTest::newRow("dynamic form") << "gDPSetEnvColor(glistp++, 255, 0, 0, 255);" << 4 << "FB000000 FF0000FF"
                                      << "gsDPSetEnvColor(255, 0, 0, 255)";
        QTest::newRow("idiom becomes one folded row")
            << "gsDPLoadTextureBlock(0x06000000, G_IM_FMT_RGBA, G_IM_SIZ_16b, 32, 32, 0, G_TX_WRAP, G_TX_WRAP, 5, 5, 0, 0)"
            << 4 << "FD100000 06000000" << "gsDPLoadTextureBlock(0x06000000, G_IM_FMT_RGBA, G_IM_SIZ_16b, 32, 32";
    }

    void typingAMacroReencodesTheRow()
    {
        QFETCH(QString, typed);
        QFETCH(int, rowsAfter);
        QFETCH(QString, words);
        QFETCH(QString, macro);
        open();
        paste(kMesh);
        const QModelIndex index = window()->model()->index(1, DisplayListModel::MacroColumn);
        QVERIFY(index.flags() & Qt::ItemIsEditable);
        QVERIFY(!(window()->model()->index(1, DisplayListModel::WordsColumn).flags() & Qt::ItemIsEditable));
        QVERIFY(window()->model()->setData(index, typed));
        QTRY_COMPARE(this->words(1).left(17), words);
        QCOMPARE(rows(), rowsAfter);
        QVERIFY2(cell(1).startsWith(macro), qPrintable(cell(1)));
        QCOMPARE(cell(0), QStringLiteral("gsDPPipeSync()"));
        QCOMPARE(cell(2), QStringLiteral("gsSP1Triangle(0, 1, 2, 0)"));
        QVERIFY2(message().isEmpty(), qPrintable(message()));
        QCOMPARE(window()->undoStack()->count(), 2);
        trigger("UndoAction");
        QCOMPARE(this->words(1), QStringLiteral("01020040 06000000"));
        trigger("RedoAction");
        QCOMPARE(this->words(1).left(17), words);
    }

    void anInvalidMacroChangesNothingAndSaysWhere_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("says");
        QTest::newRow("unknown macro") << "gsDPNoSuchThing(1)" << "Column 1";
        QTest::newRow("bad argument") << "gsSPVertex(0x06000000, 32, )" << "Column ";
        QTest::newRow("empty") << "   " << "Type a macro";
    }

    void anInvalidMacroChangesNothingAndSaysWhere()
    {
        QFETCH(QString, typed);
        QFETCH(QString, says);
        open();
        paste(kMesh);
        QVERIFY(!window()->model()->setData(window()->model()->index(1, DisplayListModel::MacroColumn), typed));
        QCoreApplication::processEvents();
        QCOMPARE(words(1), QStringLiteral("01020040 06000000"));
        QCOMPARE(rows(), 4);
        QVERIFY2(message().contains(says), qPrintable(message()));
        QCOMPARE(window()->undoStack()->count(), 1); // only the paste
    }

    void f2EditsTheMacroCellAndDoubleClickElsewhereStillFolds()
    {
        open();
        paste(kMesh);
        select(0);
        QTest::keyClick(table(), Qt::Key_F2);
        auto *edit = qobject_cast<QLineEdit *>(QApplication::focusWidget());
        QVERIFY(edit);
        QCOMPARE(edit->text(), QStringLiteral("gsDPPipeSync()"));
        edit->setText(QStringLiteral("gsDPTileSync()"));
        QTest::keyClick(edit, Qt::Key_Return);
        QTRY_COMPARE(words(0), QStringLiteral("E8000000 00000000"));
        // A double-click on the macro column edits rather than folds.
        table()->doubleClicked(window()->model()->index(1, DisplayListModel::MacroColumn));
        QCOMPARE(rows(), 4);
    }

    void insertAndDeleteRowsUndoably()
    {
        open();
        paste(kMesh);
        select(1);
        QTest::keyClick(table(), Qt::Key_Insert);
        auto *line = control<QLineEdit>(window(), QStringLiteral("InsertLine"));
        QVERIFY(line->isVisible());
        QTRY_VERIFY(line->hasFocus());
        QTest::keyClicks(line, QStringLiteral("gsDPSetPrimColor(0, 0, 1, 2"));
        QTest::keyClick(line, Qt::Key_Return);
        QVERIFY(line->isVisible()); // an error keeps the line open
        QVERIFY2(message().contains(QStringLiteral("Column")), qPrintable(message()));
        QCOMPARE(rows(), 4);
        line->setText(QStringLiteral("gsDPSetPrimColor(0, 0, 1, 2, 3, 4)"));
        QTest::keyClick(line, Qt::Key_Return);
        QVERIFY(!line->isVisible());
        QCOMPARE(rows(), 5);
        QCOMPARE(words(2), QStringLiteral("FA000000 01020304"));
        QCOMPARE(window()->model()->documentRow(table()->currentIndex().row()), std::size_t{2});

        // Two separate rows go in one step.
        table()->selectionModel()->select(window()->model()->index(0, 0),
                                          QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        table()->selectionModel()->select(window()->model()->index(3, 0),
                                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
        table()->setFocus();
        QTest::keyClick(table(), Qt::Key_Delete);
        QCOMPARE(rows(), 3);
        QCOMPARE(cell(0), QStringLiteral("gsSPVertex(0x06000000, 32, 0)"));
        QCOMPARE(cell(1), QStringLiteral("gsDPSetPrimColor(0, 0, 1, 2, 3, 4)"));
        QCOMPARE(cell(2), QStringLiteral("gsSPEndDisplayList()"));

        QTest::keyClick(table(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(rows(), 5);
        QCOMPARE(cell(0), QStringLiteral("gsDPPipeSync()"));
        QCOMPARE(cell(3), QStringLiteral("gsSP1Triangle(0, 1, 2, 0)"));
        QTest::keyClick(table(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(rows(), 4);
        QCOMPARE(words(2), QStringLiteral("05000204 00000000"));
        QTest::keyClick(table(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QTest::keyClick(table(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(rows(), 3);
        QCOMPARE(words(1), QStringLiteral("FA000000 01020304"));
    }

    // --- Checks: markers, the Findings list and the State panel ---------------------------

    QTreeWidget *findingsList() { return control<QTreeWidget>(window(), QStringLiteral("Findings")); }
    QString statePanel() { return control<QPlainTextEdit>(window(), QStringLiteral("StatePanel"))->toPlainText(); }
    // The rule ids the Findings list shows at an entry.
    QStringList rulesAt(std::size_t entry)
    {
        QStringList out;
        for (int i = 0; i < findingsList()->topLevelItemCount(); ++i) {
            const QTreeWidgetItem *item = findingsList()->topLevelItem(i);
            if (item->data(0, Qt::UserRole).isValid() && item->data(0, Qt::UserRole).toULongLong() == entry)
                out << item->text(1);
        }
        return out;
    }

    void findingsMarkTheRowsThatHaveThem_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("rule");
        QTest::addColumn<int>("severity");
        QTest::newRow("missing pipe sync") << 4 << "sync-pipe" << 2;              // an error
        QTest::newRow("vertex never loaded") << 5 << "tri-index-unloaded" << 1;   // a warning
    }

    void findingsMarkTheRowsThatHaveThem()
    {
        QFETCH(int, row);
        QFETCH(QString, rule);
        QFETCH(int, severity);
        open();
        paste(kFaulty);
        QTRY_VERIFY(!window()->checking());
        QVERIFY2(rulesAt(std::size_t(row)).contains(rule), qPrintable(rulesAt(std::size_t(row)).join(',')));
        const QModelIndex where = window()->model()->index(row, DisplayListModel::WhereColumn);
        QVERIFY(where.data(Qt::DecorationRole).isValid());
        QCOMPARE(window()->model()->worstSeverity(std::size_t(row)), severity);
        QVERIFY2(where.data(Qt::ToolTipRole).toString().contains(rule), qPrintable(where.data(Qt::ToolTipRole).toString()));
        // The first command sets a mode before any draw: nothing to say.
        QVERIFY(!window()->model()->index(0, DisplayListModel::WhereColumn).data(Qt::DecorationRole).isValid());
        // The inspector explains the selected row's findings too.
        select(row);
        QVERIFY(control<QWidget>(window(), QStringLiteral("ArgumentInspector"))->findChildren<QLabel *>().size() > 0);
        bool explained = false;
        for (const QLabel *label : control<QWidget>(window(), QStringLiteral("ArgumentInspector"))->findChildren<QLabel *>())
            explained |= label->text().contains(rule);
        QVERIFY(explained);
    }

    void editsRecheckAndClickingAFindingSelectsItsRow()
    {
        open();
        paste(kFaulty);
        QTRY_VERIFY(!window()->checking());
        select(0);
        QTreeWidgetItem *item = nullptr;
        for (int i = 0; i < findingsList()->topLevelItemCount() && !item; ++i)
            if (findingsList()->topLevelItem(i)->text(1) == QLatin1String("tri-index-unloaded"))
                item = findingsList()->topLevelItem(i);
        QVERIFY(item);
        findingsList()->scrollToItem(item);
        QTest::mouseClick(findingsList()->viewport(), Qt::LeftButton, {},
                          findingsList()->visualItemRect(item).center());
        QCOMPARE(table()->currentIndex().row(), 5);

        // A pipe sync typed in before the second combiner clears that finding.
        select(3);
        trigger("InsertAction");
        auto *line = control<QLineEdit>(window(), QStringLiteral("InsertLine"));
        line->setText(QStringLiteral("gsDPPipeSync()"));
        QTest::keyClick(line, Qt::Key_Return);
        QCOMPARE(words(4), QStringLiteral("E7000000 00000000"));
        QTRY_VERIFY(!window()->checking());
        QVERIFY(!rulesAt(5).contains(QStringLiteral("sync-pipe")));
        QVERIFY(rulesAt(6).contains(QStringLiteral("tri-index-unloaded")));
        trigger("UndoAction");
        QTRY_VERIFY(!window()->checking());
        QVERIFY(rulesAt(4).contains(QStringLiteral("sync-pipe")));
    }

    void statePanelShowsTheStateAfterTheSelectedRow_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<QStringList>("shows");
        QTest::addColumn<QStringList>("hides");
        QTest::newRow("before the combiner")
            << 0 << QStringList{"Cycle type: G_CYC_2CYCLE", "Combiner: not set", "Vertices loaded: 0 of 32"}
            << QStringList{"colour = "};
        QTest::newRow("after the combiner")
            << 1 << QStringList{"Cycle type: G_CYC_2CYCLE", "Combiner (set at 0x0008)", "colour = (TEXEL0 - 0) * SHADE + 0"}
            << QStringList{"Combiner: not set"};
        QTest::newRow("after the vertices") << 2 << QStringList{"Vertices loaded: 4 of 32 slots (0-3)"} << QStringList{};
        QTest::newRow("unknown modes stay unknown")
            << 0 << QStringList{"Render mode: unknown", "Geometry mode (not set): none", "filter: ?",
                           "Other modes, low word: not set"}
            << QStringList{"alpha compare"};
    }

    void statePanelShowsTheStateAfterTheSelectedRow()
    {
        QFETCH(int, row);
        QFETCH(QStringList, shows);
        QFETCH(QStringList, hides);
        open();
        paste(kFaulty);
        QTRY_VERIFY(!window()->checking());
        select(row);
        const QString text = statePanel();
        for (const QString &s : shows)
            QVERIFY2(text.contains(s), qPrintable(s + QStringLiteral("\n---\n") + text));
        for (const QString &s : hides)
            QVERIFY2(!text.contains(s), qPrintable(s + QStringLiteral("\n---\n") + text));
    }

    // --- Classic windows ---------------------------------------------------------

    void openInClassicWindow_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("form");
        QTest::addColumn<QString>("hex");
        QTest::newRow("geometry mode") << "B7000000 00000001" << "GM" << "B700000000000001";
        QTest::newRow("render mode") << "B900031D 00552078" << "RM" << "00552078";
        QTest::newRow("combiner") << "FC127E24 FFFFF9FC" << "CC" << "FC127E24FFFFF9FC";
        QTest::newRow("other mode high") << "BA001402 00100000" << "OM_H" << "BA00140200100000";
        QTest::newRow("texture") << "BB000001 FFFFFFFF" << "G_Texture" << "BB000001";
        QTest::newRow("set tile") << "F5100000 07000000" << "SetTile" << "F510000007000000";
    }

    void openInClassicWindow()
    {
        QFETCH(QString, command);
        QFETCH(QString, form);
        QFETCH(QString, hex);
        open();
        control<QComboBox>(window(), QStringLiteral("Ucode"))->setCurrentText(QStringLiteral("f3d"));
        paste(command + QStringLiteral("\nB8000000 00000000"));
        select(0);
        QAction *classic = control<QAction>(window(), QStringLiteral("ClassicAction"));
        QVERIFY2(classic->isEnabled(), qPrintable(classic->toolTip()));
        classic->trigger();
        QWidget *target = findWindow(form);
        QVERIFY(target && target->isVisible());
        // "Info" ran: the hex went in and came out as the window's binary.
        const QString text = control<QLineEdit>(target, QStringLiteral("Text1"))->text();
        QCOMPARE(text, binaryOf(hex).right(text.size()));
        if (form == QLatin1String("GM"))
            QVERIFY(control<QCheckBox>(target, QStringLiteral("ZBUFF"))->isChecked());
        QCOMPARE(boxes_->seen().size(), 0);
    }

    void classicWindowsNeedAnF3dLayout()
    {
        open();
        paste(QStringLiteral("E3001001 00008000\nDF000000 00000000"));
        select(0);
        QAction *classic = control<QAction>(window(), QStringLiteral("ClassicAction"));
        QVERIFY(!classic->isEnabled());
        QVERIFY(classic->toolTip().contains(QStringLiteral("F3D and F3DEX")));
        control<QComboBox>(window(), QStringLiteral("Ucode"))->setCurrentText(QStringLiteral("f3dex"));
        paste(QStringLiteral("E7000000 00000000"), "PasteReplacingAction");
        select(0);
        QVERIFY(!classic->isEnabled());
        QVERIFY(classic->toolTip().contains(QStringLiteral("B7, B9")));
    }

    // --- Copying and saving --------------------------------------------------------

    void copyFormats_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("text");
        QTest::newRow("static") << "CopyAction" << "gsDPPipeSync(),\ngsSPVertex(0x06000000, 32, 0),\n";
        QTest::newRow("dynamic") << "CopyDynamicAction"
                                 << "gDPPipeSync(gDisplayListHead++);\ngSPVertex(gDisplayListHead++, 0x06000000, 32, 0);\n";
        QTest::newRow("hex") << "CopyHexAction" << "E7000000 00000000\n01020040 06000000\n";
        QTest::newRow("C words") << "CopyCWordsAction" << "{{0xE7000000, 0x00000000}},\n{{0x01020040, 0x06000000}},\n";
    }

    void copyFormats()
    {
        QFETCH(QString, action);
        QFETCH(QString, text);
        open();
        paste(kMesh);
        select(0);
        table()->selectionModel()->select(window()->model()->index(1, 0),
                                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
        if (action == QLatin1String("CopyAction"))
            QTest::keyClick(table(), Qt::Key_C, Qt::ControlModifier);  // the window's copy, not the view's
        else
            trigger(action.toLatin1().constData());
        QCOMPARE(QGuiApplication::clipboard()->text(), text);
    }

    void saveWritesOnlyWhenAskedAndReadsBack()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("mesh.c"));
        open();
        paste(kMesh);
        QVERIFY(QDir(dir.path()).entryList(QDir::Files).isEmpty());
        QTest::keyClick(table(), Qt::Key_S, Qt::ControlModifier);
        chooseFile("SaveDialog", path);
        QVERIFY2(message().startsWith(QStringLiteral("Saved 4 commands")), qPrintable(message()));
        window()->openFile(path);
        waitRead();
        QCOMPARE(rows(), 4);
        QCOMPARE(words(1), QStringLiteral("01020040 06000000"));
    }

    void segmentsAndSymbolsNameAddresses()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("game.map"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("gMeshVtx = 0x80200000;\nnot a symbol line here at all\n");
        file.close();
        open();
        paste(kMesh);
        trigger("SymbolsAction");
        chooseFile("SymbolsDialog", path);
        QVERIFY2(message().contains(QStringLiteral("Read 1 symbol")), qPrintable(message()));
        QCOMPARE(cell(1), QStringLiteral("gsSPVertex(0x06000000, 32, 0)"));
        trigger("SegmentsAction");
        auto *dialog = window()->findChild<QDialog *>(QStringLiteral("SegmentsDialog"));
        QVERIFY(dialog && dialog->isVisible());
        dialog->findChild<QTableWidget *>(QStringLiteral("SegmentTable"))->item(6, 0)->setText(QStringLiteral("80200000"));
        dialog->accept();
        QCOMPARE(cell(1), QStringLiteral("gsSPVertex(gMeshVtx, 32, 0)"));
    }

    // --- Size ------------------------------------------------------------------------

    void aQuarterMillionCommandsStayResponsive()
    {
        open();
        QByteArray text;
        text.reserve(250000 * 18);
        for (int i = 0; i < 250000; ++i)
            text += i % 2 ? "05000204 00000000\n" : "01020040 06000000\n";
        auto *mime = new QMimeData;
        mime->setData(QStringLiteral("text/plain"), text);
        QGuiApplication::clipboard()->setMimeData(mime);
        trigger("PasteAction");
        waitRead();
        QCOMPARE(rows(), 250000);
        QElapsedTimer clock;
        clock.start();
        select(249999);
        table()->scrollToBottom();
        QCOMPARE(cell(249999), QStringLiteral("gsSP1Triangle(0, 1, 2, 0)"));
        editor<QSpinBox>(QStringLiteral("arg0"))->setValue(3);
        QCOMPARE(words(249999), QStringLiteral("05060204 00000000"));
        QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    }
};

QTEST_MAIN(DisplayListWindowTest)
#include "display_list_window_test.moc"
