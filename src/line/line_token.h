// The line page's token: made at start, or read from --token-file.
#pragma once

#include <optional>
#include <string>

namespace farsend::line {

// 32 hex digits from the system's random source.
std::string MakeToken();

// The first line of `path`, spaces and line ends trimmed. Nullopt with
// `error` set when the file cannot be read or holds fewer than 16
// characters (a token that short could be guessed).
std::optional<std::string> ReadTokenFile(const std::string& path, std::string& error);

}  // namespace farsend::line
