#pragma once

// Support for window tests: answering modal message boxes from the test, and
// a fixture check that no box came unexpected and no window was left over.

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

namespace dlscope::test {

struct SeenBox {
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons;
};

// While alive, watches every QMessageBox that is shown, records it and
// answers it with the next scripted button. A box with no scripted answer is
// recorded as unexpected and closed with its escape answer.
class MessageBoxScript : public QObject {
    Q_OBJECT
public:
    MessageBoxScript();
    ~MessageBoxScript() override;

    void answer(QMessageBox::StandardButton button) { answers_ << button; }
    void answerOk(int times = 1);
    // Answers every box that has no scripted answer (it then counts as expected).
    void answerOthersWith(std::function<QMessageBox::StandardButton(const QMessageBox &)> chooser)
    {
        fallback_ = std::move(chooser);
    }

    const QList<SeenBox> &seen() const { return seen_; }
    QStringList texts() const;
    int unexpected() const { return unexpected_; }
    int unanswered() const { return static_cast<int>(answers_.size()); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QList<QMessageBox::StandardButton> answers_;
    QList<SeenBox> seen_;
    int unexpected_ = 0;
    std::function<QMessageBox::StandardButton(const QMessageBox &)> fallback_;
};

// The top-level windows that are still alive (hidden ones included).
QList<QWidget *> liveTopLevels();

// Runs the deletions that closed windows posted (WA_DeleteOnClose).
void flushDeletes();

// Deletes every top-level window and returns how many there were.
int destroyTopLevels();

// The end of every window test: closes all windows, then fails on a box that
// came unexpected, a scripted answer left over or a window left behind.
void finishWindowTest(MessageBoxScript *&boxes);

// Finds a window by form name among the live top-levels, or null.
QWidget *findWindow(const QString &formName);

template <typename T> T *control(QWidget *window, const QString &name)
{
    return window ? window->findChild<T *>(name) : nullptr;
}

} // namespace dlscope::test
