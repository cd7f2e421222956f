// The unit database's number pools: creating and listing them, taking a
// number and giving one back.
#include <string>
#include <vector>

#include "units/unit_database_impl.h"

namespace farsend::units {

using namespace detail;

namespace detail {

// The pool's next number, inside the caller's transaction: a returned number
// first (the lowest), else the next one never issued.
long long TakeNumber(Impl& db, const std::string& name) {
    soci::session& sql = db.sql;
    long long first = 0, last = 0, next = 0;
    soci::indicator lastInd = soci::i_null;
    sql << std::string(
               "SELECT first_number, last_number, next_number FROM pools WHERE name = :name") +
               ForUpdate(db.engine),
        soci::use(name, "name"), soci::into(first), soci::into(last, lastInd), soci::into(next);
    if (!sql.got_data()) {
        throw UnitDatabaseError(Kind::UnknownPool, "there is no number pool '" + name +
                                                       "' (farsend serials init NAME --first N)");
    }
    long long returned = 0;
    soci::indicator returnedInd = soci::i_null;
    sql << "SELECT min(number) FROM returned_numbers WHERE pool = :name", soci::use(name, "name"),
        soci::into(returned, returnedInd);
    if (sql.got_data() && returnedInd == soci::i_ok) {
        sql << "DELETE FROM returned_numbers WHERE pool = :name AND number = :number",
            soci::use(name, "name"), soci::use(returned, "number");
        return returned;
    }
    // A pool without a last number ends where its next number can no
    // longer be stored: never a wrap to negative numbers.
    const long long end =
        lastInd == soci::i_ok ? std::min<long long>(last, kLargestPoolNumber) : kLargestPoolNumber;
    if (next > end) {
        throw UnitDatabaseError(Kind::PoolExhausted, "the number pool '" + name +
                                                         "' is exhausted: all of " +
                                                         std::to_string(first) + ".." +
                                                         std::to_string(end) + " have been issued");
    }
    const long long after = next + 1;
    sql << "UPDATE pools SET next_number = :after WHERE name = :name", soci::use(after, "after"),
        soci::use(name, "name");
    return next;
}

}  // namespace detail

void UnitDatabase::ReturnNumber(std::int64_t id) {
    Guarded(*impl_, "returning a number", [&] {
        soci::session& sql = impl_->sql;
        Transaction transaction(*impl_);
        long long unit = id, serial = 0, blocks = 0;
        std::string pool;
        soci::indicator poolInd = soci::i_null, serialInd = soci::i_null;
        int returned = 0;
        sql << std::string(
                   "SELECT pool, serial, blocks, number_returned FROM units WHERE id = :id") +
                   ForUpdate(impl_->engine),
            soci::use(unit, "id"), soci::into(pool, poolInd), soci::into(serial, serialInd),
            soci::into(blocks), soci::into(returned);
        if (!sql.got_data()) {
            throw UnitDatabaseError(Kind::UnknownUnit, "there is no unit " + std::to_string(id));
        }
        if (poolInd != soci::i_ok || serialInd != soci::i_ok) {
            throw UnitDatabaseError(Kind::InvalidArgument,
                                    "unit " + std::to_string(id) + " took no number");
        }
        if (returned != 0) return;  // returned before: once is enough
        if (blocks > 0) {
            throw UnitDatabaseError(Kind::NumberInUse, "unit " + std::to_string(id) + " was sent " +
                                                           std::to_string(blocks) +
                                                           " blocks: its number " +
                                                           std::to_string(serial) + " stays spent");
        }
        sql << "INSERT INTO returned_numbers (pool, number) VALUES (:pool, :number)",
            soci::use(pool, "pool"), soci::use(serial, "number");
        sql << "UPDATE units SET number_returned = 1 WHERE id = :id", soci::use(unit, "id");
        transaction.Commit();
    });
}

void UnitDatabase::CreatePool(const std::string& name, std::int64_t first,
                              std::optional<std::int64_t> last) {
    if (name.empty()) throw UnitDatabaseError(Kind::InvalidArgument, "a pool needs a name");
    if (first < 0) {
        throw UnitDatabaseError(Kind::InvalidArgument, "a pool's first number cannot be negative");
    }
    if (first > kLargestPoolNumber || (last && *last > kLargestPoolNumber)) {
        throw UnitDatabaseError(Kind::InvalidArgument,
                                "a pool's numbers end at " + std::to_string(kLargestPoolNumber) +
                                    " (the database keeps the next number in 64 bits)");
    }
    if (last && *last < first) {
        throw UnitDatabaseError(Kind::InvalidArgument,
                                "the pool's last number " + std::to_string(*last) +
                                    " is below its first " + std::to_string(first));
    }
    Guarded(*impl_, "creating a pool", [&] {
        soci::session& sql = impl_->sql;
        Transaction transaction(*impl_);
        long long existing = 0;
        sql << "SELECT count(*) FROM pools WHERE name = :name", soci::use(name, "name"),
            soci::into(existing);
        if (existing > 0) {
            throw UnitDatabaseError(Kind::PoolExists,
                                    "the number pool '" + name + "' exists already");
        }
        long long firstNumber = first, lastNumber = last.value_or(0);
        soci::indicator lastInd = last ? soci::i_ok : soci::i_null;
        sql << "INSERT INTO pools (name, first_number, last_number, next_number)"
               " VALUES (:name, :first, :last, :next)",
            soci::use(name, "name"), soci::use(firstNumber, "first"),
            soci::use(lastNumber, lastInd, "last"), soci::use(firstNumber, "next");
        transaction.Commit();
    });
}

std::vector<PoolInfo> UnitDatabase::ListPools() {
    return Guarded(
        *impl_, "listing the pools", [&] {
            std::vector<PoolInfo> pools;
            std::string name;
            long long first = 0, last = 0, next = 0, returned = 0;
            soci::indicator lastInd = soci::i_null;
            soci::statement statement =
                (impl_->sql.prepare
                     << "SELECT p.name, p.first_number, p.last_number, p.next_number,"
                        " (SELECT count(*) FROM returned_numbers r WHERE r.pool = p.name)"
                        " FROM pools p ORDER BY p.name",
                 soci::into(name), soci::into(first), soci::into(last, lastInd), soci::into(next),
                 soci::into(returned));
            statement.execute();
            while (statement.fetch()) {
                PoolInfo pool;
                pool.name = name;
                pool.first = first;
                if (lastInd == soci::i_ok) {
                    pool.last = last;
                    pool.remaining = last - next + 1 + returned;
                }
                pool.next = next;
                pool.returned = returned;
                pool.issued = next - first - returned;
                pools.push_back(pool);
            }
            return pools;
        });
}

}  // namespace farsend::units
