#include "line/line_actions.h"

#include <algorithm>

namespace farsend::line {

std::optional<ActionKind> ActionKindNamed(const std::string& word) {
    if (word == "retry") return ActionKind::Retry;
    if (word == "stop") return ActionKind::Stop;
    if (word == "continue") return ActionKind::Continue;
    return std::nullopt;
}

std::optional<ActionAnswer> LineActions::Ask(const LineAction& action, Millis timeout) {
    auto pending = std::make_shared<Pending>();
    pending->action = action;
    std::future<ActionAnswer> answer = pending->answer.get_future();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_.push_back(pending);
    }
    if (answer.wait_for(timeout) == std::future_status::ready) return answer.get();
    // Withdrawn, unless the run took it meanwhile.
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = std::find(pending_.begin(), pending_.end(), pending);
    if (it != pending_.end()) {
        pending_.erase(it);
        return std::nullopt;
    }
    return answer.get();
}

void LineActions::Serve(const std::function<ActionAnswer(const LineAction&)>& carryOut) {
    std::vector<std::shared_ptr<Pending>> taken;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        taken.swap(pending_);
    }
    for (const auto& pending : taken) pending->answer.set_value(carryOut(pending->action));
}

}  // namespace farsend::line
