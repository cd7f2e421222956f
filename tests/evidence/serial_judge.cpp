#include "evidence/serial_judge.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>

namespace farsend::evidence {

namespace {

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
    return text;
}

std::string Ids(const std::vector<const units::UnitRow*>& rows) {
    std::string text;
    for (const units::UnitRow* row : rows) {
        text += (text.empty() ? "" : ", ") + std::to_string(row->id);
    }
    return text;
}

std::string Names(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
    return text;
}

bool IsProgrammed(const units::UnitRow& row) {
    return row.finish && row.finish->result == units::UnitResult::Programmed;
}

}  // namespace

std::optional<SerialPlace> ParseSerialPlace(const std::string& text) {
    const size_t first = text.find(':');
    if (first == std::string::npos) return std::nullopt;
    const size_t second = text.find(':', first + 1);
    const std::string address = text.substr(0, first);
    const std::string size = text.substr(
        first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
    const std::string format = second == std::string::npos ? "le" : text.substr(second + 1);
    char* end = nullptr;
    SerialPlace place;
    const unsigned long long a = std::strtoull(address.c_str(), &end, 0);
    if (address.empty() || *end != '\0' || a > UINT32_MAX) return std::nullopt;
    const unsigned long long s = std::strtoull(size.c_str(), &end, 10);
    if (size.empty() || *end != '\0' || s == 0 || s > 20) return std::nullopt;
    place.address = static_cast<uint32_t>(a);
    place.size = static_cast<uint32_t>(s);
    if (format == "le") {
        place.format = NumberFormat::LittleEndian;
    } else if (format == "be") {
        place.format = NumberFormat::BigEndian;
    } else if (format == "dec") {
        place.format = NumberFormat::Decimal;
    } else {
        return std::nullopt;
    }
    if (place.format != NumberFormat::Decimal && place.size > 8) return std::nullopt;
    return place;
}

std::vector<uint8_t> EncodeNumber(const SerialPlace& place, uint64_t number) {
    std::vector<uint8_t> bytes(place.size, 0);
    if (place.format == NumberFormat::Decimal) {
        const std::string digits = std::to_string(number);
        if (digits.size() > place.size) return {};
        std::fill(bytes.begin(), bytes.end(), static_cast<uint8_t>('0'));
        std::copy(digits.begin(), digits.end(), bytes.end() - static_cast<long>(digits.size()));
        return bytes;
    }
    if (place.size < 8 && (number >> (8 * place.size)) != 0) return {};
    for (uint32_t i = 0; i < place.size; ++i) {
        const uint8_t byte = static_cast<uint8_t>(number >> (8 * i));
        bytes[place.format == NumberFormat::LittleEndian ? i : place.size - 1 - i] = byte;
    }
    return bytes;
}

HeldNumber ReadNumber(const SerialPlace& place, const ByteMap& flash) {
    std::vector<uint8_t> bytes;
    for (uint32_t i = 0; i < place.size; ++i) {
        const auto it = flash.find(place.address + i);
        if (it != flash.end()) bytes.push_back(it->second);
    }
    HeldNumber held;
    if (bytes.empty()) return held;
    if (bytes.size() != place.size) {
        held.kind = HeldNumber::Partial;
        return held;
    }
    uint64_t number = 0;
    for (uint32_t i = 0; i < place.size; ++i) {
        if (place.format == NumberFormat::Decimal) {
            if (bytes[i] < '0' || bytes[i] > '9' || number > (UINT64_MAX - 9) / 10) {
                held.kind = HeldNumber::Unreadable;
                return held;
            }
            number = number * 10 + static_cast<uint64_t>(bytes[i] - '0');
        } else {
            const uint32_t shift =
                place.format == NumberFormat::LittleEndian ? i : place.size - 1 - i;
            number |= static_cast<uint64_t>(bytes[i]) << (8 * shift);
        }
    }
    held.kind = HeldNumber::Whole;
    held.number = number;
    return held;
}

SerialVerdict JudgeSerialRuns(const std::vector<units::UnitRow>& rows,
                              const std::map<std::string, ByteMap>& flashes, const ByteMap& image,
                              const SerialPlace& place) {
    SerialVerdict verdict;
    auto violation = [&](const std::string& text) { verdict.violations.push_back(text); };
    verdict.rows = rows.size();
    verdict.flashes = flashes.size();

    std::map<int64_t, std::vector<const units::UnitRow*>> kept;  // number -> rows that kept it
    std::set<int64_t> returned;
    for (const units::UnitRow& row : rows) {
        if (IsProgrammed(row)) ++verdict.programmedRows;
        if (!row.finish) ++verdict.unfinishedRows;
        if (!row.serial) {
            violation("unit " + std::to_string(row.id) + " took no number");
            continue;
        }
        if (row.numberReturned) {
            ++verdict.returnedRows;
            returned.insert(*row.serial);
            if (IsProgrammed(row)) {
                violation("unit " + std::to_string(row.id) + " is programmed but gave its number " +
                          std::to_string(*row.serial) + " back");
            }
        } else {
            kept[*row.serial].push_back(&row);
        }
    }
    for (const auto& [number, holders] : kept) {
        verdict.numbers.push_back(number);
        if (holders.size() > 1) {
            violation("number " + std::to_string(number) + " was issued twice: units " +
                      Ids(holders));
        }
    }

    std::map<uint64_t, std::vector<std::string>> inFlash;  // number -> flash files
    for (const auto& [name, flash] : flashes) {
        const HeldNumber held = ReadNumber(place, flash);
        if (held.kind == HeldNumber::Partial) {
            violation(name + " holds part of a number at " + Hex(place.address));
        } else if (held.kind == HeldNumber::Unreadable) {
            violation(name + " holds no readable number at " + Hex(place.address));
        } else if (held.kind == HeldNumber::Whole) {
            ++verdict.flashesWithNumber;
            inFlash[held.number].push_back(name);
        }
    }
    for (const auto& [number, names] : inFlash) {
        const int64_t signedNumber = static_cast<int64_t>(number);
        if (names.size() > 1) {
            violation("number " + std::to_string(number) + " is in " +
                      std::to_string(names.size()) + " flashes: " + Names(names));
        }
        if (kept.count(signedNumber) == 0) {
            violation(names.front() + " holds number " + std::to_string(number) + ", which " +
                      (returned.count(signedNumber) ? "was given back" : "no unit's row holds"));
        }
    }

    for (const auto& [number, holders] : kept) {
        for (const units::UnitRow* row : holders) {
            if (!IsProgrammed(*row)) continue;
            const auto found = inFlash.find(static_cast<uint64_t>(number));
            if (found == inFlash.end()) {
                violation("unit " + std::to_string(row->id) + " is recorded as programmed with " +
                          std::to_string(number) + ", which no flash holds");
                continue;
            }
            ByteMap expected = image;
            const std::vector<uint8_t> bytes = EncodeNumber(place, static_cast<uint64_t>(number));
            for (uint32_t i = 0; i < bytes.size(); ++i) expected[place.address + i] = bytes[i];
            for (const std::string& name : found->second) {
                const std::string difference = FirstDifference(flashes.at(name), expected);
                if (!difference.empty()) {
                    violation("unit " + std::to_string(row->id) + " (number " +
                              std::to_string(number) + ") is recorded as programmed, but " + name +
                              " is not the image with its number: " + difference);
                }
            }
        }
    }
    return verdict;
}

std::map<std::string, ByteMap> ReadFlashFolder(const std::string& folder, std::string& error) {
    std::map<std::string, ByteMap> flashes;
    std::error_code failure;
    for (const auto& entry : std::filesystem::directory_iterator(folder, failure)) {
        if (entry.path().extension() != ".hex") continue;
        std::string problem;
        const std::string name = entry.path().filename().string();
        std::optional<ByteMap> bytes = ReadByteMap(entry.path().string(), problem);
        if (!bytes) {
            // An empty flash is a file without tokens, which the image reader
            // may refuse as it refuses an empty firmware file.
            if (std::filesystem::file_size(entry.path(), failure) == 0) {
                flashes[name] = {};
                continue;
            }
            error += (error.empty() ? "" : "; ") + problem;
            continue;
        }
        flashes[name] = std::move(*bytes);
    }
    if (failure) error += (error.empty() ? "" : "; ") + folder + ": " + failure.message();
    return flashes;
}

}  // namespace farsend::evidence
