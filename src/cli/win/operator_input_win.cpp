#include "cli/operator_input.h"

namespace farsend::cli {
namespace {

// The Windows console's input cannot be looked at without waiting through
// the C library; a socket is freed there by taking its board out.
class NoInput final : public OperatorInput {
public:
    bool NextLine(std::string&) override { return false; }
};

}  // namespace

std::unique_ptr<OperatorInput> StandardInputLines() {
    return std::make_unique<NoInput>();
}

}  // namespace farsend::cli
