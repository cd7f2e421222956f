#include "cli/unit_ledger.h"

#include <algorithm>
#include <atomic>
#include <mutex>

#include "cli/database_choice.h"
#include "cli/exit_status.h"
#include "cli/interrupt.h"
#include "cli/spool_replay.h"
#include "protocol/serial_stamp.h"
#include "units/spool.h"
#include "units/unit_database.h"

namespace farsend::cli {

using units::UnitDatabase;
using units::UnitDatabaseError;
using Kind = UnitDatabaseError::Kind;

// The errors that mean the database is lost (its records go to the spool),
// not that it refused what it was asked.
bool IsLost(Kind kind) {
    return kind == Kind::Unavailable || kind == Kind::FileReplaced;
}

struct UnitLedger::Impl {
    std::string location;       // as given, or the default file
    std::string host;           // the PC, as the rows name it
    bool simulated = false;
    std::filesystem::path spool;
    std::optional<std::string> pool;
    std::optional<protocol::SerialSpec> serial;
    // The production job of the run (--job): its name and file's digest,
    // its image's digest and its unit limit. Empty names: no job.
    std::string jobName, jobSha256, jobImageSha256;
    std::optional<std::int64_t> jobUnitLimit;
    // One connection for all stations: a database session is not for two
    // threads at once, and a unit's record takes milliseconds.
    std::mutex lock;
    std::unique_ptr<UnitDatabase> db;  // none while lost
    // The file was deleted or replaced: whatever is at its path now is not
    // the database this run began with (a restored backup would issue its
    // numbers again), so it is not opened again before the next run.
    bool fileGone = false;
    units::DatabaseOptions options;
    std::atomic<bool> opening{false};  // before the first unit

    std::string Shown() const { return units::DisplayLocation(location); }

    // The database, opened again if it was lost; its spool written into it
    // as soon as it answers. `notice` gets what changed.
    UnitDatabase* Reach(std::string& notice) {
        if (db) return db.get();
        if (fileGone) return nullptr;
        try {
            db = UnitDatabase::Open(location, options);
        } catch (const UnitDatabaseError&) {
            return nullptr;
        }
        notice = "the unit database " + Shown() + " answers again.";
        Replay(notice);
        return db.get();
    }

    void Replay(std::string& notice) {
        try {
            StartReplay replay;
            replay.result =
                db->ReplaySpool(spool, [](std::size_t, std::size_t) { return !StopNow(); });
            const std::string told = ReplayNotice(replay, spool);
            if (!told.empty()) notice += (notice.empty() ? "" : "\n") + told;
        } catch (const UnitDatabaseError& error) {
            // The records stay in the spool for the next time.
            notice += (notice.empty() ? "" : "\n") + std::string(error.what());
            if (IsLost(error.kind())) Lose(notice, error);
        }
    }

    void Lose(std::string& notice, const UnitDatabaseError& error) {
        db.reset();
        notice += (notice.empty() ? "" : "\n") + std::string(error.what());
        if (error.kind() == Kind::FileReplaced) {
            fileGone = true;
            notice +=
                "\nThe unit database is lost for the rest of this run: records go to the "
                "spool " +
                spool.string() +
                ", and whatever is at its path now is not opened before the next start "
                "(a copy put back could issue numbers again).";
            return;
        }
        notice += "\nThe unit database is lost: records go to the spool " + spool.string() +
                  " until it answers again.";
    }

    units::UnitRow RowOf(const LedgerTicket& ticket, const UnitRecord& record) const {
        units::UnitRow row;
        row.id = ticket.id;
        row.recordId = ticket.recordId;
        row.start = StartOf(record, ticket.start);
        if (ticket.serial) {
            row.pool = pool.value_or("");
            row.serial = ticket.serial;
        }
        return row;
    }

