#pragma once

// Reads a display list (pasted bytes or a file) on a worker thread, so that
// a large or hopeless input never holds up the window, and hands the result
// back on the window's thread. One read at a time; a loader destroyed while
// reading stops the read at its next chunk and waits for it.

#include "gbi/document.h"
#include "gbi/reader.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <thread>

namespace dlscope {

struct LoadedList {
    gbi::EntryRun entries;
    std::vector<gbi::ReadMessage> messages;
    std::uint64_t suppressed = 0;
    gbi::InputForm form = gbi::InputForm::Auto;
    std::uint64_t offset = 0; // the bytes of binary input skipped first
    std::vector<std::pair<std::uint32_t, std::string>> labels; // asm labels whose names encode an address
    QString error;       // the input could not be read at all
    QString sourceName;  // "the clipboard", a file name
    int purpose = 0;     // the caller's tag, handed back
};

class ListLoader : public QObject {
    Q_OBJECT
public:
    explicit ListLoader(QObject *parent = nullptr);
    ~ListLoader() override;

    bool busy() const { return busy_; }
    // False (and nothing starts) while another read runs.
    bool readBytes(QByteArray bytes, const gbi::ReadOptions &options, const QString &sourceName, int purpose);
    bool readFile(const QString &path, const gbi::ReadOptions &options, int purpose);

signals:
    void finished(std::shared_ptr<LoadedList> list);

private:
    void start(std::function<void(LoadedList &, const std::atomic<bool> &)> work, const QString &sourceName, int purpose);

    std::thread worker_;
    std::atomic<bool> cancel_{false};
    bool busy_ = false;
};

} // namespace dlscope
