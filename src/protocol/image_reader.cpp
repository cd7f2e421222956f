#include "protocol/image_reader.h"

#include "common/diagnostics.h"

namespace farsend::protocol {

namespace {

constexpr std::uint32_t kLargestDataValue = 0xFF;
constexpr std::uint64_t kLastAddress = 0xFFFFFFFFu;

}  // namespace

ReadBlockResult ReadFlashBlock(FlashBlock& block, bool& hasData, ImageFile& file,
                               ImageReaderState& state) {
    block = FlashBlock{};
    block.baseAddress = static_cast<std::uint32_t>(state.runStart);
    ReadBlockResult result = ReadBlockResult::BlockFilled;

    while (block.count < kFlashBlockDataSize) {
        ImageToken token;
        const TokenStatus status = file.NextToken(token);
        if (status == TokenStatus::EndOfFile) {
            result = ReadBlockResult::EndOfFile;
            break;
        }
        if (status == TokenStatus::Error) {
            result = ReadBlockResult::FormatError;
            break;
        }
        hasData = true;

        if (token.value <= kLargestDataValue) {
            if (!file.AddressSeen()) {
                file.Fail(ImageFormatErrorKind::DataBeforeAddress, token);
                result = ReadBlockResult::FormatError;
                break;
            }
            if (state.nextAddress > kLastAddress) {
                file.Fail(ImageFormatErrorKind::AddressSpaceExhausted, token);
                result = ReadBlockResult::FormatError;
                break;
            }
            block.data[block.count++] = static_cast<std::uint8_t>(token.value);
            ++state.nextAddress;
            if (block.count == kFlashBlockDataSize) state.runStart = state.nextAddress;
            continue;
        }

        // An address. Within a file it may continue the data or jump ahead,
        // but never land on or before bytes already read.
        if (file.AddressSeen() && token.value < state.nextAddress) {
            file.Fail(ImageFormatErrorKind::AddressGoesBackwards, token, state.nextAddress);
            result = ReadBlockResult::FormatError;
            break;
        }
        file.NoteAddressSeen();
        if (block.count == 0) {
            block.baseAddress = token.value;
            state.runStart = state.nextAddress = token.value;
        } else if (token.value > state.nextAddress) {
            // A gap: this block ends here and the next one starts at the
            // address, which the file keeps for the next call.
            state.runStart = state.nextAddress;
            file.PushBack(token);
            break;
        }
        // Equal: the data simply continues; the token takes no place.
    }

    block.check = ComputeBlockCheck(block);
    if (result != ReadBlockResult::FormatError && !state.quiet) {
        DiagnosticLinef("\nbase:%x nbytes:%d ", static_cast<unsigned>(block.baseAddress),
                        static_cast<int>(block.count));
    }
    return result;
}

ProgrammingBlockSequence::ProgrammingBlockSequence(ImageFile& file, ImageReaderState& state)
    : file_(file), state_(state) {}

ProgrammingStep ProgrammingBlockSequence::Next(FlashBlock& block) {
    if (failed_) return ProgrammingStep::FormatError;
    if (atEnd_) return ProgrammingStep::SendEndOfData;
    const ReadBlockResult result = ReadFlashBlock(block, hasData_, file_, state_);
    if (block.count > 0) anyDataByte_ = true;
    switch (result) {
        case ReadBlockResult::BlockFilled:
            return ProgrammingStep::SendBlock;
        case ReadBlockResult::EndOfFile:
            if (!anyDataByte_) {
                file_.FailHere(ImageFormatErrorKind::NoData);
                break;
            }
            atEnd_ = true;
            return hasData_ ? ProgrammingStep::SendBlock : ProgrammingStep::SendEndOfData;
        case ReadBlockResult::FormatError:
            break;
    }
    failed_ = true;
    return ProgrammingStep::FormatError;
}

ProgrammingPlan PlanProgramming(ImageFile& file, ImageReaderState& state) {
    ProgrammingPlan plan;
    ProgrammingBlockSequence sequence(file, state);
    FlashBlock block;
    for (;;) {
        switch (sequence.Next(block)) {
            case ProgrammingStep::SendBlock:
                plan.blocks.push_back(block);
                continue;
            case ProgrammingStep::SendEndOfData:
                plan.endsWithEndOfData = true;
                return plan;
            case ProgrammingStep::FormatError:
                plan.error = file.Error();
                return plan;
        }
    }
}

std::optional<ProgrammingPlan> PlanProgrammingFile(const std::string& path) {
    ImageFile file;
    if (!file.Open(path)) return std::nullopt;
    ImageReaderState state;
    state.quiet = true;
    ProgrammingPlan plan = PlanProgramming(file, state);
    file.Close();
    return plan;
}

}  // namespace farsend::protocol
