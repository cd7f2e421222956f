#include <string>

#include "firmware/platform_paths.h"

// The three kernel32 entries needed here, declared by hand so that only the
// Windows backend and the Win32 shell pull in <windows.h>.
extern "C" {
__declspec(dllimport) unsigned int __stdcall GetACP();
__declspec(dllimport) int __stdcall MultiByteToWideChar(unsigned int codePage, unsigned long flags,
                                                        const char* text, int length, wchar_t* wide,
                                                        int wideLength);
__declspec(dllimport) int __stdcall WideCharToMultiByte(unsigned int codePage, unsigned long flags,
                                                        const wchar_t* wide, int wideLength,
                                                        char* text, int length,
                                                        const char* defaultChar,
                                                        int* usedDefaultChar);
}

namespace farsend::firmware {
namespace {
constexpr unsigned int kAnsiCodePage = 0;  // CP_ACP
constexpr unsigned int kUtf8CodePage = 65001;
constexpr unsigned long kNoBestFitChars = 0x400;  // WC_NO_BEST_FIT_CHARS
constexpr unsigned long kErrInvalidChars = 0x80;  // WC_ERR_INVALID_CHARS (UTF-8 only)
}  // namespace

std::filesystem::path NativePath(std::string_view path) {
    if (path.empty()) return {};
    const int length = static_cast<int>(path.size());
    const int wideLength = MultiByteToWideChar(kAnsiCodePage, 0, path.data(), length, nullptr, 0);
    if (wideLength <= 0) return {};
    std::wstring wide(static_cast<size_t>(wideLength), L'\0');
    MultiByteToWideChar(kAnsiCodePage, 0, path.data(), length, wide.data(), wideLength);
    return std::filesystem::path(wide);
}

std::optional<std::string> EightBitPath(const std::filesystem::path& path) {
    const std::wstring& wide = path.native();
    if (wide.empty()) return std::string();
    const int wideLength = static_cast<int>(wide.size());
    // Best-fit mapping would turn a character the code page lacks into a
    // look-alike that names another file; ask for exact conversion and check.
    // A UTF-8 code page represents everything but broken surrogate pairs.
    const bool utf8 = GetACP() == kUtf8CodePage;
    const unsigned long flags = utf8 ? kErrInvalidChars : kNoBestFitChars;
    int usedDefault = 0;
    int* usedDefaultOut = utf8 ? nullptr : &usedDefault;
    const int length = WideCharToMultiByte(kAnsiCodePage, flags, wide.data(), wideLength, nullptr,
                                           0, nullptr, usedDefaultOut);
    if (length <= 0 || usedDefault) return std::nullopt;
    std::string text(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(kAnsiCodePage, flags, wide.data(), wideLength, text.data(), length, nullptr,
                        usedDefaultOut);
    if (usedDefault) return std::nullopt;
    return text;
}

std::string EightBitPathForDisplay(const std::filesystem::path& path) {
    const std::wstring& wide = path.native();
    std::string text;
    text.reserve(wide.size());
    for (wchar_t c : wide) {
        const std::wstring one(1, c);
        const std::optional<std::string> converted = EightBitPath(std::filesystem::path(one));
        text += converted ? *converted : std::string("?");
    }
    return text;
}

}  // namespace farsend::firmware
