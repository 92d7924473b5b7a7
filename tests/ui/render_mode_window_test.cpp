#include "ui/window_slots.h"
#include "window_test_support.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <functional>

using namespace dlscope;
using namespace dlscope::test;

namespace {

const QString kDefaultWord = QStringLiteral("00001100000110000010000001111000");
const QString kTexEdge = QStringLiteral("Tex Edge Found!");
const QString kNotHex = QStringLiteral("this is not hex");
const QString kGuard = QStringLiteral("Please Enter the Full Binary of the Lower Word");
const QString kCoverageTip = QStringLiteral(
    "Coverage from 0.0 to 1.0 If Wrap it will cycle again at limit. If Clamp it will stop, If Full it will always be "
    "1, If Save it will not be updated");

const QStringList kFlags = {"chkAA",    "chkZ_CMP", "chkZ_UPD", "chkIM_RD", "chkC_CVG",
                            "chkCVGxA", "chkA_CVG", "chkFC_BL", "chkTEX_E"};
// First cycle a b c d, then the second.
const QStringList kBlendBoxes = {"a0", "b0", "c0", "d0", "a1", "b1", "c1", "d1"};
const QStringList kCopies = {"b01", "d01", "b11", "d11"};

const QStringList kDesigned = {"a", "b", "c", "d", "a", "b", "c", "d"};
const QStringList kDefaultNames = {"CLR_IN", "0.0", "CLR_IN", "1.0", "CLR_IN", "A_IN", "CLR_MEM", "1-A"};
const QStringList kZeroNames = {"CLR_IN", "A_IN", "CLR_IN", "1-A", "CLR_IN", "A_IN", "CLR_IN", "1-A"};
const QStringList kDefaultFlags = {"chkAA", "chkZ_CMP", "chkZ_UPD", "chkIM_RD", "chkA_CVG"};

// Calls `record` whenever a message box is shown, while the box is up.
class ShowWatcher : public QObject {
public:
    explicit ShowWatcher(std::function<void(const QString &)> record) : record_(std::move(record))
    {
        qApp->installEventFilter(this);
    }
    ~ShowWatcher() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show)
            if (auto *box = qobject_cast<QMessageBox *>(watched))
                record_(box->text());
        return false;
    }

private:
    std::function<void(const QString &)> record_;
};

} // namespace

class RenderModeWindowTest : public QObject {
    Q_OBJECT

    MessageBoxScript *boxes_ = nullptr;
    QWidget *rm_ = nullptr;

    QLineEdit *edit(const QString &name) { return control<QLineEdit>(rm_, name); }
    QComboBox *list(const QString &name) { return control<QComboBox>(rm_, name); }
    QLineEdit *text() { return edit(QStringLiteral("Text1")); }
    QString counter() { return control<QLabel>(rm_, QStringLiteral("Label1"))->text(); }
    void pressInfo() { control<QPushButton>(rm_, QStringLiteral("Command1"))->click(); }
    QStringList texts(const QStringList &names)
    {
        QStringList result;
        for (const QString &name : names)
            result << edit(name)->text();
        return result;
    }
    void setTexts(const QStringList &names, const QStringList &values)
    {
        for (qsizetype i = 0; i < names.size(); ++i)
            edit(names[i])->setText(values[i]);
    }
    QStringList checked()
    {
        QStringList names;
        for (const QString &name : kFlags)
            if (control<QCheckBox>(rm_, name)->isChecked())
                names << name;
        return names;
    }

private slots:
    void init()
    {
        boxes_ = new MessageBoxScript;
        rm_ = WindowSlots::showAndActivate(ToolWindow::RenderMode);
        QVERIFY(rm_);
    }

    void cleanup() { finishWindowTest(boxes_); }

