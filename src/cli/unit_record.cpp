#include "cli/unit_record.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "cli/exit_status.h"
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
    return object;
}

std::string ReportLine(const UnitRecord& record, std::chrono::system_clock::time_point when) {
    nlohmann::ordered_json line = nlohmann::ordered_json::object();
    line["time"] = FormatUtc(when);
    const nlohmann::ordered_json unit = UnitJson(record);
    for (const auto& item : unit.items()) line[item.key()] = item.value();
    return DumpJson(line);
}

bool AppendReportLine(const std::string& path, const std::string& line, std::string& error) {
    struct Closer {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
#if defined(_WIN32)
    std::unique_ptr<std::FILE, Closer> file(_wfopen(firmware::NativePath(path).c_str(), L"ab"));
#else
    std::unique_ptr<std::FILE, Closer> file(std::fopen(path.c_str(), "ab"));
#endif
    if (!file) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    const std::string whole = line + "\n";
    // Unbuffered, so the line leaves in one write call.
    std::setvbuf(file.get(), nullptr, _IONBF, 0);
    if (std::fwrite(whole.data(), 1, whole.size(), file.get()) != whole.size()) {
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
