#include "ui/window_slots.h"
#include "window_test_support.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

using namespace dlscope;
using namespace dlscope::test;

namespace {
const QString kInitial = QStringLiteral("1011101000000000000011000000001000000000000000000010000000000000");
const QString kWillNotWork = QStringLiteral("oops... this will not work");

struct Group {
    const char *frame;
    const char *caption;
    QList<QPair<QString, QString>> options;  // name, caption
};

const QList<Group> &groups()
{
    static const QList<Group> list = {
        {"Frame3", "SIZE", {{"B32", "32BIT"}, {"B16", "16BIT"}, {"B8", "8BIT"}, {"B4", "4BIT"}}},
        {"Frame2", "FORMAT", {{"I", "I"}, {"IA", "IA"}, {"CI", "CI"}, {"YUV", "YUV"}, {"RGBA", "RGBA"}}},
    };
    return list;
}
} // namespace

class SetTileWindowTest : public QObject {
    Q_OBJECT

    MessageBoxScript *boxes_ = nullptr;
    QWidget *window_ = nullptr;

    QLineEdit *box(const char *name) { return control<QLineEdit>(window_, QString::fromLatin1(name)); }
    QRadioButton *option(const QString &name) { return control<QRadioButton>(window_, name); }
    QString counter() { return control<QLabel>(window_, QStringLiteral("Label1"))->text(); }

    QStringList selected()
    {
        QStringList names;
        for (const Group &g : groups())
            for (const auto &o : g.options)
                if (option(o.first)->isChecked())
                    names << o.first;
        return names;
    }

private slots:
    void init()
    {
        boxes_ = new MessageBoxScript;
        window_ = WindowSlots::showAndActivate(ToolWindow::SetTile);
        QVERIFY(window_);
    }

    void cleanup() { finishWindowTest(boxes_); }

    void designedContents()
    {
        QCOMPARE(window_->objectName(), QStringLiteral("SetTile"));
        QCOMPARE(window_->windowTitle(), QStringLiteral("SetTile"));
        QCOMPARE(control<QGroupBox>(window_, QStringLiteral("Frame1"))->title(), QStringLiteral("Binary"));
        QCOMPARE(box("Text1")->text(), kInitial);
        QCOMPARE(box("Text1")->maxLength(), 64);
        QCOMPARE(counter(), QStringLiteral("64"));
        for (const Group &g : groups()) {
            auto *frame = control<QGroupBox>(window_, QString::fromLatin1(g.frame));
            QVERIFY2(frame, g.frame);
            QCOMPARE(frame->title(), QString::fromLatin1(g.caption));
            QButtonGroup *group = option(g.options.first().first)->group();
            QVERIFY(group && group->exclusive());
            for (const auto &o : g.options) {
                QRadioButton *button = option(o.first);
                QVERIFY2(button, qPrintable(o.first));
                QCOMPARE(button->text(), o.second);
                QCOMPARE(button->parentWidget(), frame);
                QCOMPARE(button->group(), group);
            }
        }
        QVERIFY(selected().isEmpty());
        QCOMPARE(box("LINE")->text(), QStringLiteral("Text2"));
        QCOMPARE(box("TILE")->text(), QStringLiteral("Text2"));
        QCOMPARE(control<QLabel>(window_, QStringLiteral("Label3"))->text(), QStringLiteral("LINE"));
        QCOMPARE(control<QLabel>(window_, QStringLiteral("Label2"))->text(), QStringLiteral("TILE"));
    }

    void userSelectsOneOptionPerGroup()
    {
        QTest::mouseClick(option(QStringLiteral("B16")), Qt::LeftButton);
        QTest::mouseClick(option(QStringLiteral("B8")), Qt::LeftButton);
        QTest::mouseClick(option(QStringLiteral("YUV")), Qt::LeftButton);
        QCOMPARE(selected(), (QStringList{"B8", "YUV"}));
    }

    void info_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QString>("textAfter");

        const QString ones32(32, QLatin1Char('1'));
        QTest::newRow("initial") << kInitial << QStringList{} << kInitial;
        QTest::newRow("hex") << "BA000C0200002000" << QStringList{} << kInitial;
        QTest::newRow("short binary") << "0101" << QStringList{} << "0101";
        QTest::newRow("hex 15") << "BA000C020000200" << QStringList{kWillNotWork} << ones32;
        QTest::newRow("hex 17") << "BA000C0200002000F" << QStringList{kWillNotWork} << ones32;
        QTest::newRow("empty") << "" << QStringList{kWillNotWork} << ones32;
        QTest::newRow("lower case") << "ba000C0200002000" << QStringList{"this is not hex"} << QString(64, '0');
        QTest::newRow("partial hex") << "BA000C020000200g" << QStringList{"this is not hex"}
                                     << "0000101110100000000000001100000000100000000000000000001000000000";
    }

    void info()
    {
        QFETCH(QString, typed);
        QFETCH(QStringList, messages);
        QFETCH(QString, textAfter);

        QTest::mouseClick(option(QStringLiteral("B4")), Qt::LeftButton);
        QTest::mouseClick(option(QStringLiteral("CI")), Qt::LeftButton);
        box("LINE")->setText(QStringLiteral("12"));

        box("Text1")->setText(typed);
        QCOMPARE(counter(), QStringLiteral("64"));  // no live counter
        boxes_->answerOk(static_cast<int>(messages.size()));
        QTest::keyClick(box("Text1"), Qt::Key_Return);
        QCOMPARE(boxes_->texts(), messages);
        QCOMPARE(box("Text1")->text(), textAfter);
        QCOMPARE(counter(), QStringLiteral("64"));
        QCOMPARE(selected(), (QStringList{"B4", "CI"}));
        QCOMPARE(box("LINE")->text(), QStringLiteral("12"));
        QCOMPARE(box("TILE")->text(), QStringLiteral("Text2"));
    }
};

QTEST_MAIN(SetTileWindowTest)
#include "set_tile_window_test.moc"
