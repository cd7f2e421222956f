#include "units/unit_ledger.h"

#include <algorithm>
#include <atomic>
#include <mutex>

#include "units/spool.h"
#include "units/unit_database.h"

namespace farsend::units {
namespace {

using Kind = UnitDatabaseError::Kind;

// The errors that mean the database is lost (its records go to the spool),
// not that it refused what it was asked.
bool IsLost(Kind kind) {
    return kind == Kind::Unavailable || kind == Kind::FileReplaced;
}

bool Asked(const std::function<bool()>& question) {
    return question && question();
}

}  // namespace

struct UnitLedger::Impl {
    LedgerSettings settings;
    std::filesystem::path spool;
    // One connection for all stations: a database session is not for two
    // threads at once, and a unit's record takes milliseconds.
    std::mutex lock;
    std::unique_ptr<UnitDatabase> db;  // none while lost
    // The file was deleted or replaced: whatever is at its path now is not
    // the database this run began with (a restored backup would issue its
    // numbers again), so it is not opened again before the next run.
    bool fileGone = false;
    DatabaseOptions options;
    std::atomic<bool> opening{false};  // before the first unit

    std::string Shown() const { return DisplayLocation(settings.location); }

    // The database, opened again if it was lost; its spool written into it
    // as soon as it answers. `notice` gets what changed.
    UnitDatabase* Reach(std::string& notice) {
        if (db) return db.get();
        if (fileGone) return nullptr;
        // After a second signal nothing more is waited for, and opening a
        // connection to a server that stopped answering is a wait the
        // statement watchdog cannot end: the units in hand go to the spool.
        if (Asked(settings.stopNow)) return nullptr;
        try {
            db = UnitDatabase::Open(settings.location, options);
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
            replay.result = db->ReplaySpool(
                spool, [this](std::size_t, std::size_t) { return !Asked(settings.stopNow); });
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

    // The spool's record of a unit: where and when it began, as the ledger
    // knows it, and its end as the station tells it.
    UnitRecord RowOf(const LedgerTicket& ticket, const UnitRecord& record) const {
        UnitRecord row;
        row.id = ticket.id;
        row.recordId = ticket.recordId;
        row.start = StartOf(record.start, ticket.start);
        if (ticket.serial) {
            row.pool = settings.pool.value_or("");
            row.serial = ticket.serial;
        }
        row.finish = record.finish;
        return row;
    }

    UnitStart StartOf(const UnitStart& where, std::chrono::system_clock::time_point when) const {
        UnitStart start = where;
        start.start = when;
        start.host = settings.host;
        start.simulated = settings.simulated;
        start.jobName = settings.jobName;
        start.jobSha256 = settings.jobSha256;
        start.jobUnitLimit = settings.jobUnitLimit;
        return start;
    }
};

namespace {

// The pool's state before the first unit: a run that can give no unit a
// number, or only one its serial cannot hold, is refused before any target
// is touched. None when it can go on.
std::optional<UnitOutcome> CheckPool(UnitDatabase& db, const std::string& name,
                                     const protocol::SerialSpec& spec, const Tell& tell) {
    std::vector<PoolInfo> pools;
    try {
        pools = db.ListPools();
    } catch (const UnitDatabaseError& error) {
        tell(error.what());
        return UnitOutcome::DatabaseUnavailable;
    }
    for (const PoolInfo& pool : pools) {
        if (pool.name != name) continue;
        const std::int64_t end =
            std::min(pool.last.value_or(kLargestPoolNumber), kLargestPoolNumber);
        if (pool.returned == 0 && pool.next > end) {
            tell("--serial-pool " + name + ": the number pool is exhausted: all of " +
                 std::to_string(pool.first) + ".." + std::to_string(end) +
                 " have been issued. Nothing was sent; `farsend serials init` makes a new pool.");
            return UnitOutcome::NoSerialLeft;
        }
        // Returned numbers are below the next one, and a number that fits
        // leaves every smaller one fitting: the next one is the largest test.
        if (auto problem = protocol::CheckSerialFits(spec, static_cast<std::uint64_t>(pool.next));
            problem && pool.returned == 0) {
            tell("--serial " + protocol::SerialSpecText(spec) + ": the pool " + name +
                 "'s next number: " + problem->message + " Nothing was sent.");
            return UnitOutcome::DoesNotFit;
        }
        return std::nullopt;
    }
    tell("--serial-pool " + name +
         ": there is no number pool of that name (farsend serials init NAME --first N; farsend "
         "serials lists the pools). Nothing was sent.");
    return UnitOutcome::DatabaseUnavailable;
}

// The finish the database keeps of a unit refused when its number turned
// out not to fit: nothing went out.
UnitFinish RefusedFinish(const LedgerSettings& settings, const std::string& message) {
    UnitFinish finish;
    finish.end = std::chrono::system_clock::now();
    finish.SetOutcome(UnitOutcome::NoSerialLeft);
    finish.exitStatus =
        settings.exitStatusOf ? settings.exitStatusOf(UnitOutcome::NoSerialLeft) : 0;
    finish.message = message;
    return finish;
}

}  // namespace

UnitLedger::UnitLedger(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
UnitLedger::~UnitLedger() = default;

LedgerOpening UnitLedger::Open(LedgerSettings settings) {
    LedgerOpening opening;
    auto impl = std::make_unique<Impl>();
    impl->settings = std::move(settings);
    const LedgerSettings& given = impl->settings;
    if (!given.tell) impl->settings.tell = [](const std::string&) {};
    const Tell& tell = given.tell;
    impl->options.createFolder = given.createFolder;
    impl->spool = SpoolLocationFor(given.location);
    // Before the run a signal ends the wait for the database; during it, the
    // first signal lets the units in hand be recorded, the second does not.
    Impl* const ledger = impl.get();
    impl->options.abandon = [ledger] {
        return Asked(ledger->settings.stopNow) ||
               (ledger->opening.load() && Asked(ledger->settings.interrupted));
    };
    impl->opening = true;
    const auto interrupted = [&given] { return Asked(given.interrupted); };
    try {
        impl->db = UnitDatabase::Open(given.location, impl->options);
    } catch (const UnitDatabaseError& error) {
        if (interrupted()) {
            tell("stopped while waiting for the unit database " + impl->Shown() +
                 ". Nothing was sent.");
            opening.refusal = UnitOutcome::Interrupted;
            return opening;
        }
        tell(std::string(error.what()) +
             "\nNothing was sent: every unit needs its record (--db PATH|URL names the "
             "database).");
        return opening;
    }
    try {
        const StartReplay replay =
            ReplaySpoolAtStart(*impl->db, impl->spool, tell, given.interrupted);
        if (const std::string notice = ReplayNotice(replay, impl->spool); !notice.empty())
            tell(notice);
        if (replay.stopped) {
            tell("stopped before the first unit. Nothing was sent.");
            opening.refusal = UnitOutcome::Interrupted;
            return opening;
        }
    } catch (const UnitDatabaseError& error) {
        // The records stay in the spool for the next time.
        const bool stopped = interrupted();
        tell(std::string(error.what()) + (stopped ? "\nstopped before the first unit." : "") +
             "\nNothing was sent.");
        if (stopped) opening.refusal = UnitOutcome::Interrupted;
        return opening;
    }
    if (given.pool && given.serial) {
        if (const std::optional<UnitOutcome> refused =
                CheckPool(*impl->db, *given.pool, *given.serial, tell)) {
            opening.refusal = interrupted() ? UnitOutcome::Interrupted : *refused;
            return opening;
        }
    }
    impl->opening = false;
    opening.ledger = std::unique_ptr<UnitLedger>(new UnitLedger(std::move(impl)));
    return opening;
}

LedgerBegin UnitLedger::Begin(const UnitStart& where) {
    Impl& ledger = *impl_;
    const LedgerSettings& settings = ledger.settings;
    std::lock_guard<std::mutex> hold(ledger.lock);
    LedgerBegin begun;
    LedgerTicket ticket;
    ticket.start = std::chrono::system_clock::now();
    auto add = [&begun](const std::string& line) {
        begun.message += (begun.message.empty() ? "" : "\n") + line;
    };
    if (!settings.jobImageSha256.empty() && where.sha256 != settings.jobImageSha256) {
        // The image was checked against the job before the run; one put in
        // its place since is not the job's.
        begun.refusal = UnitOutcome::JobRefused;
        add("the image " + where.file + " is no longer the one the job " + settings.jobName +
            " names (its SHA-256 changed). Nothing was sent to this target.");
        return begun;
    }
    UnitDatabase* db = ledger.Reach(begun.message);
    if (db != nullptr) {
        try {
            const StartedUnit started =
                db->StartUnit(ledger.StartOf(where, ticket.start), settings.pool);
            ticket.id = started.id;
            ticket.recordId = started.recordId;
            ticket.serial = started.serial;
        } catch (const UnitDatabaseError& error) {
            if (!IsLost(error.kind())) {
                begun.refusal = error.kind() == Kind::PoolExhausted ? UnitOutcome::NoSerialLeft
                                : error.kind() == Kind::JobLimitReached
                                    ? UnitOutcome::JobRefused
                                    : UnitOutcome::DatabaseUnavailable;
                add(std::string(error.what()) + ". Nothing was sent to this target.");
                return begun;
            }
            ledger.Lose(begun.message, error);
            db = nullptr;
        }
    }
    if (db == nullptr) {
        if (settings.jobUnitLimit) {
            // Units counted anywhere but in the database could pass the limit.
            begun.refusal = UnitOutcome::DatabaseUnavailable;
            add("the unit database " + ledger.Shown() +
                " cannot be reached, so this unit cannot be counted against the job's limit. "
                "Nothing was sent to this target; this station takes no more units.");
            return begun;
        }
        if (settings.pool) {
            // A number taken anywhere but in the database could be issued
            // twice: the unit waits for the database instead.
            begun.refusal = UnitOutcome::DatabaseUnavailable;
            add("the unit database " + ledger.Shown() +
                " cannot be reached, so no serial number can be taken from the pool " +
                *settings.pool +
                " and none is made up. Nothing was sent to this target; this station takes no "
                "more units.");
            return begun;
        }
        ticket.recordId = NewRecordId();
    }
    if (ticket.serial && settings.serial) {
        if (auto problem = protocol::CheckSerialFits(*settings.serial,
                                                     static_cast<std::uint64_t>(*ticket.serial))) {
            // The pool has reached the end of what the serial can hold: it
            // has no number left for this run. Nothing went out: the number
            // goes back for a later, wider run.
            std::string error;
            try {
                db->FinishUnit(ticket.id, RefusedFinish(settings, problem->message));
                db->ReturnNumber(ticket.id);
            } catch (const UnitDatabaseError& failure) {
                error = failure.what();
            }
            begun.refusal = UnitOutcome::NoSerialLeft;
            add("--serial " + protocol::SerialSpecText(*settings.serial) + ": the pool " +
                *settings.pool +
                " has reached the end of what the serial holds: " + problem->message +
                ". Nothing was sent to this target." + (error.empty() ? "" : "\n" + error));
            return begun;
        }
    }
    begun.ticket = ticket;
    return begun;
}

LedgerFinish UnitLedger::Finish(const LedgerTicket& ticket, const UnitRecord& record,
                                bool nothingSent) {
    Impl& ledger = *impl_;
    std::lock_guard<std::mutex> hold(ledger.lock);
    LedgerFinish finished;
    const UnitFinish finish = record.finish.value_or(UnitFinish{});
    if (ticket.id != 0) {
        if (UnitDatabase* db = ledger.Reach(finished.notice)) {
            try {
                db->FinishUnit(ticket.id, finish);
                if (nothingSent && ticket.serial) db->ReturnNumber(ticket.id);
                finished.kept = true;
                return finished;
            } catch (const UnitDatabaseError& failure) {
                if (!IsLost(failure.kind())) {
                    finished.error = failure.what();
                    return finished;
                }
                ledger.Lose(finished.notice, failure);
            }
        }
    }
    // The number stays spent: the spool cannot give it back, and a unit that
    // holds it is safer than a number issued twice.
    UnitRecord row = ledger.RowOf(ticket, record);
    row.finish = finish;
    if (ledger.spool.empty()) {
        finished.error = std::string("the unit database is lost and the spool has no place (") +
                         NoDefaultDatabaseReason() + ")";
        return finished;
    }
    if (!AppendToSpool(ledger.spool, row, finished.error)) return finished;
    finished.kept = true;
    // A unit begun while the database was lost: if it is back, the spool
    // goes in now rather than at the next start.
    if (ticket.id == 0) {
        if (ledger.db) {
            ledger.Replay(finished.notice);
        } else {
            ledger.Reach(finished.notice);
        }
    }
    return finished;
}

}  // namespace farsend::units
