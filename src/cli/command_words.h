// The words of a farsend command line before CLI11 reads them: which word is
// the command, whether it is one at all, and which options stand on the line.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/option_registry.h"

namespace farsend::cli {

const std::vector<Command>& AllCommands();

// ASCII letters in lower case; command words and --variant ignore case.
std::string LowerCase(std::string text);

// "program, erase, ...", every command.
std::string AllCommandsText();

// Whether one of NAMES stands before any "--".
bool Asked(const std::vector<std::string>& words, std::initializer_list<const char*> names);

// The message for an option given as "--name=" with nothing after it.
std::optional<std::string> EmptyValue(const std::vector<std::string>& words);

// The message for a command word that is none of the commands.
std::optional<std::string> UnknownCommand(const std::vector<std::string>& words);

// The words of job's and keys' actions, and of serials init: each action
// and the names its operands have in messages.
struct ActionWords {
    const char* name;
    std::vector<const char*> operands;
};
const std::vector<ActionWords>& ActionsOf(Command command);

// How many operands the command itself takes (program's FILE, convert's IN
// and OUT), its actions' aside.
std::size_t OperandCount(Command command);

// The line sorted for the command's own option set.
struct SortedLine {
    std::optional<Command> command;        // none: no command word, or not one exactly
    std::vector<std::string> forCli;       // the command word first, then its words
    std::vector<std::string> options;      // every known option given, with its value
    std::vector<const OptionSpec*> given;  // those options, in AllOptions()'s order
    // Options given that do not apply to the command (or all, without a
    // command), in AllOptions()'s order, each once.
    std::vector<const OptionSpec*> misplaced;
};

// Options may come before or after the command word: the ones before it are
// moved to follow it, and misplaced ones are taken out, so that the command's
// subcommand meets only its own. Words CLI11 would not take as a known
// option, "--" included, keep their place. Where a "--" ends the command's
// words while options may still follow (the command has no operand left to
// fill), those options are moved in front of it, for the command to read.
SortedLine SortLine(const std::vector<std::string>& words);

}  // namespace farsend::cli
