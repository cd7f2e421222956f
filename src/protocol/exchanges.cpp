#include "protocol/exchanges.h"

#include "common/diagnostics.h"

namespace farsend::protocol {

namespace {

bool IsProgrammingAck(ResponseCode code) {
    return code == ResponseCode::ProgramApplicationAck ||
           code == ResponseCode::ProgramBootloaderAndApplicationAck;
}

// The shape of the single-command exchanges: send, take the answer that
// follows at once, compare.
ExchangeResult SingleCommand(ExchangeContext& context, Command command, ResponseCode expected) {
    const ExchangeLock lock(context.Mutex());
    ShortResponsePacket answer{};
    SendCommand(context, command);
    ReceiveWithRetries(context, answer);
    return ClassifyResponse(answer) == expected ? ExchangeResult::Ok : ExchangeResult::WrongAnswer;
}

// Sends a query and takes its reply into `reply`: true when the reply came.
bool QueryReply(ExchangeContext& context, Command query, ResponseCode expected,
                LongResponsePacket& reply) {
    SendCommand(context, query);
    // Zeroed so that a reply that does not come is never confused with the
    // one an earlier query left here.
    reply.fill(0);
    ReceiveWithRetries(context, reply);
    return ClassifyResponse(reply) == expected;
}

}  // namespace

ExchangeResult ConnectTarget(ExchangeContext& context, const std::atomic<bool>* cancel) {
    const ExchangeLock lock(context.Mutex());
    if (cancel != nullptr && cancel->load()) {
        CloseLink(context);
        return ExchangeResult::TimedOut;
    }
    if (OpenLink(context) != ExchangeResult::Ok) {
        CloseLink(context);
        return ExchangeResult::LinkNotOpened;
    }
    ShortResponsePacket packet{};
    for (;;) {
        packet.fill(0);
        if (ReceiveWithDeadline(context, packet, cancel) != ExchangeResult::Ok) {
            CloseLink(context);
            return ExchangeResult::TimedOut;
        }
        DiagnosticLine("waiting for TGT call\n");
        if (ClassifyResponse(packet) == ResponseCode::TargetCall) break;
    }
    DiagnosticLine("Sending ACK to TGT\n");
    SendCommand(context, Command::Ack);
    // The target calls every 50 ms until it has the Ack, and opening the link
    // takes longer than that: calls sent before the Ack reached it are still
    // buffered or on the line, ahead of its answer. They are not the answer;
    // passing over them within the one 13-second window keeps a target that
    // never stops calling from holding the handshake for ever.
    const Millis ackSent = context.Time().Now();
    ResponseCode answer = ResponseCode::TargetCall;
    while (answer == ResponseCode::TargetCall) {
        packet.fill(0);
        if (ReceiveWithDeadlineFrom(context, packet, ackSent, cancel) != ExchangeResult::Ok) {
            CloseLink(context);
            return ExchangeResult::TimedOut;
        }
        answer = ClassifyResponse(packet);
    }
    if (answer == ResponseCode::TargetAck) return ExchangeResult::Ok;
    DiagnosticLine("No ACK from TGT\n");
    CloseLink(context);
    return ExchangeResult::NotConfirmed;
}

ExchangeResult BeginProgramApplication(ExchangeContext& context) {
    return SingleCommand(context, Command::ProgramApplication, ResponseCode::ProgramApplicationAck);
}

ExchangeResult BeginProgramBootloaderAndApplication(ExchangeContext& context) {
    return SingleCommand(context, Command::ProgramBootloaderAndApplication,
                         ResponseCode::ProgramBootloaderAndApplicationAck);
}

ExchangeResult BeginEraseDefault(ExchangeContext& context) {
    return SingleCommand(context, Command::EraseDefault, ResponseCode::EraseDefaultAck);
}

ExchangeResult BeginEraseAll(ExchangeContext& context) {
    return SingleCommand(context, Command::EraseAll, ResponseCode::EraseAllAck);
}

ExchangeResult AbortTarget(ExchangeContext& context) {
    return SingleCommand(context, Command::Abort, ResponseCode::AbortAck);
}

ExchangeResult SendEndOfData(ExchangeContext& context) {
    return SingleCommand(context, Command::EndOfData, ResponseCode::Done);
}

ExchangeResult SendFlashBlock(ExchangeContext& context, const FlashBlock& block) {
    const ExchangeLock lock(context.Mutex());
    ShortResponsePacket answer{};
    SendCommand(context, Command::BlockFollows);
    ReceiveWithDeadline(context, answer);
    if (!IsProgrammingAck(ClassifyResponse(answer))) return ExchangeResult::WrongAnswer;

    // A failed write needs no check of its own: its acknowledgement will not
    // come.
    SendBlockBytes(context, block);
    answer.fill(0);
    ReceiveWithDeadline(context, answer);
    return IsProgrammingAck(ClassifyResponse(answer)) ? ExchangeResult::Ok
                                                      : ExchangeResult::WrongAnswer;
}

ResponseCode AwaitResponse(ExchangeContext& context) {
    const ExchangeLock lock(context.Mutex());
    ShortResponsePacket answer{};
    ReceiveWithDeadline(context, answer);
    return ClassifyResponse(answer);
}

int AwaitDone(ExchangeContext& context) {
    const ExchangeLock lock(context.Mutex());
    ShortResponsePacket answer{};
    ReceiveWithRetries(context, answer);
    return ClassifyResponse(answer) == ResponseCode::Done ? 1 : 0;
}

ExchangeResult QueryTargetVariant(ExchangeContext& context, int32_t* variant) {
    const ExchangeLock lock(context.Mutex());
    if (variant == nullptr) return ExchangeResult::Failed;
    LongResponsePacket& reply = context.variantReply;
    if (!QueryReply(context, Command::QueryVariant, ResponseCode::VariantReply, reply)) {
        return ExchangeResult::ReplyMissing;
    }
    *variant = VariantFromReplyText(ReplyText(reply.data(), reply.size()), *variant);
    return AwaitDone(context) == 1 ? ExchangeResult::Ok : ExchangeResult::Failed;
}

ExchangeResult QueryTargetVersion(ExchangeContext& context, TargetIdentity* identity) {
    const ExchangeLock lock(context.Mutex());
    if (identity == nullptr) return ExchangeResult::Failed;
    LongResponsePacket& reply = context.versionReply;
    if (!QueryReply(context, Command::QueryVersion, ResponseCode::VersionReply, reply)) {
        return ExchangeResult::ReplyMissing;
    }
    ApplyVersionText(ReplyText(reply.data(), reply.size()), *identity);
    return AwaitDone(context) == 1 ? ExchangeResult::Ok : ExchangeResult::Failed;
}

ExchangeResult LaunchTargetApplication(ExchangeContext& context) {
    const ExchangeLock lock(context.Mutex());
    SendCommand(context, Command::StartApplication);
    CloseLink(context);
    return ExchangeResult::Ok;
}

ExchangeResult DisconnectTarget(ExchangeContext& context) {
    return CloseLink(context);
}

}  // namespace farsend::protocol
