#include "ui/window_slots.h"
#include "window_test_support.h"

#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QtTest>

using namespace dlscope;
using namespace dlscope::test;

namespace {

const QString kDefaultCommand = QStringLiteral("1111110000100110101000000000010000011111111111001001001111111100");

// The boxes in the order a0 a1 b0 b1 c0 c1 d0 d1 aa0 aa1 ab0 ab1 ac0 ac1 ad0 ad1.
const QStringList kBoxes = {"a0",  "a1",  "b0",  "b1",  "c0",  "c1",  "d0",  "d1",
                            "aa0", "aa1", "ab0", "ab1", "ac0", "ac1", "ad0", "ad1"};

const QStringList kDesigned = {"a", "a", "b", "b", "c", "c", "d", "d", "a", "a", "b", "b", "c", "c", "d", "d"};
const QStringList kDefaultDecode = {"Texel1", "Combined", "Texel0", "0.0", "LOD_FRACTION", "SHADE",
                                    "Texel0", "0.0",      "Texel1", "0.0", "Texel0",       "0.0",
                                    "LOD_Fraction", "0.0", "Texel0", "SHADE"};
const QStringList kAllOnes = {"0.0", "0.0", "0.0", "0.0", "0",   "0",   "0.0", "0.0",
                              "0.0", "0.0", "0.0", "0.0", "0.0", "0.0", "0.0", "0.0"};

const QString kWillNotWork = QStringLiteral("oops... this will not work");
const QString kNotHex = QStringLiteral("this is not hex");
const QString kGuard = QStringLiteral("Please Enter the Full Binary of the Whole Command Including FC");

} // namespace

class CombinerWindowTest : public QObject {
    Q_OBJECT

    MessageBoxScript *boxes_ = nullptr;
    QWidget *cc_ = nullptr;

    QLineEdit *text() { return control<QLineEdit>(cc_, QStringLiteral("Text1")); }
    QLineEdit *box(const QString &name) { return control<QLineEdit>(cc_, name); }
    QStringList inputs()
    {
        QStringList texts;
        for (const QString &name : kBoxes)
            texts << box(name)->text();
        return texts;
    }
    void setInputs(const QStringList &texts)
    {
        for (qsizetype i = 0; i < kBoxes.size(); ++i)
            box(kBoxes[i])->setText(texts[i]);
    }

private slots:
    void init()
    {
        boxes_ = new MessageBoxScript;
        cc_ = WindowSlots::showAndActivate(ToolWindow::Combiner);
        QVERIFY(cc_);
    }

    void cleanup() { finishWindowTest(boxes_); }

    void designedContents()
    {
        QCOMPARE(cc_->objectName(), QStringLiteral("CC"));
        QCOMPARE(cc_->windowTitle(), QStringLiteral("Combiner"));
        QCOMPARE(control<QGroupBox>(cc_, QStringLiteral("Frame4"))->title(), QStringLiteral("Cycle1"));
        QCOMPARE(control<QGroupBox>(cc_, QStringLiteral("Frame2"))->title(), QStringLiteral("Cycle2"));
        QCOMPARE(control<QGroupBox>(cc_, QStringLiteral("Frame1"))->title(), QStringLiteral("Binary Command"));
        QCOMPARE(text()->text(), kDefaultCommand);
        QCOMPARE(text()->maxLength(), 64);
        QCOMPARE(control<QLabel>(cc_, QStringLiteral("Label1"))->text(), QStringLiteral("64"));
        QCOMPARE(inputs(), kDesigned);
    }

    // Each row reads ( a - b ) X c + d left to right, colour above alpha,
    // cycle 1 above cycle 2.
    void equationLayout_data()
    {
        QTest::addColumn<QString>("frame");
        QTest::addColumn<QStringList>("row");
        QTest::addColumn<QString>("below");
        QTest::newRow("cycle1 colour") << "Frame4" << QStringList{"a0", "b0", "c0", "d0"} << "aa0";
        QTest::newRow("cycle1 alpha") << "Frame4" << QStringList{"aa0", "ab0", "ac0", "ad0"} << "a1";
        QTest::newRow("cycle2 colour") << "Frame2" << QStringList{"a1", "b1", "c1", "d1"} << "aa1";
        QTest::newRow("cycle2 alpha") << "Frame2" << QStringList{"aa1", "ab1", "ac1", "ad1"} << "";
    }

    void equationLayout()
    {
        QFETCH(QString, frame);
        QFETCH(QStringList, row);
        QFETCH(QString, below);
        auto *group = control<QGroupBox>(cc_, frame);
        QWidget *first = box(row.first());
        QCOMPARE(first->parentWidget(), group);
        const int y = first->mapTo(cc_, QPoint()).y();
        // The texts of the labels between and around the boxes, by position.
        QMap<int, QString> rowTexts;
        for (QWidget *child : group->findChildren<QWidget *>()) {
            if (child->mapTo(cc_, QPoint(0, child->height() / 2)).y() / 4
                != first->mapTo(cc_, QPoint(0, first->height() / 2)).y() / 4)
                continue;
            const int x = child->mapTo(cc_, QPoint()).x();
            if (auto *label = qobject_cast<QLabel *>(child))
                rowTexts[x] = label->text();
            else if (child->objectName().size())
                rowTexts[x] = child->objectName();
        }
        const QStringList expected = {row[0].startsWith('a') && row[0].size() == 3 ? "Alpha" : "Colour",
                                      "(", row[0], "-", row[1], ")", "X", row[2], "+", row[3]};
        QCOMPARE(QStringList(rowTexts.values()), expected);
        if (!below.isEmpty())
            QVERIFY(box(below)->mapTo(cc_, QPoint()).y() > y);
    }

