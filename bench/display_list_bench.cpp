// The display-list window with a million commands, on the offscreen
// platform: a paste of hex words to the table ready (rows counted, the
// first screen of rows decoded and printed), the memory each command costs,
// then a selection at the far end, an argument edit and its undo, the checks
// on their worker thread, and a filter over every row. Prints one line per measurement; asserts nothing.
//   display_list_bench [commands]

#include "ui/display_list_model.h"
#include "ui/display_list_window.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMimeData>
#include <QSpinBox>
#include <QTableView>
#include <QUndoStack>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

// Resident memory of the process, from /proc.
std::size_t residentBytes()
{
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * 4096;
}

// A mesh-like mix: texture loads (7 commands that fold into one row),
// vertex loads, triangles, state changes.
QByteArray meshText(int commands)
{
    static const char *const kPattern[] = {
        "E7000000 00000000\n", "FC127E24 FFFFF9FC\n", "E200001C 00552078\n", "D9FFFFFF 00220405\n",
        "FD100000 06000000\n", "F5100000 07014050\n", "E6000000 00000000\n", "F3000000 073FF100\n",
        "E7000000 00000000\n", "F5101000 00014050\n", "F2000000 0007C07C\n", "01020040 06000800\n",
        "05000204 00000000\n", "06020406 00060A08\n", "060C0E10 00121416\n", "0618161A 001C1E00\n",
    };
    QByteArray text;
    text.reserve(commands * 18);
    for (int i = 0; i < commands; ++i)
        text += kPattern[i % std::size(kPattern)];
    return text;
}

void settle()
{
    for (int i = 0; i < 3; ++i)
        QApplication::processEvents();
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int commands = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000000;

    auto *window = new dlscope::DisplayListWindow;
    window->show();
    settle();
    auto *table = window->findChild<QTableView *>(QStringLiteral("Table"));

    const QByteArray text = meshText(commands);
    const std::size_t before = residentBytes();
    auto *mime = new QMimeData;
    mime->setData(QStringLiteral("text/plain"), text);
    QGuiApplication::clipboard()->setMimeData(mime);

    QElapsedTimer clock;
    clock.start();
    window->findChild<QAction *>(QStringLiteral("PasteAction"))->trigger();
    while (window->busy())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    const qint64 read = clock.elapsed();
    settle(); // the view lays out and paints its first screen of rows
    const int rows = window->model()->rowCount();
    for (int r = 0; r < std::min(rows, 60); ++r)
        window->model()->index(r, 2).data();
    const qint64 ready = clock.elapsed();

    const std::size_t after = residentBytes();
    const dlscope::gbi::ListDocument &document = window->document();
    std::printf("paste of %d commands (%.1f MB of hex words): read in %lld ms, table ready (%d rows) in %lld ms\n",
                commands, text.size() / 1e6, static_cast<long long>(read), rows, static_cast<long long>(ready));
    std::printf("document: 8 bytes of words + %.2f bytes of side data per command (flags, row index)\n",
                static_cast<double>(document.sideBytes()) / static_cast<double>(document.size()));
    std::printf("process: %.1f bytes resident per command after the paste (words, side data, the undo step, "
                "the reader's buffers)\n",
                static_cast<double>(after - before) / static_cast<double>(document.size()));

    clock.restart();
    table->selectionModel()->setCurrentIndex(window->model()->index(rows - 1, 2),
                                             QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    table->scrollToBottom();
    settle();
    std::printf("select the last row and show it in the inspector: %lld ms\n", static_cast<long long>(clock.elapsed()));

    if (auto *spin = window->findChild<QSpinBox *>(QStringLiteral("arg0"))) {
        clock.restart();
        spin->setValue(spin->value() == 0 ? 1 : 0);
        settle();
        const qint64 edit = clock.elapsed();
        clock.restart();
        window->undoStack()->undo();
        settle();
        std::printf("edit an argument of the last row: %lld ms; undo it: %lld ms\n", static_cast<long long>(edit),
                    static_cast<long long>(clock.elapsed()));
    }

    // The checks of the list as it now is run on a worker thread; the
    // longest wait between two turns of the event loop shows what the
    // window itself spends on them (copying the words, marking the rows).
    clock.restart();
    qint64 longest = 0;
    QElapsedTimer turn;
    turn.start();
    while (window->checking()) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        longest = std::max(longest, turn.restart());
    }
    std::printf("checks and the state index ready: %lld ms, the window never busier than %lld ms at a time\n",
                static_cast<long long>(clock.elapsed()), static_cast<long long>(longest));

    clock.restart();
    window->findChild<QLineEdit *>(QStringLiteral("Filter"))->setText(QStringLiteral("gsSP1Triangle"));
    while (window->model()->filter().isEmpty() || window->model()->filtering() ||
           window->model()->rowCount() == rows)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    std::printf("filter every row by macro text: %lld ms (%d rows match), the window answering between slices\n",
                static_cast<long long>(clock.elapsed()), window->model()->rowCount());

    delete window;
    return 0;
}
