// Where an option stands on the line: before the command word or after it,
// and after a "--".
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_options.h"

namespace farsend::cli {
namespace {

using ::testing::HasSubstr;

std::vector<std::string> Words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

// What a parse came to, in one string to compare.
std::string Outcome(const ParseResult& result) {
    if (result.action != ParseAction::Run) return "refused: " + result.error;
    const CliOptions& o = result.options;
    std::ostringstream text;
    text << CommandName(o.command) << " file=" << o.file << " argument=" << o.argument
         << " pool=" << o.poolName << " wait=" << o.waitSeconds << " count=" << o.count
         << " report=" << o.report << " db=" << o.db << " note=" << o.note
         << " limit=" << o.limit.value_or(-1) << " first=" << o.first.value_or(-1)
         << " last=" << o.last.value_or(-1) << " json=" << o.json << " devices=";
    for (const std::string& device : o.devices) text << device << ";";
    return text.str();
}

TEST(CommandWords, AnOptionBeforeTheCommandWordAndAfterItParseAlike) {
    struct Case {
        std::string command;  // the command word and its operands
        std::string options;
        std::string says;  // part of Outcome()
    };
    const Case cases[] = {
        {"program f.hex", "--device a --device b --wait 5 --json",
         "program file=f.hex argument= pool= wait=5 "},
        {"watch", "--count 3 --report r.jsonl --db u.sqlite", "count=3 report=r.jsonl db=u.sqlite"},
        {"job new board a.hex", "--note x --limit 3", "job file=a.hex argument=board "},
        {"serials init pool", "--first 1 --last 9", "pool=pool "},
        {"keys list", "--db u.sqlite", "keys file= "},
        // Refused alike, with the same words; a misplaced option's value is
        // looked at first.
        {"erase", "--count 2", "refused: --count does not apply to erase (only to watch and line)"},
        {"erase", "--count 0", "refused: --count: Value 0 not in range"},
        {"identify", "--wait 0", "refused: --wait: Value 0"},
        {"units", "--serial 010", "refused: --serial '010' is not a decimal number"},
        {"job sign line.job", "--note x", "refused: --note applies to job new only"},
        {"program", "--device a --all", "refused: --all and --device exclude each other"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command + " / " + c.options);
        const std::string before = Outcome(ParseArguments(Words(c.options + " " + c.command)));
        const std::string after = Outcome(ParseArguments(Words(c.command + " " + c.options)));
        EXPECT_THAT(after, HasSubstr(c.says));
        EXPECT_EQ(before, after);
        // Split around the command word too.
        const std::vector<std::string> words = Words(c.options);
        const std::size_t half = words.size() / 2 - words.size() / 2 % 2;
        std::string split;
        for (std::size_t i = 0; i < half; ++i) split += words[i] + " ";
        split += c.command;
        for (std::size_t i = half; i < words.size(); ++i) split += " " + words[i];
        EXPECT_EQ(Outcome(ParseArguments(Words(split))), after) << split;
    }
}

// After "--" the words are operands while the command has one to fill; once
// it has none, the options after it are read as options still (and refused
// as options when they are not the command's).
TEST(CommandWords, WordsAfterADoubleDash) {
    struct Case {
        std::string line;
        std::string outcome;  // part of Outcome()
    };
    const Case cases[] = {
        {"inspect -- --all", "inspect file=--all "},
        {"program -- --wait", "program file=--wait "},
        {"program f.hex -- --wait 5", "program file=f.hex argument= pool= wait=5 "},
        {"-- erase --wait 5", "erase file= argument= pool= wait=5 "},
        {"erase -- --wait 5 --json",
         "wait=5 count=0 report= db= note= limit=-1 first=-1 "
         "last=-1 json=1"},
        {"units -- --all", "refused: --all does not apply to units"},
        {"job new -- n a.hex", "job file=a.hex argument=n "},
        {"job new n a.hex -- --note x", "note=x "},
        {"erase -- --json -- --wait 5", "refused: The following arguments were not expected"},
    };
    for (const Case& c : cases) {
        EXPECT_THAT(Outcome(ParseArguments(Words(c.line))), HasSubstr(c.outcome)) << c.line;
    }
}

}  // namespace
}  // namespace farsend::cli
