#include "cli/cli_options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <utility>

#include "cli/option_values.h"
#include "common/database_name.h"
#include "common/host_name.h"
#include "common/printable_text.h"

namespace farsend::cli {
namespace {

constexpr Command kAllCommands[] = {
    Command::Program, Command::Erase,   Command::Identify,  Command::Launch,  Command::Watch,
    Command::Select,  Command::Inspect, Command::Devices,   Command::Serials, Command::Units,
    Command::Convert, Command::Line,    Command::Dashboard, Command::Job,     Command::Keys};

// Options that only mean something to some commands. Given to another
// command they are refused: a script that passes --count to program or
// --launch to erase has a mistake in it that it wants to hear about.
struct Scope {
    const char* option;
    std::initializer_list<Command> commands;
};

const Scope kScopes[] = {
    {"--dir", {Command::Program, Command::Watch, Command::Line, Command::Select}},
    {"--variant", {Command::Program, Command::Watch, Command::Line, Command::Select}},
    {"--hw", {Command::Program, Command::Watch, Command::Line, Command::Select}},
    {"--factory",
     {Command::Program, Command::Watch, Command::Line, Command::Select, Command::Erase,
      Command::Job}},
    {"--no-validate", {Command::Program, Command::Watch, Command::Line, Command::Job}},
    {"--force", {Command::Program, Command::Watch, Command::Line, Command::Convert}},
    {"--device",
     {Command::Program, Command::Erase, Command::Identify, Command::Launch, Command::Watch,
      Command::Line}},
    {"--wait",
     {Command::Program, Command::Erase, Command::Identify, Command::Launch, Command::Watch,
      Command::Line}},
    {"--all", {Command::Program, Command::Watch, Command::Line}},
    {"--launch", {Command::Program, Command::Watch, Command::Line}},
    {"--report", {Command::Program, Command::Watch, Command::Line}},
    {"--count", {Command::Watch, Command::Line}},
    // --serial is where a serial number goes into the image (inspect; program
    // and watch, which draw each unit's number from --serial-pool), and with
    // units the serial number of the unit sought.
    {"--serial",
     {Command::Program, Command::Watch, Command::Line, Command::Inspect, Command::Units,
      Command::Job}},
    {"--serial-value", {Command::Inspect}},
    {"--serial-pool", {Command::Program, Command::Watch, Command::Line, Command::Job}},
    {"--db",
     {Command::Program, Command::Watch, Command::Line, Command::Serials, Command::Units,
      Command::Dashboard, Command::Job, Command::Keys}},
    {"--first", {Command::Serials}},
    {"--last", {Command::Serials}},
    {"--since", {Command::Units}},
    {"--station", {Command::Units}},
    {"--host", {Command::Program, Command::Watch, Command::Line, Command::Units}},
    {"--format",
     {Command::Program, Command::Watch, Command::Line, Command::Inspect, Command::Convert}},
    {"--base",
     {Command::Program, Command::Watch, Command::Line, Command::Inspect, Command::Convert}},
    {"--to", {Command::Convert}},
    {"--listen", {Command::Line, Command::Dashboard}},
    {"--token-file", {Command::Line, Command::Dashboard}},
    // program, watch and line run the job file; units narrows to the job's name.
    {"--job", {Command::Program, Command::Watch, Command::Line, Command::Units}},
    {"--key", {Command::Job}},
    {"--note", {Command::Job}},
    {"--limit", {Command::Job}},
    {"--embed", {Command::Job}},
};

// What a production job fixes: given next to --job, each would change it.
constexpr const char* kFixedByJob[] = {"--factory",     "--no-validate", "--serial",
                                       "--serial-pool", "--db",          "--hw",
                                       "--variant",     "--format",      "--base"};

// serials and units with --simulate: the simulated runs' own database.
const std::initializer_list<Command> kSimulationCommands = {
    Command::Program, Command::Erase, Command::Identify, Command::Launch,
    Command::Watch,   Command::Line,  Command::Devices,  Command::Serials,
    Command::Units,   Command::Job,   Command::Keys};

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

// Options that take a value, in their long form.
constexpr const char* kValueOptions[] = {
    "--dir",    "--variant", "--hw",     "--device",       "--wait",
    "--report", "--count",   "--serial", "--serial-value", "--serial-pool",
    "--db",     "--first",   "--last",   "--since",        "--station",
    "--format", "--base",    "--to",     "--listen",       "--token-file",
    "--job",    "--key",     "--note",   "--limit",        "--host"};

bool TakesValue(const std::string& word) {
    for (const char* option : kValueOptions) {
        if (word == option) return true;
    }
    return false;
}

// "--report=": left to the parser, an empty value makes it take the next
// word as the value ("--report= --json" would write a file named --json).
std::optional<std::string> EmptyValue(const std::vector<std::string>& words) {
    for (const std::string& word : words) {
        if (word == "--") break;
        if (word.size() > 3 && word.rfind("--", 0) == 0 && word.back() == '=') {
            const std::string option = word.substr(0, word.size() - 1);
            return word + " has an empty value: give one (" + option + "=VALUE) or leave " +
                   option + " out";
        }
    }
    return std::nullopt;
}

std::size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

std::string AllCommandsText() {
    std::string text;
    for (Command command : kAllCommands) {
        if (!text.empty()) text += ", ";
        text += CommandName(command);
    }
    return text;
}

// The first word that is neither an option nor an option's value: the
// command, when the line is right. Nothing when there is none.
std::optional<std::string> FirstCommandWord(const std::vector<std::string>& words) {
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word == "--") return i + 1 < words.size() ? std::optional(words[i + 1]) : std::nullopt;
        if (word.rfind("-", 0) == 0) {
            if (TakesValue(word)) ++i;
            continue;
        }
        return word;
    }
    return std::nullopt;
}

