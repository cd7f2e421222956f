// farsend: for now, shows the result of start-up for its command line (the
// firmware directory, what it holds, the chosen file, title and colour).
#include <cstdio>

#include "app/start_up.h"
#include "app/tool_settings.h"
#include "cli/start_up_summary.h"

int main(int argc, char** argv) {
    using namespace farsend;
    app::ToolSettings settings;
    const app::StartUpReport report = app::StartUp(settings, app::ReadStartUpInputs(argc, argv));
    for (const std::string& warning : report.warnings) {
        std::fprintf(stderr, "warning: %s\n", warning.c_str());
    }
    std::fputs(cli::StartUpSummary(settings).c_str(), stdout);
    return 0;
}
