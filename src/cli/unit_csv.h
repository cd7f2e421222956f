// Unit rows as CSV, for a spreadsheet: one header line, then one line per
// unit, every field quoted where it must be, times in UTC.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "units/unit_database.h"

namespace farsend::cli {

// One field as a CSV cell: quoted when it holds a comma, a quote or a line
// break, its quotes doubled. Text that a spreadsheet would take for a
// formula (it starts with = + - @, a tab or a carriage return) gets a
// leading ' so that it is shown, not run: it came from a device or another
// PC and is data.
std::string CsvText(std::string_view text);

// The header line, "\r\n" ended, as the CSV rules have it.
std::string UnitCsvHeader();
// One unit's line, "\r\n" ended.
std::string UnitCsvLine(const units::UnitRow& row);

// Writes the header and every unit `filter` selects to `write`, a line at a
// time, none kept; `write` returns false to stop (the reader went away).
// Whether every line was written. Throws UnitDatabaseError.
bool WriteUnitsCsv(units::UnitDatabase& db, const units::UnitFilter& filter,
                   const std::function<bool(const std::string&)>& write);

}  // namespace farsend::cli
