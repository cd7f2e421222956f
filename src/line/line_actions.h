// What the page asks of the stations (retry a failed board, stop a station,
// let it continue), handed from the server's threads to the run, which
// carries each out between its looks at the stations and answers it.
#pragma once

#include <cstddef>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/clock.h"

namespace farsend::line {

enum class ActionKind { Retry, Stop, Continue };

// "retry", "stop", "continue"; nullopt for any other word.
std::optional<ActionKind> ActionKindNamed(const std::string& word);

struct LineAction {
    ActionKind kind = ActionKind::Retry;
    std::size_t station = 0;
};

struct ActionAnswer {
    int httpStatus = 200;  // 200 done, 404 no such station, 409 not now
    std::string message;
};

class LineActions {
public:
    // On a server thread: the run's answer, or nullopt when the run did not
    // take the action within `timeout` (it is then withdrawn).
    std::optional<ActionAnswer> Ask(const LineAction& action, Millis timeout);
    // On the run's thread: answers every action asked so far.
    void Serve(const std::function<ActionAnswer(const LineAction&)>& carryOut);

private:
    struct Pending {
        LineAction action;
        std::promise<ActionAnswer> answer;
    };
    std::mutex mutex_;
    std::vector<std::shared_ptr<Pending>> pending_;
};

}  // namespace farsend::line
