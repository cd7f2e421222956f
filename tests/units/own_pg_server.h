// A PostgreSQL server of one test's own (scripts/pg-test-server.sh in a
// folder named after the test process), for tests that pause, freeze or
// stop it while farsend works: the suite's shared server must not be touched
// that way.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace farsend::testing {

class OwnPgServer {
public:
    // `tag` keeps two servers of one test process apart.
    explicit OwnPgServer(const std::string& tag)
        : directory_(std::filesystem::path("/tmp") /
                     ("fs-" + tag + "-" + std::to_string(::getpid()))) {}
    ~OwnPgServer() {
        Script("thaw");  // a frozen server's processes would not stop
        Script("stop");
    }
    // False, with `error` saying why, when the server does not start.
    bool Start(std::string& error) {
        if (!Script("start")) {
            error = "scripts/pg-test-server.sh start " + directory_.string() + " failed";
            return false;
        }
        std::getline(std::ifstream(directory_ / "url"), url_);
        if (url_.empty()) error = "no URL in " + (directory_ / "url").string();
        return !url_.empty();
    }
    // start, stop, pause, resume, freeze or thaw.
    bool Script(const char* action) const {
        const std::string command = std::string(FARSEND_SOURCE_DIR) +
                                    "/scripts/pg-test-server.sh " + action + " " +
                                    directory_.string() + " >/dev/null";
        return std::system(command.c_str()) == 0;
    }
    const std::string& Url() const { return url_; }

private:
    std::filesystem::path directory_;
    std::string url_;
};

}  // namespace farsend::testing
