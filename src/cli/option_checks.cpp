#include "cli/option_checks.h"

#include <cstdint>

#include "cli/command_words.h"
#include "cli/option_values.h"
#include "common/database_name.h"
#include "common/printable_text.h"

namespace farsend::cli {
namespace {

// What a production job fixes: given next to --job, each would change it.
constexpr const char* kFixedByJob[] = {"--factory",     "--no-validate", "--serial",
                                       "--serial-pool", "--db",          "--hw",
                                       "--variant",     "--format",      "--base"};

// Only the command's own options are on its subcommand; any other was
// refused before these checks.
bool Given(const CLI::App& command, const char* name) {
    const CLI::Option* option = command.get_option_no_throw(name);
    return option != nullptr && option->count() > 0;
}

// What --job and the job and keys commands need of the rest of the line.
std::optional<std::string> CheckJobWords(const CLI::App& app, const CliOptions& options) {
    // line runs its stations as watch does, so the job binds it alike.
    const bool running = options.command == Command::Program || RunsAsWatch(options.command);
    if (running && Given(app, "--job")) {
        if (options.job.empty()) return "--job needs a job file (farsend job new makes one)";
        if (!options.file.empty()) {
            return "a FILE cannot be given with --job: the job names its image";
        }
        for (const char* option : kFixedByJob) {
            if (Given(app, option)) {
                return std::string(option) +
                       " cannot be given with --job: the job fixes what it would change";
            }
        }
    }
    if (options.command == Command::Units && Given(app, "--job") && options.job.empty()) {
        return "--job needs a job's name, as `farsend units` lists them";
    }
    if (options.command != Command::Job) return std::nullopt;
    const bool making = options.action == "new";
    if (!making) {
        for (const char* option : {"--factory", "--no-validate", "--serial", "--serial-pool",
                                   "--db", "--note", "--limit", "--embed"}) {
            if (Given(app, option)) {
                return std::string(option) + " applies to job new only, not to job " +
                       options.action;
            }
        }
    }
    if ((options.action == "sign") != Given(app, "--key")) {
        return options.action == "sign"
                   ? "job sign needs --key KEYFILE: the secret key to sign with"
                   : "--key applies to job sign only";
    }
    if (making && options.argument.empty()) return "job new needs the job's NAME";
    return std::nullopt;
}

std::optional<std::string> CheckDevices(const CliOptions& options) {
    for (const std::string& device : options.devices) {
        if (device.empty()) {
            return "--device needs a name: a node, location or serial that `farsend devices` "
                   "lists";
        }
    }
    if (options.all && !options.devices.empty()) {
        return "--all and --device exclude each other: --all takes every bridge";
    }
    if (options.devices.size() > 1 && options.command != Command::Program &&
        !RunsAsWatch(options.command)) {
        return std::string("several --device apply only to program and watch (and line), not to ") +
               CommandName(options.command);
    }
    for (size_t i = 0; i < options.devices.size(); ++i) {
        for (size_t j = 0; j < i; ++j) {
            if (options.devices[i] == options.devices[j]) {
                return "--device " + options.devices[i] + " is given twice";
            }
        }
    }
    return std::nullopt;
}

// --serial and its partner: --serial-pool when each unit takes a number,
// --serial-value when inspect writes one.
std::optional<std::string> CheckSerial(const CLI::App& app, const OptionWords& words,
                                       CliOptions& options) {
    // job new takes the serial settings a run would, to fix them in the job.
    const bool stamping = options.command == Command::Program || RunsAsWatch(options.command) ||
                          options.command == Command::Job;
    const bool serialGiven = Given(app, "--serial") && options.command != Command::Units;
    const bool serialValueGiven = Given(app, "--serial-value");
    const bool poolGiven = Given(app, "--serial-pool");
    if (stamping && serialGiven != poolGiven) {
        return serialGiven ? "--serial needs --serial-pool NAME: the pool each unit's "
                             "number is taken from"
                           : "--serial-pool needs --serial ADDR:SIZE[:FORMAT]: where and "
                             "how to write each unit's number";
    }
    if (poolGiven && options.serialPool.empty()) {
        return "--serial-pool needs a pool's name, as `farsend serials` lists them";
    }
    if (!stamping && serialGiven != serialValueGiven) {
        return serialGiven ? "--serial needs --serial-value N: the number to write"
                           : "--serial-value needs --serial ADDR:SIZE[:FORMAT]: where "
                             "and how to write the number";
    }
    if (serialGiven) {
        const protocol::SerialSpecResult spec = protocol::ParseSerialSpec(words.serial);
        if (!spec.ok()) return "--serial '" + words.serial + "': " + spec.error;
        options.serial = spec.spec;
    }
    if (serialGiven && !stamping) {
        // The number to write, not one of a pool's: leading zeros are
        // the zero padding a decimal serial has.
        const std::optional<std::uint64_t> number = protocol::ParseSerialNumber(words.serialValue);
        if (!number) {
            return "--serial-value '" + words.serialValue +
                   "' is not a decimal number from 0 to 18446744073709551615";
        }
        options.serialValue = *number;
    }
    return std::nullopt;
}

// The unit database's words: --db, --host, serials init's range, units'
// --serial.
std::optional<std::string> CheckUnitWords(const CLI::App& app, const OptionWords& words,
                                          CliOptions& options) {
    if (options.db.empty() && Given(app, "--db")) {
        return "--db needs an SQLite file's path or a postgresql:// URL";
    }
    if (!options.db.empty()) {
        const DatabaseNameResult name = ParseDatabaseName(options.db);
        if (!name.name) return name.error;
        options.db = name.name->location;
    }
    if (Given(app, "--host")) {
        if (options.host.empty()) return "--host needs a name: this PC's, as the line knows it";
        if (PrintableText(options.host) != options.host) {
            return "--host " + PrintableText(options.host) + ": a name without control characters";
        }
    }
    if (Given(app, "--first")) options.first = words.first;
    if (Given(app, "--last")) options.last = words.last;
    if (Given(app, "--serial") && options.command == Command::Units) {
        const std::optional<std::uint64_t> number = DecimalNumber(words.serial);
        if (!number || *number > static_cast<std::uint64_t>(INT64_MAX)) {
            return "--serial '" + words.serial + "' is not a decimal number from 0 to " +
                   std::to_string(INT64_MAX) + " (" + kDecimalForm + ")";
        }
        options.unitSerial = static_cast<std::int64_t>(*number);
    }
    if (options.serialsInit && !options.first) return "serials init needs --first N";
    if (!options.serialsInit && (options.first || options.last)) {
        return "--first and --last apply to serials init only";
    }
    if (options.first && options.last && *options.last < *options.first) {
        return "--last " + std::to_string(*options.last) + " is below --first " +
               std::to_string(*options.first);
    }
    if (options.poolName.empty() && options.serialsInit) return "serials init needs a NAME";
    return std::nullopt;
}

// How FILE is read, and what convert writes.
std::optional<std::string> CheckImageWords(const CLI::App& app, const OptionWords& words,
                                           CliOptions& options) {
    if (!words.format.empty()) options.imageRead.format = protocol::ImageFormatNamed(words.format);
    if (Given(app, "--base")) {
        options.imageRead.base = ParseAddress(words.base);
        if (!options.imageRead.base) {
            return "--base '" + words.base +
                   "' is not an address: hexadecimal, with or without 0x, up to FFFFFFFF";
        }
    }
    const bool binary = options.imageRead.format == protocol::ImageFormat::Binary;
    if (binary != options.imageRead.base.has_value()) {
        return binary ? "--format bin needs --base ADDR: where the file's first byte goes"
                      : "--base applies only to raw binary files: add --format bin";
    }
    if (!words.to.empty()) options.convertTo = *protocol::ImageFormatNamed(words.to);
    if (options.command == Command::Convert && options.file.empty()) {
        return "convert needs a file to read (IN)";
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> CheckOptions(const CLI::App& command, const OptionWords& words,
                                        CliOptions& options) {
    if (options.dir.empty() && Given(command, "--dir")) return "--dir needs a directory";
    if (auto problem = CheckDevices(options)) return problem;
    if (options.file.empty() && options.command == Command::Inspect) return "inspect needs a FILE";
    if (auto problem = CheckSerial(command, words, options)) return problem;
    if (auto problem = CheckUnitWords(command, words, options)) return problem;
    if (Given(command, "--limit")) options.limit = words.limit;
    if (auto problem = CheckJobWords(command, options)) return problem;
    if (options.station.empty() && Given(command, "--station")) {
        return "--station needs a location, as `farsend units` lists them";
    }
    if (auto problem = CheckImageWords(command, words, options)) return problem;

    options.waitGiven = Given(command, "--wait");
    const std::string variant = LowerCase(words.variant);
    if (variant == "bluetooth") options.variant = firmware::DeviceType::Bluetooth;
    if (variant == "zigbee") options.variant = firmware::DeviceType::ZigBee;
    if (words.hardwareVersion == "1.0") options.hardwareVersion = firmware::HardwareVersion::V1_0;
    if (words.hardwareVersion == "1.5") options.hardwareVersion = firmware::HardwareVersion::V1_5;
    if (words.hardwareVersion == "2.0") options.hardwareVersion = firmware::HardwareVersion::V2_0;
    return std::nullopt;
}

}  // namespace farsend::cli