    // The longest names fit in every box without scrolling.
    void longNamesFit()
    {
        for (const QString &name : kBoxes) {
            QLineEdit *b = box(name);
            const int frameWidth = b->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, b);
            const int room = b->width() - 2 * frameWidth - 2 * 2 - 1;
            for (const QString &text : {QStringLiteral("ENVIRONMENT_Alpha"), QStringLiteral("PRIMITIVE_LOD_FRAC")})
                QVERIFY2(b->fontMetrics().horizontalAdvance(text) <= room, qPrintable(name + ": " + text));
        }
    }

    void info_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QString>("textAfter");
        QTest::addColumn<QStringList>("decoded");  // empty: no box changes

        QTest::newRow("default") << kDefaultCommand << QStringList{} << kDefaultCommand << kDefaultDecode;
        QTest::newRow("hex") << "FC26A0041FFC93FC" << QStringList{} << kDefaultCommand << kDefaultDecode;
        QTest::newRow("opcode not examined")
            << "0026A0041FFC93FC" << QStringList{} << "00000000" + kDefaultCommand.mid(8) << kDefaultDecode;
        const QString ones(64, QLatin1Char('1'));
        QTest::newRow("empty") << "" << QStringList{kWillNotWork} << ones << kAllOnes;
        QTest::newRow("hex 17 chars") << "FC26A004 1FFC93FC" << QStringList{kWillNotWork} << ones << kAllOnes;
        QTest::newRow("63 binary") << kDefaultCommand.left(63) << QStringList{kGuard} << kDefaultCommand.left(63)
                                   << QStringList{};
        // Two hex digits, then a bad one: 8 bits, padded in front with 56 zeros.
        QTest::newRow("not hex") << "FCx6A0041FFC93FC" << QStringList{kNotHex} << QString(56, '0') + "11111100"
                                 << QStringList{"Combined", "Combined", "Combined", "Combined", "Combined",
                                                "Combined", "Combined", "Primitive", "Combined", "Combined",
                                                "Combined", "0.0", "LOD_Fraction", "LOD_Fraction", "Combined",
                                                "SHADE"};
        // A space counts toward the length: 16 characters, 15 digits, four
        // zeros in front. Only the opcode differs from the default command.
        QTest::newRow("hex with space")
            << "C26A0041FFC93FC " << QStringList{} << "0000" + kDefaultCommand.mid(4) << kDefaultDecode;
    }

    void info()
    {
        QFETCH(QString, typed);
        QFETCH(QStringList, messages);
        QFETCH(QString, textAfter);
        QFETCH(QStringList, decoded);
        const QStringList before = {"p", "q", "r", "s", "t", "u", "v", "w", "x", "y", "z", "A", "B", "C", "D", "E"};
        setInputs(before);
        text()->setText(typed);
        boxes_->answerOk(static_cast<int>(messages.size()));
        QTest::keyClick(text(), Qt::Key_Return);
        QCOMPARE(boxes_->texts(), messages);
        for (const SeenBox &seen : boxes_->seen())
            QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(text()->text(), textAfter);
        QCOMPARE(control<QLabel>(cc_, QStringLiteral("Label1"))->text(), QString::number(textAfter.size()));
        QCOMPARE(inputs(), decoded.isEmpty() ? before : decoded);
    }

    // A decode writes disabled boxes too and leaves every box's enabled state
    // as it was.
    void decodeKeepsEnabledStates()
    {
        const QStringList disabled = {"a1", "b1", "c1", "d1", "aa1", "ab1", "ac1", "ad1"};
        for (const QString &name : disabled)
            box(name)->setEnabled(false);
        control<QPushButton>(cc_, QStringLiteral("Command1"))->click();
        QCOMPARE(inputs(), kDefaultDecode);
        for (const QString &name : kBoxes)
            QCOMPARE(box(name)->isEnabled(), !disabled.contains(name));
    }

    void workedExample()
    {
        auto *label = control<QLabel>(cc_, QStringLiteral("Label32"));
        QVERIFY(label);
        QCOMPARE(label->text(), QStringLiteral("Example  Yellow - Red = Green.         Green * 0.5 = Dark "
                                               "Green.            Dark Green + Blue = Teal"));
        const QColor colours[] = {{255, 255, 0}, {255, 0, 0},   {0, 255, 0},  {128, 128, 128},
                                  {0, 128, 0},   {0, 0, 255},   {0, 192, 192}};
        const QStringList operators = {"-", "=", "X", "=", "+", "="};
        int previousRight = -1;
        for (int i = 0; i < 7; ++i) {
            auto *shape = control<QWidget>(cc_, QStringLiteral("Shape%1").arg(i + 1));
            QVERIFY(shape);
            QVERIFY(shape->autoFillBackground());
            QCOMPARE(shape->palette().color(QPalette::Window), colours[i]);
            const QImage image = shape->grab().toImage();
            QCOMPARE(image.pixelColor(image.rect().center()), colours[i]);
            const QRect where(shape->mapTo(cc_, QPoint()), shape->size());
            QVERIFY(where.top() > label->mapTo(cc_, QPoint()).y());
            if (i > 0) {
                // The operator between this swatch and the one before it.
                QString between;
                for (QLabel *op : cc_->findChildren<QLabel *>()) {
                    const int x = op->mapTo(cc_, QPoint()).x();
                    if (op->parentWidget() == cc_ && x >= previousRight && x < where.left()
                        && qAbs(op->mapTo(cc_, QPoint(0, op->height() / 2)).y() - where.center().y()) < 4)
                        between += op->text();
                }
                QCOMPARE(between, operators[i - 1]);
            }
            previousRight = where.right();
        }
    }
};

QTEST_MAIN(CombinerWindowTest)
#include "combiner_window_test.moc"
