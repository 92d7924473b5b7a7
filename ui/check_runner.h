#pragma once

// Runs the checks (gbi/checks.h) over a copy of a list's words on a worker
// thread and hands the findings, and the state index of the same walk, back
// on the window's thread. A run asked for while one is going starts when it
// ends, and only the newest result is handed back; a runner destroyed while
// checking waits for the walk to end.

#include "gbi/checks.h"

#include <QObject>

#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace dlscope {

struct CheckResult {
    // The words checked: the index reads them, so they live as long as it.
    std::shared_ptr<const std::vector<gbi::Words>> words;
    gbi::Ucode ucode = gbi::Ucode::F3DEX2;
    gbi::CheckReport report;
    gbi::StateIndex index;
    unsigned generation = 0; // the run() call this answers
};

class CheckRunner : public QObject {
    Q_OBJECT
public:
    explicit CheckRunner(QObject *parent = nullptr);
    ~CheckRunner() override;

    // Returns the generation the result will carry.
    unsigned run(std::vector<gbi::Words> words, gbi::Ucode ucode);
    bool busy() const { return worker_.joinable(); }

signals:
    void finished(std::shared_ptr<const CheckResult> result);

private:
    struct Request {
        std::vector<gbi::Words> words;
        gbi::Ucode ucode;
        unsigned generation;
    };
    void start(Request request);

    std::thread worker_;
    std::optional<Request> pending_;
    unsigned generation_ = 0;
};

} // namespace dlscope