    void designedContents()
    {
        QCOMPARE(rm_->objectName(), QStringLiteral("RM"));
        QCOMPARE(rm_->windowTitle(), QStringLiteral("RenderMode"));
        QCOMPARE(text()->text(), kDefaultWord);
        QCOMPARE(text()->maxLength(), 32);
        QCOMPARE(counter(), QStringLiteral("32"));
        QCOMPARE(control<QPushButton>(rm_, QStringLiteral("Command1"))->text(), QStringLiteral("Info"));

        const QList<QPair<QString, QString>> frames = {{"Frame1", "Binary Input Lower Word"},
                                                       {"Frame2", "Flags"},
                                                       {"Frame3", "MUX1"},
                                                       {"Frame4", "MUX2"}};
        for (const auto &[name, caption] : frames) {
            QVERIFY2(control<QGroupBox>(rm_, name), qPrintable(name));
            QCOMPARE(control<QGroupBox>(rm_, name)->title(), caption);
        }
        const QStringList captions = {"Anti-Ailise",        "Z_Compare",        "Z_Update",
                                      "Image Read (AA)",    "Colour On Coverage", "Coverage * Alpha",
                                      "Alpha Coverage",     "Force Blender",    "Texture Edge"};
        for (qsizetype i = 0; i < kFlags.size(); ++i) {
            auto *box = control<QCheckBox>(rm_, kFlags[i]);
            QVERIFY2(box, qPrintable(kFlags[i]));
            QCOMPARE(box->text(), captions[i]);
            QVERIFY(!box->isChecked());
            // The flag boxes sit in the "Flags" frame.
            QCOMPARE(box->parentWidget()->objectName(), QStringLiteral("Frame2"));
        }

        const QList<QPair<QString, QStringList>> lists = {
            {"ZType", {"Z Mode", "OPA", "INTER", "XLU", "DEC"}},
            {"CoverageType", {"Coverage Change", "Clamp", "Wrap", "Full", "Save"}}};
        for (const auto &[name, expected] : lists) {
            QComboBox *combo = list(name);
            QVERIFY2(combo, qPrintable(name));
            QVERIFY(combo->isEditable());
            QCOMPARE(combo->currentText(), expected[0]);
            QStringList entries;
            for (int i = 0; i < combo->count(); ++i)
                entries << combo->itemText(i);
            QCOMPARE(entries, expected.mid(1));
            QVERIFY(combo->toolTip().isEmpty());
        }

        QCOMPARE(texts(kBlendBoxes), kDesigned);
        QCOMPARE(texts(kCopies), (QStringList{"b", "d", "b", "d"}));
        for (const QString &name : kBlendBoxes.mid(0, 4) + QStringList{"b01", "d01"})
            QCOMPARE(edit(name)->parentWidget()->objectName(), QStringLiteral("Frame3"));
        for (const QString &name : kBlendBoxes.mid(4) + QStringList{"b11", "d11"})
            QCOMPARE(edit(name)->parentWidget()->objectName(), QStringLiteral("Frame4"));
        QCOMPARE(edit(QStringLiteral("Text2"))->text(), QStringLiteral("Text2"));
        QCOMPARE(edit(QStringLiteral("Text3"))->text(), QStringLiteral("Text3"));
    }

    void tabOrderFollowsTheLayout()
    {
        QStringList order;
        QWidget *w = text();
        do {
            if (!w->objectName().isEmpty() && (w->focusPolicy() & Qt::TabFocus) && !order.contains(w->objectName()))
                order << w->objectName();
            w = w->nextInFocusChain();
        } while (w != text());
        const QStringList expected = QStringList{"Text1", "Command1"} + kFlags + QStringList{"ZType", "CoverageType"} +
                                     kBlendBoxes.mid(0, 4) + QStringList{"b01", "d01"} + kBlendBoxes.mid(4) +
                                     QStringList{"b11", "d11", "Text2", "Text3"};
        QCOMPARE(order, expected);
    }

    void decode_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QString>("word");  // Text1 afterwards
        QTest::addColumn<QStringList>("flags");
        QTest::addColumn<QString>("zType");
        QTest::addColumn<QString>("coverage");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("macro");

        const QString defaultMacro = QStringLiteral("gDPSetRenderMode(G_RM_PASS, G_RM_AA_ZB_PCL_SURF2),");
        const QString zero(32, QLatin1Char('0'));
        const QString devDefined = QStringLiteral("gDPSetRenderMode(DevDefined, ),");
        const QStringList pcl = {"chkAA", "chkZ_CMP", "chkZ_UPD", "chkIM_RD", "chkFC_BL"};