    units::UnitStart StartOf(const UnitRecord& record,
                             std::chrono::system_clock::time_point when) const {
        units::UnitStart start;
        start.start = when;
        start.host = host;
        start.simulated = simulated;
        start.station = record.station;
        start.bridgeSerial = record.bridgeSerial;
        start.file = record.file;
        start.sha256 = record.sha256;
        start.jobName = jobName;
        start.jobSha256 = jobSha256;
        start.jobUnitLimit = jobUnitLimit;
        return start;
    }
};

namespace {

units::UnitResult ResultOf(int status) {
    if (status == kExitSuccess) return units::UnitResult::Programmed;
    if (status == kExitStopped) return units::UnitResult::Interrupted;
    return units::UnitResult::Failed;
}

units::UnitFinish FinishOf(const UnitRecord& record) {
    units::UnitFinish finish;
    finish.end = std::chrono::system_clock::now();
    finish.variant = record.variant;
    finish.version = record.version;
    finish.blocks = record.blocks;
    finish.bytes = record.bytes;
    finish.seconds = record.seconds;
    finish.result = ResultOf(record.status);
    finish.exitStatus = record.status;
    finish.message = record.message;
    return finish;
}

// The pool's state before the first unit: a run that can give no unit a
// number, or only one its serial cannot hold, is refused before any target
// is touched. -1 when it can go on.
int CheckPool(UnitDatabase& db, const std::string& name, const protocol::SerialSpec& spec,
              Console& console) {
    std::vector<units::PoolInfo> pools;
    try {
        pools = db.ListPools();
    } catch (const UnitDatabaseError& error) {
        Complain(console, error.what());
        return kExitDatabase;
    }
    for (const units::PoolInfo& pool : pools) {
        if (pool.name != name) continue;
        const std::int64_t end =
            std::min(pool.last.value_or(units::kLargestPoolNumber), units::kLargestPoolNumber);
        if (pool.returned == 0 && pool.next > end) {
            Complain(console, "--serial-pool " + name + ": the number pool is exhausted: all of " +
                                  std::to_string(pool.first) + ".." + std::to_string(end) +
                                  " have been issued. Nothing was sent; `farsend serials init` "
                                  "makes a new pool.");
            return kExitNoSerialLeft;
        }
        // Returned numbers are below the next one, and a number that fits
        // leaves every smaller one fitting: the next one is the largest test.
        if (auto problem = protocol::CheckSerialFits(spec, static_cast<std::uint64_t>(pool.next));
            problem && pool.returned == 0) {
            Complain(console, "--serial " + protocol::SerialSpecText(spec) + ": the pool " + name +
                                  "'s next number: " + problem->message + " Nothing was sent.");
            return kExitDoesNotFit;
        }
        return -1;
    }
    Complain(console, "--serial-pool " + name +
                          ": there is no number pool of that name (farsend serials init NAME "
                          "--first N; farsend serials lists the pools). Nothing was sent.");
    return kExitDatabase;
}

}  // namespace

UnitLedger::UnitLedger(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
UnitLedger::~UnitLedger() = default;

std::unique_ptr<UnitLedger> UnitLedger::Open(const CliOptions& options, Console& console,
                                             int& status) {
    auto impl = std::make_unique<Impl>();
    const DatabaseChoice choice = ChooseDatabase(options);
    impl->location = choice.location;
    impl->options.createFolder = choice.isDefault;
    impl->host = HostOf(options);
    impl->simulated = options.sim.simulate;
    status = kExitDatabase;
    if (impl->location.empty()) {
        Complain(console,
                 "no unit database: give --db PATH|URL (neither XDG_DATA_HOME nor HOME is set, "
                 "so the default file has no place). Nothing was sent.");
        return nullptr;
    }
    impl->spool = units::SpoolLocationFor(impl->location);
    if (!options.serialPool.empty()) impl->pool = options.serialPool;
    impl->serial = options.serial;
    impl->jobName = options.jobName;
    impl->jobSha256 = options.jobSha256;
    impl->jobImageSha256 = options.jobImageSha256;
    impl->jobUnitLimit = options.jobUnitLimit;
    // Before the run a signal ends the wait for the database; during it, the
    // first signal lets the units in hand be recorded, the second does not.
    Impl* const ledger = impl.get();
    impl->options.abandon = [ledger] {
        return StopNow() || (ledger->opening.load() && Interrupted());
    };
    impl->opening = true;
    try {
        impl->db = UnitDatabase::Open(impl->location, impl->options);
    } catch (const UnitDatabaseError& error) {
        if (Interrupted()) {
            Complain(console, "stopped while waiting for the unit database " + impl->Shown() +
                                  ". Nothing was sent.");
            status = kExitStopped;
            return nullptr;
        }
        Complain(console, std::string(error.what()) +
                              "\nNothing was sent: every unit needs its record (--db PATH|URL "
                              "names the database).");
        return nullptr;
    }
    try {
        const StartReplay replay = ReplaySpoolAtStart(*impl->db, impl->spool, console);
        if (const std::string notice = ReplayNotice(replay, impl->spool); !notice.empty())
            Complain(console, notice);
        if (replay.stopped) {
            Complain(console, "stopped before the first unit. Nothing was sent.");
            status = kExitStopped;
            return nullptr;
        }
    } catch (const UnitDatabaseError& error) {
        // The records stay in the spool for the next time.
        Complain(console, std::string(error.what()) +
                              (Interrupted() ? "\nstopped before the first unit." : "") +
                              "\nNothing was sent.");
        if (Interrupted()) status = kExitStopped;
        return nullptr;
    }
    if (impl->pool && impl->serial) {
        if (const int refused = CheckPool(*impl->db, *impl->pool, *impl->serial, console);
            refused >= 0) {
            status = Interrupted() ? kExitStopped : refused;
            return nullptr;
        }
    }
    impl->opening = false;
    status = -1;
    return std::unique_ptr<UnitLedger>(new UnitLedger(std::move(impl)));
}

LedgerBegin UnitLedger::Begin(const UnitRecord& record) {
    Impl& ledger = *impl_;
    std::lock_guard<std::mutex> hold(ledger.lock);
    LedgerBegin begun;
    LedgerTicket ticket;
    ticket.start = std::chrono::system_clock::now();
    if (!ledger.jobImageSha256.empty() && record.sha256 != ledger.jobImageSha256) {
        // The image was checked against the job before the run; one put in
        // its place since is not the job's.
        begun.status = kExitJobRefused;
        begun.message = "the image " + record.file + " is no longer the one the job " +
                        ledger.jobName +
                        " names (its SHA-256 changed). Nothing was sent to this target.";
        return begun;
    }
    UnitDatabase* db = ledger.Reach(begun.message);
    if (db != nullptr) {
        try {
            const units::StartedUnit started =
                db->StartUnit(ledger.StartOf(record, ticket.start), ledger.pool);
            ticket.id = started.id;
            ticket.recordId = started.recordId;
            ticket.serial = started.serial;
        } catch (const UnitDatabaseError& error) {
            if (!IsLost(error.kind())) {
                begun.status = error.kind() == Kind::PoolExhausted     ? kExitNoSerialLeft
                               : error.kind() == Kind::JobLimitReached ? kExitJobRefused
                                                                       : kExitDatabase;
                begun.message += (begun.message.empty() ? "" : "\n") + std::string(error.what()) +
                                 ". Nothing was sent to this target.";
                return begun;
            }
            ledger.Lose(begun.message, error);
            db = nullptr;
        }
    }
    if (db == nullptr) {
        if (ledger.jobUnitLimit) {
            // Units counted anywhere but in the database could pass the limit.
            begun.status = kExitDatabase;
            begun.message += (begun.message.empty() ? "" : "\n") +
                             std::string("the unit database ") + ledger.Shown() +
                             " cannot be reached, so this unit cannot be counted against the "
                             "job's limit. Nothing was sent to this target; this station takes "
                             "no more units.";
            return begun;
        }
        if (ledger.pool) {
            // A number taken anywhere but in the database could be issued
            // twice: the unit waits for the database instead.
            begun.status = kExitDatabase;
            begun.message += (begun.message.empty() ? "" : "\n") +
                             std::string("the unit database ") + ledger.Shown() +
                             " cannot be reached, so no serial number can be taken from the "
                             "pool " +
                             *ledger.pool +
                             " and none is made up. Nothing was sent to this target; this "
                             "station takes no more units.";
            return begun;
        }
        ticket.recordId = units::NewRecordId();
    }
    if (ticket.serial && ledger.serial) {
        if (auto problem = protocol::CheckSerialFits(*ledger.serial,
                                                     static_cast<std::uint64_t>(*ticket.serial))) {
            // The pool has reached the end of what the serial can hold: it
            // has no number left for this run. Nothing went out: the number
            // goes back for a later, wider run.
            UnitRecord refused = record;
            refused.status = kExitNoSerialLeft;
            refused.message = problem->message;
            std::string error;
            try {
                db->FinishUnit(ticket.id, FinishOf(refused));
                db->ReturnNumber(ticket.id);
            } catch (const UnitDatabaseError& failure) {
                error = failure.what();
            }
            begun.status = kExitNoSerialLeft;
            begun.message +=
                (begun.message.empty() ? "" : "\n") + std::string("--serial ") +
                protocol::SerialSpecText(*ledger.serial) + ": the pool " + *ledger.pool +
                " has reached the end of what the serial holds: " + problem->message +
                ". Nothing was sent to this target." + (error.empty() ? "" : "\n" + error);
            return begun;
        }
    }
    begun.ticket = ticket;
    return begun;
}

bool UnitLedger::Finish(const LedgerTicket& ticket, const UnitRecord& record, bool nothingSent,
                        std::string& error, std::string& notice) {
    Impl& ledger = *impl_;
    std::lock_guard<std::mutex> hold(ledger.lock);
    const units::UnitFinish finish = FinishOf(record);
    if (ticket.id != 0) {
        if (UnitDatabase* db = ledger.Reach(notice)) {
            try {
                db->FinishUnit(ticket.id, finish);
                if (nothingSent && ticket.serial) db->ReturnNumber(ticket.id);
                return true;
            } catch (const UnitDatabaseError& failure) {
                if (!IsLost(failure.kind())) {
                    error = failure.what();
                    return false;
                }
                ledger.Lose(notice, failure);
            }
        }
    }
    // The number stays spent: the spool cannot give it back, and a unit that
    // holds it is safer than a number issued twice.
    units::UnitRow row = ledger.RowOf(ticket, record);
    row.finish = finish;
    if (ledger.spool.empty()) {
        error =
            "the unit database is lost and the spool has no place (neither XDG_DATA_HOME "
            "nor HOME is set)";
        return false;
    }
    if (!units::AppendToSpool(ledger.spool, row, error)) return false;
    // A unit begun while the database was lost: if it is back, the spool
    // goes in now rather than at the next start.
    if (ticket.id == 0) {
        if (ledger.db) {
            ledger.Replay(notice);
        } else {
            ledger.Reach(notice);
        }
    }
    return true;
}

}  // namespace farsend::cli
