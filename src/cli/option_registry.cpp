#include "cli/option_registry.h"

#include <algorithm>
#include <cstdint>

#include "cli/option_values.h"

namespace farsend::cli {
namespace {

using C = Command;
using App = CLI::App;
using O = CliOptions;
using W = OptionWords;

// The pool's next number must fit too.
constexpr std::int64_t kLargestSerial = INT64_MAX - 1;

// program, watch and line run stations alike, so most options they share.
const std::vector<OptionSpec> kOptions = {
    {"--dir",
     true,
     [](App& a, O& o, W&) { a.add_option("--dir", o.dir)->type_name("DIR"); },
     {C::Program, C::Watch, C::Line, C::Select}},
    {"--variant",
     true,
     [](App& a, O&, W& w) {
         a.add_option("--variant", w.variant)
             ->check(CLI::IsMember({"bluetooth", "zigbee"}, CLI::ignore_case));
     },
     {C::Program, C::Watch, C::Line, C::Select}},
    {"--hw",
     true,
     [](App& a, O&, W& w) {
         a.add_option("--hw", w.hardwareVersion)->check(CLI::IsMember({"1.0", "1.5", "2.0"}));
     },
     {C::Program, C::Watch, C::Line, C::Select}},
    {"--factory",
     false,
     [](App& a, O& o, W&) { a.add_flag("--factory", o.factory); },
     {C::Program, C::Watch, C::Line, C::Select, C::Erase, C::Job}},
    {"--no-validate",
     false,
     [](App& a, O& o, W&) { a.add_flag("--no-validate", o.noValidate); },
     {C::Program, C::Watch, C::Line, C::Job}},
    {"--force",
     false,
     [](App& a, O& o, W&) { a.add_flag("--force", o.force); },
     {C::Program, C::Watch, C::Line, C::Convert}},
    {"--device",
     true,
     [](App& a, O& o, W&) {
         a.add_option("--device", o.devices)
             ->type_name("NAME")
             ->expected(1)
             ->allow_extra_args(false)
             ->take_all();
     },
     {C::Program, C::Erase, C::Identify, C::Launch, C::Watch, C::Line}},
    {"--wait",
     true,
     [](App& a, O& o, W&) {
         a.add_option("--wait", o.waitSeconds)->check(Decimal())->check(CLI::Range(1, 86400));
     },
     {C::Program, C::Erase, C::Identify, C::Launch, C::Watch, C::Line}},
    {"--all",
     false,
     [](App& a, O& o, W&) { a.add_flag("--all", o.all); },
     {C::Program, C::Watch, C::Line}},
    {"--launch",
     false,
     [](App& a, O& o, W&) { a.add_flag("--launch", o.launch); },
     {C::Program, C::Watch, C::Line}},
    {"--report",
     true,
     [](App& a, O& o, W&) { a.add_option("--report", o.report)->type_name("FILE"); },
     {C::Program, C::Watch, C::Line}},
    {"--json", false, [](App& a, O& o, W&) { a.add_flag("--json", o.json); }, {}},
    {"--quiet", false, [](App& a, O& o, W&) { a.add_flag("--quiet", o.quiet); }, {}},
    {"--verbose", false, [](App& a, O& o, W&) { a.add_flag("--verbose", o.verbose); }, {}},
    {"--yes", false, [](App& a, O& o, W&) { a.add_flag("--yes", o.yes); }, {}},
    {"--count",
     true,
     [](App& a, O& o, W&) {
         a.add_option("--count", o.count)->check(Decimal())->check(CLI::Range(1u, 1000000u));
     },
     {C::Watch, C::Line}},
    // Where a serial number goes into the image (inspect; program and watch,
    // which draw each unit's number from --serial-pool), and with units the
    // serial number of the unit sought.
    {"--serial",
     true,
     [](App& a, O&, W& w) { a.add_option("--serial", w.serial)->type_name("ADDR:SIZE[:FORMAT]"); },
     {C::Program, C::Watch, C::Line, C::Inspect, C::Units, C::Job}},
    {"--serial-value",
     true,
     [](App& a, O&, W& w) { a.add_option("--serial-value", w.serialValue)->type_name("N"); },
     {C::Inspect}},
    {"--serial-pool",
     true,
     [](App& a, O& o, W&) { a.add_option("--serial-pool", o.serialPool)->type_name("NAME"); },
     {C::Program, C::Watch, C::Line, C::Job}},
    {"--db",
     true,
     [](App& a, O& o, W&) { a.add_option("--db", o.db)->type_name("PATH"); },
     {C::Program, C::Watch, C::Line, C::Serials, C::Units, C::Dashboard, C::Job, C::Keys}},
    {"--first",
     true,
     [](App& a, O&, W& w) {
         a.add_option("--first", w.first)
             ->check(Decimal())
             ->check(CLI::Range(std::int64_t{0}, kLargestSerial));
     },
     {C::Serials}},
    {"--last",
     true,
     [](App& a, O&, W& w) {
         a.add_option("--last", w.last)
             ->check(Decimal())
             ->check(CLI::Range(std::int64_t{0}, kLargestSerial));
     },
     {C::Serials}},
    {"--since",
     true,
     [](App& a, O& o, W&) { a.add_option("--since", o.since)->type_name("TIME"); },
     {C::Units}},
    {"--station",
     true,
     [](App& a, O& o, W&) { a.add_option("--station", o.station)->type_name("LOCATION"); },
     {C::Units}},
    {"--host",
     true,
     [](App& a, O& o, W&) { a.add_option("--host", o.host)->type_name("NAME"); },
     {C::Program, C::Watch, C::Line, C::Units}},
    {"--format",
     true,
     [](App& a, O&, W& w) {
         a.add_option("--format", w.format)
             ->check(CLI::IsMember({"token", "ihex", "srec", "elf", "bin"}));
     },
     {C::Program, C::Watch, C::Line, C::Inspect, C::Convert}},
    {"--base",
     true,
     [](App& a, O&, W& w) { a.add_option("--base", w.base)->type_name("ADDR"); },
     {C::Program, C::Watch, C::Line, C::Inspect, C::Convert}},
    {"--to",
     true,
     [](App& a, O&, W& w) {
         a.add_option("--to", w.to)->check(CLI::IsMember({"token", "ihex", "srec"}));
     },
     {C::Convert}},
    {"--listen",
     true,
     [](App& a, O& o, W&) { a.add_option("--listen", o.listen)->type_name("ADDR:PORT"); },
     {C::Line, C::Dashboard}},
    {"--token-file",
     true,
     [](App& a, O& o, W&) { a.add_option("--token-file", o.tokenFile)->type_name("FILE"); },
     {C::Line, C::Dashboard}},
    // program, watch and line run the job file; units narrows to the job's name.
    {"--job",
     true,
     [](App& a, O& o, W&) { a.add_option("--job", o.job)->type_name("FILE"); },
     {C::Program, C::Watch, C::Line, C::Units}},
    {"--key",
     true,
     [](App& a, O& o, W&) { a.add_option("--key", o.key)->type_name("KEYFILE"); },
     {C::Job}},
    {"--note",
     true,
     [](App& a, O& o, W&) { a.add_option("--note", o.note)->type_name("TEXT"); },
     {C::Job}},
    {"--limit",
     true,
     [](App& a, O&, W& w) {
         a.add_option("--limit", w.limit)
             ->check(Decimal())
             ->check(CLI::Range(std::int64_t{1}, std::int64_t{INT64_MAX}));
     },
     {C::Job}},
    {"--embed", false, [](App& a, O& o, W&) { a.add_flag("--embed", o.embed); }, {C::Job}},
};

}  // namespace

const std::vector<OptionSpec>& AllOptions() {
    return kOptions;
}

const OptionSpec* OptionUsedBy(const std::string& word) {
    if (word.rfind("--", 0) != 0) return nullptr;
    const std::string name = word.substr(0, word.find('='));
    for (const OptionSpec& option : kOptions) {
        if (name == option.name) return &option;
    }
    return nullptr;
}

bool AppliesTo(const OptionSpec& option, Command command) {
    return option.commands.empty() || std::find(option.commands.begin(), option.commands.end(),
                                                command) != option.commands.end();
}

std::string CommandList(const std::vector<Command>& commands) {
    std::string text;
    for (std::size_t index = 0; index < commands.size(); ++index) {
        if (index > 0) text += (index + 1 == commands.size()) ? " and " : ", ";
        text += CommandName(commands[index]);
    }
    return text;
}

void AddOptionsOf(Command command, CLI::App& app, CliOptions& options, OptionWords& words) {
    for (const OptionSpec& option : kOptions) {
        if (AppliesTo(option, command)) option.add(app, options, words);
    }
}

}  // namespace farsend::cli
