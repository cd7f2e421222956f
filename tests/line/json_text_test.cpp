// The line page's JSON, written without a document tree: the same text as
// the JSON library writes for every string a device may send, numbers that
// read back as they were, and messages that the page can read.
#include "line/json_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "line/line_state.h"
#include "support/virtual_clock.h"

namespace farsend::line {
namespace {

using nlohmann::json;

TEST(JsonTextTest, WritesStringsAsTheJsonLibraryDoes) {
    const std::string cases[] = {
        "",
        "usb-1.4",
        "say \"hi\" \\ back",
        "\b\f\n\r\t",
        std::string("\x01\x1f\x7f", 3),
        std::string("nul\0here", 8),
        "<img src=x onerror=alert(1)>",
        "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80",  // 2, 3 and 4 bytes
        "\xff",
        "\xc0\xaf",  // overlong
        "\xe2\x82"
        "A",                 // cut short before a letter
        "\xed\xa0\x80",      // a surrogate
        "\xf4\x90\x80\x80",  // past U+10FFFF
        "\xe0\x80\x80",      // overlong, three bytes
        "ab\xe2\x82",        // cut short at the end
        "\x80\x80x",         // continuation bytes alone
        "\xf0\x9f\x98"
        "x\xf0",  // a 4-byte form cut short, twice
    };
    for (const std::string& text : cases) {
        SCOPED_TRACE(json(text).dump(-1, ' ', true, json::error_handler_t::replace));
        JsonText written;
        written.String(text);
        EXPECT_EQ(written.Text(), json(text).dump(-1, ' ', false, json::error_handler_t::replace));
    }
}

TEST(JsonTextTest, NumbersReadBackAsTheyWere) {
    const double doubles[] = {0.0, 20.512, 0.75, 1.0 / 3.0, 4.0, 1e-7, 123456789.125, -2.5};
    for (const double value : doubles) {
        JsonText written;
        written.Number(value);
        EXPECT_EQ(json::parse(written.Text()).get<double>(), value) << written.Text();
    }
    JsonText others;
    others.BeginArray()
        .Number(std::numeric_limits<double>::quiet_NaN())
        .Number(std::numeric_limits<std::int64_t>::min())
        .Number(std::numeric_limits<std::uint64_t>::max())
        .Bool(false)
        .Null()
        .BeginObject()
        .Key("a")
        .BeginArray()
        .EndArray()
        .Key("b")
        .Raw("{}")
        .EndObject()
        .EndArray();
    EXPECT_EQ(others.Text(),
              "[null,-9223372036854775808,18446744073709551615,false,null,{\"a\":[],\"b\":{}}]");
}

// What the page reads of a message: its whole mark and sequence number, a
// device's text as text, and figures that are not there yet as null.
TEST(JsonTextTest, TheLinesMessagesSayWhatItsTilesHold) {
    VirtualClock clock;
    LineState state(clock, [] { return std::int64_t{1700000000123}; });
    state.AddStation("usb-1.1", "pc\xff", "<b>BR1</b>");
    state.Change(0, [](Tile& tile) {
        tile.reason = "no answer\nat block 3";
        tile.kilobytesPerSecond = 20.512;
    });
    std::uint64_t seq = 0;
    const json whole = json::parse(state.Snapshot(true, &seq));
    EXPECT_EQ(whole["whole"], true);
    EXPECT_EQ(whole["seq"], seq);
    EXPECT_TRUE(whole["header"]["yield"].is_null());
    const json& tile = whole["stations"].at(0);
    EXPECT_EQ(tile["host"], "pc\xef\xbf\xbd");
    EXPECT_EQ(tile["bridgeSerial"], "<b>BR1</b>");
    EXPECT_EQ(tile["reason"], "no answer\nat block 3");
    EXPECT_EQ(tile["kbps"], 20.512);
    EXPECT_EQ(tile["stamp"], 1700000000123);
    EXPECT_FALSE(json::parse(state.Snapshot()).contains("whole"));
}

}  // namespace
}  // namespace farsend::line
