// A fresh, empty unit database for one test: an SQLite file in a temporary
// directory, or a new database on the PostgreSQL server that
// scripts/pg-test-server.sh started (its URL in the file that
// $FARSEND_TEST_PG_URL_FILE names; ctest's fixture sets it).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

#include "support/temp_directory.h"
#include "units/soci.h"
#include "units/unit_database.h"

namespace farsend::testing {

inline const char* EngineName(units::Engine engine) {
    return engine == units::Engine::SQLite ? "SQLite" : "PostgreSQL";
}

class FreshDatabase {
public:
    explicit FreshDatabase(units::Engine engine) : engine_(engine) {}

    // The location of a new empty database; "" with `error` set when the
    // engine cannot be reached.
    std::string Create(std::string& error) {
        if (engine_ == units::Engine::SQLite) {
            return (directory_.path() / ("units-" + std::to_string(++count_) + ".sqlite")).string();
        }
        const char* urlFile = std::getenv("FARSEND_TEST_PG_URL_FILE");
        if (urlFile == nullptr) {
            error =
                "FARSEND_TEST_PG_URL_FILE is not set: run this test through ctest, whose fixture "
                "starts scripts/pg-test-server.sh, or start it yourself and set the variable to "
                "its DIR/url";
            return "";
        }
        std::string base;
        std::getline(std::ifstream(urlFile), base);
        const std::size_t at = base.find("/postgres?");
        if (base.empty() || at == std::string::npos) {
            error = std::string("no server URL in ") + urlFile +
                    ": scripts/pg-test-server.sh start did not run or failed";
            return "";
        }
        std::random_device entropy;
        const std::string name =
            "farsend_test_" + std::to_string(entropy()) + "_" + std::to_string(++count_);
        try {
            soci::session admin;
            units::OpenPostgreSql(admin, base);
            admin << "SET client_min_messages = warning";
            // A database's name is an identifier, which cannot be a bound
            // parameter; this one is made of digits above.
            admin << "CREATE DATABASE " + name;
        } catch (const std::exception& failure) {
            error = "the PostgreSQL test server at " + base + " cannot be used: " + failure.what();
            return "";
        }
        return base.substr(0, at) + "/" + name + base.substr(at + 9);
    }

    const TempDirectory& directory() const { return directory_; }

private:
    units::Engine engine_;
    TempDirectory directory_;
    int count_ = 0;
};

}  // namespace farsend::testing
