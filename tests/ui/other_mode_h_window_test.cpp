#include "ui/window_slots.h"
#include "window_test_support.h"

#include <QApplication>
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

struct Frame {
    const char *name;
    const char *caption;
    const char *array;
    QStringList captions;
};

const QList<Frame> &frames()
{
    static const QList<Frame> list = {
        {"AD", "Alpha Dither", "AlphaDith", {"Pattern", "NoPattern", "Noise", "Dissabled"}},
        {"CD", "Colour Dither", "ColourDith", {"MagicSq", "Bayer", "Noise", "Dissabled"}},
        {"CK", "Combine Key", "CombKey", {"None", "Key"}},
        {"TC", "TextureConvert", "TexCon", {"Convert", "FilterConv", "Filter"}},
        {"TF", "TextureFilter", "TexFilt", {"Point", "Bi-Linear", "Average"}},
        {"TLU", "Texture LUT", "TexLUT", {"None", "RGBa16", "IA16"}},
        {"TL", "Texture LOD", "TexLOD", {"Tile", "LOD"}},
        {"TD", "Texture Detail", "TexDET", {"Clamp", "Sharpen", "Detail"}},
        {"TP", "Texture Persp", "TexPersp", {"None", "Corrected"}},
        {"Cy", "Cycle", "Cycle", {"1", "2", "Copy", "Fill"}},
        {"Pip", "Pipeline - span buffer Coherency ", "Option1",
         {"NPrimitive (NotCoherent - Dont Wait)", "1Primitive (Coherent - wait)"}},
    };
    return list;
}

QString optionName(const Frame &frame, qsizetype index)
{
    return QString::fromLatin1(frame.array) + QLatin1Char('_') + QString::number(index);
}

// Every group at its value-0 option, but for the listed replacements.
QStringList zeroOptionsWith(const QStringList &replacements)
{
    QStringList names;
    for (const Frame &frame : frames()) {
        QString name = optionName(frame, 0);
        for (const QString &r : replacements)
            if (r.startsWith(QString::fromLatin1(frame.array) + QLatin1Char('_')) || r == QLatin1String(frame.array))
                name = r;
        if (name != QLatin1String(frame.array))  // a bare array name: the group shows no option
            names << name;
    }
    return names;
}

const QString kInitial = QStringLiteral("1011101000000000000011000000001000000000000000000010000000000000");
const QString kWillNotWork = QStringLiteral("oops... this will not work");

} // namespace

class OtherModeHWindowTest : public QObject {
    Q_OBJECT

    MessageBoxScript *boxes_ = nullptr;
    QWidget *window_ = nullptr;

    QLineEdit *text() { return control<QLineEdit>(window_, QStringLiteral("Text1")); }
    QString counter() { return control<QLabel>(window_, QStringLiteral("Label1"))->text(); }
    void pressInfo() { control<QPushButton>(window_, QStringLiteral("Command1"))->click(); }
    QRadioButton *option(const QString &name) { return control<QRadioButton>(window_, name); }

    QStringList selected()
    {
        QStringList names;
        for (const Frame &frame : frames())
            for (qsizetype i = 0; i < frame.captions.size(); ++i)
                if (option(optionName(frame, i))->isChecked())
                    names << optionName(frame, i);
        return names;
    }

    // The frames painted red; every other frame must show the normal colour.
    QStringList redFrames()
    {
        const QColor normal = QApplication::palette().color(QPalette::Button);
        QStringList names;
        for (const Frame &frame : frames()) {
            auto *box = control<QGroupBox>(window_, QString::fromLatin1(frame.name));
            const QColor colour = box->palette().color(box->backgroundRole());
            if (colour == QColor(255, 0, 0) && box->autoFillBackground())
                names << box->objectName();
            else if (colour != normal)
                names << box->objectName() + QStringLiteral("?");
        }
        return names;
    }

private slots:
    void init()
    {
        boxes_ = new MessageBoxScript;
        window_ = WindowSlots::showAndActivate(ToolWindow::OtherModeH);
        QVERIFY(window_);
    }

    void cleanup() { finishWindowTest(boxes_); }

    void designedContents()
    {
        QCOMPARE(window_->objectName(), QStringLiteral("OM_H"));
        QCOMPARE(window_->windowTitle(), QStringLiteral("OtherMode_H"));
        QCOMPARE(control<QGroupBox>(window_, QStringLiteral("Frame1"))->title(), QStringLiteral("Binary"));
        QCOMPARE(text()->text(), kInitial);
        QCOMPARE(text()->maxLength(), 64);
        QCOMPARE(counter(), QStringLiteral("64"));
        QCOMPARE(control<QPushButton>(window_, QStringLiteral("Command1"))->text(), QStringLiteral("Info"));
        for (const Frame &frame : frames()) {
            auto *box = control<QGroupBox>(window_, QString::fromLatin1(frame.name));
            QVERIFY2(box, frame.name);
            QCOMPARE(box->title(), QString::fromLatin1(frame.caption));
            QButtonGroup *group = nullptr;
            for (qsizetype i = 0; i < frame.captions.size(); ++i) {
                QRadioButton *button = option(optionName(frame, i));
                QVERIFY2(button, qPrintable(optionName(frame, i)));
                QCOMPARE(button->text(), frame.captions[i]);
                QCOMPARE(button->parentWidget(), box);
                QVERIFY(button->isEnabled());
                // The whole caption fits.
                QVERIFY2(button->width() >= button->sizeHint().width(), qPrintable(button->text()));
                QVERIFY(button->group());
                if (!group)
                    group = button->group();
                QCOMPARE(button->group(), group);  // one group per array
            }
            QVERIFY(group->exclusive());
            QCOMPARE(group->buttons().size(), frame.captions.size());
            QVERIFY(!option(optionName(frame, frame.captions.size())));
        }
        QVERIFY(selected().isEmpty());
        QVERIFY(redFrames().isEmpty());
    }

