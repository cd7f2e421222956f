// The judge of serialized runs: from the unit database's rows and the flash
// files that --sim-flash-dir left (one per simulated target, whatever became
// of the process), it finds
// - a number issued twice: two rows holding it that did not give it back,
//   or two flashes holding it;
// - a flash holding a number without a row that holds it (the number was
//   written before, or without, its unit was recorded);
// - a row recorded as programmed whose number no flash holds, or whose
//   flash is not the image with that number at its place, byte for byte;
// - a flash holding part of a number, or a number its place cannot hold.
// A row is found to its flash by the number read back from the flash, so the
// judge needs no station-to-file mapping and trusts nothing the program says
// about where a unit went. The number's bytes are decoded here, apart from
// the program's own code, so that the judge checks it rather than trusts it.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "evidence/flash_compare.h"
#include "units/unit_database.h"

namespace farsend::evidence {

enum class NumberFormat { LittleEndian, BigEndian, Decimal };

struct SerialPlace {
    uint32_t address = 0;
    uint32_t size = 0;
    NumberFormat format = NumberFormat::LittleEndian;
};

// "ADDR:SIZE[:le|be|dec]" (ADDR in hexadecimal with 0x, or decimal).
std::optional<SerialPlace> ParseSerialPlace(const std::string& text);

// The bytes that `number` takes at `place`; empty when it does not fit.
std::vector<uint8_t> EncodeNumber(const SerialPlace& place, uint64_t number);

// What a flash holds at the number's place.
struct HeldNumber {
    enum Kind { None, Whole, Partial, Unreadable } kind = None;
    uint64_t number = 0;  // with Whole
};
HeldNumber ReadNumber(const SerialPlace& place, const ByteMap& flash);

struct SerialVerdict {
    std::vector<std::string> violations;  // empty: nothing wrong
    size_t rows = 0;
    size_t programmedRows = 0;
    size_t returnedRows = 0;
    size_t unfinishedRows = 0;     // started, never finished (the process died)
    size_t flashes = 0;            // flash files read
    size_t flashesWithNumber = 0;  // holding a whole number
    std::vector<int64_t> numbers;  // every number a row holds and kept, sorted
    bool ok() const { return violations.empty(); }
};

// `flashes`: each flash file's name and contents.
SerialVerdict JudgeSerialRuns(const std::vector<units::UnitRow>& rows,
                              const std::map<std::string, ByteMap>& flashes, const ByteMap& image,
                              const SerialPlace& place);

// Every "*.hex" file in `folder` (temporary files left by a kill are not
// flashes), read through the image reader. A file that cannot be read is
// itself a violation, reported in `error`.
std::map<std::string, ByteMap> ReadFlashFolder(const std::string& folder, std::string& error);

}  // namespace farsend::evidence
