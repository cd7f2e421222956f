#include "sim/flash_mirror.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>
#include <utility>

#include "common/record_file.h"

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

namespace farsend::sim {

namespace {

long ProcessId() {
#ifdef _WIN32
    return static_cast<long>(_getpid());
#else
    return static_cast<long>(getpid());
#endif
}

std::string UtcStamp(std::time_t t) {
    std::tm parts{};
#ifdef _WIN32
    gmtime_s(&parts, &t);
#else
    gmtime_r(&t, &parts);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &parts);
    return text;
}

}  // namespace

std::string ProcessTag() {
    static const std::string tag =
        UtcStamp(std::time(nullptr)) + "_p" + std::to_string(ProcessId());
    return tag;
}

std::string FlashMirrorFileName(const std::string& location, const std::string& process,
                                uint32_t target) {
    return location + "_" + process + "_t" + std::to_string(target) + ".hex";
}

bool ReplaceFileWhole(const std::string& path, const std::string& text, const char* tail,
                      std::string& error) {
    const std::string temporary = path + ".tmp";
    std::FILE* file = OpenRecordFile(temporary, "wb");
    if (file == nullptr) {
        error = "cannot create " + temporary + ": " + std::strerror(errno);
        return false;
    }
    const size_t tailLength = std::strlen(tail);
    bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    ok = std::fwrite(tail, 1, tailLength, file) == tailLength && ok;
    ok = std::fclose(file) == 0 && ok;
    if (!ok) {
        error = "cannot write " + temporary;
        std::remove(temporary.c_str());
        return false;
    }
    // Replaces the old file in one step, on Windows too (std::rename would
    // refuse an existing target there).
    std::error_code failure;
    std::filesystem::rename(temporary, path, failure);
    if (failure) {
        error = "cannot rename " + temporary + " to " + path + ": " + failure.message();
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

FlashMirror::FlashMirror(std::string folder, std::string location)
    : folder_(std::move(folder)), location_(std::move(location)), process_(ProcessTag()) {}

void FlashMirror::TargetArrived(uint32_t target) {
    path_ = (std::filesystem::path(folder_) / FlashMirrorFileName(location_, process_, target))
                .string();
    text_.Clear();
    Write();
}

void FlashMirror::Erased() {
    if (path_.empty()) return;
    text_.Clear();
    Write();
}

void FlashMirror::Programmed(uint32_t base, const uint8_t* data, uint32_t count,
                             const FlashPages& flash) {
    if (path_.empty() || count == 0) return;
    const bool wraps = base + (count - 1) < base;
    if (text_.Follows(base) && !wraps) {
        for (uint32_t i = 0; i < count; ++i) text_.Add(base + i, data[i]);
    } else {
        // Out of order or over bytes already there: the text starts again.
        text_.Clear();
        flash.ForEach([&](uint32_t address, uint8_t value) { text_.Add(address, value); });
    }
    Write();
}

bool FlashMirror::Ok(std::string& error) const {
    if (error_.empty()) return true;
    error = error_;
    return false;
}

void FlashMirror::Write() {
    std::string error;
    // The first failure is the one worth hearing of; later writes still try,
    // so a folder that comes back is written again.
    if (!ReplaceFileWhole(path_, text_.Text(), text_.Tail(), error) && error_.empty()) {
        error_ = error;
    }
}

}  // namespace farsend::sim
