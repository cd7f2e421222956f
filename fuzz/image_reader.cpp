// Fuzzes the firmware image reader with arbitrary file contents.
//
// Checks, for every input: every block is consistent and holds at most 256
// bytes; each call that says more follows has consumed part of the file, so
// reading always ends; blocks never go back or overlap; a malformed file is
// an error with a place in it, never the end of the file, and stays one; the
// programming plan is exactly the blocks read under the has-data rule, and a
// file without a data byte is refused; and a
// file read without error, written out again, reads back as the same bytes
// at the same addresses.
#include "protocol/image_reader.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "protocol/image_text.h"

using namespace farsend::protocol;

namespace {

// Non-empty blocks merged into runs of consecutive addresses.
std::vector<ImageSegment> Runs(const std::vector<FlashBlock>& blocks) {
    std::vector<ImageSegment> runs;
    for (const FlashBlock& block : blocks) {
        if (block.count == 0) continue;
        if (runs.empty() ||
            static_cast<std::uint64_t>(runs.back().address) + runs.back().bytes.size() !=
                block.baseAddress) {
            runs.push_back({block.baseAddress, {}});
        }
        runs.back().bytes.insert(runs.back().bytes.end(), block.data.begin(),
                                 block.data.begin() + block.count);
    }
    return runs;
}

bool SameRuns(const std::vector<ImageSegment>& a, const std::vector<ImageSegment>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].address != b[i].address || a[i].bytes != b[i].bytes) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    ImageFile file;
    file.OpenBytes(text);
    ImageReaderState state;
    bool hasData = false;

    std::vector<FlashBlock> sent;  // what a programming run would send
    std::uint64_t position = 0;
    std::uint64_t dataEnd = 0;  // one past the last byte read so far
    std::uint64_t totalBytes = 0;
    std::size_t calls = 0;
    ReadBlockResult result;
    for (;;) {
        FlashBlock block;
        result = ReadFlashBlock(block, hasData, file, state);
        ++calls;
        FUZZ_CHECK(calls <= size + 2);
        FUZZ_CHECK(block.count <= kFlashBlockDataSize);
        FUZZ_CHECK(IsConsistent(block));
        FUZZ_CHECK(file.Position() >= position && file.Position() <= size);
        if (block.count > 0) {
            FUZZ_CHECK(hasData);
            FUZZ_CHECK(block.baseAddress >= dataEnd);
            dataEnd = static_cast<std::uint64_t>(block.baseAddress) + block.count;
            FUZZ_CHECK(dataEnd <= 0x100000000ull);
            totalBytes += block.count;
        }
        if (result == ReadBlockResult::BlockFilled) {
            // Progress: at least one data byte, and the file moved on.
            FUZZ_CHECK(block.count >= 1);
            FUZZ_CHECK(file.Position() > position);
        }
        position = file.Position();
        if (result == ReadBlockResult::FormatError) break;
        if (result == ReadBlockResult::EndOfFile) {
            FUZZ_CHECK(!file.Error().has_value());
            if (hasData) sent.push_back(block);
            break;
        }
        sent.push_back(block);
    }
    // Each data byte takes at least one digit and one separator.
    FUZZ_CHECK(totalBytes <= (size + 1) / 2);

    if (result == ReadBlockResult::FormatError) {
        FUZZ_CHECK(file.Error().has_value());
        const ImageFormatError& error = *file.Error();
        FUZZ_CHECK(error.line >= 1 && error.column >= 1);
        FUZZ_CHECK(error.offset <= size);
        FUZZ_CHECK(error.column <= error.offset + 1);
        FUZZ_CHECK(!DescribeImageFormatError(error).empty());
        FlashBlock again;
        FUZZ_CHECK(ReadFlashBlock(again, hasData, file, state) == ReadBlockResult::FormatError);
        FUZZ_CHECK(file.Position() == position);
    }

    // The plan is the same reading with the has-data rule applied.
    ImageFile second;
    second.OpenBytes(text);
    ImageReaderState secondState;
    const ProgrammingPlan plan = PlanProgramming(second, secondState);
    // A well-formed file without a data byte is refused as a whole.
    const bool wellFormed = result == ReadBlockResult::EndOfFile;
    const bool noData = wellFormed && totalBytes == 0;
    FUZZ_CHECK(plan.endsWithEndOfData == (wellFormed && !noData));
    FUZZ_CHECK(plan.error.has_value() == !plan.endsWithEndOfData);
    if (noData) {
        FUZZ_CHECK(plan.error->kind == ImageFormatErrorKind::NoData);
        FUZZ_CHECK(plan.blocks.empty());
        return 0;
    }
    FUZZ_CHECK(plan.blocks.size() == sent.size());
    for (std::size_t i = 0; i < sent.size(); ++i) {
        FUZZ_CHECK(SerializeFlashBlock(plan.blocks[i]) == SerializeFlashBlock(sent[i]));
    }

    // A well-formed file, written out again, reads back the same.
    if (result == ReadBlockResult::EndOfFile) {
        const std::vector<ImageSegment> runs = Runs(sent);
        ImageFile rewritten;
        rewritten.OpenBytes(FormatImageText(runs, size % 2 == 1));
        ImageReaderState rewrittenState;
        const ProgrammingPlan back = PlanProgramming(rewritten, rewrittenState);
        FUZZ_CHECK(back.endsWithEndOfData);
        FUZZ_CHECK(SameRuns(Runs(back.blocks), runs));
    }
    return 0;
}
