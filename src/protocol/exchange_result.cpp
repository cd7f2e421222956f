#include "protocol/exchange_result.h"

#include <cstring>
#include <ostream>

namespace farsend::protocol {

const char* ExchangeResultName(ExchangeResult result) {
    switch (result) {
        case ExchangeResult::Ok:
            return "Ok";
        case ExchangeResult::Failed:
            return "Failed";
        case ExchangeResult::WriteFailed:
            return "WriteFailed";
        case ExchangeResult::TimedOut:
            return "TimedOut";
        case ExchangeResult::LinkNotOpened:
            return "LinkNotOpened";
        case ExchangeResult::NotConfirmed:
            return "NotConfirmed";
        case ExchangeResult::WrongAnswer:
            return "WrongAnswer";
        case ExchangeResult::ReplyMissing:
            return "ReplyMissing";
    }
    return "Unknown";
}

std::ostream& operator<<(std::ostream& out, ExchangeResult result) {
    const char* name = ExchangeResultName(result);
    out << name;
    if (std::strcmp(name, "Unknown") == 0) out << '(' << ExchangeResultCode(result) << ')';
    return out;
}

}  // namespace farsend::protocol
