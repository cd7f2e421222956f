// The link's and the exchanges' results: every code the messages show has
// one name, and a code outside the list still shows its number.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "link/link_result.h"
#include "protocol/exchange_result.h"

namespace farsend {
namespace {

struct NameCase {
    int code;
    std::string linkName;      // empty: no link result has this code
    std::string exchangeName;  // empty: no exchange result has this code
};

template <typename Result>
std::string Shown(Result result) {
    std::ostringstream out;
    out << result;
    return out.str();
}

TEST(ResultNames, EachCodeHasOneNameAndStrangersShowTheirNumber) {
    const NameCase cases[] = {
        {-5, "", ""},
        {-4, "OpenFailed", ""},
        {-3, "ReportFailed", ""},
        {-2, "BadArgument", ""},
        {-1, "NothingAvailable", ""},
        {0, "Ok", "Ok"},
        {1, "", "Failed"},
        {2, "", "WriteFailed"},
        {3, "", "TimedOut"},
        {4, "", ""},
        {5, "", "LinkNotOpened"},
        {6, "", ""},
        {7, "", "NotConfirmed"},
        {8, "", "WrongAnswer"},
        {9, "", ""},
        {10, "", "ReplyMissing"},
        {11, "", ""},
    };
    for (const NameCase& c : cases) {
        const auto linkResult = static_cast<link::LinkResult>(c.code);
        const auto exchangeResult = static_cast<protocol::ExchangeResult>(c.code);
        const std::string number = std::to_string(c.code);
        EXPECT_EQ(link::LinkResultCode(linkResult), c.code);
        EXPECT_EQ(protocol::ExchangeResultCode(exchangeResult), c.code);
        if (c.linkName.empty()) {
            EXPECT_STREQ(link::LinkResultName(linkResult), "Unknown") << number;
            EXPECT_EQ(Shown(linkResult), "Unknown(" + number + ")");
        } else {
            EXPECT_EQ(link::LinkResultName(linkResult), c.linkName) << number;
            EXPECT_EQ(Shown(linkResult), c.linkName);
        }
        if (c.exchangeName.empty()) {
            EXPECT_STREQ(protocol::ExchangeResultName(exchangeResult), "Unknown") << number;
            EXPECT_EQ(Shown(exchangeResult), "Unknown(" + number + ")");
        } else {
            EXPECT_EQ(protocol::ExchangeResultName(exchangeResult), c.exchangeName) << number;
            EXPECT_EQ(Shown(exchangeResult), c.exchangeName);
        }
    }
}

}  // namespace
}  // namespace farsend
