#include "common/diagnostics.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

namespace farsend {

// Implemented per platform (win/ or posix/).
void PlatformDiagnosticLine(const std::string& text, bool toStderr);

namespace {
std::mutex& SinkMutex() {
    static std::mutex m;
    return m;
}
DiagnosticSink& Sink() {
    static DiagnosticSink sink;
    return sink;
}
std::atomic<bool> g_toStderr{false};
}  // namespace

void DiagnosticLine(std::string_view text) {
    std::lock_guard<std::mutex> lock(SinkMutex());
    if (Sink()) {
        Sink()(text);
        return;
    }
    PlatformDiagnosticLine(std::string(text), g_toStderr.load());
}

void DiagnosticLinef(const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    DiagnosticLine(buffer);
}

void SetDiagnosticsToStderr(bool enabled) { g_toStderr.store(enabled); }

void SetDiagnosticSink(DiagnosticSink sink) {
    std::lock_guard<std::mutex> lock(SinkMutex());
    Sink() = std::move(sink);
}

}  // namespace farsend
