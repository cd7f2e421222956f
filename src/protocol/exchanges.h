// The bootloader exchanges: what the rest of the system calls to talk to the
// target. Each sends one command, waits for the answer, classifies it and
// returns an ExchangeResult (see exchange_result.h); the callers decide
// what to show and do.
//
// The link is closed or open. ConnectTarget opens it and leaves it open only
// when it returns 0; LaunchTargetApplication and DisconnectTarget close it;
// every other exchange uses it as it finds it.
#pragma once

#include <atomic>
#include <cstdint>

#include "protocol/exchange_context.h"
#include "protocol/flash_block.h"
#include "protocol/packets.h"
#include "protocol/target_identity.h"

namespace farsend::protocol {

// Opens the link and performs the handshake: waits for the target's call,
// answers with Ack and expects TargetAck. 0 connected (link open); 5 the
// link did not open; 3 no call or no answer within 13 seconds; 7 the answer
// to the Ack was something else. The link is closed on every failure.
// Packets other than the call are passed over, each with a fresh 13 seconds;
// calls that come after the Ack (sent before the target had it) are passed
// over within the 13 seconds of the answer.
// `cancel` (the connection monitor's stop flag) ends the handshake early, as
// a time-out: link closed, 3. It is looked at before the link is opened and
// before every poll; whoever sets it calls context.WakeReceiver() so that a
// wait in progress ends at once. Only the handshake takes one: the exchanges
// of a job are never cut short.
ExchangeResult ConnectTarget(ExchangeContext& context, const std::atomic<bool>* cancel = nullptr);

// Start a programming run or an erase: 0 when the command's acknowledgement
// comes at once, else 8. Progress follows through AwaitResponse.
ExchangeResult BeginProgramApplication(ExchangeContext& context);
ExchangeResult BeginProgramBootloaderAndApplication(ExchangeContext& context);
ExchangeResult BeginEraseDefault(ExchangeContext& context);
ExchangeResult BeginEraseAll(ExchangeContext& context);
// 0 when AbortAck comes, else 8.
ExchangeResult AbortTarget(ExchangeContext& context);
// Ends a programming run: 0 when Done comes, else 8.
ExchangeResult SendEndOfData(ExchangeContext& context);

// BlockFollows, then the block. Each step must be acknowledged with either
// programming acknowledgement (whichever command started the run), within
// 13 seconds: 0, else 8.
ExchangeResult SendFlashBlock(ExchangeContext& context, const FlashBlock& block);

// The next answer, waiting up to 13 seconds; Invalid when none came.
ResponseCode AwaitResponse(ExchangeContext& context);
// 1 when the next answer, expected at once, is Done; else 0.
int AwaitDone(ExchangeContext& context);

// The queries fill `identity` from the target's reply texts (variant: only
// the variant field; version: only major, minor and build). 0 on success;
// 1 without a destination, or when the closing Done does not follow; 10 when
// the reply does not come. The reply is kept in the context's variantReply /
// versionReply.
ExchangeResult QueryTargetVariant(ExchangeContext& context, int32_t* variant);
ExchangeResult QueryTargetVersion(ExchangeContext& context, TargetIdentity* identity);

// StartApplication, then the link is closed without waiting for an answer.
// Always 0.
ExchangeResult LaunchTargetApplication(ExchangeContext& context);
// Closes the link. Always 0.
ExchangeResult DisconnectTarget(ExchangeContext& context);

}  // namespace farsend::protocol