// A command word that is none of the commands, with the closest one offered.
std::optional<std::string> UnknownCommand(const std::vector<std::string>& words) {
    const std::optional<std::string> word = FirstCommandWord(words);
    if (!word) return std::nullopt;
    const std::string lower = Lower(*word);
    const char* closest = nullptr;
    std::size_t best = 3;  // at most two edits away, or a prefix
    for (Command command : kAllCommands) {
        const std::string name = CommandName(command);
        if (lower == name) return std::nullopt;
        std::size_t distance = EditDistance(lower, name);
        if (lower.size() >= 2 && name.rfind(lower, 0) == 0) distance = 1;
        if (distance < best) {
            best = distance;
            closest = CommandName(command);
        }
    }
    std::string text = "unknown command '" + *word + "'";
    if (closest != nullptr) text += "; did you mean '" + std::string(closest) + "'?";
    return text + "\nThe commands: " + AllCommandsText() + ".";
}

// The actions of job and keys, each with its words.
void AddActions(CLI::App& command, Command which, CliOptions& options) {
    struct Action {
        const char* name;
        const char* word;  // its word's name in messages; nullptr: none
    };
    static const std::vector<Action> kJobActions = {
        {"new", "NAME"}, {"sign", "JOBFILE"}, {"show", "JOBFILE"}, {"verify", "JOBFILE"}};
    static const std::vector<Action> kKeysActions = {
        {"new", "KEYFILE"}, {"trust", "PUBFILE"}, {"list", nullptr}, {"revoke", "ID"}};
    const std::vector<Action>& actions = which == Command::Job ? kJobActions : kKeysActions;
    for (const Action& action : actions) {
        CLI::App* sub = command.add_subcommand(action.name);
        const std::string name = action.name;
        sub->callback([&options, name] { options.action = name; });
        if (action.word != nullptr) sub->add_option(action.word, options.argument)->required();
        if (which == Command::Job && name == "new")
            sub->add_option("FILE", options.file)->required();
    }
}

