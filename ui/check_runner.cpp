#include "check_runner.h"

namespace dlscope {

CheckRunner::CheckRunner(QObject *parent) : QObject(parent) {}

CheckRunner::~CheckRunner()
{
    if (worker_.joinable())
        worker_.join();
}

unsigned CheckRunner::run(std::vector<gbi::Words> words, gbi::Ucode ucode)
{
    Request request{std::move(words), ucode, ++generation_};
    if (worker_.joinable())
        pending_ = std::move(request); // replaces an older waiting request
    else
        start(std::move(request));
    return generation_;
}

void CheckRunner::start(Request request)
{
    worker_ = std::thread([this, request = std::move(request)]() mutable {
        auto result = std::make_shared<CheckResult>();
        result->words = std::make_shared<const std::vector<gbi::Words>>(std::move(request.words));
        result->ucode = request.ucode;
        result->generation = request.generation;
        gbi::CheckOptions options;
        options.maxFindings = 20000;
        result->report = gbi::checkList(request.ucode, *result->words, options, &result->index);
        // Back on the runner's thread; dropped if the runner is gone by then.
        QMetaObject::invokeMethod(
            this,
            [this, result] {
                if (worker_.joinable())
                    worker_.join();
                if (pending_) {
                    Request next = std::move(*pending_);
                    pending_.reset();
                    start(std::move(next));
                    return; // a newer list is on its way
                }
                emit finished(result);
            },
            Qt::QueuedConnection);
    });
}

} // namespace dlscope
