#include <string>

// The one kernel32 entry needed here; declared by hand so that only the
// Windows backend and the Win32 shell pull in <windows.h>.
extern "C" __declspec(dllimport) void __stdcall OutputDebugStringA(const char* text);

namespace farsend {

void PlatformDiagnosticLine(const std::string& text, bool /*toStderr*/) {
    OutputDebugStringA(text.c_str());
}

}  // namespace farsend
