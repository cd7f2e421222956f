#include "cli/unit_csv.h"

#include <cstdio>
#include <stdexcept>

namespace farsend::cli {
namespace {

std::string Number(std::int64_t value) {
    return std::to_string(value);
}

std::string Decimal(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

// Thrown out of a listing to end it when the reader is gone.
struct ReaderGone : std::runtime_error {
    ReaderGone() : std::runtime_error("the reader of the CSV export went away") {}
};

}  // namespace

std::string CsvText(std::string_view text) {
    std::string cell;
    if (!text.empty() && (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@' ||
                          text[0] == '\t' || text[0] == '\r')) {
        cell += '\'';
    }
    bool quote = false;
    for (const char c : text) {
        if (c == '"') cell += '"';
        if (c == '"' || c == ',' || c == '\n' || c == '\r') quote = true;
        cell += c;
    }
    return quote ? "\"" + cell + "\"" : cell;
}

std::string UnitCsvHeader() {
    return "id,record_id,start_utc,end_utc,host,station,bridge_serial,file,sha256,variant,"
           "version,pool,serial,number_returned,result,exit_status,seconds,blocks,bytes,"
           "simulated,message\r\n";
}

std::string UnitCsvLine(const units::UnitRow& row) {
    const units::UnitFinish* finish = row.finish ? &*row.finish : nullptr;
    const std::string fields[] = {
        Number(row.id),
        CsvText(row.recordId),
        FormatUtc(row.start.start),
        finish ? FormatUtc(finish->end) : "",
        CsvText(row.start.host),
        CsvText(row.start.station),
        CsvText(row.start.bridgeSerial),
        CsvText(row.start.file),
        CsvText(row.start.sha256),
        finish ? CsvText(finish->variant) : "",
        finish ? CsvText(finish->version) : "",
        CsvText(row.pool),
        row.serial ? Number(*row.serial) : "",
        row.numberReturned ? "1" : "0",
        finish ? units::UnitResultName(finish->result) : "unfinished",
        finish ? Number(finish->exitStatus) : "",
        finish ? Decimal(finish->seconds) : "",
        finish ? Number(static_cast<std::int64_t>(finish->blocks)) : "",
        finish ? Number(static_cast<std::int64_t>(finish->bytes)) : "",
        row.start.simulated ? "1" : "0",
        finish ? CsvText(finish->message) : "",
    };
    std::string line;
    for (const std::string& field : fields) {
        if (!line.empty() || &field != &fields[0]) line += ',';
        line += field;
    }
    return line + "\r\n";
}

bool WriteUnitsCsv(units::UnitDatabase& db, const units::UnitFilter& filter,
                   const std::function<bool(const std::string&)>& write) {
    if (!write(UnitCsvHeader())) return false;
    bool gone = false;
    try {
        db.ForEachUnit(filter, [&](const units::UnitRow& row) {
            if (!write(UnitCsvLine(row))) {
                gone = true;
                throw ReaderGone();
            }
        });
    } catch (const units::UnitDatabaseError&) {
        // The listing turns whatever ends it into a database error: the
        // reader's going is not one.
        if (!gone) throw;
    }
    return !gone;
}

}  // namespace farsend::cli
