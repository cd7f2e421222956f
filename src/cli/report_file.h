// The --report file: one unit record a line (units/record/unit_json.h), so
// that a production station can keep every unit it has programmed in one
// file.
#pragma once

#include <string>

namespace farsend::cli {

// Appends `line` and a newline to the report file (created when missing).
// The line goes out in one write, so that lines of several stations sharing
// a file do not interleave. False with `error` set when it fails.
bool AppendReportLine(const std::string& path, const std::string& line, std::string& error);

// Opens the report (created when missing, rw-r--r--) before the first unit
// and keeps it open for the rest of the process: AppendReportLine writes to
// it. A reader at the other end of a FIFO would take a close for the end of
// the report. False with `error` set when it cannot be written.
bool KeepReportOpen(const std::string& path, std::string& error);

}  // namespace farsend::cli
