// Files and folders that only the user who runs farsend may open: secret
// keys, and the image a production job carries. Each is made so from the
// start, never opened wider and narrowed afterwards.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace farsend {

// Writes `text` into a new file at `path`; `ownerOnly`: no other user may
// open it. False with `error` set, and nothing left behind, when the file
// exists already or cannot be written whole.
bool WriteNewFile(const std::string& path, const std::string& text, bool ownerOnly,
                  std::string& error);

void RemoveFile(const std::string& path);

// A new, empty folder in the system's temporary folder that no other user
// may enter; nothing, with `error` set, when none can be made.
std::optional<std::filesystem::path> MakePrivateFolder(std::string& error);

}  // namespace farsend
