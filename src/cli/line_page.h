// farsend line: a watch run whose stations are shown on the line page. The
// run adds its stations here, each with the feed its events go to, tells
// each unit's end in the run's own words, and carries out what the page
// asks (retry, stop, continue) between its looks at the stations.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/console.h"
#include "cli/unit_verdict.h"
#include "line/line_actions.h"
#include "line/line_server.h"
#include "line/line_state.h"
#include "line/station_feed.h"
#include "units/record/unit_record.h"

namespace farsend::cli {

class RunImage;

// What the operator is to do about a failed unit, in words.
std::string AdviceFor(int status, bool unplugged);

class LinePage {
public:
    // Serves the page as the options say and prints where. Null, with the
    // message shown and `status` set, when it cannot be served.
    static std::unique_ptr<LinePage> Open(const CliOptions& options, Console& console, int& status);
    ~LinePage();

    // The header: the file, its digest and size, and the mode.
    void SetJob(const std::string& path, const RunImage& image, const CliOptions& options);
    // A socket; returns its number on the page.
    std::size_t AddStation(const std::string& name, const std::string& bridgeSerial);
    // Where the station's events go.
    jobs::StationObserver& Feed(std::size_t station) { return *feeds_[station]; }

    // The unit's end, on the station's thread. `held`: its failed board
    // stays in the socket until taken out or retried.
    void UnitDone(std::size_t station, const units::UnitRecord& record, const UnitVerdict& verdict,
                  bool unplugged, bool held);
    // The held board is tried again.
    void Retrying(std::size_t station);
    void SetStopped(std::size_t station, bool stopped);

    // On the run's thread: carries out what the page asked.
    void Serve(const std::function<line::ActionAnswer(const line::LineAction&)>& carryOut) {
        actions_.Serve(carryOut);
    }

private:
    LinePage(const CliOptions& options, std::string token);

    const std::string host_;  // shown on each tile when the line shares a database
    line::LineState state_;
    line::LineActions actions_;
    line::LineServer server_;
    std::vector<std::unique_ptr<line::StationFeed>> feeds_;
};

}  // namespace farsend::cli
