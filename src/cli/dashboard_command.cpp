// farsend dashboard: the supervisor view alone, served from the unit
// database with no stations. It only reads: the database is opened
// read-only for every request, and nothing the page asks can change it.
// Who may see it follows the line page's rules (line/line_access.h).
#include "cli/dashboard_command.h"

#include <atomic>
#include <chrono>
#include <nlohmann/json.hpp>
#include <thread>

#include "cli/dashboard_api.h"
#include "cli/database_choice.h"
#include "cli/exit_status.h"
#include "cli/interrupt.h"
#include "common/printable_text.h"
#include "line/line_access.h"
#include "line/line_server.h"
#include "line/line_token.h"
#include "line/page_assets.h"
#include "units/unit_database.h"

// After the database's headers: on Windows it brings <windows.h>, which
// defines a macro named Yield.
#include <httplib.h>

#include "line/served/page_guard.h"

namespace farsend::cli {
namespace {

void Send(httplib::Response& response, const ApiAnswer& answer) {
    response.status = answer.status;
    response.set_header("Cache-Control", "no-store");
    response.set_content(answer.body, answer.contentType.c_str());
}

QueryParameters ParametersOf(const httplib::Request& request) {
    QueryParameters parameters(request.params.begin(), request.params.end());
    parameters.erase("token");
    return parameters;
}

void ServeCsv(const DashboardApi& api, const httplib::Request& request,
              httplib::Response& response) {
    const QueryParameters parameters = ParametersOf(request);
    const RangeRequest range = ReadRange(parameters, std::chrono::system_clock::now());
    if (!range.filter) {
        return Send(response,
                    {400, "application/json", nlohmann::json{{"error", range.error}}.dump()});
    }
    response.set_header("Cache-Control", "no-store");
    response.set_header("Content-Disposition", "attachment; filename=\"units.csv\"");
    // The rows go out as the database yields them, none kept: a year of
    // units is sent in little memory.
    response.set_chunked_content_provider(
        "text/csv; charset=utf-8", [&api, parameters](std::size_t, httplib::DataSink& sink) {
            bool written = false;
            const std::optional<ApiAnswer> refused =
                api.Csv(parameters, [&sink, &written](const std::string& line) {
                    written = true;
                    return sink.write(line.data(), line.size());
                });
            // The database lost: the transfer is cut short rather than ended
            // as though it were whole.
            if (refused) return false;
            sink.done();
            return written;
        });
}

void Route(httplib::Server& server, const DashboardApi& api, const std::string& token,
           bool loopback) {
    line::GuardPages(server, "dashboard", loopback, token);
    server.Get("/api/dashboard/units.csv",
               [&api](const httplib::Request& request, httplib::Response& response) {
                   ServeCsv(api, request, response);
               });
    server.Get(R"(/api/dashboard/[a-z]+)",
               [&api](const httplib::Request& request, httplib::Response& response) {
                   Send(response, api.Answer(request.path, ParametersOf(request)));
               });
    server.Get(R"(/[\w.\-]*)", [](const httplib::Request& request, httplib::Response& response) {
        // The operator's page is not this one's: "/" is the dashboard.
        const line::PageAsset* asset =
            line::FindPageAsset(request.path == "/" ? "/dashboard.html" : request.path);
        if (asset == nullptr) {
            Send(response, {404, "application/json", R"({"error":"no such page"})"});
            return;
        }
        response.set_header("Cache-Control", "no-cache");
        response.set_content(reinterpret_cast<const char*>(asset->data), asset->size, asset->type);
    });
}

}  // namespace

int RunDashboard(const CliOptions& options, Console& console) {
    const DatabaseChoice choice = ChooseDatabase(options);
    if (choice.location.empty()) {
        Complain(console,
                 "no unit database: give --db PATH|URL (neither XDG_DATA_HOME nor HOME is set)");
        return kExitDatabase;
    }
    line::ListenAddress address;
    address.port = kDefaultDashboardPort;
    std::string error;
    if (!options.listen.empty()) {
        const std::optional<line::ListenAddress> parsed =
            line::ParseListenAddress(options.listen, error);
        if (!parsed) {
            Complain(console, error);
            return kExitUsage;
        }
        address = *parsed;
    }
    std::string token = line::MakeToken();
    if (!options.tokenFile.empty()) {
        const std::optional<std::string> read = line::ReadTokenFile(options.tokenFile, error);
        if (!read) {
            Complain(console, "--token-file " + error);
            return kExitUsage;
        }
        token = *read;
    }
    units::DatabaseOptions access;
    access.readOnly = true;
    // Opened once now: a database that cannot be read is said at the start,
    // not on the first page asked for.
    try {
        units::UnitDatabase::Open(choice.location, access);
    } catch (const units::UnitDatabaseError& failure) {
        Complain(console, failure.what());
        return kExitDatabase;
    }

    const DashboardApi api([location = choice.location,
                            access] { return units::UnitDatabase::Open(location, access); },
                           [] { return std::chrono::system_clock::now(); });
    httplib::Server server;
    const bool loopback = address.host == "localhost" || line::IsLoopbackAddress(address.host);
    Route(server, api, token, loopback);
    const int port = address.port == 0 ? server.bind_to_any_port(address.host)
                     : server.bind_to_port(address.host, address.port) ? address.port
                                                                       : -1;
    if (port <= 0) {
        Complain(console, "the dashboard cannot be served at " + address.host + ":" +
                              std::to_string(address.port) +
                              ": the address is not this PC's, or the port is taken "
                              "(--listen ADDR:PORT chooses another)");
        return kExitUsage;
    }
    const bool v6 = address.host.find(':') != std::string::npos;
    std::string text = "farsend: the dashboard is at http://" +
                       (v6 ? "[" + address.host + "]" : address.host) + ":" + std::to_string(port) +
                       "/";
    // The token in the address's fragment never reaches a server or a log.
    if (options.tokenFile.empty()) {
        text += "#token=" + token;
    } else {
        text += " (the token is the one in " + options.tokenFile + ")";
    }
    text += "\nIt shows the unit database " +
            PrintableText(units::DisplayLocation(choice.location)) + ".";
    if (!loopback) text += "\nServed beyond this PC: its figures need the token.";
    console.err << text << "\nCtrl+C stops it.\n";
    console.err.flush();

    // Ctrl+C, SIGTERM, SIGHUP: the server stops taking requests and ends.
    CatchInterrupt();
    std::atomic<bool> ended{false};
    std::thread watcher([&server, &ended] {
        while (!ended && !Interrupted()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        server.stop();
    });
    server.listen_after_bind();
    ended = true;
    watcher.join();
    if (Interrupted()) return kExitSuccess;
    Complain(console, "the dashboard's server stopped by itself");
    return kExitStopped;
}

}  // namespace farsend::cli
