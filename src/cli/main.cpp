// farsend: the command-line front end. See `farsend --help`.
#include <csignal>
#include <cstdio>
#include <iostream>
#include <memory>

#include "app/command_line.h"
#include "cli/console.h"
#include "cli/exit_status.h"
#include "cli/run.h"
#include "cli/terminal.h"
#include "link/hid_platform.h"

int main(int argc, char** argv) {
    using namespace farsend;
#if !defined(_WIN32)
    // A reader that goes away (| head -1, a closed log) must not kill the
    // process with a unit in hand: its write fails instead, the unit is
    // finished and recorded, and the run ends as one whose output was lost.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    cli::Console console{std::cin,
                         std::cout,
                         std::cerr,
                         cli::StandardErrorIsTerminal(),
                         cli::StandardErrorWidth(),
                         cli::StandardOutputIsTerminal()};

    // On Windows the words come from the wide command line, in the ANSI code
    // page, as the window program reads them.
    const auto arguments = app::ReadCommandLine(argc, argv);
    if (!arguments) {
        cli::Complain(console, "the command line cannot be read");
        return cli::kExitUsage;
    }
    std::vector<std::string> words;
    for (const app::CommandLineArgument& argument : *arguments) {
        if (!argument.exact) {
            cli::Complain(console, *app::PathRefusal(argument));
            return cli::kExitUsage;
        }
        words.push_back(argument.text);
    }

    cli::Environment env;
    env.workingDirectory = app::ReadWorkingDirectory();
    env.systemPlatform = &link::SystemHidPlatform();
    const std::unique_ptr<cli::OperatorInput> typed = cli::StandardInputLines();
    env.operatorInput = typed.get();
    const int status = cli::RunFarsend(words, console, env);
    std::cout.flush();
    std::cerr.flush();
    return status;
}