        QTest::newRow("default") << kDefaultWord << QStringList{} << kDefaultWord << kDefaultFlags << "OPA(que)"
                                 << "CLAMP" << kDefaultNames << defaultMacro;
        QTest::newRow("hex") << "0C184078" << QStringList{} << "00001100000110000100000001111000" << pcl
                             << "OPA(que)" << "CLAMP" << kDefaultNames << defaultMacro;
        QTest::newRow("whole command") << "B90003180C184078" << QStringList{} << "00001100000110000100000001111000"
                                       << pcl << "OPA(que)" << "CLAMP" << kDefaultNames << defaultMacro;
        QTest::newRow("fog shade") << "C8112078" << QStringList{} << "11001000000100010010000001111000"
                                   << kDefaultFlags << "OPA(que)" << "CLAMP"
                                   << QStringList{"CLR_FOG", "A_SHADE", "CLR_IN", "1-A", "CLR_IN", "A_IN", "CLR_MEM",
                                                  "A_MEM"}
                                   << "gDPSetRenderMode(G_RM_FOG_SHADE_A,G_RM_AA_ZB_OPA_SURF2),";
        QTest::newRow("tex edge") << "0C18C078" << QStringList{kTexEdge} << "00001100000110001100000001111000"
                                  << pcl + QStringList{"chkTEX_E"} << "OPA(que)" << "CLAMP" << kDefaultNames
                                  << defaultMacro;
        QTest::newRow("inter") << "0C184478" << QStringList{} << "00001100000110000100010001111000" << pcl
                               << "INTER(penatrating)" << "CLAMP" << kDefaultNames
                               << "gDPSetRenderMode(G_RM_PASS, DevDefined2),";
        QTest::newRow("decal save") << "0C184F78" << QStringList{} << "00001100000110000100111101111000" << pcl
                                    << "DECAL" << "SAVE" << kDefaultNames
                                    << "gDPSetRenderMode(G_RM_PASS, G_RM_ZB_OVL_SURF2),";
        QTest::newRow("short binary") << "1" << QStringList{} << zero.left(31) + "1" << QStringList{} << "OPA(que)"
                                      << "CLAMP" << kZeroNames << devDefined;
        QTest::newRow("empty") << "" << QStringList{} << zero << QStringList{} << "OPA(que)" << "CLAMP" << kZeroNames
                               << devDefined;
        QTest::newRow("lower-case hex") << "0c184078" << QStringList{kNotHex} << zero << QStringList{} << "OPA(que)"
                                        << "CLAMP" << kZeroNames << devDefined;
    }

    void decode()
    {
        QFETCH(QString, typed);
        QFETCH(QStringList, messages);
        QFETCH(QString, word);
        QFETCH(QStringList, flags);
        QFETCH(QString, zType);
        QFETCH(QString, coverage);
        QFETCH(QStringList, names);
        QFETCH(QString, macro);

        // Whatever the window showed before is overwritten.
        for (const QString &name : kFlags)
            control<QCheckBox>(rm_, name)->setChecked(!flags.contains(name));
        setTexts(kCopies, {"x", "x", "x", "x"});

        text()->setText(typed);
        boxes_->answerOk(static_cast<int>(messages.size()));
        QTest::keyClick(text(), Qt::Key_Return);  // Enter presses "Info"

        QCOMPARE(boxes_->texts(), messages);
        for (const SeenBox &box : boxes_->seen())
            QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(text()->text(), word);
        QCOMPARE(counter(), QString::number(word.size()));
        QCOMPARE(checked(), flags);
        QCOMPARE(list(QStringLiteral("ZType"))->currentText(), zType);
        QCOMPARE(list(QStringLiteral("CoverageType"))->currentText(), coverage);
        QCOMPARE(texts(kBlendBoxes), names);
        QCOMPARE(texts(kCopies), (QStringList{names[1], names[3], names[5], names[7]}));
        QCOMPARE(edit(QStringLiteral("Text2"))->text(), macro);
        QCOMPARE(edit(QStringLiteral("Text3"))->text(), QStringLiteral("Text3"));
        QVERIFY(list(QStringLiteral("CoverageType"))->toolTip().isEmpty());
    }

    // The texture-edge notice comes right after the flags: while it is up the
    // check boxes show the new word, the lists and blender boxes the old.
    void texEdgeNoticeBeforeTheBlenderBoxesChange()
    {
        QStringList flagsWhileShown, blendWhileShown;
        QString zWhileShown, coverageWhileShown, macroWhileShown;
        int shown = 0;
        ShowWatcher watcher([&](const QString &message) {
            if (message != kTexEdge)
                return;
            ++shown;
            flagsWhileShown = checked();
            blendWhileShown = texts(kBlendBoxes + kCopies);
            zWhileShown = list(QStringLiteral("ZType"))->currentText();
            coverageWhileShown = list(QStringLiteral("CoverageType"))->currentText();
            macroWhileShown = edit(QStringLiteral("Text2"))->text();
        });

        text()->setText(QStringLiteral("0C18C078"));
        boxes_->answerOk();
        pressInfo();
        QCOMPARE(shown, 1);
        QCOMPARE(flagsWhileShown, (QStringList{"chkAA", "chkZ_CMP", "chkZ_UPD", "chkIM_RD", "chkFC_BL", "chkTEX_E"}));
        QCOMPARE(blendWhileShown, kDesigned + QStringList({"b", "d", "b", "d"}));
        QCOMPARE(zWhileShown, QStringLiteral("Z Mode"));
        QCOMPARE(coverageWhileShown, QStringLiteral("Coverage Change"));
        QCOMPARE(macroWhileShown, QStringLiteral("Text2"));
        QCOMPARE(texts(kBlendBoxes), kDefaultNames);

        // Once per press: the next press shows it once more.
        boxes_->answerOk();
        pressInfo();
        QCOMPARE(shown, 2);
        QCOMPARE(boxes_->texts(), (QStringList{kTexEdge, kTexEdge}));
    }

    // A word of the wrong length cannot be typed (the box takes 32 characters
    // and shorter binary is padded), so the test widens the box to reach the
    // length message: nothing is decoded, but the copies and the macro text
    // are made from what the blender boxes hold.
    void wrongLength_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("macro");
        QTest::newRow("designed") << kDesigned << "gDPSetRenderMode(DevDefined, ),";
        QTest::newRow("pass stage") << QStringList{"CLR_IN", "0.0", "CLR_IN", "1.0", "CLR_IN", "A_IN", "CLR_MEM", "1-A"}
                                    << "gDPSetRenderMode(G_RM_PASS, DevDefined2),";
        QTest::newRow("opaque, flags ignored")
            << QStringList{"CLR_IN", "A_IN", "CLR_MEM", "A_MEM", "CLR_IN", "A_IN", "CLR_MEM", "A_MEM"}
            << "gDPSetRenderMode(DevDefined, ),";
    }

    void wrongLength()
    {
        QFETCH(QStringList, names);
        QFETCH(QString, macro);
        setTexts(kBlendBoxes, names);
        // Flags that would name G_RM_AA_ZB_OPA_SURF if they counted.
        for (const QString &name : kDefaultFlags)
            control<QCheckBox>(rm_, name)->setChecked(true);
        list(QStringLiteral("ZType"))->setEditText(QStringLiteral("OPA(que)"));

        text()->setMaxLength(64);
        const QString tooLong(40, QLatin1Char('1'));
        text()->setText(tooLong);
        boxes_->answerOk();
        pressInfo();

        QCOMPARE(boxes_->texts(), QStringList{kGuard});
        QCOMPARE(text()->text(), tooLong);
        QCOMPARE(checked(), kDefaultFlags);
        QCOMPARE(list(QStringLiteral("ZType"))->currentText(), QStringLiteral("OPA(que)"));
        QCOMPARE(list(QStringLiteral("CoverageType"))->currentText(), QStringLiteral("Coverage Change"));
        QCOMPARE(texts(kBlendBoxes), names);
        QCOMPARE(texts(kCopies), (QStringList{names[1], names[3], names[5], names[7]}));
        QCOMPARE(edit(QStringLiteral("Text2"))->text(), macro);
    }

    // The wizard disables the second-cycle boxes of a one-cycle mode; a
    // decode writes their texts and leaves them disabled.
    void decodeKeepsEnabledStates()
    {
        for (const QString &name : kBlendBoxes.mid(4))
            edit(name)->setEnabled(false);
        pressInfo();
        QCOMPARE(texts(kBlendBoxes), kDefaultNames);
        for (const QString &name : kBlendBoxes)
            QCOMPARE(edit(name)->isEnabled(), !kBlendBoxes.mid(4).contains(name));
    }

    void coverageTooltipOnlyOnUserPick()
    {
        QComboBox *coverage = list(QStringLiteral("CoverageType"));
        QComboBox *zType = list(QStringLiteral("ZType"));

        // Texts written by the program, as the decode and the wizard do.
        coverage->setEditText(QStringLiteral("WRAP"));
        coverage->setCurrentText(QStringLiteral("Clamp"));
        pressInfo();
        QCOMPARE(coverage->currentText(), QStringLiteral("CLAMP"));
        QVERIFY(coverage->toolTip().isEmpty());

        // A pick in the other list does not count.
        zType->setFocus();
        QTest::keyClick(zType, Qt::Key_Down);
        QVERIFY(coverage->toolTip().isEmpty());

        // The user picks an entry: only the list's text and tooltip change.
        const QString macro = edit(QStringLiteral("Text2"))->text();
        coverage->setFocus();
        QTest::keyClick(coverage, Qt::Key_Down);
        QCOMPARE(coverage->toolTip(), kCoverageTip);
        QCOMPARE(coverage->currentText(), QStringLiteral("Clamp"));
        QCOMPARE(coverage->count(), 4);
        QCOMPARE(edit(QStringLiteral("Text2"))->text(), macro);
    }

    void coverageTooltipOnPickFromThePopup()
    {
        QComboBox *coverage = list(QStringLiteral("CoverageType"));
        coverage->showPopup();
        QAbstractItemView *view = coverage->view();
        QVERIFY(QTest::qWaitForWindowExposed(view->window()));
        const QModelIndex save = coverage->model()->index(3, 0);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(save).center());
        QTRY_COMPARE(coverage->currentText(), QStringLiteral("Save"));
        QCOMPARE(coverage->toolTip(), kCoverageTip);
    }
};

QTEST_MAIN(RenderModeWindowTest)
#include "render_mode_window_test.moc"
