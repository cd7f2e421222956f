// The command line of farsend: COMMAND [FILE] and options, read with CLI11.
// The simulator's words (--simulate, --sim-NAME=VALUE) are taken out first by
// the simulator's own parser, the one the window program uses too.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "firmware/device_kinds.h"
#include "protocol/image_format.h"
#include "protocol/serial_stamp.h"
#include "sim/sim_options.h"

namespace farsend::cli {

enum class Command {
    Program,
    Erase,
    Identify,
    Launch,
    Watch,
    Select,
    Inspect,
    Devices,
    Serials,
    Units,
    Convert,
    Line,       // watch, with the line page served
    Dashboard,  // the supervisor view of the unit database, served
    Job,  // job new|sign|show|verify
    Keys  // keys new|trust|list|revoke
};

const char* CommandName(Command command);

// watch and line run their stations alike.
inline bool RunsAsWatch(Command command) {
    return command == Command::Watch || command == Command::Line;
}

struct CliOptions {
    Command command = Command::Program;
    std::string file;  // program/watch/inspect FILE; empty: none given
    std::string dir;   // --dir; empty: the start-up default
    firmware::DeviceType variant = firmware::DeviceType::Any;
    firmware::HardwareVersion hardwareVersion = firmware::HardwareVersion::Any;
    bool factory = false;
    bool force = false;  // a factory image whose name lacks the marker; convert: replace OUT
    bool noValidate = false;
    // --device NAME, once per station; none: the first bridge found (or,
    // with --all, every bridge).
    std::vector<std::string> devices;
    bool all = false;  // --all: a station on every bridge (watch: also later ones)
    int waitSeconds = 30;
    bool waitGiven = false;  // watch waits without limit unless --wait is given
    bool launch = false;
    std::string report;  // --report FILE; empty: none
    bool json = false;
    bool quiet = false;
    bool verbose = false;
    bool yes = false;
    std::uint32_t count = 0;  // --count N; 0: not given
    // --serial SPEC: inspect with --serial-value N, program and watch with
    // --serial-pool NAME; always both or neither.
    std::optional<protocol::SerialSpec> serial;
    std::uint64_t serialValue = 0;
    std::string serialPool;  // --serial-pool NAME; empty: units take no number
    // The unit database (program, watch, serials, units).
    std::string db;  // --db PATH|URL; empty: the default SQLite file
    // --host NAME: program and watch record it as their PC's name instead of
    // the host name; units lists only that PC's units. Empty: not given.
    std::string host;
    bool serialsInit = false;  // serials init NAME
    std::string poolName;
    std::optional<std::int64_t> first, last;  // serials init --first N [--last M]
    std::string since;                        // units --since TIME, as given
    std::string station;                      // units --station S
    std::optional<std::int64_t> unitSerial;   // units --serial N
    sim::SimOptions sim;
    // How FILE is read (program, watch, inspect, convert): --format forces a
    // format, else the content tells; --base places a raw binary file.
    protocol::ImageReadOptions imageRead;
    // convert IN [OUT]: OUT as given (empty: made from IN's name) and --to.
    std::string output;
    protocol::ImageFormat convertTo = protocol::ImageFormat::Token;
    // line, dashboard: where the page is served (--listen ADDR:PORT; empty: the
    // loopback and the default port) and the token's file (empty: one is
    // made and printed).
    std::string listen;
    std::string tokenFile;
    // Production jobs. program and watch: --job FILE, and what the job gave
    // once it was checked (cli/job_gate.h). units: --job NAME narrows to it.
    std::string job;
    std::string jobName, jobSha256, jobImageSha256;
    std::optional<std::int64_t> jobUnitLimit;
    // job and keys: the action ("new", "sign", ...) and its words: job new
    // NAME FILE (FILE in `file`); job sign|show|verify JOBFILE; keys new
    // KEYFILE; keys trust PUBFILE; keys revoke ID.
    std::string action;
    std::string argument;
    std::string key;                    // job sign --key KEYFILE
    std::string note;                   // job new --note TEXT
    std::optional<std::int64_t> limit;  // job new --limit N
    bool embed = false;                 // job new --embed: the image goes inside
};

enum class ParseAction { Run, Help, Version, UsageError };

struct ParseResult {
    ParseAction action = ParseAction::UsageError;
    CliOptions options;
    std::string error;  // UsageError: one line naming what is wrong
};

// The PC's name that records carry: --host, else the host name.
std::string HostOf(const CliOptions& options);

// `words`: the arguments after the program's name.
ParseResult ParseArguments(std::vector<std::string> words);

// Every option the parser knows, long form (for the help text's tests).
std::vector<std::string> KnownOptionNames();

}  // namespace farsend::cli
