// The command line, as a table: lines that must be taken (and what they
// mean) and lines that must be refused with a message naming the fault.
#include "cli/cli_options.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/help_text.h"

namespace farsend::cli {
namespace {

using firmware::DeviceType;
using firmware::HardwareVersion;
using ::testing::HasSubstr;

std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    for (char c : line) {
        if (c == ' ') {
            if (!word.empty()) words.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty()) words.push_back(word);
    return words;
}

struct GoodLine {
    std::string line;
    void (*check)(const CliOptions&);
};

const std::vector<GoodLine> kGoodLines = {
    {"program",
     [](const CliOptions& o) {
         EXPECT_EQ(o.command, Command::Program);
         EXPECT_EQ(o.file, "");
         EXPECT_EQ(o.waitSeconds, 30);
         EXPECT_EQ(o.variant, DeviceType::Any);
         EXPECT_EQ(o.hardwareVersion, HardwareVersion::Any);
         EXPECT_FALSE(o.factory || o.noValidate || o.launch || o.json || o.quiet || o.verbose ||
                      o.yes || o.sim.simulate);
     }},
    {"program image.hex --launch",
     [](const CliOptions& o) {
         EXPECT_EQ(o.file, "image.hex");
         EXPECT_TRUE(o.launch);
     }},
    // Options before the command, after it, and after its FILE.
    {"--variant zigbee --hw 2.0 program --factory x.hex --no-validate --wait 5",
     [](const CliOptions& o) {
         EXPECT_EQ(o.variant, DeviceType::ZigBee);
         EXPECT_EQ(o.hardwareVersion, HardwareVersion::V2_0);
         EXPECT_TRUE(o.factory);
         EXPECT_TRUE(o.noValidate);
         EXPECT_EQ(o.waitSeconds, 5);
         EXPECT_EQ(o.file, "x.hex");
     }},
    {"program --variant=BlueTooth --hw=1.0",
     [](const CliOptions& o) {
         EXPECT_EQ(o.variant, DeviceType::Bluetooth);
         EXPECT_EQ(o.hardwareVersion, HardwareVersion::V1_0);
     }},
    {"watch image.hex --factory --force",
     [](const CliOptions& o) {
         EXPECT_EQ(o.command, Command::Watch);
         EXPECT_EQ(o.file, "image.hex");
         EXPECT_TRUE(o.factory && o.force);
     }},
    {"watch --count 3 --report units.jsonl --launch --device /dev/hidraw2",
     [](const CliOptions& o) {
         EXPECT_EQ(o.command, Command::Watch);
         EXPECT_EQ(o.count, 3u);
         EXPECT_EQ(o.report, "units.jsonl");
         EXPECT_TRUE(o.launch);
         EXPECT_EQ(o.devices, std::vector<std::string>{"/dev/hidraw2"});
     }},
    {"watch --device sim-usb-1.4 --device SIM00002 --count 6",
     [](const CliOptions& o) {
         EXPECT_EQ(o.devices, (std::vector<std::string>{"sim-usb-1.4", "SIM00002"}));
         EXPECT_FALSE(o.all);
     }},
    // A FILE after --device NAME is the FILE, not a second device.
    {"program --device FST0002 /fw/Farsend_15_bt.hex",
     [](const CliOptions& o) {
         EXPECT_EQ(o.devices, std::vector<std::string>{"FST0002"});
         EXPECT_EQ(o.file, "/fw/Farsend_15_bt.hex");
     }},
    {"watch --device a --device b image.hex",
     [](const CliOptions& o) {
         EXPECT_EQ(o.devices, (std::vector<std::string>{"a", "b"}));
         EXPECT_EQ(o.file, "image.hex");
     }},
    {"program --all --json --simulate --sim-bridges=3",
     [](const CliOptions& o) {
         EXPECT_TRUE(o.all && o.json);
         EXPECT_TRUE(o.devices.empty());
         EXPECT_EQ(o.sim.bridges, 3u);
     }},
    {"erase --factory --yes",
     [](const CliOptions& o) {
         EXPECT_EQ(o.command, Command::Erase);
         EXPECT_TRUE(o.factory && o.yes);
     }},
    {"--json --quiet --verbose identify",
     [](const CliOptions& o) {
         EXPECT_EQ(o.command, Command::Identify);
         EXPECT_TRUE(o.json && o.quiet && o.verbose);
     }},
    {"launch --wait 86400", [](const CliOptions& o) { EXPECT_EQ(o.waitSeconds, 86400); }},
    {"select --dir some/where --hw 1.5",
     [](const CliOptions& o) {
         EXPECT_EQ(o.command, Command::Select);
         EXPECT_EQ(o.dir, "some/where");
         EXPECT_EQ(o.hardwareVersion, HardwareVersion::V1_5);
     }},
    {"program fw.bin --format bin --base 0x8000",
     [](const CliOptions& o) {
         EXPECT_EQ(o.imageRead.format, protocol::ImageFormat::Binary);
         EXPECT_EQ(o.imageRead.base, 0x8000u);
     }},
    {"convert app.elf --to srec out.srec --force",
     [](const CliOptions& o) {
         EXPECT_EQ(o.command, Command::Convert);
         EXPECT_EQ(o.file, "app.elf");
         EXPECT_EQ(o.output, "out.srec");
         EXPECT_EQ(o.convertTo, protocol::ImageFormat::SRecord);
         EXPECT_TRUE(o.force);
         EXPECT_FALSE(o.imageRead.format.has_value());
     }},
    {"inspect --json image.hex",
     [](const CliOptions& o) {
         EXPECT_EQ(o.command, Command::Inspect);
         EXPECT_EQ(o.file, "image.hex");
         EXPECT_TRUE(o.json);
     }},
    // The serial pair, before or after the command; the number is decimal
    // even with a leading zero.
    {"--serial 3F000:4:BE inspect x.hex --serial-value 0100",
     [](const CliOptions& o) {
         ASSERT_TRUE(o.serial.has_value());
         EXPECT_EQ(o.serial->address, 0x3F000u);
         EXPECT_EQ(o.serial->size, 4u);
         EXPECT_EQ(o.serial->format, protocol::SerialFormat::BigEndian);
         EXPECT_EQ(o.serialValue, 100u);
         EXPECT_EQ(o.file, "x.hex");
     }},
    {"inspect x.hex", [](const CliOptions& o) { EXPECT_FALSE(o.serial.has_value()); }},
    {"watch --all --serial 0x3F000:10:dec --serial-pool board --db postgresql://line/db",
     [](const CliOptions& o) {
         ASSERT_TRUE(o.serial.has_value());
         EXPECT_EQ(o.serial->address, 0x3F000u);
         EXPECT_EQ(o.serial->size, 10u);
         EXPECT_EQ(o.serial->format, protocol::SerialFormat::Decimal);
         EXPECT_EQ(o.serialPool, "board");
         EXPECT_EQ(o.db, "postgresql://line/db");
     }},
    {"units --serial 100042",
     [](const CliOptions& o) {
         EXPECT_EQ(o.unitSerial, std::optional<std::int64_t>(100042));
         EXPECT_FALSE(o.serial.has_value());
     }},
    // An option's value before the command is not taken for the command.
    {"--listen 0.0.0.0:8643 --token-file t.txt dashboard --db postgresql://line/db",
     [](const CliOptions& o) {
         EXPECT_EQ(o.command, Command::Dashboard);
         EXPECT_EQ(o.listen, "0.0.0.0:8643");
         EXPECT_EQ(o.tokenFile, "t.txt");
         EXPECT_EQ(o.db, "postgresql://line/db");
     }},
    // A file whose name starts with a dash, after "--".
    {"inspect -- -odd.hex", [](const CliOptions& o) { EXPECT_EQ(o.file, "-odd.hex"); }},
    {"devices --simulate --sim-report-length=33",
     [](const CliOptions& o) {
         EXPECT_EQ(o.command, Command::Devices);
         EXPECT_TRUE(o.sim.simulate);
         EXPECT_EQ(o.sim.report_length, 33u);
     }},
    // The simulator's words may stand anywhere; the rest is parsed as usual.
    {"--sim-targets=3 watch --simulate --count 3 --sim-serial-log=log.bin",
     [](const CliOptions& o) {
         EXPECT_TRUE(o.sim.simulate);
         EXPECT_EQ(o.sim.targets, 3u);
         EXPECT_EQ(o.sim.serial_log, "log.bin");
         EXPECT_EQ(o.count, 3u);
     }},
    // A value-taking option before the command is not taken for the command.
    {"--host pc-1 --job line.job watch --all",
     [](const CliOptions& o) {
         EXPECT_EQ(o.command, Command::Watch);
         EXPECT_EQ(o.host, "pc-1");
         EXPECT_EQ(o.job, "line.job");
     }},
    {"job new --factory --no-validate --serial 4010:4 --serial-pool p --limit 10 --embed --note n "
     "board-v2 app.hex",
     [](const CliOptions& o) {
         EXPECT_EQ(o.command, Command::Job);
         EXPECT_EQ(o.action, "new");
         EXPECT_EQ(o.argument, "board-v2");
         EXPECT_EQ(o.file, "app.hex");
         EXPECT_TRUE(o.factory && o.noValidate && o.embed && o.serial);
         EXPECT_EQ(o.serialPool, "p");
         EXPECT_EQ(o.limit, 10);
         EXPECT_EQ(o.note, "n");
     }},
    {"job sign --key k.key line.job",
     [](const CliOptions& o) {
         EXPECT_EQ(o.action, "sign");
         EXPECT_EQ(o.argument, "line.job");
         EXPECT_EQ(o.key, "k.key");
     }},
    {"--simulate keys revoke 0123456789abcdef",
     [](const CliOptions& o) {
         EXPECT_EQ(o.command, Command::Keys);
         EXPECT_EQ(o.action, "revoke");
         EXPECT_EQ(o.argument, "0123456789abcdef");
     }},
    {"units --job board-v2", [](const CliOptions& o) { EXPECT_EQ(o.job, "board-v2"); }},
};

TEST(CliOptions, GoodLines) {
    for (const GoodLine& good : kGoodLines) {
        SCOPED_TRACE(good.line);
        const ParseResult result = ParseArguments(Words(good.line));
        ASSERT_EQ(result.action, ParseAction::Run) << result.error;
        good.check(result.options);
    }
}

struct BadLine {
    std::string line;
    std::string says;  // part of the message
};

const std::vector<BadLine> kBadLines = {
    {"", "no command"},
    {"--json", "no command"},
    {"flash", "flash"},
    {"program a.hex b.hex", "b.hex"},
    {"inspect", "FILE"},
    {"convert", "IN"},
    {"program fw.bin --format bin", "--format bin needs --base"},
    {"program fw.bin --base 4000", "--base applies only to raw binary"},
    {"program fw.bin --format bin --base 1FFFFFFFF", "--base '1FFFFFFFF'"},
    {"program fw.bin --format bin --base 40g0", "is not an address"},
    {"program fw.hex --format intel", "--format"},
    {"program fw.hex --to ihex", "--to does not apply to program"},
    {"convert a.elf --to elf", "--to"},
    {"select --format elf", "--format does not apply to select"},
    {"erase extra", "extra"},
    {"program --variant wifi", "--variant"},
    {"program --hw 1.2", "--hw"},
    {"program --hw", "--hw"},
    {"program --wait 0", "--wait"},
    {"program --wait ten", "--wait"},
    {"program --wait -5", "--wait"},
    {"watch --count 0", "--count"},
    {"watch --count", "--count"},
    {"program --dir", "--dir"},
    {"program --colour", "--colour"},
    {"program -x", "-x"},
    // Options that mean nothing to the command are mistakes worth hearing of.
    {"program --count 2", "--count does not apply to program"},
    {"erase --launch", "--launch does not apply to erase"},
    {"identify --report r.jsonl", "--report does not apply to identify"},
    {"inspect x.hex --device /dev/hidraw0", "--device does not apply to inspect"},
    {"select --wait 3", "--wait does not apply to select"},
    {"devices --no-validate", "--no-validate does not apply to devices"},
    {"launch --dir .", "--dir does not apply to launch"},
    {"inspect x.hex --simulate", "--simulate does not apply to inspect"},
    // The serial pair: both or neither, each well formed, inspect only.
    {"inspect x.hex --serial 3F000:4", "--serial needs --serial-value"},
    {"inspect x.hex --serial-value 7", "--serial-value needs --serial"},
    {"inspect x.hex --serial 3F000:9 --serial-value 1", "--serial '3F000:9': size 9"},
    {"inspect x.hex --serial 3F000 --serial-value 1", "no SIZE"},
    {"inspect x.hex --serial 3F000:2 --serial-value 0x10", "--serial-value '0x10'"},
    {"inspect x.hex --serial 3F000:2 --serial-value 18446744073709551616", "decimal number"},
    {"inspect x.hex --serial= --serial-value 1", "--serial= has an empty value"},
    {"program x.hex --serial 3F000:4 --serial-value 1", "--serial-value does not apply to program"},
    // program and watch: --serial with its pool, both or neither.
    {"program x.hex --serial 3F000:4", "--serial needs --serial-pool NAME"},
    {"watch --serial-pool board", "--serial-pool needs --serial ADDR:SIZE[:FORMAT]"},
    {"watch --serial 3F000:0 --serial-pool board", "--serial '3F000:0'"},
    {"program --serial 3F000:4 --serial-pool=", "--serial-pool= has an empty value"},
    {"erase --serial-pool board", "--serial-pool does not apply to erase"},
    {"identify --db u.sqlite", "--db does not apply to identify"},
    {"units --listen 127.0.0.1:1", "--listen does not apply to units"},
    {"dashboard --station 1-1", "--station does not apply to dashboard"},
    {"select --host pc-1", "--host does not apply to select"},
    {"units --host=", "--host= has an empty value"},
    {"program --host a\x1b[2Jb", "--host a\\e[2Jb: a name without control characters"},
    {"units --db postgresq://u:S3cret@h/d", "--db postgresq://u:***@h/d: the scheme"},
    {"watch --db :memory:", "in-memory"},
    {"watch --serial-value 1 --serial 3F000:4", "does not apply to watch (only to inspect"},
    // With units, --serial is the number of the unit sought.
    {"units --serial 3F000:4", "--serial '3F000:4' is not a decimal number"},
    // Pools' numbers, counts and seconds: decimal only, never octal or hex.
    {"units --serial 010", "--serial '010' is not a decimal number"},
    {"serials init p --first 010", "--first: '010': numbers are decimal"},
    {"serials init p --first 0x10", "--first: '0x10': numbers are decimal"},
    {"serials init p --first 1 --last 0100", "--last: '0100'"},
    {"watch --count 010", "--count: '010'"},
    {"program --wait 0x10", "--wait: '0x10'"},
    // The simulator's own parser: its messages come through.
    // Several stations: only program and watch drive them.
    {"erase --all", "--all does not apply to erase"},
    {"identify --device a --device b", "several --device apply only to program and watch"},
    {"watch --all --device a", "--all and --device exclude each other"},
    {"program --device a --device b --device a", "--device a is given twice"},
    {"program --sim-targets=2", "--sim-targets has no effect without --simulate"},
    {"program --simulate --sim-baud=fast", "--sim-baud"},
    {"program --simulate --sim-bogus=1", "--sim-bogus"},
    // An empty value must not take the next word as its value.
    {"--report= --json program F.hex", "--report= has an empty value"},
    {"program --dir= F.hex", "--dir= has an empty value"},
    {"program --device= --quiet", "--device= has an empty value"},
    {"program --hw= 1.5", "--hw= has an empty value"},
    {"program --wait= 5", "--wait= has an empty value"},
    // A mistyped command gets the list of commands and the closest one.
    {"progarm F.hex", "unknown command 'progarm'; did you mean 'program'?"},
    {"--wait 5 erse", "did you mean 'erase'?"},
    {"insp x.hex", "did you mean 'inspect'?"},
    {"frobnicate", "The commands: program, erase, identify"},
    // Production jobs: what the job fixes is not given beside it.
    {"--job line.job program app.hex", "a FILE cannot be given with --job"},
    {"--job line.job watch --serial 4010:4 --serial-pool p", "--serial cannot be given with --job"},
    {"--job line.job watch --base 4000 --format bin", "cannot be given with --job"},
    {"--job line.job watch --factory", "--factory cannot be given with --job"},
    {"line --all --job line.job --db other.sqlite", "--db cannot be given with --job"},
    {"line --job line.job app.hex", "a FILE cannot be given with --job"},
    {"--job line.job watch --no-validate", "--no-validate cannot"},
    {"--job line.job watch --db u.sqlite", "--db cannot"},
    {"--job line.job watch --hw 2.0", "--hw cannot"},
    {"--job line.job watch --variant zigbee", "--variant cannot"},
    {"--job line.job erase", "--job does not apply to erase"},
    {"job sign line.job", "job sign needs --key KEYFILE"},
    {"job show --key k.key line.job", "--key applies to job sign only"},
    {"job verify --limit 3 line.job", "--limit applies to job new only"},
    {"job new board-v2", "FILE"},
    {"job new --limit 0 n a.hex", "--limit"},
    {"job", "job needs an action"},
    {"--json keys", "keys needs an action"},
    {"keys trust", "PUBFILE"},
    {"program --note x", "--note does not apply to program"},
};

TEST(CliOptions, BadLinesAreRefusedWithAMessage) {
    for (const BadLine& bad : kBadLines) {
        SCOPED_TRACE(bad.line);
        const ParseResult result = ParseArguments(Words(bad.line));
        EXPECT_EQ(result.action, ParseAction::UsageError);
        EXPECT_THAT(result.error, HasSubstr(bad.says));
    }
}

TEST(CliOptions, HelpAndVersionWinOverEverythingElse) {
    for (const char* line :
         {"--help", "-h", "program --help", "inspect -h", "bogus --help", "--wait 0 --help"}) {
        EXPECT_EQ(ParseArguments(Words(line)).action, ParseAction::Help) << line;
    }
    EXPECT_EQ(ParseArguments(Words("--version")).action, ParseAction::Version);
    EXPECT_EQ(ParseArguments(Words("program --version")).action, ParseAction::Version);
    // After "--" they are file names.
    EXPECT_EQ(ParseArguments(Words("inspect -- --help")).action, ParseAction::Run);
}

// The help text must name every option and command the parser takes, every
// simulator option, and every exit status.
TEST(CliOptions, HelpNamesEverythingTheParserTakes) {
    const std::string help = HelpText();
    for (const std::string& option : KnownOptionNames()) EXPECT_THAT(help, HasSubstr(option));
    for (Command command : {Command::Program, Command::Erase, Command::Identify, Command::Launch,
                            Command::Watch, Command::Select, Command::Inspect, Command::Devices}) {
        EXPECT_THAT(help, HasSubstr(std::string("\n  ") + CommandName(command) + " "));
    }
    for (const char* simulator :
         {"--simulate", "--sim-variant=", "--sim-version=", "--sim-erase-blocks=", "--sim-baud=",
          "--sim-report-length=", "--sim-legacy-hid",
          "--sim-targets=", "--sim-faults=", "--sim-seed=", "--sim-serial-log=", "--sim-flash-out=",
          "--sim-bridges=", "--sim-real-time"}) {
        EXPECT_THAT(help, HasSubstr(simulator));
        // ... and the simulator's parser takes what the help shows.
        std::vector<std::string> words = {"--simulate"};
        std::string word = simulator;
        if (word.back() == '=') {
            word += word == "--sim-faults=" ? "drop=0.5"
                    : word.find("log") != std::string::npos || word.find("out") != std::string::npos
                        ? "f"
                    : word == "--sim-bridges=" ? "2"
                                               : "65";
        }
        words.push_back(word);
        words.push_back("devices");
        EXPECT_EQ(ParseArguments(words).action, ParseAction::Run) << word;
    }
    for (const char* status : {"\n  0  ", "\n  1  ", "\n  2  ", "\n  3  ", "\n  4  ", "\n  5  ",
                               "\n  6  ", "\n  7  ", "\n  8  ", "\n  9  ", "\n 10  "}) {
        EXPECT_THAT(help, HasSubstr(status));
    }
    // Short enough to read: every line fits 80 columns.
    size_t start = 0;
    while (start < help.size()) {
        const size_t end = help.find('\n', start);
        EXPECT_LE((end == std::string::npos ? help.size() : end) - start, 80u)
            << help.substr(start, end - start);
        if (end == std::string::npos) break;
        start = end + 1;
    }
}

}  // namespace
}  // namespace farsend::cli
