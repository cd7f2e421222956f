// Sets (NAME, VALUE) or removes (NAME, "") variables of this process's
// environment, which a child process inherits, until it goes.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace farsend::testing {

class ScopedEnvironment {
public:
    explicit ScopedEnvironment(const std::vector<std::pair<std::string, std::string>>& changes) {
        for (const auto& [name, value] : changes) {
            const char* old = std::getenv(name.c_str());
            saved_.emplace_back(name,
                                old != nullptr ? std::optional<std::string>(old) : std::nullopt);
            Set(name, value.empty() ? std::nullopt : std::optional<std::string>(value));
        }
    }
    ~ScopedEnvironment() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) Set(it->first, it->second);
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    static void Set(const std::string& name, const std::optional<std::string>& value) {
#ifdef _WIN32
        _putenv_s(name.c_str(), value ? value->c_str() : "");
#else
        if (value) {
            ::setenv(name.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(name.c_str());
        }
#endif
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// The variable that the default unit database's folder comes from.
#ifdef _WIN32
constexpr const char* kDataHomeVariable = "LOCALAPPDATA";
#else
constexpr const char* kDataHomeVariable = "XDG_DATA_HOME";
#endif

}  // namespace farsend::testing
