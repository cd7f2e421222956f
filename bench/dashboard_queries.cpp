// How long the supervisor view's questions take over a large unit database:
// a million unit rows over 30 days, 32 stations on 4 PCs, 5 % failed.
// Each answer is timed as `farsend dashboard` makes it for a request: the
// database opened (read-only), the queries run, the JSON written.
//   bench_dashboard_queries [--rows N] [--sqlite FILE] [--postgresql URL]
// Without --sqlite, an SQLite file in a fresh folder under the temporary
// directory; without --postgresql, no PostgreSQL figure (given a server's
// .../postgres?... URL, it makes a database of its own there). The rows are made
// by the database itself (one INSERT ... SELECT), ending now.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "cli/dashboard_api.h"
#include "units/soci.h"
#include "units/unit_database.h"
#include "units/yield_queries.h"

using namespace farsend;

namespace {

constexpr int kRuns = 5;  // after one unmeasured run
constexpr double kGoalMs = 1000.0;
constexpr long long kSpanSeconds = 30LL * 24 * 3600;

// The columns every made-up row fills; the rest keep their defaults.
constexpr const char* kColumns =
    "INSERT INTO units (record_id, start_time, end_time, host, station, bridge_serial, file,"
    " sha256, serial, blocks, bytes, seconds, result, exit_status, message) ";

// Row i: started i * 30 days / rows after `base`, on PC i % 4, socket
// (i / 4) % 8; every 20th failed (one of three reasons), every 97th
// interrupted, the rest programmed; serial number i + 1.
void FillSQLite(soci::session& sql, long long rows, long long base) {
    const std::string offset =
        " + i * " + std::to_string(kSpanSeconds) + " / " + std::to_string(rows);
    sql << std::string(kColumns) +
               "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < " +
               std::to_string(rows - 1) +
               ") SELECT printf('bench%010d', i),"
               " strftime('%Y-%m-%dT%H:%M:%SZ', " +
               std::to_string(base) + offset +
               ", 'unixepoch'),"
               " strftime('%Y-%m-%dT%H:%M:%SZ', " +
               std::to_string(base + 14) + offset +
               ", 'unixepoch'),"
               " 'pc' || (i % 4), 'usb-1.' || ((i / 4) % 8), 'BR' || (i % 32),"
               " '/srv/firmware/Farsend_15_bt.hex', 'ab', i + 1, 512, 131072, 13.5,"
               " CASE WHEN i % 20 = 0 THEN 'failed' WHEN i % 97 = 0 THEN 'interrupted'"
               " ELSE 'programmed' END,"
               " CASE WHEN i % 20 = 0 THEN 6 ELSE 0 END,"
               " CASE WHEN i % 20 = 0 THEN 'reason ' || (i % 3) ELSE '' END FROM n";
}

void FillPostgreSQL(soci::session& sql, long long rows, long long base) {
    const std::string at = "to_char(to_timestamp(" + std::to_string(base) + " + i * " +
                           std::to_string(kSpanSeconds) + "::bigint / " + std::to_string(rows) +
                           ") AT TIME ZONE 'UTC', ";
    sql << std::string(kColumns) + "SELECT 'bench' || i, " + at +
               "'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"'), " + at +
               "'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"'),"
               " 'pc' || (i % 4), 'usb-1.' || ((i / 4) % 8), 'BR' || (i % 32),"
               " '/srv/firmware/Farsend_15_bt.hex', 'ab', i + 1, 512, 131072, 13.5,"
               " CASE WHEN i % 20 = 0 THEN 'failed' WHEN i % 97 = 0 THEN 'interrupted'"
               " ELSE 'programmed' END,"
               " CASE WHEN i % 20 = 0 THEN 6 ELSE 0 END,"
               " CASE WHEN i % 20 = 0 THEN 'reason ' || (i % 3) ELSE '' END"
               " FROM generate_series(0, " +
               std::to_string(rows - 1) + ") AS i";
    // What the server's autovacuum does after so many new rows: the
    // planner's statistics, and the visibility map index-only scans need.
    sql << "VACUUM ANALYZE units";
}

// A database of its own on the server `url` names (made afresh): the rows
// counted are the made-up ones alone, whatever else the server holds.
std::string FreshPostgreSQL(const std::string& url) {
    const std::size_t at = url.find("/postgres?");
    if (at == std::string::npos)
        throw std::runtime_error("--postgresql: give the server's .../postgres?... URL");
    soci::session admin("postgresql", url);
    admin << "SET client_min_messages = warning";
    admin << "DROP DATABASE IF EXISTS farsend_dashboard_bench";
    admin << "CREATE DATABASE farsend_dashboard_bench";
    return url.substr(0, at) + "/farsend_dashboard_bench?" + url.substr(at + 10);
}

struct Question {
    const char* what;
    std::string path;
    cli::QueryParameters parameters;
};

void Measure(const char* engine, const std::string& location, long long rows) {
    const auto now = std::chrono::system_clock::now();
    const long long end =
        std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
    {
        const double t0 = bench::WallSeconds();
        // Making the rows takes longer than a station's statements may.
        units::DatabaseOptions filling;
        filling.timeout = std::chrono::minutes(30);
        auto db = units::UnitDatabase::Open(location, filling);
        db->Query("making up rows", [&](soci::session& sql) {
            if (db->engine() == units::Engine::SQLite) {
                FillSQLite(sql, rows, end - kSpanSeconds);
            } else {
                FillPostgreSQL(sql, rows, end - kSpanSeconds);
            }
        });
        std::printf("%s: %lld rows made in %.1f s\n", engine, rows, bench::WallSeconds() - t0);
        // Written around the program, the rows are counted as an upgrade
        // of an older database counts them.
        const double c0 = bench::WallSeconds();
        units::RecountUnits(*db);
        std::printf("%s: counted per hour, station, result and reason in %.1f s\n", engine,
                    bench::WallSeconds() - c0);
    }
    units::DatabaseOptions options;
    options.readOnly = true;
    const cli::DashboardApi api([&] { return units::UnitDatabase::Open(location, options); },
                                [now] { return now; });
    const std::string month = FormatUtc(now - std::chrono::seconds(kSpanSeconds + 60));
    const std::vector<Question> questions = {
        {"summary, last 24 h", "/api/dashboard/summary", {}},
        {"summary, all 30 days", "/api/dashboard/summary", {{"from", month}}},
        {"newest 200 rows of 30 days", "/api/dashboard/units", {{"from", month}}},
        {"one station's newest 200 rows of 30 days",
         "/api/dashboard/units",
         {{"from", month}, {"host", "pc2"}, {"station", "usb-1.5"}}},
        {"a unit by serial number", "/api/dashboard/unit", {{"serial", std::to_string(rows / 2)}}},
    };
    for (const Question& question : questions) {
        std::vector<double> ms, cpuMs;
        std::size_t bytes = 0;
        for (int run = 0; run <= kRuns; ++run) {
            const double c0 = bench::ProcessCpuSeconds();
            const double t0 = bench::WallSeconds();
            const cli::ApiAnswer answer = api.Answer(question.path, question.parameters);
            const double t1 = bench::WallSeconds();
            const double c1 = bench::ProcessCpuSeconds();
            if (answer.status != 200) {
                throw std::runtime_error(std::string(question.what) + ": " + answer.body);
            }
            bytes = answer.body.size();
            if (run > 0) {
                ms.push_back((t1 - t0) * 1000.0);
                cpuMs.push_back((c1 - c0) * 1000.0);
            }
        }
        std::sort(ms.begin(), ms.end());
        std::sort(cpuMs.begin(), cpuMs.end());
        // This process's CPU time: the whole of the work for SQLite, which
        // runs in it; for PostgreSQL only the client's part. On a shared
        // machine it tells what the wall time would be on an idle one.
        std::printf(
            "%s, %s: wall median %.1f ms, max %.1f ms; CPU median %.1f ms, max %.1f ms; of %d "
            "(%zu bytes of JSON)\n",
            engine, question.what, ms[ms.size() / 2], ms.back(), cpuMs[cpuMs.size() / 2],
            cpuMs.back(), kRuns, bytes);
        bench::PrintRow(
            std::string("dashboard over ") + std::to_string(rows) + " units, " + engine + ": " +
                question.what + " (max of " + std::to_string(kRuns) + ")",
            bench::Format("%.0f ms", ms.back()) + bench::Format(" (CPU %.0f ms)", cpuMs.back()),
            bench::Format("< %.0f ms", kGoalMs), ms.back() < kGoalMs);
    }
}

}  // namespace

int main(int argc, char** argv) {
    long long rows = 1000000;
    std::string sqlite;
    std::string postgresql;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--rows") {
            rows = std::max(1000LL, std::atoll(argv[i + 1]));
        } else if (option == "--sqlite") {
            sqlite = argv[i + 1];
        } else if (option == "--postgresql") {
            postgresql = argv[i + 1];
        } else {
            std::fprintf(stderr,
                         "usage: bench_dashboard_queries [--rows N] [--sqlite FILE] "
                         "[--postgresql URL]\n");
            return 2;
        }
    }
    std::filesystem::path folder;
    if (sqlite.empty()) {
        folder = bench::MakeBenchDirectory("farsend-bench-dashboard");
        sqlite = (folder / "units.sqlite").string();
    }
    try {
        Measure("SQLite", sqlite, rows);
        if (!postgresql.empty()) Measure("PostgreSQL 15", FreshPostgreSQL(postgresql), rows);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_dashboard_queries: %s\n", error.what());
        if (!folder.empty()) std::filesystem::remove_all(folder);  // a million rows' worth
        return 1;
    }
    if (!folder.empty()) std::filesystem::remove_all(folder);
    return 0;
}
