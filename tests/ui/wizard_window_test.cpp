#include "app/program.h"
#include "ui/twips.h"
#include "ui/window_slots.h"
#include "ui/wizard_adapters.h"
#include "window_test_support.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QtTest>

using namespace dlscope;
using namespace dlscope::test;

namespace {

using Button = QMessageBox::StandardButton;
constexpr Button Yes = QMessageBox::Yes;
constexpr Button No = QMessageBox::No;

// Answers of the default two-cycle run without fog: Q1 Yes, Q2 No, Q3 Yes,
// Q4 No, Q5 No, Q6 No, Q7 Yes, Q8 Yes, Q9 Yes, then the two closing notices.
const QList<Button> kTwoCycleRun = {Yes, No, Yes, No, No, No, Yes, Yes, Yes, QMessageBox::Ok, QMessageBox::Ok};
const QString kTwoCycleWord = QStringLiteral("00001000000100000010010001111000");
// Untextured with fog: Q1 No, Q4 No, Q5 Yes, Q7 Yes, Q8 Yes.
const QList<Button> kOneCycleRun = {No, No, Yes, Yes, Yes, QMessageBox::Ok, QMessageBox::Ok};
const QString kOneCycleWord = QStringLiteral("11111010000000000100010001111000");

const QStringList kRenderModeSecond = {"a1", "b1", "c1", "d1"};
const QStringList kCombinerSecond = {"a1", "b1", "c1", "d1", "aa1", "ab1", "ac1", "ad1"};

const QMessageBox::StandardButtons kYesNo = QMessageBox::Yes | QMessageBox::No;
const QMessageBox::StandardButtons kYesNoCancel = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
const QMessageBox::StandardButtons kOk = QMessageBox::Ok;

} // namespace

class WizardWindowTest : public QObject {
    Q_OBJECT

    MessageBoxScript *boxes_ = nullptr;
    QPointer<QWidget> launcher_;
    QPointer<QWidget> wizard_;

    void pressLauncher(const char *name) { control<QPushButton>(launcher_, QString::fromLatin1(name))->click(); }
    void press(const char *name) { control<QPushButton>(wizard_, QString::fromLatin1(name))->click(); }
    QLineEdit *wizardText(const char *name) { return control<QLineEdit>(wizard_, QString::fromLatin1(name)); }

    void run(const QList<Button> &answers)
    {
        for (Button b : answers)
            boxes_->answer(b);
        press("Command1");
        QCOMPARE(boxes_->unanswered(), 0);
    }

    static QList<bool> enabledStates(QWidget *window, const QStringList &names)
    {
        QList<bool> states;
        for (const QString &name : names)
            states << control<QLineEdit>(window, name)->isEnabled();
        return states;
    }
    static QStringList texts(QWidget *window, const QStringList &names)
    {
        QStringList result;
        for (const QString &name : names)
            result << control<QLineEdit>(window, name)->text();
        return result;
    }

private slots:
    void init()
    {
        boxes_ = new MessageBoxScript;
        launcher_ = startProgram();
        QVERIFY(launcher_);
        pressLauncher("Command6");  // "RenderMode Wizard"
        wizard_ = WindowSlots::existing(ToolWindow::Wizard);
        QVERIFY(wizard_);
        QCOMPARE(findWindow(QStringLiteral("RMWiz")), wizard_.data());
    }

    void cleanup()
    {
        if (launcher_)
            launcher_->close();
        flushDeletes();
        QCOMPARE(boxes_->unexpected(), 0);
        QCOMPARE(boxes_->unanswered(), 0);
        delete boxes_;
        QCOMPARE(destroyTopLevels(), 0);
    }

