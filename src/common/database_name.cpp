#include "common/database_name.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace farsend {
namespace {

const char kMask[] = "***";

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && Lower(text.substr(0, prefix.size())) == prefix;
}

// The length of a URL scheme and its colon at the start ("postgresq:" is
// 10), or 0. One letter is a Windows drive ("C:"), not a scheme.
std::size_t SchemeLength(const std::string& text) {
    std::size_t at = 0;
    if (text.empty() || !std::isalpha(static_cast<unsigned char>(text[0]))) return 0;
    while (at < text.size() && (std::isalnum(static_cast<unsigned char>(text[at])) ||
                                text[at] == '+' || text[at] == '-' || text[at] == '.')) {
        ++at;
    }
    if (at < 2 || at >= text.size() || text[at] != ':') return 0;
    return at + 1;
}

// "host=x", "dbname = y": a keyword connection string's first pair.
bool LooksLikeKeywords(const std::string& text) {
    std::size_t at = 0;
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
    const std::size_t start = at;
    while (at < text.size() &&
           (std::isalnum(static_cast<unsigned char>(text[at])) || text[at] == '_')) {
        ++at;
    }
    if (at == start) return false;
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
    return at < text.size() && text[at] == '=';
}

// Where a password's value is, as [begin, end) pairs.
struct Span {
    std::size_t begin, end;
};

void UserInfoPassword(const std::string& text, std::vector<Span>& spans) {
    const std::size_t scheme = text.find("://");
    if (scheme == std::string::npos) return;
    const std::size_t start = scheme + 3;
    std::size_t stop = text.find_first_of("/?#", start);
    if (stop == std::string::npos) stop = text.size();
    const std::size_t at = text.rfind('@', stop);
    if (at == std::string::npos || at < start) return;
    const std::size_t colon = text.find(':', start);
    if (colon == std::string::npos || colon > at) return;
    spans.push_back({colon + 1, at});
}

// "password=VALUE", "sslpassword = 'VALUE'": after any keyword that ends in
// "password", up to "&", blank or the end, or within its quotes.
void KeywordPasswords(const std::string& text, std::vector<Span>& spans) {
    const std::string lower = Lower(text);
    for (std::size_t found = lower.find("password"); found != std::string::npos;
         found = lower.find("password", found + 1)) {
        std::size_t at = found + 8;
        while (at < text.size() && text[at] == ' ') ++at;
        if (at >= text.size() || text[at] != '=') continue;
        ++at;
        while (at < text.size() && text[at] == ' ') ++at;
        std::size_t end = at;
        if (at < text.size() && text[at] == '\'') {
            end = at + 1;
            while (end < text.size() && text[end] != '\'') end += text[end] == '\\' ? 2 : 1;
            end = std::min(end + 1, text.size());
        } else {
            while (end < text.size() && text[end] != '&' && text[end] != ' ' && text[end] != '#') {
                ++end;
            }
        }
        if (end > at) spans.push_back({at, end});
    }
}

std::vector<Span> PasswordSpans(const std::string& text) {
    std::vector<Span> spans;
    UserInfoPassword(text, spans);
    KeywordPasswords(text, spans);
    return spans;
}

std::string Refusal(const std::string& given, const std::string& why) {
    return "--db " + MaskedDatabaseName(given) + ": " + why;
}

}  // namespace

DatabaseNameResult ParseDatabaseName(const std::string& given) {
    DatabaseNameResult result;
    const std::string lower = Lower(given);
    for (const std::string scheme : {"postgresql://", "postgres://"}) {
        if (StartsWithNoCase(given, scheme)) {
            result.name =
                DatabaseName{DatabaseEngine::PostgreSQL, scheme + given.substr(scheme.size())};
            return result;
        }
    }
    const char* const kTake =
        "give an SQLite file's path or a postgresql://[user@]host[:port]/database URL";
    if (given.empty()) {
        result.error = std::string("--db needs a name: ") + kTake;
    } else if (lower.find(":memory:") != std::string::npos ||
               lower.find("mode=memory") != std::string::npos) {
        result.error = Refusal(given, std::string("an in-memory database loses every unit "
                                                  "recorded in it when the run ends; ") +
                                          kTake);
    } else if (StartsWithNoCase(given, "file:")) {
        result.error = Refusal(given, std::string("SQLite URIs are not taken; ") + kTake);
    } else if (const std::size_t length = SchemeLength(given); length > 0) {
        result.error = Refusal(given, "the scheme '" + given.substr(0, length - 1) +
                                          "' is not one this program takes (postgresql:// or "
                                          "postgres://); a file whose name holds a colon is "
                                          "given as ./NAME");
    } else if (LooksLikeKeywords(given)) {
        result.error =
            Refusal(given, std::string("a keyword connection string is not taken; write it as "
                                       "a URL: postgresql://user@host:port/database?option=value"));
    } else {
        result.name = DatabaseName{DatabaseEngine::SQLite, given};
    }
    return result;
}

std::string MaskedDatabaseName(const std::string& location) {
    std::vector<Span> spans = PasswordSpans(location);
    std::string masked;
    std::size_t at = 0;
    // Spans come from two scans; they are put in order and never overlap
    // (user info ends at '@', before any query).
    std::sort(spans.begin(), spans.end(),
              [](const Span& a, const Span& b) { return a.begin < b.begin; });
    for (const Span& span : spans) {
        if (span.begin < at) continue;
        masked += location.substr(at, span.begin - at) + kMask;
        at = span.end;
    }
    return masked + location.substr(at);
}

std::string WithoutPasswords(const std::string& text, const std::string& location) {
    std::string result = text;
    for (const Span& span : PasswordSpans(location)) {
        std::string secret = location.substr(span.begin, span.end - span.begin);
        if (secret.size() >= 2 && secret.front() == '\'' && secret.back() == '\'') {
            secret = secret.substr(1, secret.size() - 2);
        }
        if (secret.empty()) continue;
        for (std::size_t found = result.find(secret); found != std::string::npos;
             found = result.find(secret, found + 3)) {
            result.replace(found, secret.size(), kMask);
        }
    }
    // A message that quotes the whole name is masked the same way.
    return MaskedDatabaseName(result);
}

}  // namespace farsend
