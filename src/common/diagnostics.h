// Diagnostic lines ("waiting for TGT call\n" and the like). On Windows they go
// to the debugger output channel; elsewhere to standard error, but only when
// the user asked for them (--verbose). Tests install a sink to read them.
#pragma once

#include <functional>
#include <string_view>

namespace farsend {

void DiagnosticLine(std::string_view text);
// printf-style convenience; the result is cut at 511 characters.
void DiagnosticLinef(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Linux: whether lines reach standard error (off by default).
void SetDiagnosticsToStderr(bool enabled);

// Replaces the platform channel; an empty function restores it.
using DiagnosticSink = std::function<void(std::string_view)>;
void SetDiagnosticSink(DiagnosticSink sink);

}  // namespace farsend
