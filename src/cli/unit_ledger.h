// What program and watch keep of every unit they handle: a row in the unit
// database, begun when a target is taken in hand (with its serial number,
// taken from the pool in the same transaction) and finished with its result.
// While the database is lost, finished records go to a spool file beside it
// and are written into the database once it answers again. One ledger serves
// every station of a run; the database itself keeps numbers unique across
// processes and PCs.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/console.h"
#include "cli/unit_record.h"

namespace farsend::cli {

// A unit the ledger knows of, between Begin and Finish.
struct LedgerTicket {
    std::int64_t id = 0;  // the database's row; 0 when it was lost at the start
    std::string recordId;
    std::optional<std::int64_t> serial;  // the unit's number, with --serial-pool
    std::chrono::system_clock::time_point start;
};

// What Begin says.
struct LedgerBegin {
    std::optional<LedgerTicket> ticket;  // none: the unit is refused
    int status = 0;                      // the refusal's exit status
    std::string message;                 // the refusal, or a notice to show ("" for none)
};

class UnitLedger {
public:
    ~UnitLedger();

    // The database --db names (or the default file), with its spool written
    // into it and the pool checked. Nothing, with the message shown and
    // `status` set, when the run cannot start.
    static std::unique_ptr<UnitLedger> Open(const CliOptions& options, Console& console,
                                            int& status);

    // Records the unit in `record` (its station, bridge, file and digest) as
    // started; with a pool, takes its number in the same transaction. A
    // number that does not fit the serial's size is returned at once and the
    // unit refused, as is any unit that needs a number while the database is
    // lost or the pool is exhausted.
    LedgerBegin Begin(const UnitRecord& record);

    // Records the unit's end: its result, figures and message. With
    // `nothingSent` the number goes back to the pool. False, with `error`
    // set, when neither the database nor the spool could take the record;
    // `notice` gets what the operator should hear even so ("" for nothing).
    bool Finish(const LedgerTicket& ticket, const UnitRecord& record, bool nothingSent,
                std::string& error, std::string& notice);

    struct Impl;

private:
    explicit UnitLedger(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace farsend::cli
