#include "link/circ_buf.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

namespace farsend::link {
namespace {

// One step on a ring: write `length` bytes (counting on from the last value
// written) or read `length` bytes and expect the values that are due.
struct Step {
    enum Kind { kWrite, kRead } kind;
    int length;
    bool accepted;
    int heldAfter;
};

struct RingCase {
    std::string name;
    int capacity;
    std::vector<Step> steps;
};

class RingTable : public ::testing::TestWithParam<RingCase> {};

TEST_P(RingTable, AcceptsAndRefusesWholeTransfers) {
    const RingCase& c = GetParam();
    CCircBuf ring(c.capacity);
    uint8_t nextWritten = 0;
    uint8_t nextRead = 0;
    for (size_t i = 0; i < c.steps.size(); ++i) {
        const Step& step = c.steps[i];
        SCOPED_TRACE("step " + std::to_string(i));
        std::vector<uint8_t> bytes(static_cast<size_t>(step.length > 0 ? step.length : 1), 0xEE);
        if (step.kind == Step::kWrite) {
            std::iota(bytes.begin(), bytes.end(), nextWritten);
            ASSERT_EQ(ring.Write(bytes.data(), step.length), step.accepted);
            if (step.accepted && step.length > 0) nextWritten += static_cast<uint8_t>(step.length);
        } else {
            const std::vector<uint8_t> before = bytes;
            ASSERT_EQ(ring.Read(bytes.data(), step.length), step.accepted);
            if (step.accepted) {
                for (int k = 0; k < step.length; ++k) {
                    ASSERT_EQ(bytes[static_cast<size_t>(k)], static_cast<uint8_t>(nextRead + k));
                }
                if (step.length > 0) nextRead += static_cast<uint8_t>(step.length);
            } else {
                EXPECT_EQ(bytes, before) << "a refused read must not copy anything";
            }
        }
        EXPECT_EQ(ring.Held(), step.heldAfter);
    }
}

using S = Step;
std::vector<RingCase> RingCases() {
    return {
        RingCase{"NineFitTenDoNot",
                 10,
                 {{S::kWrite, 10, false, 0}, {S::kWrite, 9, true, 9}, {S::kWrite, 1, false, 9}}},
        RingCase{"WrapFourAtEndFiveAtStart",
                 10,
                 {{S::kWrite, 6, true, 6},
                  {S::kRead, 6, true, 0},
                  {S::kWrite, 9, true, 9},
                  {S::kRead, 9, true, 0}}},
        RingCase{"WrapExactlyToTheEnd",
                 10,
                 {{S::kWrite, 6, true, 6},
                  {S::kRead, 6, true, 0},
                  {S::kWrite, 4, true, 4},
                  {S::kWrite, 5, true, 9},
                  {S::kRead, 4, true, 5},
                  {S::kRead, 5, true, 0}}},
        RingCase{"ReadAcrossTheEndInTwoParts",
                 10,
                 {{S::kWrite, 8, true, 8},
                  {S::kRead, 7, true, 1},
                  {S::kWrite, 7, true, 8},
                  {S::kRead, 3, true, 5},
                  {S::kRead, 5, true, 0}}},
        RingCase{"ReadMoreThanHeldRefused",
                 10,
                 {{S::kWrite, 5, true, 5},
                  {S::kRead, 6, false, 5},
                  {S::kRead, 5, true, 0},
                  {S::kRead, 1, false, 0}}},
        RingCase{"WrappedReadMoreThanHeldRefused",
                 10,
                 {{S::kWrite, 8, true, 8},
                  {S::kRead, 8, true, 0},
                  {S::kWrite, 6, true, 6},
                  {S::kRead, 7, false, 6},
                  {S::kRead, 6, true, 0}}},
        RingCase{"WriteBehindReaderKeepsOneFree",
                 10,
                 {{S::kWrite, 8, true, 8},
                  {S::kRead, 4, true, 4},
                  {S::kWrite, 2, true, 6},
                  {S::kWrite, 4, false, 6},
                  {S::kWrite, 3, true, 9},
                  {S::kWrite, 1, false, 9},
                  {S::kRead, 9, true, 0}}},
        RingCase{"ZeroLengthAlwaysTrue",
                 10,
                 {{S::kRead, 0, true, 0},
                  {S::kWrite, 0, true, 0},
                  {S::kWrite, 3, true, 3},
                  {S::kRead, 0, true, 3}}},
        RingCase{"NegativeLengthsRefused",
                 10,
                 {{S::kWrite, -1, false, 0}, {S::kWrite, 2, true, 2}, {S::kRead, -2, false, 2}}},
        RingCase{"ManyLapsStayInOrder",
                 7,
                 {{S::kWrite, 5, true, 5},
                  {S::kRead, 3, true, 2},
                  {S::kWrite, 4, true, 6},
                  {S::kRead, 6, true, 0},
                  {S::kWrite, 6, true, 6},
                  {S::kRead, 5, true, 1},
                  {S::kWrite, 5, true, 6},
                  {S::kRead, 6, true, 0}}}};
}

INSTANTIATE_TEST_SUITE_P(Capacity, RingTable, ::testing::ValuesIn(RingCases()),
                         [](const auto& info) { return info.param.name; });

TEST(CCircBuf, AllocateOnExistingStorageKeepsItAndEmptiesTheRing) {
    CCircBuf ring(10);
    const uint8_t bytes[4] = {1, 2, 3, 4};
    ASSERT_TRUE(ring.Write(bytes, 4));
    EXPECT_FALSE(ring.Allocate(20));
    EXPECT_EQ(ring.Held(), 0);
    // Still capacity 10: nine bytes fit, ten do not.
    uint8_t nine[10] = {};
    EXPECT_FALSE(ring.Write(nine, 10));
    EXPECT_TRUE(ring.Write(nine, 9));
}

TEST(CCircBuf, WithoutStorageEveryTransferFails) {
    CCircBuf ring(0);
    uint8_t byte = 7;
    EXPECT_FALSE(ring.HasStorage());
    EXPECT_FALSE(ring.Write(&byte, 1));
    EXPECT_FALSE(ring.Read(&byte, 1));
    EXPECT_FALSE(ring.Write(&byte, 0));

    CCircBuf freed(10);
    freed.Free();
    EXPECT_FALSE(freed.Write(&byte, 1));
    EXPECT_TRUE(freed.Allocate(5)) << "after Free the ring can get storage again";
    EXPECT_TRUE(freed.Write(&byte, 1));
}

}  // namespace
}  // namespace farsend::link
