#include "ui/message_box.h"
#include "window_test_support.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

using namespace dlscope;

Q_DECLARE_METATYPE(dlscope::MessageButtons)
Q_DECLARE_METATYPE(dlscope::MessageAnswer)

// The one message-box adapter: what the box looks like, and how Escape and
// Enter answer it, pressed as a user presses them.
class MessageBoxTest : public QObject {
    Q_OBJECT

    struct Shown {
        QString title;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
        bool buttonIcons = false;
    };

    // Shows the box and presses `key` on it once it is up.
    MessageAnswer answerWithKey(MessageButtons buttons, const QString &title, Qt::Key key, Shown &shown)
    {
        QTimer::singleShot(0, this, [&shown, key] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            shown.title = box->windowTitle();
            shown.icon = box->icon();
            shown.defaultButton = box->standardButton(box->defaultButton());
            for (QAbstractButton *b : box->buttons())
                shown.buttonIcons = shown.buttonIcons || !b->icon().isNull();
            QTest::keyClick(box, key);
        });
        return showMessageBox(nullptr, buttons, title, QStringLiteral("Question?"));
    }

private slots:
    void keys_data()
    {
        QTest::addColumn<MessageButtons>("buttons");
        QTest::addColumn<int>("key");
        QTest::addColumn<MessageAnswer>("answer");
        QTest::addColumn<QMessageBox::StandardButton>("defaultButton");
        QTest::newRow("notice, Escape") << MessageButtons::Ok << int(Qt::Key_Escape) << MessageAnswer::Ok << QMessageBox::Ok;
        QTest::newRow("notice, Enter") << MessageButtons::Ok << int(Qt::Key_Return) << MessageAnswer::Ok << QMessageBox::Ok;
        QTest::newRow("yes/no, Escape") << MessageButtons::YesNo << int(Qt::Key_Escape) << MessageAnswer::No << QMessageBox::Yes;
        QTest::newRow("yes/no, Enter") << MessageButtons::YesNo << int(Qt::Key_Return) << MessageAnswer::Yes << QMessageBox::Yes;
        QTest::newRow("yes/no/cancel, Escape")
            << MessageButtons::YesNoCancel << int(Qt::Key_Escape) << MessageAnswer::Cancel << QMessageBox::Yes;
        QTest::newRow("yes/no/cancel, Enter")
            << MessageButtons::YesNoCancel << int(Qt::Key_Return) << MessageAnswer::Yes << QMessageBox::Yes;
    }

    void keys()
    {
        QFETCH(MessageButtons, buttons);
        QFETCH(int, key);
        QFETCH(MessageAnswer, answer);
        QFETCH(QMessageBox::StandardButton, defaultButton);
        Shown shown;
        QCOMPARE(answerWithKey(buttons, QString(), static_cast<Qt::Key>(key), shown), answer);
        QCOMPARE(shown.defaultButton, defaultButton);  // the first button
        QCOMPARE(shown.icon, QMessageBox::NoIcon);
        QVERIFY(!shown.buttonIcons);
    }

    void untitledBoxShowsTheProgramTitle()
    {
        QApplication::setApplicationDisplayName(QStringLiteral("DL Scope"));
        Shown shown;
        answerWithKey(MessageButtons::Ok, QString(), Qt::Key_Return, shown);
        QCOMPARE(shown.title, QStringLiteral("DL Scope"));
        answerWithKey(MessageButtons::YesNo, QStringLiteral("Combiner Type"), Qt::Key_Return, shown);
        QCOMPARE(shown.title, QStringLiteral("Combiner Type"));
    }
};

QTEST_MAIN(MessageBoxTest)
#include "message_box_test.moc"
