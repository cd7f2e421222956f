#include "cli/dashboard_api.h"

#include <cstdlib>
#include <nlohmann/json.hpp>

#include "cli/unit_csv.h"

namespace farsend::cli {
namespace {

using nlohmann::ordered_json;
using units::ResultCounts;
using units::TimePoint;

// The longest range a request may name: a year of hours is 8784 points on
// a chart, which is as many as a page can show.
constexpr auto kLongestRange = std::chrono::hours(24 * 366);

std::optional<std::string> Parameter(const QueryParameters& parameters, const std::string& name) {
    const auto found = parameters.find(name);
    if (found == parameters.end()) return std::nullopt;
    return found->second;
}

// Every string here came from a device, a file or another PC: the JSON
// carries it as a string, bytes that are not UTF-8 replaced rather than
// refused, and the page puts it in as text.
std::string Dump(const ordered_json& value) {
    return value.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
}

ApiAnswer Error(int status, const std::string& message) {
    return {status, "application/json", Dump(ordered_json{{"error", message}})};
}

ordered_json Yield(const ResultCounts& counts) {
    const std::optional<double> yield = counts.Yield();
    return yield ? ordered_json(*yield) : ordered_json(nullptr);
}

ordered_json Counts(const ResultCounts& counts) {
    return {{"programmed", counts.programmed},
            {"failed", counts.failed},
            {"interrupted", counts.interrupted},
            {"unfinished", counts.unfinished},
            {"yield", Yield(counts)}};
}

ordered_json Nullable(const std::optional<std::int64_t>& value) {
    return value ? ordered_json(*value) : ordered_json(nullptr);
}

ordered_json RowJson(const units::UnitRow& row) {
    const units::UnitFinish* finish = row.finish ? &*row.finish : nullptr;
    ordered_json json = {
        {"id", row.id},
        {"start", FormatUtc(row.start.start)},
        {"end", finish ? ordered_json(FormatUtc(finish->end)) : ordered_json(nullptr)},
        {"host", row.start.host},
        {"station", row.start.station},
        {"bridgeSerial", row.start.bridgeSerial},
        {"file", row.start.file},
        {"sha256", row.start.sha256},
        {"variant", finish ? finish->variant : ""},
        {"version", finish ? finish->version : ""},
        {"pool", row.pool},
        {"serial", Nullable(row.serial)},
        {"numberReturned", row.numberReturned},
        {"result", finish ? units::UnitResultName(finish->result) : "unfinished"},
        {"exitStatus", finish ? ordered_json(finish->exitStatus) : ordered_json(nullptr)},
        {"seconds", finish ? finish->seconds : 0.0},
        {"bytes", finish ? finish->bytes : 0},
        {"message", finish ? finish->message : ""},
        {"simulated", row.start.simulated},
    };
    return json;
}

ordered_json Rows(const std::vector<units::UnitRow>& rows) {
    ordered_json list = ordered_json::array();
    for (const units::UnitRow& row : rows) list.push_back(RowJson(row));
    return list;
}

ordered_json Summary(units::UnitDatabase& db, const units::RangeFilter& filter) {
    ResultCounts total;
    const units::RangeYield yield = units::YieldOfRange(db, filter);
    ordered_json stations = ordered_json::array();
    for (const units::StationYield& station : yield.stations) {
        total += station.counts;
        ordered_json entry = {{"host", station.host}, {"station", station.station}};
        entry.update(Counts(station.counts));
        stations.push_back(entry);
    }
    ordered_json hours = ordered_json::array();
    std::int64_t busyHours = 0;
    for (const units::HourYield& hour : yield.hours) {
        ordered_json entry = {{"hour", FormatUtc(hour.hour)}};
        entry.update(Counts(hour.counts));
        hours.push_back(entry);
        if (hour.counts.Finished() > 0) ++busyHours;
    }
    ordered_json reasons = ordered_json::array();
    for (const units::FailureReason& reason : units::FailureReasons(db, filter, kReasonLimit)) {
        reasons.push_back({{"message", reason.message},
                           {"units", reason.units},
                           {"latest", FormatUtc(reason.latest)}});
    }
    ordered_json totals = Counts(total);
    // Over the hours in which units were finished: the hours a line stood
    // still would otherwise pull down how fast it runs.
    totals["unitsPerHour"] = busyHours > 0
                                 ? ordered_json(static_cast<double>(total.Finished()) / busyHours)
                                 : ordered_json(nullptr);
    return {{"from", FormatUtc(filter.from)},
            {"to", FormatUtc(filter.to)},
            {"totals", totals},
            {"stations", stations},
            {"hours", hours},
            {"reasons", reasons}};
}

// A whole number in [1, largest] written in decimal digits, or none.
std::optional<std::int64_t> WholeNumber(const std::string& text, std::int64_t largest) {
    if (text.empty() || text.size() > 19) return std::nullopt;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
    }
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (value < 0 || value > largest) return std::nullopt;
    return value;
}

}  // namespace

