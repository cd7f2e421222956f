// The simulated target's output files: the serial log and the flash image.
#include <cerrno>
#include <cstring>

#include "common/record_file.h"
#include "sim/simulated_target.h"

namespace farsend::sim {

bool SimulatedTarget::OpenSerialLog(const std::string& path, std::string& error) {
    std::FILE* file = OpenRecordFile(path, "wb");
    if (file == nullptr) {
        error = "cannot create the serial log " + path + ": " + std::strerror(errno);
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (serial_log_ != nullptr) std::fclose(serial_log_);
    serial_log_ = file;
    return true;
}

bool SimulatedTarget::WriteFlashOut(const std::string& path, std::string& error) const {
    FlashPages flash;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        flash = flash_;
    }
    return WriteFlashFile(path, flash, error);
}

bool SimulatedTarget::FlashDirOk(std::string& error) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return mirror_ == nullptr || mirror_->Ok(error);
}

void SimulatedTarget::FlushLog() {
    if (log_dirty_) {
        std::fflush(serial_log_);
        log_dirty_ = false;
    }
}

}  // namespace farsend::sim
