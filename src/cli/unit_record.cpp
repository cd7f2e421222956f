#include "cli/unit_record.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "cli/exit_status.h"
#include "common/record_file.h"
#include "firmware/platform_paths.h"

namespace farsend::cli {
namespace {

// Seconds rounded to milliseconds, so that reports do not carry float noise.
double RoundedSeconds(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) return 0.0;
    return std::round(seconds * 1000.0) / 1000.0;
}

}  // namespace

std::string JsonPathText(const std::string& path) {
#if defined(_WIN32)
    const std::string utf8 = firmware::NativePath(path).u8string();
    return utf8;
#else
    return path;
#endif
}

std::string DumpJson(const nlohmann::ordered_json& value) {
    return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

nlohmann::ordered_json UnitJson(const UnitRecord& record) {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    object["command"] = record.command;
    // A unit cut short by a signal is neither programmed nor failed: the
    // unit database calls it interrupted, and so does its record.
    object["result"] =
        record.status == kExitStopped ? "interrupted" : ExitStatusName(record.status);
    object["status"] = record.status;
    object["message"] = record.message;
    object["variant"] = record.variant;
    object["version"] = record.version;
    object["file"] = JsonPathText(record.file);
    object["sha256"] = record.sha256;
    object["blocks"] = record.blocks;
    object["bytes"] = record.bytes;
    object["seconds"] = RoundedSeconds(record.seconds);
    object["station"] = JsonPathText(record.station);
    object["bridge_serial"] = JsonPathText(record.bridgeSerial);
    object["unit"] = record.unit;
    object["serial"] =
        record.serial ? nlohmann::ordered_json(*record.serial) : nlohmann::ordered_json();
    object["host"] = record.host;
    object["simulated"] = record.simulated;
    object["job"] = record.jobName.empty() ? nlohmann::ordered_json()
                                           : nlohmann::ordered_json{{"name", record.jobName},
                                                                    {"sha256", record.jobSha256}};
    return object;
}

std::string ReportLine(const UnitRecord& record, std::chrono::system_clock::time_point when) {
    nlohmann::ordered_json line = nlohmann::ordered_json::object();
    line["time"] = FormatUtc(when);
    const nlohmann::ordered_json unit = UnitJson(record);
    for (const auto& item : unit.items()) line[item.key()] = item.value();
    return DumpJson(line);
}

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