    void info_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QString>("textAfter");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QStringList>("red");

        const QStringList initialOptions = zeroOptionsWith({"TexFilt_1"});
        const QStringList noOption{};
        const QString ones32(32, QLatin1Char('1'));
        QTest::newRow("initial") << kInitial << QStringList{} << kInitial << initialOptions << QStringList{"TF"};
        QTest::newRow("hex initial") << "BA000C0200002000" << QStringList{} << kInitial << initialOptions
                                     << QStringList{"TF"};
        QTest::newRow("cycle fill") << "BA00140200300000" << QStringList{}
                                    << "1011101000000000000101000000001000000000001100000000000000000000"
                                    << zeroOptionsWith({"Cycle_3"}) << QStringList{"Cy"};
        QTest::newRow("shift byte 0x24") << "BA00240200000000" << QStringList{}
                                         << "1011101000000000001001000000001000000000000000000000000000000000"
                                         << zeroOptionsWith({}) << QStringList{"AD"};
        QTest::newRow("texture lut 01") << "BA00000000004000" << QStringList{}
                                        << "1011101000000000000000000000000000000000000000000100000000000000"
                                        << zeroOptionsWith({"TexLUT"}) << QStringList{};
        QTest::newRow("hex 15") << "BA0014020030000" << QStringList{kWillNotWork} << ones32 << noOption
                                << QStringList{};
        QTest::newRow("empty") << "" << QStringList{kWillNotWork} << ones32 << noOption << QStringList{};
        QTest::newRow("lower case") << "ba00140200300000" << QStringList{"this is not hex"} << QString(64, '0')
                                    << zeroOptionsWith({}) << QStringList{};
        // The 15 digits before the bad one, four zeros in front: the cycle
        // bits move down by four into the LOD and detail fields.
        QTest::newRow("partial hex") << "BA0014020030000g" << QStringList{"this is not hex"}
                                     << "0000101110100000000000010100000000100000000000110000000000000000"
                                     << zeroOptionsWith({"TexLOD_1", "TexDET_1"}) << QStringList{};
        QTest::newRow("forty binary") << kInitial.left(40) << QStringList{} << kInitial.left(40) << noOption
                                      << QStringList{"TF"};
    }

    void info()
    {
        QFETCH(QString, typed);
        QFETCH(QStringList, messages);
        QFETCH(QString, textAfter);
        QFETCH(QStringList, options);
        QFETCH(QStringList, red);

        // Start from a decode that selects other options and marks Cy, so
        // that each row proves it rewrites every group and every frame.
        text()->setText(QStringLiteral("BA001402FFFFFFFF"));
        pressInfo();
        QCOMPARE(redFrames(), QStringList{"Cy"});

        text()->setText(typed);
        QCOMPARE(counter(), QString::number(typed.size()));
        boxes_->answerOk(static_cast<int>(messages.size()));
        QTest::keyClick(text(), Qt::Key_Return);
        QCOMPARE(boxes_->texts(), messages);
        for (const SeenBox &box : boxes_->seen()) {
            QCOMPARE(box.title, QGuiApplication::applicationDisplayName());
            QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        }
        QCOMPARE(text()->text(), textAfter);
        QCOMPARE(counter(), QString::number(textAfter.size()));
        QCOMPARE(selected(), options);
        QCOMPARE(redFrames(), red);
    }

    void userCannotChangeOptions()
    {
        pressInfo();  // AlphaDith_0 selected, the others of its array not
        const QStringList before = selected();
        for (const QString &name : {QStringLiteral("AlphaDith_1"), QStringLiteral("Option1_1"),
                                    QStringLiteral("TexFilt_1"), QStringLiteral("Cycle_0")}) {
            QRadioButton *button = option(name);
            QCOMPARE(button->focusPolicy(), Qt::NoFocus);
            QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
            QTest::mouseDClick(button, Qt::LeftButton, {}, button->rect().center());
            QTest::keyClick(button, Qt::Key_Space);
            QTest::keyClick(button, Qt::Key_Down);
            QCOMPARE(selected(), before);
            QVERIFY(button->isEnabled());
        }
        // Before any decode, clicking leaves nothing selected either.
        WindowSlots::closeAll();
        window_ = WindowSlots::showAndActivate(ToolWindow::OtherModeH);
        QTest::mouseClick(option(QStringLiteral("Cycle_2")), Qt::LeftButton);
        QVERIFY(selected().isEmpty());
    }

    void editingTheTextChangesOnlyTheCounter()
    {
        text()->setText(QStringLiteral("BA00140200300000"));
        pressInfo();
        const QStringList shown = selected();
        text()->setText(QStringLiteral("11"));
        QCOMPARE(counter(), QStringLiteral("2"));
        QCOMPARE(selected(), shown);
        QCOMPARE(redFrames(), QStringList{"Cy"});
    }

    void reopenedWindowHasItsDesignedContents()
    {
        text()->setText(QStringLiteral("BA00140200300000"));
        pressInfo();
        window_->close();
        flushDeletes();
        window_ = WindowSlots::showAndActivate(ToolWindow::OtherModeH);
        QCOMPARE(text()->text(), kInitial);
        QVERIFY(selected().isEmpty());
        QVERIFY(redFrames().isEmpty());
    }
};

QTEST_MAIN(OtherModeHWindowTest)
#include "other_mode_h_window_test.moc"
