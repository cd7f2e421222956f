#include "cli/report_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "common/record_file.h"
#include "firmware/platform_paths.h"

namespace farsend::cli {
namespace {

std::FILE* OpenForAppending(const std::string& path) {
#if defined(_WIN32)
    return _wfopen(firmware::NativePath(path).c_str(), L"ab");
#else
    return OpenRecordFile(path, "ab");
#endif
}

bool WriteWhole(std::FILE* file, const std::string& whole) {
    return std::fwrite(whole.data(), 1, whole.size(), file) == whole.size();
}

// The report KeepReportOpen opened.
struct KeptReport {
    std::mutex lock;
    std::string path;
    std::FILE* file = nullptr;
};
KeptReport& Kept() {
    static KeptReport kept;
    return kept;
}

}  // namespace

bool KeepReportOpen(const std::string& path, std::string& error) {
    KeptReport& kept = Kept();
    std::lock_guard<std::mutex> hold(kept.lock);
    if (kept.file != nullptr && kept.path == path) return true;
    std::FILE* file = OpenForAppending(path);
    if (file == nullptr) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    // Unbuffered, so each line leaves in one write call.
    std::setvbuf(file, nullptr, _IONBF, 0);
    if (kept.file != nullptr) std::fclose(kept.file);
    kept.file = file;
    kept.path = path;
    return true;
}

bool AppendReportLine(const std::string& path, const std::string& line, std::string& error) {
    const std::string whole = line + "\n";
    {
        KeptReport& kept = Kept();
        std::lock_guard<std::mutex> hold(kept.lock);
        if (kept.file != nullptr && kept.path == path) {
            if (!WriteWhole(kept.file, whole) || std::fflush(kept.file) != 0) {
                error = path + ": " + std::strerror(errno);
                return false;
            }
            return true;
        }
    }
    struct Closer {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, Closer> file(OpenForAppending(path));
    if (!file) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    // Unbuffered, so the line leaves in one write call.
    std::setvbuf(file.get(), nullptr, _IONBF, 0);
    if (!WriteWhole(file.get(), whole)) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    if (std::fclose(file.release()) != 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace farsend::cli
