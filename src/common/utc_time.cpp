#include "common/utc_time.h"

#include <cstdio>

namespace farsend {
namespace {

// Days since 1970-01-01 to a civil date and back (proleptic Gregorian).
void CivilFromDays(long long days, long long& year, unsigned& month, unsigned& day) {
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned monthIndex = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    year = static_cast<long long>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
}

long long DaysFromCivil(long long year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<long long>(dayOfEra) - 719468;
}

}  // namespace

std::string FormatUtc(std::chrono::system_clock::time_point when) {
    const long long seconds =
        std::chrono::duration_cast<std::chrono::seconds>(when.time_since_epoch()).count();
    long long days = seconds / 86400, secondOfDay = seconds % 86400;
    if (secondOfDay < 0) {
        secondOfDay += 86400;
        --days;
    }
    long long year = 0;
    unsigned month = 0, day = 0;
    CivilFromDays(days, year, month, day);
    char text[40];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02lld:%02lld:%02lldZ", year, month, day,
                  secondOfDay / 3600, secondOfDay / 60 % 60, secondOfDay % 60);
    return text;
}

std::optional<std::chrono::system_clock::time_point> ParseUtc(const std::string& text) {
    int year = 0, length = 0;
    unsigned month = 0, day = 0, hour = 0, minute = 0, second = 0;
    const char* c = text.c_str();
    if (std::sscanf(c, "%4d-%2u-%2u%n", &year, &month, &day, &length) != 3 || length != 10) {
        return std::nullopt;
    }
    std::string rest = text.substr(10);
    if (!rest.empty() && (rest[0] == 'T' || rest[0] == ' ')) {
        int used = 0;
        const std::string time = rest.substr(1);
        if (std::sscanf(time.c_str(), "%2u:%2u:%2u%n", &hour, &minute, &second, &used) == 3 &&
            used == 8) {
            rest = time.substr(8);
        } else if (std::sscanf(time.c_str(), "%2u:%2u%n", &hour, &minute, &used) == 2 &&
                   used == 5) {
            rest = time.substr(5);
        } else {
            return std::nullopt;
        }
    }
    if (rest == "Z") rest.clear();
    if (!rest.empty() || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 ||
        minute > 59 || second > 59) {
        return std::nullopt;
    }
    const long long days = DaysFromCivil(year, month, day);
    long long checkYear = 0;
    unsigned checkMonth = 0, checkDay = 0;
    CivilFromDays(days, checkYear, checkMonth, checkDay);
    if (checkMonth != month || checkDay != day) return std::nullopt;  // 31 April
    // The clock's ticks (nanoseconds here) reach from 1677 to 2262 only; a
    // time beyond would wrap around to the other end.
    using std::chrono::seconds;
    constexpr long long kLatest =
        std::chrono::duration_cast<seconds>(std::chrono::system_clock::duration::max()).count();
    constexpr long long kEarliest =
        std::chrono::duration_cast<seconds>(std::chrono::system_clock::duration::min()).count();
    const long long total = days * 86400 + hour * 3600 + minute * 60 + second;
    if (total > kLatest || total < kEarliest) return std::nullopt;
    return std::chrono::system_clock::time_point{} + seconds(total);
}

}  // namespace farsend
