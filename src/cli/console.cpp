#include "cli/console.h"

namespace farsend::cli {

void Complain(Console& console, const std::string& text) {
    console.err << "farsend: " << text;
    if (text.empty() || text.back() != '\n') console.err << '\n';
    console.err.flush();
}

}  // namespace farsend::cli
