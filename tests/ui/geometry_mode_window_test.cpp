#include "ui/window_slots.h"
#include "window_test_support.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using namespace dlscope;
using namespace dlscope::test;

namespace {
const char *const kFlags[] = {"TGENL", "TGEN", "LIGHT", "FOG", "CULLB", "CULLF", "SHADE", "SMOOTHSHADE", "ZBUFF"};
}

class GeometryModeWindowTest : public QObject {
    Q_OBJECT

    MessageBoxScript *boxes_ = nullptr;
    QWidget *gm_ = nullptr;

    QLineEdit *text() { return control<QLineEdit>(gm_, QStringLiteral("Text1")); }
    QString counter() { return control<QLabel>(gm_, QStringLiteral("Label1"))->text(); }
    void pressInfo() { control<QPushButton>(gm_, QStringLiteral("Command1"))->click(); }
    QStringList checked()
    {
        QStringList names;
        for (const char *name : kFlags)
            if (control<QCheckBox>(gm_, QString::fromLatin1(name))->isChecked())
                names << QString::fromLatin1(name);
        return names;
    }

private slots:
    void init()
    {
        boxes_ = new MessageBoxScript;
        gm_ = WindowSlots::showAndActivate(ToolWindow::GeometryMode);
        QVERIFY(gm_);
    }

    void cleanup() { finishWindowTest(boxes_); }

    void designedContents()
    {
        QCOMPARE(gm_->windowTitle(), QStringLiteral("G_SETGEOMETRYMODE"));
        QCOMPARE(text()->text(), QStringLiteral("1011011100000000000000000000000000000000000000000010000000000000"));
        QCOMPARE(text()->maxLength(), 64);
        QCOMPARE(counter(), QStringLiteral("64"));
        QCOMPARE(control<QCheckBox>(gm_, QStringLiteral("Check3"))->text(), QStringLiteral("Texture Enable"));
        QCOMPARE(control<QGroupBox>(gm_, QStringLiteral("Frame1"))->title(), QStringLiteral("Binary Command"));
        QVERIFY(checked().isEmpty());
    }

    void info_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QString>("counterAfter");
        QTest::addColumn<QStringList>("flags");
        QTest::newRow("hex") << "B7000000000F0205" << QStringList{} << "64"
                             << QStringList{"TGENL", "TGEN", "LIGHT", "FOG", "SHADE", "SMOOTHSHADE", "ZBUFF"};
        QTest::newRow("default") << "B700000000002000" << QStringList{} << "64" << QStringList{"CULLB"};
        // The 58 ones of the reset hold every flag but Shade and Z buffer.
        const QStringList reset{"TGENL", "TGEN", "LIGHT", "FOG", "CULLB", "CULLF", "SMOOTHSHADE"};
        QTest::newRow("hex15") << "B70000000000200" << QStringList{"oops... this will not work"} << "58" << reset;
        QTest::newRow("empty") << "" << QStringList{"oops... this will not work"} << "58" << reset;
        QTest::newRow("lowercase") << "b7000000000F0205" << QStringList{"this is not hex"} << "64" << QStringList{};
    }

    void info()
    {
        QFETCH(QString, typed);
        QFETCH(QStringList, messages);
        QFETCH(QString, counterAfter);
        QFETCH(QStringList, flags);
        control<QCheckBox>(gm_, QStringLiteral("CULLB"))->setChecked(true);
        control<QCheckBox>(gm_, QStringLiteral("Check3"))->setChecked(true);
        text()->setText(typed);
        QCOMPARE(counter(), QString::number(typed.size()));
        boxes_->answerOk(static_cast<int>(messages.size()));
        QTest::keyClick(text(), Qt::Key_Return);  // Enter presses "Info"
        QCOMPARE(boxes_->texts(), messages);
        for (const SeenBox &box : boxes_->seen()) {
            QCOMPARE(box.title, QGuiApplication::applicationDisplayName());
            QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        }
        QCOMPARE(counter(), counterAfter);
        QCOMPARE(checked(), flags);
        QVERIFY(control<QCheckBox>(gm_, QStringLiteral("Check3"))->isChecked());  // never the decode's
    }

    void messageIsClosedBeforeTheTextChanges()
    {
        text()->setText(QStringLiteral("xx"));
        QString textWhileShown;
        connect(qApp, &QApplication::focusChanged, this, [&] {
            if (QApplication::activeModalWidget())
                textWhileShown = text()->text();
        });
        boxes_->answerOk();
        pressInfo();
        QCOMPARE(boxes_->texts(), QStringList{QStringLiteral("oops... this will not work")});
        QCOMPARE(text()->text(), QString(58, QLatin1Char('1')));
        if (!textWhileShown.isEmpty())
            QCOMPARE(textWhileShown, QStringLiteral("xx"));
    }
};

QTEST_MAIN(GeometryModeWindowTest)
#include "geometry_mode_window_test.moc"
