// The firmware image reader: turns an open image file, one call at a time,
// into FlashBlock records of at most 256 bytes at consecutive addresses.
//
// Format: hexadecimal tokens separated by white space. A value up to FF is a
// data byte; a value of 100 or more is the address of the data byte that
// follows. A file starts with an address, and addresses never go back within
// a file. Anything else is a format error, reported with its place in the
// file and never taken for the end of the file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/flash_block.h"
#include "protocol/image_file.h"

namespace farsend::protocol {

// The address position carried from one call to the next. It is not reset
// between blocks or files; the first address token of each file sets it
// afresh. 64-bit so that data running past FFFFFFFF is caught, not wrapped.
struct ImageReaderState {
    // The target address the next data byte would have.
    std::uint64_t nextAddress = 0;
    // Where the current run of consecutive bytes began: the base address of
    // the next block. Equals nextAddress between calls, except at the end of
    // a file.
    std::uint64_t runStart = 0;
    // No diagnostic lines: for readings that send nothing (the check of a
    // whole file before a run, a plan), so that the lines of the run that
    // follows are the only ones, one per block.
    bool quiet = false;
};

enum class ReadBlockResult : int {
    // The block is full, or an address gap follows; more of the file remains.
    BlockFilled = 0,
    // The end of the file was reached while filling the block (it may still
    // hold data, or none).
    EndOfFile = 1,
    // The file is malformed (file.Error() says what and where). The block must
    // not be sent, and the run must not be ended as if it had succeeded.
    FormatError = 2,
};

// Fills `block` (base address, check, data, count; always consistent) from
// `file`. Sets `hasData` whenever it reads a token and never clears it. Writes
// the diagnostic line "\nbase:%x nbytes:%d " for every block it completes,
// unless state.quiet.
// An address that opens a gap closes the block; it is kept by the file and
// starts the next block, whatever its number of digits.
ReadBlockResult ReadFlashBlock(FlashBlock& block, bool& hasData, ImageFile& file,
                               ImageReaderState& state);

enum class ProgrammingStep {
    SendBlock,      // send this block with BlockFollows
    SendEndOfData,  // the file is done: end the run
    FormatError,    // stop; the file is malformed (file.Error())
};

// What a programming run does for a file, step by step: every block that
// came with more to follow, the last block only when the file held any token
// (the has-data rule, so a file ending on a block boundary sends an empty last
// block), then the end of data. A file without a single data byte is a format
// error (NoData) found at its end: programming it would leave an erased
// target behind a run that looked successful. After a format error it keeps
// answering FormatError.
class ProgrammingBlockSequence {
public:
    // Each run reads with a state of its own: stations program side by side.
    ProgrammingBlockSequence(ImageFile& file, ImageReaderState& state);
    ProgrammingStep Next(FlashBlock& block);
    // The file has been read to its end: what is left is at most the last
    // block and the end of data.
    bool AtEnd() const { return atEnd_ || failed_; }

private:
    ImageFile& file_;
    ImageReaderState& state_;
    bool hasData_ = false;
    bool anyDataByte_ = false;
    bool atEnd_ = false;
    bool failed_ = false;
};

// Exactly what a programming run sends for a file.
struct ProgrammingPlan {
    // The blocks in order; after a format error, those sent before it.
    std::vector<FlashBlock> blocks;
    // True only for a well-formed file: the run ends with EndOfData.
    bool endsWithEndOfData = false;
    std::optional<ImageFormatError> error;
};

ProgrammingPlan PlanProgramming(ImageFile& file, ImageReaderState& state);
// For a file on disk, with a quiet state of its own. nullopt when it cannot
// be opened.
std::optional<ProgrammingPlan> PlanProgrammingFile(const std::string& path);

}  // namespace farsend::protocol
