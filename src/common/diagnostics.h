// Diagnostic lines ("waiting for TGT call\n" and the like). On Windows they go
// to the debugger output channel; elsewhere to standard error, but only when
// the user asked for them (--verbose). Tests install a sink to read them.
#pragma once

#include <functional>
#include <string>
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

// From now on the lines the calling thread writes are on behalf of the
// station NAME: each line starts with "[NAME] ", so that the lines of
// several stations that run at once can be told apart. An empty name writes
// them as they are (a program with a single station). Holds until the
// thread ends or names another station.
void SetDiagnosticStation(std::string name);

}  // namespace farsend
