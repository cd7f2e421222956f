#include "cli/run_image.h"

#include <cstdio>

#include "cli/sha256.h"
#include "protocol/image_file.h"

namespace farsend::cli {

std::unique_ptr<RunImage> RunImage::Take(const std::string& path) {
    const protocol::ImageSnapshot snapshot = protocol::TakeImageSnapshot(path);
    if (snapshot.status != protocol::ImageSnapshot::Status::Read) return nullptr;
    return std::unique_ptr<RunImage>(new RunImage(path, snapshot.bytes));
}

RunImage::RunImage(std::string path, std::shared_ptr<const std::string> bytes)
    : path_(std::move(path)), bytes_(std::move(bytes)), sha256_(Sha256Hex(*bytes_)) {}

std::optional<std::string> RunImage::ChangeWarning() {
    if (changeTold_.load()) return std::nullopt;
    const std::optional<std::string> now = Sha256OfFile(path_);
    if (now && *now == sha256_) return std::nullopt;
    // Another station may have found it at the same moment: one tells it.
    if (changeTold_.exchange(true)) return std::nullopt;
    return "warning: " + PrintableName(path_) +
           (now ? " changed on disk during the run" : " is gone or cannot be read") +
           "; this run goes on programming every unit with the image read at its start "
           "(sha256 " +
           sha256_ + "). The file as it is now is used from the next run on.";
}

std::string PrintableName(const std::string& text) {
    std::string shown;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            shown += escaped;
        } else {
            shown += c;
        }
    }
    return shown;
}

}  // namespace farsend::cli
