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
const QString kInitial = QStringLiteral("10111011000000000010100000000001");
const QString kWillNotWork = QStringLiteral("oops... this will not work");
} // namespace

class TextureWindowTest : public QObject {
    Q_OBJECT

    MessageBoxScript *boxes_ = nullptr;
    QWidget *window_ = nullptr;

    QLineEdit *box(const char *name) { return control<QLineEdit>(window_, QString::fromLatin1(name)); }
    QString counter() { return control<QLabel>(window_, QStringLiteral("Label1"))->text(); }
    QCheckBox *on() { return control<QCheckBox>(window_, QStringLiteral("ton")); }
    void pressInfo() { control<QPushButton>(window_, QStringLiteral("Command1"))->click(); }
    QStringList results() { return {box("tile")->text(), box("level")->text(), box("bowtie")->text()}; }

private slots:
    void init()
    {
        boxes_ = new MessageBoxScript;
        window_ = WindowSlots::showAndActivate(ToolWindow::Texture);
        QVERIFY(window_);
    }

    void cleanup() { finishWindowTest(boxes_); }

    void designedContents()
    {
        QCOMPARE(window_->objectName(), QStringLiteral("G_Texture"));
        QCOMPARE(window_->windowTitle(), QStringLiteral("G_Texture"));
        QCOMPARE(control<QGroupBox>(window_, QStringLiteral("Frame1"))->title(), QStringLiteral("Binary Upper Word"));
        QCOMPARE(box("Text1")->text(), kInitial);
        QCOMPARE(box("Text1")->maxLength(), 32);
        QCOMPARE(counter(), QStringLiteral("32"));
        QCOMPARE(on()->text(), QStringLiteral("ON"));
        QVERIFY(!on()->isChecked());
        QCOMPARE(results(), (QStringList{"0", "0", "0"}));
        const struct {
            const char *label;
            const char *caption;
            const char *buddy;
        } labels[] = {{"Label4", "Tile base (0-7)", "tile"},
                      {"Label3", "LODScale/LevelS (1-8)", "level"},
                      {"Label2", "Bowtie Value =   Should = 0", "bowtie"}};
        for (const auto &l : labels) {
            auto *label = control<QLabel>(window_, QString::fromLatin1(l.label));
            QVERIFY2(label, l.label);
            QCOMPARE(label->text(), QString::fromLatin1(l.caption));
            QVERIFY(label->width() >= label->sizeHint().width());
            QCOMPARE(label->buddy(), box(l.buddy));
            QVERIFY(!box(l.buddy)->isReadOnly());
        }
    }

    void info_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QString>("textAfter");
        QTest::addColumn<bool>("ton");
        QTest::addColumn<QStringList>("shown");

        const QString ones32(32, QLatin1Char('1'));
        const QStringList initial{"0", "6", "00000000"};
        const QStringList fromOnes{"7", "8", "11111111"};
        QTest::newRow("initial") << kInitial << QStringList{} << kInitial << true << initial;
        QTest::newRow("hex") << "BB002801" << QStringList{} << kInitial << true << initial;
        QTest::newRow("hex 7") << "BB00280" << QStringList{kWillNotWork} << ones32 << true << fromOnes;
        QTest::newRow("hex 9") << "BB0028010" << QStringList{kWillNotWork} << ones32 << true << fromOnes;
        QTest::newRow("empty") << "" << QStringList{kWillNotWork} << ones32 << true << fromOnes;
        QTest::newRow("lower case") << "bb002801" << QStringList{"this is not hex"} << QString(32, '0') << false
                                    << QStringList{"0", "1", "00000000"};
        // Seven digits give 28 bits, four zeros in front.
        QTest::newRow("partial hex") << "BB00280g" << QStringList{"this is not hex"}
                                     << "00001011101100000000001010000000" << false
                                     << QStringList{"2", "1", "10110000"};
        // A short binary word: the characters that exist, no digit for a cut field.
        QTest::newRow("short binary") << "10111011000000001110110" << QStringList{} << "10111011000000001110110"
                                      << false << QStringList{"10", "6", "00000000"};
    }

    void info()
    {
        QFETCH(QString, typed);
        QFETCH(QStringList, messages);
        QFETCH(QString, textAfter);
        QFETCH(bool, ton);
        QFETCH(QStringList, shown);

        // Results from an earlier decode that every row must overwrite.
        on()->setChecked(!ton);
        box("tile")->setText(QStringLiteral("x"));
        box("level")->setText(QStringLiteral("x"));
        box("bowtie")->setText(QStringLiteral("x"));

        box("Text1")->setText(typed);
        QCOMPARE(counter(), QString::number(typed.size()));
        boxes_->answerOk(static_cast<int>(messages.size()));
        QTest::keyClick(box("Text1"), Qt::Key_Return);
        QCOMPARE(boxes_->texts(), messages);
        for (const SeenBox &seen : boxes_->seen())
            QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(box("Text1")->text(), textAfter);
        QCOMPARE(counter(), QString::number(textAfter.size()));
        QCOMPARE(on()->isChecked(), ton);
        QCOMPARE(results(), shown);
    }

    void editingTheTextChangesOnlyTheCounter()
    {
        pressInfo();
        box("Text1")->setText(QStringLiteral("1"));
        QCOMPARE(counter(), QStringLiteral("1"));
        QVERIFY(on()->isChecked());
        QCOMPARE(results(), (QStringList{"0", "6", "00000000"}));
    }
};

QTEST_MAIN(TextureWindowTest)
#include "texture_window_test.moc"