// What --job and the job and keys commands need of the rest of the line.
std::optional<std::string> CheckJobWords(const CLI::App& app, const CliOptions& options) {
    const bool running = options.command == Command::Program || options.command == Command::Watch;
    if (running && app.count("--job") > 0) {
        if (options.job.empty()) return "--job needs a job file (farsend job new makes one)";
        if (!options.file.empty()) {
            return "a FILE cannot be given with --job: the job names its image";
        }
        for (const char* option : kFixedByJob) {
            if (app.count(option) > 0) {
                return std::string(option) +
                       " cannot be given with --job: the job fixes what it would change";
            }
        }
    }
    if (options.command == Command::Units && app.count("--job") > 0 && options.job.empty()) {
        return "--job needs a job's name, as `farsend units` lists them";
    }
    if (options.command != Command::Job) return std::nullopt;
    const bool making = options.action == "new";
    if (!making) {
        for (const char* option : {"--factory", "--no-validate", "--serial", "--serial-pool",
                                   "--db", "--note", "--limit", "--embed"}) {
            if (app.count(option) > 0) {
                return std::string(option) + " applies to job new only, not to job " +
                       options.action;
            }
        }
    }
    if ((options.action == "sign") != (app.count("--key") > 0)) {
        return options.action == "sign"
                   ? "job sign needs --key KEYFILE: the secret key to sign with"
                   : "--key applies to job sign only";
    }
    if (making && options.argument.empty()) return "job new needs the job's NAME";
    return std::nullopt;
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
        case Command::Line:
            return "line";
        case Command::Dashboard:
            return "dashboard";
        case Command::Select:
            return "select";
        case Command::Inspect:
            return "inspect";
        case Command::Devices:
            return "devices";
        case Command::Serials:
            return "serials";
        case Command::Units:
            return "units";
        case Command::Convert:
            return "convert";
        case Command::Job:
            return "job";
        case Command::Keys:
            return "keys";
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
    if (auto empty = EmptyValue(words)) return Refuse(*empty);
    if (auto unknown = UnknownCommand(words)) return Refuse(*unknown);

    CLI::App app{"", "farsend"};
    app.set_help_flag();
    app.allow_windows_style_options(false);
    app.fallthrough();  // options may come before or after the command
    app.require_subcommand(0, 1);

    std::string variant, hardwareVersion, serial, serialValue;
    app.add_option("--dir", options.dir)->type_name("DIR");
    app.add_option("--variant", variant)
        ->check(CLI::IsMember({"bluetooth", "zigbee"}, CLI::ignore_case));
    app.add_option("--hw", hardwareVersion)->check(CLI::IsMember({"1.0", "1.5", "2.0"}));
    app.add_flag("--factory", options.factory);
    app.add_flag("--force", options.force);
    app.add_flag("--no-validate", options.noValidate);
    app.add_option("--device", options.devices)
        ->type_name("NAME")
        ->expected(1)
        ->allow_extra_args(false)
        ->take_all();
    app.add_flag("--all", options.all);
    app.add_option("--wait", options.waitSeconds)->check(Decimal())->check(CLI::Range(1, 86400));
    app.add_flag("--launch", options.launch);
    app.add_option("--report", options.report)->type_name("FILE");
    app.add_flag("--json", options.json);
    app.add_flag("--quiet", options.quiet);
    app.add_flag("--verbose", options.verbose);
    app.add_flag("--yes", options.yes);
    app.add_option("--count", options.count)->check(Decimal())->check(CLI::Range(1u, 1000000u));
    // Both read here rather than by CLI11, whose numbers follow C's rules (010
    // would be eight and -1 the largest number) and whose messages would not
    // say what is wrong with a spec.
    app.add_option("--serial", serial)->type_name("ADDR:SIZE[:FORMAT]");
    app.add_option("--serial-value", serialValue)->type_name("N");
    app.add_option("--serial-pool", options.serialPool)->type_name("NAME");
    app.add_option("--db", options.db)->type_name("PATH");
    std::int64_t first = 0, last = 0;
    constexpr std::int64_t kLargest = INT64_MAX - 1;  // the pool's next number must fit too
    app.add_option("--first", first)
        ->check(Decimal())
        ->check(CLI::Range(std::int64_t{0}, kLargest));
    app.add_option("--last", last)->check(Decimal())->check(CLI::Range(std::int64_t{0}, kLargest));
    app.add_option("--since", options.since)->type_name("TIME");
    app.add_option("--station", options.station)->type_name("LOCATION");
    app.add_option("--host", options.host)->type_name("NAME");
    std::string format, base, to;
    app.add_option("--format", format)
        ->check(CLI::IsMember({"token", "ihex", "srec", "elf", "bin"}));
    app.add_option("--base", base)->type_name("ADDR");
    app.add_option("--to", to)->check(CLI::IsMember({"token", "ihex", "srec"}));
    app.add_option("--listen", options.listen)->type_name("ADDR:PORT");
    app.add_option("--token-file", options.tokenFile)->type_name("FILE");
    app.add_option("--job", options.job)->type_name("FILE");
    app.add_option("--key", options.key)->type_name("KEYFILE");
    app.add_option("--note", options.note)->type_name("TEXT");
    std::int64_t limit = 0;
    app.add_option("--limit", limit)
        ->check(Decimal())
        ->check(CLI::Range(std::int64_t{1}, std::int64_t{INT64_MAX}));
    app.add_flag("--embed", options.embed);

    std::vector<std::pair<Command, CLI::App*>> commands;
    CLI::App* initCommand = nullptr;
    for (Command command : kAllCommands) {
        CLI::App* sub = app.add_subcommand(CommandName(command));
        if (command == Command::Program || RunsAsWatch(command)) {
            sub->add_option("FILE", options.file);
        }
        if (command == Command::Inspect) sub->add_option("FILE", options.file)->required();
        if (command == Command::Convert) {
            sub->add_option("IN", options.file)->required();
            sub->add_option("OUT", options.output);
        }
        if (command == Command::Serials) {
            initCommand = sub->add_subcommand("init");
            initCommand->add_option("NAME", options.poolName)->required();
        }
        if (command == Command::Job || command == Command::Keys) {
            sub->require_subcommand(1);
            AddActions(*sub, command, options);
        }
        commands.emplace_back(command, sub);
    }

    const std::optional<std::string> commandWord = FirstCommandWord(words);
    std::reverse(words.begin(), words.end());  // CLI11 takes the words last first
    try {
        app.parse(words);
    } catch (const CLI::ParseError& error) {
        const bool noAction =
            std::string(error.what()).find("ubcommand is required") != std::string::npos;
        if (commandWord == std::string("job") && noAction) {
            return Refuse("job needs an action: job new, job sign, job show or job verify");
        }
        if (commandWord == std::string("keys") && noAction) {
            return Refuse("keys needs an action: keys new, keys trust, keys list or keys revoke");
        }
        // It may quote a word, --db's included.
        return Refuse(MaskedDatabaseName(error.what()));
    }

    bool found = false;
    for (const auto& [command, sub] : commands) {
        if (sub->parsed()) {
            options.command = command;
            found = true;
        }
    }
    if (!found) return Refuse("no command given; the commands: " + AllCommandsText() + ".");

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
    for (const std::string& device : options.devices) {
        if (device.empty()) {
            return Refuse(
                "--device needs a name: a node, location or serial that `farsend devices` lists");
        }
    }
    if (options.all && !options.devices.empty()) {
        return Refuse("--all and --device exclude each other: --all takes every bridge");
    }
    if (options.devices.size() > 1 && options.command != Command::Program &&
        !RunsAsWatch(options.command)) {
        return Refuse(
            std::string("several --device apply only to program and watch (and line), not to ") +
            CommandName(options.command));
    }
    for (size_t i = 0; i < options.devices.size(); ++i) {
        for (size_t j = 0; j < i; ++j) {
            if (options.devices[i] == options.devices[j]) {
                return Refuse("--device " + options.devices[i] + " is given twice");
            }
        }
    }
    if (options.file.empty() && options.command == Command::Inspect) {
        return Refuse("inspect needs a FILE");
    }
    // job new takes the serial settings a run would, to fix them in the job.
    const bool stamping = options.command == Command::Program || RunsAsWatch(options.command) ||
                          options.command == Command::Job;
    const bool serialGiven = app.count("--serial") > 0 && options.command != Command::Units;
    const bool serialValueGiven = app.count("--serial-value") > 0;
    const bool poolGiven = app.count("--serial-pool") > 0;
    if (stamping && serialGiven != poolGiven) {
        return Refuse(serialGiven ? "--serial needs --serial-pool NAME: the pool each unit's "
                                    "number is taken from"
                                  : "--serial-pool needs --serial ADDR:SIZE[:FORMAT]: where and "
                                    "how to write each unit's number");
    }
    if (poolGiven && options.serialPool.empty()) {
        return Refuse("--serial-pool needs a pool's name, as `farsend serials` lists them");
    }
    if (!stamping && serialGiven != serialValueGiven) {
        return Refuse(serialGiven ? "--serial needs --serial-value N: the number to write"
                                  : "--serial-value needs --serial ADDR:SIZE[:FORMAT]: where "
                                    "and how to write the number");
    }
    if (serialGiven) {
        const protocol::SerialSpecResult spec = protocol::ParseSerialSpec(serial);
        if (!spec.ok()) return Refuse("--serial '" + serial + "': " + spec.error);
        options.serial = spec.spec;
    }
    if (serialGiven && !stamping) {
        // The number to write, not one of a pool's: leading zeros are
        // the zero padding a decimal serial has.
        const std::optional<std::uint64_t> number = protocol::ParseSerialNumber(serialValue);
        if (!number) {
            return Refuse("--serial-value '" + serialValue +
                          "' is not a decimal number from 0 to 18446744073709551615");
        }
        options.serialValue = *number;
    }

    if (options.db.empty() && app.count("--db") > 0) {
        return Refuse("--db needs an SQLite file's path or a postgresql:// URL");
    }
    if (!options.db.empty()) {
        const DatabaseNameResult name = ParseDatabaseName(options.db);
        if (!name.name) return Refuse(name.error);
        options.db = name.name->location;
    }
    if (app.count("--host") > 0) {
        if (options.host.empty())
            return Refuse("--host needs a name: this PC's, as the line knows it");
        if (PrintableText(options.host) != options.host) {
            return Refuse("--host " + PrintableText(options.host) +
                          ": a name without control characters");
        }
    }
    options.serialsInit = initCommand != nullptr && initCommand->parsed();
    if (app.count("--first") > 0) options.first = first;
    if (app.count("--last") > 0) options.last = last;
    if (app.count("--serial") > 0 && options.command == Command::Units) {
        const std::optional<std::uint64_t> number = DecimalNumber(serial);
        if (!number || *number > static_cast<std::uint64_t>(INT64_MAX)) {
            return Refuse("--serial '" + serial + "' is not a decimal number from 0 to " +
                          std::to_string(INT64_MAX) + " (" + kDecimalForm + ")");
        }
        options.unitSerial = static_cast<std::int64_t>(*number);
    }
    if (options.serialsInit && !options.first) return Refuse("serials init needs --first N");
    if (!options.serialsInit && (options.first || options.last)) {
        return Refuse("--first and --last apply to serials init only");
    }
    if (options.first && options.last && *options.last < *options.first) {
        return Refuse("--last " + std::to_string(*options.last) + " is below --first " +
                      std::to_string(*options.first));
    }
    if (options.poolName.empty() && options.serialsInit) return Refuse("serials init needs a NAME");
    if (app.count("--limit") > 0) options.limit = limit;
    if (auto problem = CheckJobWords(app, options)) return Refuse(*problem);
    if (options.station.empty() && app.count("--station") > 0) {
        return Refuse("--station needs a location, as `farsend units` lists them");
    }

    if (!format.empty()) options.imageRead.format = protocol::ImageFormatNamed(format);
    if (app.count("--base") > 0) {
        options.imageRead.base = ParseAddress(base);
        if (!options.imageRead.base) {
            return Refuse("--base '" + base +
                          "' is not an address: hexadecimal, with or without 0x, up to FFFFFFFF");
        }
    }
    const bool binary = options.imageRead.format == protocol::ImageFormat::Binary;
    if (binary != options.imageRead.base.has_value()) {
        return Refuse(binary ? "--format bin needs --base ADDR: where the file's first byte goes"
                             : "--base applies only to raw binary files: add --format bin");
    }
    if (!to.empty()) options.convertTo = *protocol::ImageFormatNamed(to);
    if (options.command == Command::Convert && options.file.empty()) {
        return Refuse("convert needs a file to read (IN)");
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

std::string HostOf(const CliOptions& options) {
    return options.host.empty() ? ThisHostName() : options.host;
}

}  // namespace farsend::cli
