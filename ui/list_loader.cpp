#include "list_loader.h"

#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace dlscope {
namespace {

// Ends the input early once the loader is asked to stop.
class StoppableSource final : public gbi::ByteSource {
public:
    StoppableSource(gbi::ByteSource &inner, const std::atomic<bool> &stop) : inner_(inner), stop_(stop) {}
    std::size_t read(char *buf, std::size_t n) override { return stop_ ? 0 : inner_.read(buf, n); }
    std::uint64_t skip(std::uint64_t n) override { return stop_ ? 0 : inner_.skip(n); }

private:
    gbi::ByteSource &inner_;
    const std::atomic<bool> &stop_;
};

void readAll(gbi::ByteSource &source, const gbi::ReadOptions &options, LoadedList &out, const std::atomic<bool> &stop)
{
    StoppableSource stoppable(source, stop);
    gbi::ListReader reader(stoppable, options);
    std::vector<gbi::RawCommand> chunk(1u << 14);
    std::size_t n = 0;
    std::vector<std::int32_t> symbolsSeen;
    while ((n = reader.read(chunk)) != 0) {
        for (std::size_t i = 0; i < n; ++i) {
            const gbi::RawCommand &c = chunk[i];
            gbi::Entry e;
            e.words = {c.w0, c.w1};
            e.address = c.address;
            if (c.w1Symbol >= 0)
                e.symbol = std::string(reader.symbolName(c.w1Symbol));
            if (!e.address && e.symbol.empty()) {
                // The common case, without building an Entry's columns.
                out.entries.words.push_back(e.words);
                if (!out.entries.addresses.empty())
                    out.entries.addresses.emplace_back();
                if (!out.entries.edited.empty())
                    out.entries.edited.push_back(false);
            } else {
                out.entries.push_back(e);
            }
        }
        auto messages = reader.takeMessages();
        out.messages.insert(out.messages.end(), std::make_move_iterator(messages.begin()),
                            std::make_move_iterator(messages.end()));
        if (stop)
            return;
    }
    auto messages = reader.takeMessages();
    out.messages.insert(out.messages.end(), std::make_move_iterator(messages.begin()), std::make_move_iterator(messages.end()));
    out.suppressed = reader.suppressedMessages();
    out.form = reader.form();
    out.offset = options.offset;
    for (const gbi::Label &label : reader.labels())
        if (label.address)
            out.labels.emplace_back(*label.address, std::string(reader.symbolName(label.symbol)));
}

} // namespace

ListLoader::ListLoader(QObject *parent) : QObject(parent) {}

ListLoader::~ListLoader()
{
    cancel_ = true;
    if (worker_.joinable())
        worker_.join();
}

void ListLoader::start(std::function<void(LoadedList &, const std::atomic<bool> &)> work, const QString &sourceName,
                       int purpose)
{
    if (worker_.joinable())
        worker_.join();
    busy_ = true;
    cancel_ = false;
    worker_ = std::thread([this, work = std::move(work), sourceName, purpose] {
        auto list = std::make_shared<LoadedList>();
        list->sourceName = sourceName;
        list->purpose = purpose;
        work(*list, cancel_);
        if (cancel_)
            return;
        // Back on the loader's thread; dropped if the loader is gone by then.
        QMetaObject::invokeMethod(
            this,
            [this, list] {
                if (worker_.joinable())
                    worker_.join();
                busy_ = false;
                emit finished(list);
            },
            Qt::QueuedConnection);
    });
}

bool ListLoader::readBytes(QByteArray bytes, const gbi::ReadOptions &options, const QString &sourceName, int purpose)
{
    if (busy_)
        return false;
    start(
        [bytes = std::move(bytes), options](LoadedList &list, const std::atomic<bool> &stop) {
            gbi::MemorySource source(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
            readAll(source, options, list, stop);
        },
        sourceName, purpose);
    return true;
}

bool ListLoader::readFile(const QString &path, const gbi::ReadOptions &options, int purpose)
{
    if (busy_)
        return false;
    start(
        [path, options](LoadedList &list, const std::atomic<bool> &stop) {
            const QFileInfo info(path);
            if (info.isDir()) {
                list.error = QObject::tr("it is a folder");
                return;
            }
            std::FILE *file = std::fopen(QFile::encodeName(path).constData(), "rb");
            if (!file) {
                list.error = QString::fromLocal8Bit(std::strerror(errno));
                return;
            }
            gbi::FileSource source(file);
            readAll(source, options, list, stop);
            if (source.failed())
                list.error = QObject::tr("reading stopped: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
            std::fclose(file);
        },
        QFileInfo(path).fileName(), purpose);
    return true;
}

} // namespace dlscope
