// The supervisor view's questions to the unit database, answered as JSON
// for the page (and CSV for its export). Read-only: nothing here writes.
//
//   GET /api/dashboard/summary?from=T&to=T[&host=H][&station=S]
//       totals, yield per station, per hour (UTC), failure reasons ranked
//   GET /api/dashboard/units?from=T&to=T[&host=H][&station=S][&limit=N]
//       the newest rows of the range (N at most, 200 unless given)
//   GET /api/dashboard/unit?serial=N       the rows carrying that serial
//   GET /api/dashboard/units.csv?from=T&to=T[&host=H][&station=S]
//       every row of the range as CSV (see DashboardCsv)
//
// T is a UTC time as the unit database writes it ("2024-05-01T12:00:00Z";
// the page converts from the viewer's time zone). Without `to`, now; without
// `from`, 24 hours before `to`.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "units/unit_database.h"
#include "units/yield_queries.h"

namespace farsend::cli {

using QueryParameters = std::multimap<std::string, std::string>;

struct ApiAnswer {
    int status = 200;  // 400 a bad parameter, 404 no such path, 503 no database
    std::string contentType = "application/json";
    std::string body;
};

// The range a request names, or the reason it is refused.
struct RangeRequest {
    std::optional<units::RangeFilter> filter;
    std::string error;
};
RangeRequest ReadRange(const QueryParameters& parameters, units::TimePoint now);

// Opens the database for one request: each request its own connection, so
// that requests served at once share nothing, and a server that went away
// is reached again by the next one.
using DatabaseOpener = std::function<std::unique_ptr<units::UnitDatabase>()>;

class DashboardApi {
public:
    DashboardApi(DatabaseOpener open, std::function<units::TimePoint()> now)
        : open_(std::move(open)), now_(std::move(now)) {}

    // `path` one of the JSON paths above; 404 for any other.
    ApiAnswer Answer(const std::string& path, const QueryParameters& parameters) const;

    // The CSV export: a 400 answer (the range refused) or a 503 one (no
    // database), else nothing, the CSV having gone to `write` (see
    // WriteUnitsCsv; false from it stops the listing).
    std::optional<ApiAnswer> Csv(const QueryParameters& parameters,
                                 const std::function<bool(const std::string&)>& write) const;

private:
    DatabaseOpener open_;
    std::function<units::TimePoint()> now_;
};

// The rows the page's table shows at most, unless the request says.
constexpr std::size_t kDefaultRowLimit = 200;
constexpr std::size_t kLargestRowLimit = 5000;
// The failure reasons listed at most.
constexpr std::size_t kReasonLimit = 20;

}  // namespace farsend::cli
