#include "cli/cli_options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <initializer_list>
#include <utility>

namespace farsend::cli {
namespace {

constexpr Command kAllCommands[] = {Command::Program, Command::Erase,  Command::Identify,
                                    Command::Launch,  Command::Watch,  Command::Select,
                                    Command::Inspect, Command::Devices};

// Options that only mean something to some commands. Given to another
// command they are refused: a script that passes --count to program or
// --launch to erase has a mistake in it that it wants to hear about.
struct Scope {
    const char* option;
    std::initializer_list<Command> commands;
};

const Scope kScopes[] = {
    {"--dir", {Command::Program, Command::Watch, Command::Select}},
    {"--variant", {Command::Program, Command::Watch, Command::Select}},
    {"--hw", {Command::Program, Command::Watch, Command::Select}},
    {"--factory", {Command::Program, Command::Watch, Command::Select, Command::Erase}},
    {"--no-validate", {Command::Program, Command::Watch}},
    {"--device",
     {Command::Program, Command::Erase, Command::Identify, Command::Launch, Command::Watch}},
    {"--wait",
     {Command::Program, Command::Erase, Command::Identify, Command::Launch, Command::Watch}},
    {"--launch", {Command::Program, Command::Watch}},
    {"--report", {Command::Program, Command::Watch}},
    {"--count", {Command::Watch}},
};

const std::initializer_list<Command> kSimulationCommands = {Command::Program,  Command::Erase,
                                                            Command::Identify, Command::Launch,
                                                            Command::Watch,    Command::Devices};

std::string CommandList(std::initializer_list<Command> commands) {
    std::string text;
    size_t index = 0;
    for (Command command : commands) {
        if (index > 0) text += (index + 1 == commands.size()) ? " and " : ", ";
        text += CommandName(command);
        ++index;
    }
    return text;
}

bool Contains(std::initializer_list<Command> commands, Command command) {
    return std::find(commands.begin(), commands.end(), command) != commands.end();
}

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// Help and version win over everything else on the line, even over words
// that would not parse, as users expect of "anything --help".
bool Asked(const std::vector<std::string>& words, std::initializer_list<const char*> names) {
    for (const std::string& word : words) {
        if (word == "--") return false;
        for (const char* name : names) {
            if (word == name) return true;
        }
    }
    return false;
}

ParseResult Refuse(std::string error) {
    ParseResult result;
    result.action = ParseAction::UsageError;
    result.error = std::move(error);
    return result;
}

}  // namespace

const char* CommandName(Command command) {
    switch (command) {
        case Command::Program:
            return "program";
        case Command::Erase:
            return "erase";
        case Command::Identify:
            return "identify";
        case Command::Launch:
            return "launch";
        case Command::Watch:
            return "watch";
        case Command::Select:
            return "select";
        case Command::Inspect:
            return "inspect";
        case Command::Devices:
            return "devices";
    }
    return "";
}

std::vector<std::string> KnownOptionNames() {
    std::vector<std::string> names = {"--help",  "--version", "--json",
                                      "--quiet", "--verbose", "--yes"};
    for (const Scope& scope : kScopes) names.push_back(scope.option);
    return names;
}

ParseResult ParseArguments(std::vector<std::string> words) {
    if (Asked(words, {"-h", "--help"})) return ParseResult{ParseAction::Help, {}, {}};
    if (Asked(words, {"--version"})) return ParseResult{ParseAction::Version, {}, {}};

    CliOptions options;
    sim::SimOptionsResult simulation = sim::TakeSimOptions(words);
    if (!simulation.ok()) return Refuse(simulation.error);
    options.sim = simulation.options;

    CLI::App app{"", "farsend"};
    app.set_help_flag();
    app.allow_windows_style_options(false);
    app.fallthrough();  // options may come before or after the command
    app.require_subcommand(0, 1);

    std::string variant, hardwareVersion;
    app.add_option("--dir", options.dir)->type_name("DIR");
    app.add_option("--variant", variant)
        ->check(CLI::IsMember({"bluetooth", "zigbee"}, CLI::ignore_case));
    app.add_option("--hw", hardwareVersion)->check(CLI::IsMember({"1.0", "1.5", "2.0"}));
    app.add_flag("--factory", options.factory);
    app.add_flag("--no-validate", options.noValidate);
    app.add_option("--device", options.device)->type_name("NAME");
    app.add_option("--wait", options.waitSeconds)->check(CLI::Range(1, 86400));
    app.add_flag("--launch", options.launch);
    app.add_option("--report", options.report)->type_name("FILE");
    app.add_flag("--json", options.json);
    app.add_flag("--quiet", options.quiet);
    app.add_flag("--verbose", options.verbose);
    app.add_flag("--yes", options.yes);
    app.add_option("--count", options.count)->check(CLI::Range(1u, 1000000u));

    std::vector<std::pair<Command, CLI::App*>> commands;
    for (Command command : kAllCommands) {
        CLI::App* sub = app.add_subcommand(CommandName(command));
        if (command == Command::Program) sub->add_option("FILE", options.file);
        if (command == Command::Inspect) sub->add_option("FILE", options.file)->required();
        commands.emplace_back(command, sub);
    }

    std::reverse(words.begin(), words.end());  // CLI11 takes the words last first
    try {
        app.parse(words);
    } catch (const CLI::ParseError& error) {
        return Refuse(error.what());
    }

    bool found = false;
    for (const auto& [command, sub] : commands) {
        if (sub->parsed()) {
            options.command = command;
            found = true;
        }
    }
    if (!found) return Refuse("no command given");

    for (const Scope& scope : kScopes) {
        if (app.count(scope.option) > 0 && !Contains(scope.commands, options.command)) {
            return Refuse(std::string(scope.option) + " does not apply to " +
                          CommandName(options.command) + " (only to " +
                          CommandList(scope.commands) + ")");
        }
    }
    if (options.sim.simulate && !Contains(kSimulationCommands, options.command)) {
        return Refuse(std::string("--simulate does not apply to ") + CommandName(options.command) +
                      " (only to " + CommandList(kSimulationCommands) + ")");
    }
    if (options.dir.empty() && app.count("--dir") > 0) return Refuse("--dir needs a directory");
    if (options.device.empty() && app.count("--device") > 0) {
        return Refuse(
            "--device needs a name: a node, location or serial that `farsend devices` lists");
    }
    if (options.file.empty() && options.command == Command::Inspect) {
        return Refuse("inspect needs a FILE");
    }

    options.waitGiven = app.count("--wait") > 0;
    variant = Lower(variant);
    if (variant == "bluetooth") options.variant = firmware::DeviceType::Bluetooth;
    if (variant == "zigbee") options.variant = firmware::DeviceType::ZigBee;
    if (hardwareVersion == "1.0") options.hardwareVersion = firmware::HardwareVersion::V1_0;
    if (hardwareVersion == "1.5") options.hardwareVersion = firmware::HardwareVersion::V1_5;
    if (hardwareVersion == "2.0") options.hardwareVersion = firmware::HardwareVersion::V2_0;

    ParseResult result;
    result.action = ParseAction::Run;
    result.options = std::move(options);
    return result;
}

}  // namespace farsend::cli
