#include "app/program.h"
#include "window_test_support.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QtTest>

using namespace dlscope::test;

class LauncherTest : public QObject {
    Q_OBJECT

    MessageBoxScript *boxes_ = nullptr;
    QPointer<QWidget> launcher_;

    QPushButton *button(const char *name) { return control<QPushButton>(launcher_, QString::fromLatin1(name)); }

private slots:
    void init()
    {
        boxes_ = new MessageBoxScript;
        launcher_ = dlscope::startProgram();
        QVERIFY(launcher_);
    }

    void cleanup()
    {
        if (launcher_)
            launcher_->close();
        flushDeletes();
        QCOMPARE(boxes_->unexpected(), 0);
        delete boxes_;
        QCOMPARE(destroyTopLevels(), 0);  // closing the launcher leaves no window
    }

    void startsWithOnlyTheTopmostLauncher()
    {
        QCOMPARE(launcher_->objectName(), QStringLiteral("Menu"));
        QCOMPARE(launcher_->windowTitle(), QStringLiteral("GBI"));
        QVERIFY(launcher_->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(launcher_->isVisible());
        QCOMPARE(liveTopLevels().size(), 1);
        QCOMPARE(QGuiApplication::applicationDisplayName(), QStringLiteral("DL Scope"));
    }

    void buttonsCarryTheirCaptionsInTwoRows()
    {
        const struct {
            const char *name, *caption;
            int row, column;
        } expected[] = {{"Command1", "B7 Geomatry Mode", 0, 0}, {"Command3", "FC Combiner", 0, 1},
                        {"Command2", "B9_3RenderMode", 0, 2},   {"Command4", "BA SetOtherMode_H", 0, 3},
                        {"Command5", "BB G_Texture", 1, 0},     {"Command6", "RenderMode Wizard", 1, 1},
                        {"Command7", "SetTile", 1, 2}};
        const QPushButton *first = button("Command1");
        QVERIFY(first);
        QVERIFY(first->width() >= 115);
        QVERIFY(first->height() >= 25);
        for (const auto &e : expected) {
            QPushButton *b = button(e.name);
            QVERIFY2(b, e.name);
            QCOMPARE(b->text(), QString::fromLatin1(e.caption));
            QCOMPARE(b->size(), first->size());
            // Edge to edge: each button starts where its left neighbour ends.
            QCOMPARE(b->geometry().topLeft(), first->geometry().topLeft() + QPoint(e.column * first->width(), e.row * first->height()));
        }
        QCOMPARE(launcher_->size(), QSize(4 * first->width(), 2 * first->height()));
    }

    void secondPressBringsTheSameWindowBackUnchanged()
    {
        button("Command1")->click();
        QWidget *gm = findWindow(QStringLiteral("GM"));
        QVERIFY(gm && gm->isVisible());
        QCOMPARE(gm->windowTitle(), QStringLiteral("G_SETGEOMETRYMODE"));
        control<QLineEdit>(gm, QStringLiteral("Text1"))->setText(QStringLiteral("0101"));
        button("Command1")->click();
        QCOMPARE(findWindow(QStringLiteral("GM")), gm);
        QCOMPARE(liveTopLevels().size(), 2);
        QCOMPARE(control<QLineEdit>(gm, QStringLiteral("Text1"))->text(), QStringLiteral("0101"));
    }

    void closedWindowReopensWithDesignedContents()
    {
        button("Command1")->click();
        QPointer<QWidget> gm = findWindow(QStringLiteral("GM"));
        control<QCheckBox>(gm, QStringLiteral("ZBUFF"))->setChecked(true);
        control<QLineEdit>(gm, QStringLiteral("Text1"))->setText(QStringLiteral("1"));
        gm->close();
        flushDeletes();
        QVERIFY(!gm);  // gone, and the program goes on
        QVERIFY(launcher_);
        button("Command1")->click();
        QWidget *again = findWindow(QStringLiteral("GM"));
        QVERIFY(again && again->isVisible());
        QVERIFY(!control<QCheckBox>(again, QStringLiteral("ZBUFF"))->isChecked());
        QCOMPARE(control<QLineEdit>(again, QStringLiteral("Text1"))->text().size(), 64);
    }

    void closingTheLauncherClosesEveryWindowAndStartsAfresh()
    {
        for (const char *name : {"Command1", "Command2", "Command3", "Command4", "Command5", "Command6", "Command7"})
            button(name)->click();
        const qsizetype open = liveTopLevels().size();
        QVERIFY(open >= 2);
        launcher_->close();
        flushDeletes();
        QVERIFY(!launcher_);
        QCOMPARE(liveTopLevels().size(), 0);

        launcher_ = dlscope::startProgram();
        QCOMPARE(liveTopLevels().size(), 1);
        button("Command1")->click();
        QCOMPARE(control<QLineEdit>(findWindow(QStringLiteral("GM")), QStringLiteral("Text1"))->text().size(), 64);
    }
};

QTEST_MAIN(LauncherTest)
#include "launcher_test.moc"
