// What program and watch keep of every unit they handle: a row in the unit
// database, begun when a target is taken in hand (with its serial number,
// taken from the pool in the same transaction) and finished with its
// outcome. While the database is lost, finished records go to a spool file
// beside it and are written into the database once it answers again. One
// ledger serves every station of a run; the database itself keeps numbers
// unique across processes and PCs.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "protocol/serial_stamp.h"
#include "units/record/unit_record.h"
#include "units/spool_replay.h"

namespace farsend::units {

struct LedgerSettings {
    std::string location;       // --db as given, or the default file; "" when there is none
    bool createFolder = false;  // the default location's folder is made when missing
    std::string host;           // the PC, as the rows name it
    bool simulated = false;
    std::optional<std::string> pool;             // units take their numbers from it
    std::optional<protocol::SerialSpec> serial;  // where and how large the number is
    // The production job of the run (--job; jobName "" for none): its name
    // and its file's digest, which every row carries; its image's digest,
    // which every unit's must still be; and its unit limit, which the
    // database counts each unit against.
    std::string jobName;
    std::string jobSha256;
    std::string jobImageSha256;
    std::optional<std::int64_t> jobUnitLimit;
    // What the operator reads while the ledger opens (replay progress,
    // refusals).
    Tell tell;
    // A first signal: the run stops before its first unit. A second one:
    // units in hand stop at once, a replay between records. None: never.
    std::function<bool()> interrupted;
    std::function<bool()> stopNow;
    // The exit status a record carries for an outcome: the front end's
    // numbers, which the database keeps beside the result.
    std::function<int(UnitOutcome)> exitStatusOf;
};

// A unit the ledger knows of, between Begin and Finish.
struct LedgerTicket {
    std::int64_t id = 0;  // the database's row; 0 when it was lost at the start
    std::string recordId;
    std::optional<std::int64_t> serial;  // the unit's number, with a pool
    std::chrono::system_clock::time_point start;
};

// What Begin says.
struct LedgerBegin {
    std::optional<LedgerTicket> ticket;                      // none: the unit is refused
    UnitOutcome refusal = UnitOutcome::DatabaseUnavailable;  // why, without a ticket
    std::string message;  // the refusal, or a notice to show ("" for none)
};

// What Finish says.
struct LedgerFinish {
    bool kept = false;   // in the database or in the spool
    std::string error;   // why not, when it was not kept
    std::string notice;  // what the operator should hear even so ("" for nothing)
};

class UnitLedger;

// What Open says: a ledger, or why the run cannot start (its message told).
struct LedgerOpening {
    std::unique_ptr<UnitLedger> ledger;
    UnitOutcome refusal = UnitOutcome::DatabaseUnavailable;
};

class UnitLedger {
public:
    ~UnitLedger();

    // The database the settings name, with its spool written into it and
    // the pool checked: a run that can give no unit a number, or only one
    // its serial cannot hold, is refused before any target is touched.
    static LedgerOpening Open(LedgerSettings settings);

    // Records the unit started at `where` (its station, bridge, file and
    // digest); with a pool, takes its number in the same transaction. A
    // number that does not fit the serial's size is returned at once and
    // the unit refused, as is any unit that needs a number while the
    // database is lost or the pool is exhausted. Under a job, a unit whose
    // image is no longer the job's, or one past the job's limit, is refused
    // (JobRefused), and so is any unit while the database that counts them
    // is lost.
    LedgerBegin Begin(const UnitStart& where);

    // Records the unit's end: `record`'s finish (outcome, figures, message)
    // and where it was done. With `nothingSent` the number goes back to the
    // pool.
    LedgerFinish Finish(const LedgerTicket& ticket, const UnitRecord& record, bool nothingSent);

    struct Impl;

private:
    explicit UnitLedger(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace farsend::units
