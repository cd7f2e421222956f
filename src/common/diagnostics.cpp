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

// Each thread's own: the station it works for, and whether its next text
// begins a line (texts may be pieces of a line, and begin with its end).
thread_local std::string t_station;
thread_local bool t_atLineStart = true;

std::string Named(std::string_view text) {
    const std::string prefix = "[" + t_station + "] ";
    std::string named;
    named.reserve(text.size() + prefix.size());
    for (char c : text) {
        if (t_atLineStart && c != '\n') {
            named += prefix;
            t_atLineStart = false;
        }
        named += c;
        if (c == '\n') t_atLineStart = true;
    }
    return named;
}

}  // namespace

void DiagnosticLine(std::string_view text) {
    const std::string line = t_station.empty() ? std::string(text) : Named(text);
    std::lock_guard<std::mutex> lock(SinkMutex());
    if (Sink()) {
        Sink()(line);
        return;
    }
    PlatformDiagnosticLine(line, g_toStderr.load());
}

void SetDiagnosticStation(std::string name) {
    t_station = std::move(name);
    t_atLineStart = true;
}

void DiagnosticLinef(const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    DiagnosticLine(buffer);
}

void SetDiagnosticsToStderr(bool enabled) {
    g_toStderr.store(enabled);
}

void SetDiagnosticSink(DiagnosticSink sink) {
    std::lock_guard<std::mutex> lock(SinkMutex());
    Sink() = std::move(sink);
}

}  // namespace farsend
