#include <cstdio>
#include <string>

namespace farsend {

void PlatformDiagnosticLine(const std::string& text, bool toStderr) {
    if (!toStderr) return;
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

}  // namespace farsend