    void designedGeometry_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QRect>("twipsGeometry");
        QTest::newRow("Command2") << "Command2" << "View Render Mode Values" << QRect(120, 120, 2175, 375);
        QTest::newRow("Text1") << "Text1" << "Text1" << QRect(120, 600, 4455, 285);
        QTest::newRow("Command3") << "Command3" << "View Combiner Values" << QRect(120, 1080, 2175, 375);
        QTest::newRow("Text2") << "Text2" << "Text1" << QRect(120, 1560, 4455, 285);
        QTest::newRow("Command1") << "Command1" << "START" << QRect(4680, 600, 1215, 975);
        QTest::newRow("OKButton") << "OKButton" << "Close" << QRect(4680, 120, 1215, 375);
    }

    void designedGeometry()
    {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(QRect, twipsGeometry);
        QCOMPARE(wizard_->windowTitle(), QStringLiteral("Render Mode Wizard Result"));
        QCOMPARE(wizard_->size(), QSize(402, 214));  // 6030 x 3210 twips
        QCOMPARE(wizard_->minimumSize(), wizard_->maximumSize());
        QWidget *widget = control<QWidget>(wizard_, name);
        QVERIFY(widget);
        if (auto *edit = qobject_cast<QLineEdit *>(widget)) {
            QCOMPARE(edit->text(), caption);
        } else {
            auto *button = control<QPushButton>(wizard_, name);
            QCOMPARE(button->text(), caption);
            // The design's sizes are fixed; the caption must still fit.
            QVERIFY(button->fontMetrics().horizontalAdvance(caption) < button->width());
        }
        QCOMPARE(widget->geometry(),
                 twipsRect(twipsGeometry.x(), twipsGeometry.y(), twipsGeometry.width(), twipsGeometry.height()));
    }

    void tabOrderFollowsRows()
    {
        const QStringList order = {"Command2", "OKButton", "Text1", "Command1", "Command3", "Text2"};
        for (qsizetype i = 0; i + 1 < order.size(); ++i)
            QCOMPARE(control<QWidget>(wizard_, order[i])->nextInFocusChain()->objectName(), order[i + 1]);
    }

    void runCreatesHiddenWindowsAndWritesThem()
    {
        for (ToolWindow kind : {ToolWindow::GeometryMode, ToolWindow::RenderMode, ToolWindow::Combiner})
            QVERIFY(!WindowSlots::existing(kind));
        run(kTwoCycleRun);

        const QString program = QGuiApplication::applicationDisplayName();
        const QList<std::tuple<QString, QMessageBox::StandardButtons, QString>> expected = {
            {program, kYesNo, "Is Textured?"},
            {"Alpha Detected in Texture", kYesNo, "Do you want to Enable Transparency on This texture"},
            {program, kYesNo,
             "Do you want Smooth Textures?\r\nSelect No ONLY if you can guarentee that a texture will NEVER be "
             "smaller onscreen than its resolution\r\nDefault is YES, Please say Yes if you are not sure"},
            {program, kYesNo, "VtxA?"},
            {"RenderMode Wizard", kYesNoCancel, "Would you like Fog?\r\nFor FadeAway Please Say No to this Question"},
            {"RenderMode Wizard", kYesNoCancel, "Would you like to Fade Away?"},
            {"RenderMode Wizard", kYesNoCancel,
             "Would you like to Automatically detect Draw Order (Prevent Overlaps)?\r\nDefault is Yes, however this "
             "incurs a 10-20% Performance Hit\r\nThere are 2 Modes of Z-Buffer. Compare and FULL.\r\nBy Default FULL "
             "is used."},
            {"RenderMode Wizard", kYesNoCancel,
             "Would you like FULL\r\nBy Default FULL is used.\r\nIf you select No, Compare Only will be used and "
             "Intersecting faces or Backfaces will draw wrongly"},
            {"Combiner Type", kYesNoCancel,
             "Do you want Normal Shaded Textures or Brightened Textures?\r\nDefault is Normal"},
            {program, kOk, "You have completed the Wizard"},
            {program, kOk, "To use the Values, Copy the textboxes to calculator"},
        };
        QCOMPARE(boxes_->seen().size(), expected.size());
        for (qsizetype i = 0; i < expected.size(); ++i) {
            const SeenBox &box = boxes_->seen()[i];
            QCOMPARE(box.title, std::get<0>(expected[i]));
            QCOMPARE(box.buttons, std::get<1>(expected[i]));
            QCOMPARE(box.text, std::get<2>(expected[i]));
        }

        // The windows exist now, hidden, in the launcher's slots.
        QWidget *gm = WindowSlots::existing(ToolWindow::GeometryMode);
        QWidget *rm = WindowSlots::existing(ToolWindow::RenderMode);
        QWidget *cc = WindowSlots::existing(ToolWindow::Combiner);
        QVERIFY(gm && rm && cc);
        for (QWidget *w : {gm, rm, cc})
            QVERIFY2(!w->isVisible(), qPrintable(w->objectName()));
        QVERIFY(wizard_->isVisible());

        QCOMPARE(wizardText("Text1")->text(), kTwoCycleWord);
        QCOMPARE(wizardText("Text2")->text(), QStringLiteral("Text1"));
        QCOMPARE(control<QLineEdit>(rm, QStringLiteral("Text1"))->text(), kTwoCycleWord);
        QCOMPARE(control<QLabel>(rm, QStringLiteral("Label1"))->text(), QStringLiteral("32"));
        QCOMPARE(control<QComboBox>(rm, QStringLiteral("ZType"))->currentText(), QStringLiteral("INTER"));
        QCOMPARE(control<QComboBox>(rm, QStringLiteral("CoverageType"))->currentText(), QStringLiteral("CLAMP"));
        QStringList rmChecked;
        for (QCheckBox *box : rm->findChildren<QCheckBox *>())
            if (box->isChecked())
                rmChecked << box->objectName();
        rmChecked.sort();
        QCOMPARE(rmChecked, (QStringList{"chkAA", "chkA_CVG", "chkIM_RD", "chkZ_CMP", "chkZ_UPD"}));
        QCOMPARE(texts(rm, {"a0", "b0", "c0", "d0", "a1", "b1", "c1", "d1"}),
                 (QStringList{"CLR_IN", "A_SHADE", "CLR_IN", "1-A", "CLR_IN", "A_IN", "CLR_MEM", "1-A"}));
        // No decode ran: the copy boxes and the macro text keep their designs.
        QCOMPARE(texts(rm, {"b01", "d01", "b11", "d11", "Text2"}), (QStringList{"b", "d", "b", "d", "Text2"}));

        QCOMPARE(texts(cc, {"a0", "b0", "c0", "d0", "aa0", "ab0", "ac0", "ad0"}),
                 (QStringList{"Texel1", "Texel0", "LOD_FRACTION", "Texel0", "Texel1", "Texel0", "LOD_FRACTION",
                              "Texel0"}));
        QCOMPARE(texts(cc, kCombinerSecond), (QStringList{"Combined", "0", "Shade", "0", "0", "0", "0", "1"}));
        QCOMPARE(control<QLineEdit>(cc, QStringLiteral("Text1"))->text(),
                 QStringLiteral("1111110000100110101000000000010000011111111111001001001111111100"));

        QStringList gmChecked;
        for (QCheckBox *box : gm->findChildren<QCheckBox *>())
            if (box->isChecked())
                gmChecked << box->objectName();
        gmChecked.sort();
        QCOMPARE(gmChecked, (QStringList{"CULLB", "FOG", "SHADE", "SMOOTHSHADE", "ZBUFF"}));
    }

    void launcherShowsTheWindowsTheWizardWrote()
    {
        run(kOneCycleRun);
        QPointer<QWidget> rm = WindowSlots::existing(ToolWindow::RenderMode);
        QVERIFY(rm && !rm->isVisible());
        pressLauncher("Command2");  // "B9_3RenderMode"
        QCOMPARE(findWindow(QStringLiteral("RM")), rm.data());
        QVERIFY(rm->isVisible());
        QCOMPARE(control<QLineEdit>(rm, QStringLiteral("Text1"))->text(), kOneCycleWord);
    }

    void viewButtonsShowTheSameWindows()
    {
        press("Command2");
        QWidget *rm = WindowSlots::existing(ToolWindow::RenderMode);
        QVERIFY(rm && rm->isVisible());
        press("Command3");
        QWidget *cc = WindowSlots::existing(ToolWindow::Combiner);
        QVERIFY(cc && cc->isVisible());
        control<QLineEdit>(cc, QStringLiteral("a0"))->setText(QStringLiteral("typed"));
        run(kOneCycleRun);
        // The wizard wrote into the open windows, not into new ones.
        QCOMPARE(WindowSlots::existing(ToolWindow::RenderMode), rm);
        QCOMPARE(WindowSlots::existing(ToolWindow::Combiner), cc);
        QCOMPARE(control<QLineEdit>(rm, QStringLiteral("Text1"))->text(), kOneCycleWord);
        QCOMPARE(control<QLineEdit>(cc, QStringLiteral("a0"))->text(), QStringLiteral("1"));
        pressLauncher("Command3");
        QCOMPARE(findWindow(QStringLiteral("CC")), cc);
    }

    // A one-cycle run disables the second-cycle boxes; a later two-cycle run
    // writes them and brings them back into use.
    void secondCycleBoxesAcrossRuns()
    {
        run(kOneCycleRun);
        QWidget *rm = WindowSlots::existing(ToolWindow::RenderMode);
        QWidget *cc = WindowSlots::existing(ToolWindow::Combiner);
        QVERIFY(rm && cc);
        QCOMPARE(enabledStates(rm, kRenderModeSecond), QList<bool>(4, false));
        QCOMPARE(enabledStates(cc, kCombinerSecond), QList<bool>(8, false));
        QCOMPARE(texts(cc, {"a0", "b0", "c0", "d0"}), (QStringList{"1", "0", "Shade", "0"}));

        run(kTwoCycleRun);
        QCOMPARE(enabledStates(rm, kRenderModeSecond), QList<bool>(4, true));
        QCOMPARE(enabledStates(cc, kCombinerSecond), QList<bool>(8, true));
        QCOMPARE(texts(rm, kRenderModeSecond), (QStringList{"CLR_IN", "A_IN", "CLR_MEM", "1-A"}));
        QCOMPARE(texts(cc, kCombinerSecond), (QStringList{"Combined", "0", "Shade", "0", "0", "0", "0", "1"}));
        QCOMPARE(control<QLineEdit>(rm, QStringLiteral("Text1"))->text(), kTwoCycleWord);

        // A decode writes texts but leaves the enabled states alone.
        run(kOneCycleRun);
        control<QPushButton>(cc, QStringLiteral("Command1"))->click();
        QCOMPARE(enabledStates(cc, kCombinerSecond), QList<bool>(8, false));
        QCOMPARE(texts(cc, {"a1", "b1", "c1", "d1"}), (QStringList{"Combined", "0.0", "SHADE", "0.0"}));
    }

    // The store reaches controls by window and object name; one that does not
    // exist reads as the defaults and takes no write.
    void storeReachesControlsByName()
    {
        WindowControlStore store(wizard_);
        const wizard::ControlRef missing[] = {{"RM", "NoSuchBox"}, {"XX", "Text1"}, {"RMWiz", "Text3"}};
        for (const wizard::ControlRef &ref : missing) {
            store.setText(ref, "x");
            store.setCheckValue(ref, 1);
            store.setEnabled(ref, false);
            QCOMPARE(store.text(ref), std::string());
            QCOMPARE(store.checkValue(ref), 0);
            QVERIFY(store.enabled(ref));
        }
        // Texts survive unchanged, whatever the user typed.
        store.setText({"CC", "a1"}, "Gr\xc3\xbcn");
        QCOMPARE(control<QLineEdit>(WindowSlots::existing(ToolWindow::Combiner), QStringLiteral("a1"))->text(),
                 QString::fromUtf8("Gr\xc3\xbcn"));
        QCOMPARE(store.text({"CC", "a1"}), std::string("Gr\xc3\xbcn"));
        // A selector shows a text that is not one of its entries.
        store.setText({"RM", "CoverageType"}, "WRAP");
        QCOMPARE(control<QComboBox>(WindowSlots::existing(ToolWindow::RenderMode), QStringLiteral("CoverageType"))
                     ->currentText(),
                 QStringLiteral("WRAP"));
        store.setText({"RMWiz", "Text2"}, "own window");
        QCOMPARE(wizardText("Text2")->text(), QStringLiteral("own window"));
    }

    void closeHidesAndKeepsTheContents()
    {
        run(kOneCycleRun);
        wizardText("Text2")->setText(QStringLiteral("notes"));
        QPointer<QWidget> before = wizard_;
        press("OKButton");
        QVERIFY(before);  // hidden, not destroyed
        QVERIFY(!wizard_->isVisible());
        pressLauncher("Command6");
        QCOMPARE(WindowSlots::existing(ToolWindow::Wizard), before.data());
        QVERIFY(wizard_->isVisible());
        QCOMPARE(wizardText("Text1")->text(), kOneCycleWord);
        QCOMPARE(wizardText("Text2")->text(), QStringLiteral("notes"));
    }
};

QTEST_MAIN(WizardWindowTest)
#include "wizard_window_test.moc"
