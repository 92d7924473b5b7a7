#include "window_test_support.h"

#include "ui/window_slots.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QtTest>

namespace dlscope::test {

MessageBoxScript::MessageBoxScript() { qApp->installEventFilter(this); }

MessageBoxScript::~MessageBoxScript() { qApp->removeEventFilter(this); }

void MessageBoxScript::answerOk(int times)
{
    for (int i = 0; i < times; ++i)
        answer(QMessageBox::Ok);
}

QStringList MessageBoxScript::texts() const
{
    QStringList result;
    for (const SeenBox &box : seen_)
        result << box.text;
    return result;
}

bool MessageBoxScript::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Show) {
        if (auto *box = qobject_cast<QMessageBox *>(watched)) {
            seen_ << SeenBox{box->windowTitle(), box->text(), box->standardButtons()};
            QMessageBox::StandardButton button = QMessageBox::NoButton;
            if (!answers_.isEmpty())
                button = answers_.takeFirst();
            else if (fallback_)
                button = fallback_(*box);
            else
                ++unexpected_;
            // Clicked once the box's own event loop runs.
            QPointer<QMessageBox> target = box;
            QTimer::singleShot(0, box, [target, button] {
                if (!target)
                    return;
                QAbstractButton *b = button == QMessageBox::NoButton ? target->escapeButton() : target->button(button);
                if (b)
                    b->click();
                else
                    target->reject();
            });
        }
    }
    return QObject::eventFilter(watched, event);
}

QList<QWidget *> liveTopLevels()
{
    QList<QWidget *> result;
    for (QWidget *w : QApplication::topLevelWidgets())
        // Windows of the program only: not message boxes, not the popups
        // that combo boxes and menus own.
        if (w->isWindow() && !w->parentWidget() && !qobject_cast<QMessageBox *>(w))
            result << w;
    return result;
}

void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

int destroyTopLevels()
{
    flushDeletes();
    QList<QPointer<QWidget>> windows;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (!w->parentWidget())  // owned popups go with their window
            windows << w;
    for (const QPointer<QWidget> &w : windows)
        delete w.data();
    return static_cast<int>(windows.size());
}

void finishWindowTest(MessageBoxScript *&boxes)
{
    WindowSlots::closeAll();
    const int unexpected = boxes->unexpected();
    const int unanswered = boxes->unanswered();
    delete boxes;
    boxes = nullptr;
    const int left = destroyTopLevels();
    QCOMPARE(unexpected, 0);
    QCOMPARE(unanswered, 0);
    QCOMPARE(left, 0);
}

QWidget *findWindow(const QString &formName)
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == formName)
            return w;
    return nullptr;
}

} // namespace dlscope::test
