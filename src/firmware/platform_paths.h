// Paths as the tool keeps them: 8-bit text in the system's ANSI code page on
// Windows (where the tool's buffers hold at most 259 characters), plain bytes
// on Linux (no limit of ours). The native form (std::filesystem::path) is
// what the file system is asked with; conversions between the two never lose
// a character silently.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace farsend::firmware {

#if defined(_WIN32)
constexpr char kPathSeparator = '\\';
// The longest path in 8-bit form that the tool accepts (its buffers hold 260
// bytes with the terminator).
constexpr std::size_t kMaxPathLength = 259;
#else
constexpr char kPathSeparator = '/';
constexpr std::size_t kMaxPathLength = std::string::npos;
#endif

inline bool FitsPathLimit(std::string_view path) {
    return path.size() <= kMaxPathLength;
}

// "<directory><separator><name>".
std::string JoinPath(std::string_view directory, std::string_view name);

// The native form of an 8-bit path (Windows: from the ANSI code page).
std::filesystem::path NativePath(std::string_view path);

// The 8-bit form of a native path, or nothing when the ANSI code page cannot
// represent every character of it (Windows only; Linux paths are bytes).
std::optional<std::string> EightBitPath(const std::filesystem::path& path);
// The 8-bit form for messages: characters the code page lacks become '?'.
std::string EightBitPathForDisplay(const std::filesystem::path& path);

// File status without exceptions: false when the path cannot be examined.
bool IsExistingRegularFile(std::string_view path);
bool IsExistingDirectory(std::string_view path);

}  // namespace farsend::firmware
