#include <poll.h>
#include <unistd.h>

#include "cli/operator_input.h"

namespace farsend::cli {
namespace {

class StandardInput final : public OperatorInput {
public:
    bool NextLine(std::string& line) override {
        while (!ended_ && pending_.find('\n') == std::string::npos) {
            pollfd input{STDIN_FILENO, POLLIN, 0};
            if (::poll(&input, 1, 0) <= 0) break;
            char bytes[256];
            const ssize_t count = ::read(STDIN_FILENO, bytes, sizeof bytes);
            if (count <= 0) {
                // At its end (or closed): a last line without its end counts.
                ended_ = true;
                if (!pending_.empty()) pending_ += '\n';
                break;
            }
            pending_.append(bytes, static_cast<size_t>(count));
        }
        const size_t end = pending_.find('\n');
        if (end == std::string::npos) return false;
        line = pending_.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        pending_.erase(0, end + 1);
        return true;
    }

private:
    std::string pending_;
    bool ended_ = false;
};

}  // namespace

std::unique_ptr<OperatorInput> StandardInputLines() {
    return std::make_unique<StandardInput>();
}

}  // namespace farsend::cli
