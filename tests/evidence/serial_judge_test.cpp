// The serial judge must see each way a serialized run can go wrong, and
// nothing where a run went right (a crash leaves unfinished units and half
// programmed flashes, which are no defect).
#include "evidence/serial_judge.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

namespace farsend::evidence {
namespace {

using units::UnitResult;
using units::UnitRow;

const SerialPlace kPlace{0x4010, 4, NumberFormat::LittleEndian};

ByteMap Image() {
    ByteMap image;
    for (uint32_t i = 0; i < 512; ++i) image[0x4000 + i] = static_cast<uint8_t>(i * 7);
    return image;
}

ByteMap Stamped(uint64_t number, ByteMap flash = Image()) {
    const std::vector<uint8_t> bytes = EncodeNumber(kPlace, number);
    for (uint32_t i = 0; i < bytes.size(); ++i) flash[kPlace.address + i] = bytes[i];
    return flash;
}

UnitRow Row(int64_t id, std::optional<int64_t> serial, std::optional<UnitResult> result,
            bool returned = false) {
    UnitRow row;
    row.id = id;
    row.serial = serial;
    row.pool = "line";
    row.numberReturned = returned;
    if (result) {
        row.finish.emplace();
        row.finish->result = *result;
    }
    return row;
}

struct JudgeCase {
    const char* name;
    std::vector<UnitRow> rows;
    std::map<std::string, ByteMap> flashes;
    std::vector<std::string> violations;  // a piece of each, in order; none: a clean run
};

TEST(SerialJudge, FindsEachWayARunGoesWrongAndNothingElse) {
    ByteMap firstBlockOnly;  // killed after the block with the number
    for (uint32_t i = 0; i < 256; ++i) firstBlockOnly[0x4000 + i] = Stamped(1002).at(0x4000 + i);
    ByteMap changed = Stamped(1000);
    changed[0x4100] ^= 1;
    ByteMap partial = Stamped(1000);
    partial.erase(kPlace.address + 3);

    const std::vector<JudgeCase> cases = {
        {"programmed, unfinished with half a flash, one that died before a block",
         {Row(1, 1000, UnitResult::Programmed), Row(2, 1001, UnitResult::Programmed),
          Row(3, 1002, std::nullopt), Row(4, 1003, std::nullopt)},
         {{"a.hex", Stamped(1000)},
          {"b.hex", Stamped(1001)},
          {"c.hex", firstBlockOnly},
          {"d.hex", {}}},
         {}},
        {"a number given back and issued again",
         {Row(1, 1000, UnitResult::Failed, true), Row(2, 1000, UnitResult::Programmed)},
         {{"a.hex", Stamped(1000)}},
         {}},
        {"one number kept by two units",
         {Row(1, 1000, UnitResult::Programmed), Row(2, 1000, UnitResult::Failed)},
         {{"a.hex", Stamped(1000)}},
         {"number 1000 was issued twice: units 1, 2"}},
        {"one number in two flashes",
         {Row(1, 1000, UnitResult::Programmed)},
         {{"a.hex", Stamped(1000)}, {"b.hex", Stamped(1000)}},
         {"number 1000 is in 2 flashes: a.hex, b.hex"}},
        {"a number in a flash without its row",
         {Row(1, 1000, UnitResult::Programmed)},
         {{"a.hex", Stamped(1000)}, {"b.hex", Stamped(1001)}},
         {"b.hex holds number 1001, which no unit's row holds"}},
        {"a number in a flash that was given back",
         {Row(1, 1000, UnitResult::Failed, true)},
         {{"a.hex", Stamped(1000)}},
         {"a.hex holds number 1000, which was given back"}},
        {"programmed, but no flash holds the number",
         {Row(1, 1000, UnitResult::Programmed)},
         {{"a.hex", Image()}},
         {"a.hex holds number ", "unit 1 is recorded as programmed with 1000, which no flash"}},
        {"programmed, but a byte beside the number differs",
         {Row(1, 1000, UnitResult::Programmed)},
         {{"a.hex", changed}},
         {"is not the image with its number: 0x4100: flash"}},
        {"part of a number",
         {Row(1, 1000, std::nullopt)},
         {{"a.hex", partial}},
         {"a.hex holds part of a number at 0x4010"}},
        {"a unit without a number",
         {Row(1, std::nullopt, UnitResult::Programmed)},
         {},
         {"unit 1 took no number"}},
        {"programmed, yet the number went back",
         {Row(1, 1000, UnitResult::Programmed, true)},
         {{"a.hex", Stamped(1000)}},
         {"unit 1 is programmed but gave its number 1000 back", "which was given back"}},
    };
    for (const JudgeCase& c : cases) {
        SCOPED_TRACE(c.name);
        const SerialVerdict verdict = JudgeSerialRuns(c.rows, c.flashes, Image(), kPlace);
        ASSERT_EQ(verdict.violations.size(), c.violations.size())
            << ::testing::PrintToString(verdict.violations);
        for (size_t i = 0; i < c.violations.size(); ++i) {
            EXPECT_THAT(verdict.violations[i], ::testing::HasSubstr(c.violations[i]));
        }
    }
}

struct NumberCase {
    const char* place;
    uint64_t number;
    std::vector<uint8_t> bytes;  // empty: does not fit
};

TEST(SerialJudge, NumbersAreWrittenAndReadBackInEachFormat) {
    const std::vector<NumberCase> cases = {
        {"0x100:4", 0x12345678, {0x78, 0x56, 0x34, 0x12}},
        {"256:3:be", 0x123456, {0x12, 0x34, 0x56}},
        {"0x100:2:le", 0x10000, {}},
        {"0x100:8:be", UINT64_MAX, std::vector<uint8_t>(8, 0xFF)},
        {"0x100:6:dec", 1042, {'0', '0', '1', '0', '4', '2'}},
        {"0x100:3:dec", 1042, {}},
    };
    for (const NumberCase& c : cases) {
        SCOPED_TRACE(c.place);
        const std::optional<SerialPlace> place = ParseSerialPlace(c.place);
        ASSERT_TRUE(place);
        EXPECT_EQ(EncodeNumber(*place, c.number), c.bytes);
        if (c.bytes.empty()) continue;
        ByteMap flash;
        for (uint32_t i = 0; i < c.bytes.size(); ++i) flash[place->address + i] = c.bytes[i];
        const HeldNumber held = ReadNumber(*place, flash);
        EXPECT_EQ(held.kind, HeldNumber::Whole);
        EXPECT_EQ(held.number, c.number);
    }
    for (const char* wrong : {"0x100", "0x100:0", "0x100:9:le", "0x100:4:hex", "x:4"}) {
        EXPECT_FALSE(ParseSerialPlace(wrong)) << wrong;
    }
}

}  // namespace
}  // namespace farsend::evidence
