#include "cli/command_words.h"

#include <algorithm>

namespace farsend::cli {
namespace {

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

bool TakesValue(const std::string& word) {
    const OptionSpec* option = OptionUsedBy(word);
    return option != nullptr && option->takesValue && word == option->name;
}

// Where the first word that is neither an option nor an option's value
// stands: the command, when the line is right.
std::optional<std::size_t> CommandWordAt(const std::vector<std::string>& words) {
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word == "--") return i + 1 < words.size() ? std::optional(i + 1) : std::nullopt;
        if (word.rfind("-", 0) == 0) {
            if (TakesValue(word)) ++i;
            continue;
        }
        return i;
    }
    return std::nullopt;
}

std::optional<Command> CommandNamed(const std::string& word) {
    for (Command command : AllCommands()) {
        if (word == CommandName(command)) return command;
    }
    return std::nullopt;
}

}  // namespace

std::string LowerCase(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

const std::vector<Command>& AllCommands() {
    static const std::vector<Command> kAll = {
        Command::Program, Command::Erase,   Command::Identify,  Command::Launch,  Command::Watch,
        Command::Select,  Command::Inspect, Command::Devices,   Command::Serials, Command::Units,
        Command::Convert, Command::Line,    Command::Dashboard, Command::Job,     Command::Keys};
    return kAll;
}

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

std::string AllCommandsText() {
    std::string text;
    for (Command command : AllCommands()) {
        if (!text.empty()) text += ", ";
        text += CommandName(command);
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

// A command word that is none of the commands, with the closest one offered.
std::optional<std::string> UnknownCommand(const std::vector<std::string>& words) {
    const std::optional<std::size_t> at = CommandWordAt(words);
    if (!at) return std::nullopt;
    const std::string& word = words[*at];
    const std::string lower = LowerCase(word);
    const char* closest = nullptr;
    std::size_t best = 3;  // at most two edits away, or a prefix
    for (Command command : AllCommands()) {
        const std::string name = CommandName(command);
        if (lower == name) return std::nullopt;
        std::size_t distance = EditDistance(lower, name);
        if (lower.size() >= 2 && name.rfind(lower, 0) == 0) distance = 1;
        if (distance < best) {
            best = distance;
            closest = CommandName(command);
        }
    }
    std::string text = "unknown command '" + word + "'";
    if (closest != nullptr) text += "; did you mean '" + std::string(closest) + "'?";
    return text + "\nThe commands: " + AllCommandsText() + ".";
}

const std::vector<ActionWords>& ActionsOf(Command command) {
    static const std::vector<ActionWords> kJob = {{"new", {"NAME", "FILE"}},
                                                  {"sign", {"JOBFILE"}},
                                                  {"show", {"JOBFILE"}},
                                                  {"verify", {"JOBFILE"}}};
    static const std::vector<ActionWords> kKeys = {
        {"new", {"KEYFILE"}}, {"trust", {"PUBFILE"}}, {"list", {}}, {"revoke", {"ID"}}};
    static const std::vector<ActionWords> kSerials = {{"init", {"NAME"}}};
    static const std::vector<ActionWords> kNone;
    switch (command) {
        case Command::Job:
            return kJob;
        case Command::Keys:
            return kKeys;
        case Command::Serials:
            return kSerials;
        default:
            return kNone;
    }
}

std::size_t OperandCount(Command command) {
    if (command == Command::Convert) return 2;
    const bool takesFile =
        command == Command::Program || RunsAsWatch(command) || command == Command::Inspect;
    return takesFile ? 1 : 0;
}

namespace {

// How CLI11 walks the words after the command word, as far as it matters
// for where an option's words must stand.
class CommandWalk {
public:
    explicit CommandWalk(Command command) : command_(command), open_(OperandCount(command)) {}

    // A non-option word: an action, an operand, or a stray word.
    void Operand(const std::string& word) {
        if (toTop_) return;
        if (!action_) {
            for (const ActionWords& action : ActionsOf(command_)) {
                if (word == action.name) {
                    action_ = true;
                    open_ = action.operands.size();
                    return;
                }
            }
        }
        if (open_ > 0) --open_;
    }

    enum class Mark {
        Operands,  // every word after it is an operand
        Command,   // the action's words end; the command's go on
        Top,       // the command's words end; options are still read
    };
    Mark Separator() {
        if (open_ > 0 || toTop_) return Mark::Operands;
        if (inAction()) {
            leftAction_ = true;
            return Mark::Command;
        }
        toTop_ = true;
        return Mark::Top;
    }

private:
    bool inAction() const { return action_ && !leftAction_; }

    Command command_;
    std::size_t open_;         // operands still to fill where the walk is
    bool action_ = false;      // the action word was met
    bool leftAction_ = false;  // a "--" ended the action's words
    bool toTop_ = false;       // a "--" ended the command's words
};

}  // namespace

SortedLine SortLine(const std::vector<std::string>& words) {
    SortedLine line;
    const std::optional<std::size_t> at = CommandWordAt(words);
    if (at) line.command = CommandNamed(words[*at]);
    // A command word in another case is left where it is, for CLI11 to
    // refuse as it refuses any stray word.
    const std::size_t commandAt = line.command ? *at : words.size();
    // After a "--" before the command, CLI11 takes the words after the
    // command's own as operands.
    const bool operandsAfterCommand =
        commandAt > 0 && commandAt < words.size() && words[commandAt - 1] == "--";

    std::vector<std::string> before, moved, after;
    std::optional<std::size_t> insertAt;  // where options go once the command's words end
    std::vector<bool> given(AllOptions().size(), false), misplaced(given);
    std::optional<CommandWalk> walk;
    if (line.command) walk.emplace(*line.command);
    std::size_t i = 0;
    for (; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (i == commandAt) continue;
        const bool beforeCommand = i < commandAt;
        std::vector<std::string>& kept = beforeCommand ? before : after;
        if (word == "--" && !(beforeCommand && i + 1 == commandAt)) {
            if (beforeCommand) break;
            const CommandWalk::Mark mark = walk->Separator();
            if (mark == CommandWalk::Mark::Operands ||
                (mark == CommandWalk::Mark::Top && operandsAfterCommand)) {
                break;
            }
            if (mark == CommandWalk::Mark::Top) insertAt = after.size();
            after.push_back(word);
            continue;
        }
        const OptionSpec* option = OptionUsedBy(word);
        if (option == nullptr) {
            // CLI11 takes "-" for an operand, any other dashed word for an
            // option it does not know.
            if (!beforeCommand && (word == "-" || word.rfind("-", 0) != 0)) walk->Operand(word);
            kept.push_back(word);
            continue;
        }
        // A value follows unless attached by '=', whatever it looks like
        // (as CLI11 takes it); the last word may lack it.
        const std::size_t end = std::min(words.size(), i + (TakesValue(word) ? 2 : 1));
        const std::vector<std::string> use(words.begin() + static_cast<std::ptrdiff_t>(i),
                                           words.begin() + static_cast<std::ptrdiff_t>(end));
        i = end - 1;
        const auto index = static_cast<std::size_t>(option - AllOptions().data());
        given[index] = true;
        line.options.insert(line.options.end(), use.begin(), use.end());
        if (!line.command || !AppliesTo(*option, *line.command)) {
            misplaced[index] = true;
        } else if (beforeCommand) {
            moved.insert(moved.end(), use.begin(), use.end());
        } else if (insertAt) {
            after.insert(after.begin() + static_cast<std::ptrdiff_t>(*insertAt), use.begin(),
                         use.end());
            *insertAt += use.size();
        } else {
            after.insert(after.end(), use.begin(), use.end());
        }
    }
    std::vector<std::string>& rest = i < commandAt ? before : after;
    rest.insert(rest.end(), words.begin() + static_cast<std::ptrdiff_t>(i), words.end());

    line.forCli = std::move(before);
    if (line.command) line.forCli.push_back(words[commandAt]);
    line.forCli.insert(line.forCli.end(), moved.begin(), moved.end());
    line.forCli.insert(line.forCli.end(), after.begin(), after.end());
    for (std::size_t k = 0; k < given.size(); ++k) {
        if (given[k]) line.given.push_back(&AllOptions()[k]);
        if (misplaced[k]) line.misplaced.push_back(&AllOptions()[k]);
    }
    return line;
}

}  // namespace farsend::cli
