// The windows in process, through the real widgets (run it on the offscreen
// platform): per decoder window, from pressing "Info" to every control
// updated (and on to the repaint); the creation of each window after
// WindowSlots::closeAll; startProgram() to the launcher shown. Many
// repetitions of each; prints one JSON object per line.
//
//   window_bench [repetitions]   the in-process measurements
//   window_bench --cold FORM     one fresh process: startProgram(), then the
//                                first creation of window FORM in it
//
// Any message box that comes up is answered at once and counted in the
// measurement's "message_boxes"; the inputs are chosen to raise none.

#include "app/program.h"
#include "ui/window_slots.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace dlscope;

// Answers every message box with its default button as soon as its own
// event loop runs, and counts them.
class BoxAnswerer : public QObject {
public:
    int seen = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show)
            if (auto *box = qobject_cast<QMessageBox *>(watched)) {
                ++seen;
                QPointer<QMessageBox> target = box;
                QTimer::singleShot(0, box, [target] {
                    if (!target)
                        return;
                    if (QAbstractButton *b = target->defaultButton())
                        b->click();
                    else
                        target->accept();
                });
            }
        return QObject::eventFilter(watched, event);
    }
};

BoxAnswerer *answerer = nullptr;

// Runs what the last action posted: layout requests, deferred deletes and
// the repaint into the backing store.
void settle()
{
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

struct Stats {
    std::size_t n = 0;
    double median = 0, p10 = 0, p90 = 0, min = 0, max = 0, mean = 0;
};

double percentile(const std::vector<double> &sorted, double p)
{
    if (sorted.empty())
        return 0;
    const double rank = p * static_cast<double>(sorted.size() - 1);
    const auto low = static_cast<std::size_t>(std::floor(rank));
    const auto high = std::min(low + 1, sorted.size() - 1);
    return sorted[low] + (sorted[high] - sorted[low]) * (rank - static_cast<double>(low));
}

Stats statsOf(std::vector<double> samples)
{
    Stats s;
    std::sort(samples.begin(), samples.end());
    s.n = samples.size();
    if (samples.empty())
        return s;
    s.median = percentile(samples, 0.5);
    s.p10 = percentile(samples, 0.1);
    s.p90 = percentile(samples, 0.9);
    s.min = samples.front();
    s.max = samples.back();
    double sum = 0;
    for (const double v : samples)
        sum += v;
    s.mean = sum / static_cast<double>(samples.size());
    return s;
}

void printStats(const char *kind, std::string_view window, std::string_view variant, const Stats &s, int boxes)
{
    std::printf("{\"kind\": \"%s\", \"window\": \"%.*s\", \"variant\": \"%.*s\", \"n\": %zu, \"median_us\": %.2f, "
                "\"p10_us\": %.2f, \"p90_us\": %.2f, \"min_us\": %.2f, \"max_us\": %.2f, \"mean_us\": %.2f, "
                "\"message_boxes\": %d}\n",
                kind, static_cast<int>(window.size()), window.data(), static_cast<int>(variant.size()),
                variant.data(), s.n, s.median, s.p10, s.p90, s.min, s.max, s.mean, boxes);
    std::fflush(stdout);
}

double microseconds(const QElapsedTimer &timer) { return static_cast<double>(timer.nsecsElapsed()) / 1000.0; }

// Two commands per decoder window that differ in (nearly) every field, so
// that each press changes the controls; none raises a message box.
struct InfoInputs {
    ToolWindow kind;
    std::string_view hex[2];
    int bits;  // the command word the window holds
};

constexpr InfoInputs kInfoInputs[] = {
    {ToolWindow::GeometryMode, {"B7000000000F0205", "B700000000002000"}, 64},
    {ToolWindow::Combiner, {"FC26A0041FFC93FC", "FC127E24FFFFF9FC"}, 64},
    {ToolWindow::RenderMode, {"0C184078", "C8112078"}, 32},  // no texture edge: no notice
    {ToolWindow::OtherModeH, {"BA000C0200002000", "BA00140200300000"}, 64},
    {ToolWindow::Texture, {"BB002801", "BB000B00"}, 32},
    {ToolWindow::SetTile, {"F510100000014050", "F568200007094260"}, 64},
};

QString binaryOf(std::string_view hex, int bits)
{
    const unsigned long long value = std::strtoull(std::string(hex).c_str(), nullptr, 16);
    QString text;
    for (int bit = bits - 1; bit >= 0; --bit)
        text += (value >> bit & 1) ? QLatin1Char('1') : QLatin1Char('0');
    return text;
}

void measureInfo(const InfoInputs &inputs, int repetitions)
{
    const std::string_view form = WindowSlots::formName(inputs.kind);
    QWidget *window = WindowSlots::showAndActivate(inputs.kind);
    if (!window) {
        std::printf("{\"kind\": \"missing\", \"window\": \"%.*s\"}\n", static_cast<int>(form.size()), form.data());
        return;
    }
    settle();
    auto *text = window->findChild<QLineEdit *>(QStringLiteral("Text1"));
    auto *info = window->findChild<QPushButton *>(QStringLiteral("Command1"));
    if (!text || !info)
        return;

    for (const bool hex : {true, false}) {
        const QString commands[2] = {
            hex ? QString::fromLatin1(inputs.hex[0].data(), static_cast<qsizetype>(inputs.hex[0].size()))
                : binaryOf(inputs.hex[0], inputs.bits),
            hex ? QString::fromLatin1(inputs.hex[1].data(), static_cast<qsizetype>(inputs.hex[1].size()))
                : binaryOf(inputs.hex[1], inputs.bits)};
        std::vector<double> handler, painted;
        const int boxesBefore = answerer->seen;
        const int warmUp = 10;
        for (int i = 0; i < repetitions + warmUp; ++i) {
            text->setText(commands[i % 2]);
            settle();
            QElapsedTimer timer;
            timer.start();
            info->click();
            const double clicked = microseconds(timer);
            settle();
            const double repainted = microseconds(timer);
            if (i >= warmUp) {
                handler.push_back(clicked);
                painted.push_back(repainted);
            }
        }
        const int boxes = answerer->seen - boxesBefore;
        const char *variant = hex ? "hex" : "binary";
        printStats("info", form, variant, statsOf(handler), boxes);
        printStats("info_paint", form, variant, statsOf(painted), boxes);
    }
}

void measureCreation(ToolWindow kind, int repetitions)
{
    const std::string_view form = WindowSlots::formName(kind);
    std::vector<double> created, shown;
    const int boxesBefore = answerer->seen;
    for (int i = 0; i < repetitions + 3; ++i) {
        WindowSlots::closeAll();
        settle();
        QElapsedTimer timer;
        timer.start();
        QWidget *window = WindowSlots::getOrCreate(kind);
        const double made = microseconds(timer);
        if (!window)
            return;
        WindowSlots::showAndActivate(kind);
        settle();
        const double painted = microseconds(timer);
        if (i >= 3) {
            created.push_back(made);
            shown.push_back(painted);
        }
    }
    WindowSlots::closeAll();
    settle();
    const int boxes = answerer->seen - boxesBefore;
    printStats("create", form, "warm", statsOf(created), boxes);
    printStats("create_show", form, "warm", statsOf(shown), boxes);
}

void measureStart(int repetitions)
{
    std::vector<double> started, painted;
    for (int i = 0; i < repetitions + 3; ++i) {
        QElapsedTimer timer;
        timer.start();
        QWidget *launcher = startProgram();
        const double shown = microseconds(timer);
        settle();
        const double done = microseconds(timer);
        if (i >= 3) {
            started.push_back(shown);
            painted.push_back(done);
        }
        // Not closed: closing the launcher quits the application.
        delete launcher;
        WindowSlots::closeAll();
        settle();
    }
    printStats("start", "Menu", "warm", statsOf(started), 0);
    printStats("start_paint", "Menu", "warm", statsOf(painted), 0);
}

// The wizard's "START", every question answered with its default button.
void measureWizard(int repetitions)
{
    QWidget *wizard = WindowSlots::showAndActivate(ToolWindow::Wizard);
    if (!wizard)
        return;
    auto *start = wizard->findChild<QPushButton *>(QStringLiteral("Command1"));
    if (!start)
        return;
    settle();
    std::vector<double> runs;
    const int boxesBefore = answerer->seen;
    for (int i = 0; i < repetitions + 2; ++i) {
        QElapsedTimer timer;
        timer.start();
        start->click();
        const double done = microseconds(timer);
        settle();
        if (i >= 2)
            runs.push_back(done);
    }
    const int boxes = (answerer->seen - boxesBefore) / (repetitions + 2);
    printStats("wizard_start", "RMWiz", "default answers", statsOf(runs), boxes);
    WindowSlots::closeAll();
    settle();
}

// One fresh process: the program's start, then the first creation of one
// window, as a user's first click on a launcher button meets it.
int cold(std::string_view form)
{
    ToolWindow kind{};
    if (!WindowSlots::kindOf(form, kind))
        return 2;
    QElapsedTimer timer;
    timer.start();
    startProgram();
    const double started = microseconds(timer);
    settle();
    const double startPainted = microseconds(timer);

    timer.restart();
    QWidget *window = WindowSlots::getOrCreate(kind);
    const double created = microseconds(timer);
    if (!window) {
        std::printf("{\"kind\": \"missing\", \"window\": \"%.*s\"}\n", static_cast<int>(form.size()), form.data());
        return 0;
    }
    WindowSlots::showAndActivate(kind);
    settle();
    const double shown = microseconds(timer);
    std::printf("{\"kind\": \"cold\", \"window\": \"%.*s\", \"start_us\": %.2f, \"start_paint_us\": %.2f, "
                "\"create_us\": %.2f, \"create_show_us\": %.2f, \"message_boxes\": %d}\n",
                static_cast<int>(form.size()), form.data(), started, startPainted, created, shown, answerer->seen);
    WindowSlots::closeAll();
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    BoxAnswerer boxes;
    answerer = &boxes;
    app.installEventFilter(&boxes);
    // Closing a window must not end the measurement.
    app.setQuitOnLastWindowClosed(false);

    if (argc == 3 && std::string_view(argv[1]) == "--cold")
        return cold(argv[2]);

    const int repetitions = argc >= 2 ? std::max(1, std::atoi(argv[1])) : 200;
    std::printf("{\"kind\": \"meta\", \"qt_version\": \"%s\", \"platform\": \"%s\", \"repetitions\": %d}\n", qVersion(),
                qPrintable(QGuiApplication::platformName()), repetitions);

    // The launcher exists while the windows are measured, as in the program.
    QWidget *launcher = startProgram();
    settle();
    for (const InfoInputs &inputs : kInfoInputs)
        measureInfo(inputs, repetitions);
    for (const ToolWindow kind : kAllToolWindows)
        measureCreation(kind, std::max(20, repetitions / 4));
    measureWizard(std::max(10, repetitions / 10));
    delete launcher;
    WindowSlots::closeAll();
    settle();

    measureStart(std::max(20, repetitions / 4));
    return 0;
}
