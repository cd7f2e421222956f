// The firmware image of one program or watch run: the file read whole once,
// at the run's start, and checked there. Every unit of the run is programmed
// from these bytes and recorded with their digest, whatever happens to the
// file on disk meanwhile: the serial range and the format were checked on
// them, so a unit can never get another image, or an unstamped one, behind a
// success. A file changed during the run is told once and used from the next
// run on.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>

namespace farsend::cli {

class RunImage {
public:
    // Reads `path` whole. Nothing when it cannot be opened or read.
    static std::unique_ptr<RunImage> Take(const std::string& path);

    const std::string& Path() const { return path_; }
    const std::shared_ptr<const std::string>& Bytes() const { return bytes_; }
    // Lower-case hexadecimal SHA-256 of Bytes().
    const std::string& Sha256() const { return sha256_; }

    // The warning to show when the file on disk no longer holds these bytes
    // (changed, replaced or gone); given once per run, to whichever station
    // asks first. Nothing otherwise. Any thread.
    std::optional<std::string> ChangeWarning();

private:
    RunImage(std::string path, std::shared_ptr<const std::string> bytes);

    const std::string path_;
    const std::shared_ptr<const std::string> bytes_;
    const std::string sha256_;
    std::atomic<bool> changeTold_{false};
};

// `text` with its control characters written as \xNN, so that
// a file's name cannot move the cursor, clear the screen or forge a line.
std::string PrintableName(const std::string& text);

}  // namespace farsend::cli
