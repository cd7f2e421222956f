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

// Days since 1970-01-01 to a civil date (proleptic Gregorian calendar).
void CivilFromDays(std::int64_t days, std::int64_t& year, unsigned& month, unsigned& day) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned monthIndex = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    year = static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
}

// Seconds rounded to milliseconds, so that reports do not carry float noise.
double RoundedSeconds(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) return 0.0;
    return std::round(seconds * 1000.0) / 1000.0;
}

}  // namespace

std::string FormatUtc(std::chrono::system_clock::time_point when) {
    const std::int64_t seconds =
        std::chrono::duration_cast<std::chrono::seconds>(when.time_since_epoch()).count();
    std::int64_t days = seconds / 86400;
    std::int64_t secondOfDay = seconds % 86400;
    if (secondOfDay < 0) {
        secondOfDay += 86400;
        --days;
    }
    std::int64_t year = 0;
    unsigned month = 0, day = 0;
    CivilFromDays(days, year, month, day);
    char text[40];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02d:%02d:%02dZ",
                  static_cast<long long>(year), month, day, static_cast<int>(secondOfDay / 3600),
                  static_cast<int>(secondOfDay / 60 % 60), static_cast<int>(secondOfDay % 60));
    return text;
}

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
    object["result"] = ExitStatusName(record.status);
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
