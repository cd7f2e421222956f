#include "cli/cli_options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <utility>

#include "cli/command_words.h"
#include "cli/option_checks.h"
#include "cli/option_registry.h"
#include "common/database_name.h"
#include "common/host_name.h"

namespace farsend::cli {
namespace {

// serials and units with --simulate: the simulated runs' own database.
const std::vector<Command> kSimulationCommands = {
    Command::Program, Command::Erase, Command::Identify, Command::Launch,
    Command::Watch,   Command::Line,  Command::Devices,  Command::Serials,
    Command::Units,   Command::Job,   Command::Keys};

// The actions of job, keys and serials, each with its operands.
void AddActions(CLI::App& command, Command which, CliOptions& options) {
    for (const ActionWords& action : ActionsOf(which)) {
        CLI::App* sub = command.add_subcommand(action.name);
        if (which == Command::Serials) {
            sub->add_option(action.operands.front(), options.poolName)->required();
            continue;
        }
        const std::string name = action.name;
        sub->callback([&options, name] { options.action = name; });
        if (!action.operands.empty()) {
            sub->add_option(action.operands.front(), options.argument)->required();
        }
        if (action.operands.size() > 1)
            sub->add_option(action.operands[1], options.file)->required();
    }
}

// The command's own words after its name: its operands, its actions, and
// the options that apply to it.
void AddCommand(CLI::App& app, Command command, CliOptions& options, OptionWords& words) {
    CLI::App* sub = app.add_subcommand(CommandName(command));
    AddOptionsOf(command, *sub, options, words);
    if (command == Command::Program || RunsAsWatch(command)) {
        sub->add_option("FILE", options.file);
    }
    if (command == Command::Inspect) sub->add_option("FILE", options.file)->required();
    if (command == Command::Convert) {
        sub->add_option("IN", options.file)->required();
        sub->add_option("OUT", options.output);
    }
    if (command == Command::Job || command == Command::Keys) sub->require_subcommand(1);
    AddActions(*sub, command, options);
}

void Configure(CLI::App& app) {
    app.set_help_flag();
    app.allow_windows_style_options(false);
    app.fallthrough();  // the words after an action may be the command's options
}

// The options given are checked for their values first, the misplaced ones
// too: "erase --count 0" is told what is wrong with 0 before being told that
// --count is not erase's.
std::optional<std::string> CheckValues(const SortedLine& line) {
    CLI::App app{"", "farsend"};
    Configure(app);
    CliOptions options;
    OptionWords words;
    for (const OptionSpec* option : line.given) option->add(app, options, words);
    std::vector<std::string> given(line.options.rbegin(), line.options.rend());
    try {
        app.parse(given);  // CLI11 takes the words last first
    } catch (const CLI::ParseError& error) {
        return MaskedDatabaseName(error.what());  // it may quote --db's word
    }
    return std::nullopt;
}

ParseResult Refuse(std::string error) {
    ParseResult result;
    result.action = ParseAction::UsageError;
    result.error = std::move(error);
    return result;
}

}  // namespace

std::vector<std::string> KnownOptionNames() {
    std::vector<std::string> names = {"--help", "--version"};
    for (const OptionSpec& option : AllOptions()) names.push_back(option.name);
    return names;
}

ParseResult ParseArguments(std::vector<std::string> words) {
    if (Asked(words, {"-h", "--help"})) return ParseResult{ParseAction::Help, {}, {}};
    if (Asked(words, {"--version"})) return ParseResult{ParseAction::Version, {}, {}};

    CliOptions options;
    sim::SimOptionsResult simulation = sim::TakeSimOptions(words);
    if (!simulation.ok()) return Refuse(simulation.error);
    options.sim = simulation.options;
    if (auto empty = EmptyValue(words)) return Refuse(*empty);
    if (auto unknown = UnknownCommand(words)) return Refuse(*unknown);

    const SortedLine line = SortLine(words);
    if (auto problem = CheckValues(line)) return Refuse(*problem);

    CLI::App app{"", "farsend"};
    Configure(app);
    app.require_subcommand(0, 1);
    OptionWords optionWords;
    for (Command command : AllCommands()) AddCommand(app, command, options, optionWords);
    std::vector<std::string> forCli(line.forCli.rbegin(), line.forCli.rend());
    try {
        app.parse(forCli);
    } catch (const CLI::ParseError& error) {
        const bool noAction =
            std::string(error.what()).find("ubcommand is required") != std::string::npos;
        if (line.command == Command::Job && noAction) {
            return Refuse("job needs an action: job new, job sign, job show or job verify");
        }
        if (line.command == Command::Keys && noAction) {
            return Refuse("keys needs an action: keys new, keys trust, keys list or keys revoke");
        }
        return Refuse(MaskedDatabaseName(error.what()));
    }

    const CLI::App* chosen =
        line.command ? app.get_subcommand(CommandName(*line.command)) : nullptr;
    if (chosen == nullptr || !chosen->parsed()) {
        return Refuse("no command given; the commands: " + AllCommandsText() + ".");
    }
    options.command = *line.command;
    // Options that mean nothing to the command are refused: a script that
    // passes --count to program or --launch to erase has a mistake in it
    // that it wants to hear about.
    if (!line.misplaced.empty()) {
        const OptionSpec& option = *line.misplaced.front();
        return Refuse(std::string(option.name) + " does not apply to " +
                      CommandName(options.command) + " (only to " + CommandList(option.commands) +
                      ")");
    }
    if (options.sim.simulate && std::find(kSimulationCommands.begin(), kSimulationCommands.end(),
                                          options.command) == kSimulationCommands.end()) {
        return Refuse(std::string("--simulate does not apply to ") + CommandName(options.command) +
                      " (only to " + CommandList(kSimulationCommands) + ")");
    }
    const CLI::App& command = *chosen;
    if (options.command == Command::Serials) {
        options.serialsInit = command.get_subcommand("init")->parsed();
    }
    if (auto problem = CheckOptions(command, optionWords, options)) return Refuse(*problem);

    ParseResult result;
    result.action = ParseAction::Run;
    result.options = std::move(options);
    return result;
}

std::string HostOf(const CliOptions& options) {
    return options.host.empty() ? ThisHostName() : options.host;
}

}  // namespace farsend::cli