RangeRequest ReadRange(const QueryParameters& parameters, TimePoint now) {
    RangeRequest request;
    units::RangeFilter filter;
    filter.to = now;
    if (const std::optional<std::string> to = Parameter(parameters, "to")) {
        const std::optional<TimePoint> when = ParseUtc(*to);
        if (!when) {
            request.error = "to: not a UTC time such as 2024-05-01T12:00:00Z";
            return request;
        }
        filter.to = *when;
    }
    filter.from = filter.to - std::chrono::hours(24);
    if (const std::optional<std::string> from = Parameter(parameters, "from")) {
        const std::optional<TimePoint> when = ParseUtc(*from);
        if (!when) {
            request.error = "from: not a UTC time such as 2024-05-01T12:00:00Z";
            return request;
        }
        filter.from = *when;
    }
    if (filter.from >= filter.to) {
        request.error = "from must come before to";
        return request;
    }
    if (filter.to - filter.from > kLongestRange) {
        request.error = "the range is longer than 366 days";
        return request;
    }
    filter.host = Parameter(parameters, "host");
    filter.station = Parameter(parameters, "station");
    request.filter = filter;
    return request;
}

ApiAnswer DashboardApi::Answer(const std::string& path, const QueryParameters& parameters) const {
    try {
        if (path == "/api/dashboard/unit") {
            const std::optional<std::int64_t> serial = WholeNumber(
                Parameter(parameters, "serial").value_or(""), units::kLargestPoolNumber);
            if (!serial) return Error(400, "serial: a whole number, 0 or more");
            const std::unique_ptr<units::UnitDatabase> db = open_();
            return {
                200, "application/json",
                Dump({{"serial", *serial}, {"rows", Rows(units::UnitsWithSerial(*db, *serial))}})};
        }
        if (path != "/api/dashboard/summary" && path != "/api/dashboard/units") {
            return Error(404, "no such question: " + path);
        }
        const RangeRequest range = ReadRange(parameters, now_());
        if (!range.filter) return Error(400, range.error);
        if (path == "/api/dashboard/summary") {
            const std::unique_ptr<units::UnitDatabase> db = open_();
            return {200, "application/json", Dump(Summary(*db, *range.filter))};
        }
        units::UnitFilter filter = range.filter->Units();
        filter.newestFirst = true;
        filter.limit = kDefaultRowLimit;
        if (const std::optional<std::string> limit = Parameter(parameters, "limit")) {
            const std::optional<std::int64_t> value = WholeNumber(*limit, kLargestRowLimit);
            if (!value || *value == 0) {
                return Error(400,
                             "limit: a whole number from 1 to " + std::to_string(kLargestRowLimit));
            }
            filter.limit = static_cast<std::size_t>(*value);
        }
        const std::unique_ptr<units::UnitDatabase> db = open_();
        return {200, "application/json",
                Dump({{"limit", *filter.limit}, {"rows", Rows(db->ListUnits(filter))}})};
    } catch (const units::UnitDatabaseError& error) {
        return Error(503, error.what());
    }
}

std::optional<ApiAnswer> DashboardApi::Csv(
    const QueryParameters& parameters, const std::function<bool(const std::string&)>& write) const {
    const RangeRequest range = ReadRange(parameters, now_());
    if (!range.filter) return Error(400, range.error);
    try {
        const std::unique_ptr<units::UnitDatabase> db = open_();
        WriteUnitsCsv(*db, range.filter->Units(), write);
    } catch (const units::UnitDatabaseError& error) {
        return Error(503, error.what());
    }
    return std::nullopt;
}

}  // namespace farsend::cli
