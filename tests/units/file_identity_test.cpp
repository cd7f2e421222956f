// Which file a path names: the same file through any of its names and
// while a database holds it open, another file once one is put in its place.
#include "units/file_identity.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/temp_directory.h"
#include "units/soci.h"

namespace farsend::units {
namespace {

namespace fs = std::filesystem;

void Write(const fs::path& path, const char* text) {
    std::ofstream(path) << text;
}

TEST(FileIdentity, FollowsTheFileNotItsName) {
    struct Case {
        const char* name;
        // Makes the second path from the first ("a", written already).
        void (*make)(const fs::path& a, const fs::path& b);
        bool same;
    };
    const Case cases[] = {
        {"another name of it",
         [](const fs::path& a, const fs::path& b) { fs::create_hard_link(a, b); }, true},
        {"a copy", [](const fs::path& a, const fs::path& b) { fs::copy_file(a, b); }, false},
        {"the same bytes written anew",
         [](const fs::path&, const fs::path& b) { Write(b, "units"); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const testing::TempDirectory temp;
        const fs::path a = temp.path() / "a.sqlite";
        const fs::path b = temp.path() / "b.sqlite";
        Write(a, "units");
        c.make(a, b);
        const std::optional<FileIdentity> first = IdentityOf(a);
        const std::optional<FileIdentity> second = IdentityOf(b);
        ASSERT_TRUE(first && second);
        EXPECT_EQ(*first == *second, c.same);
        EXPECT_EQ(IdentityOf(a), first);  // looking again changes nothing
    }
}

TEST(FileIdentity, SeesAFilePutInPlaceOfAnOpenDatabase) {
    const testing::TempDirectory temp;
    const fs::path db = temp.path() / "units.sqlite";
    const fs::path backup = temp.path() / "backup.sqlite";
    EXPECT_FALSE(IdentityOf(db));
    {
        soci::session sql(soci::sqlite3, "db=\"" + db.string() + "\"");
        sql << "CREATE TABLE t (x INTEGER)";
        // While it is open, as a station holds it for its whole run (on
        // Windows, shared for reading and writing only).
        const std::optional<FileIdentity> open = IdentityOf(db);
        ASSERT_TRUE(open);
        EXPECT_EQ(IdentityOf(db), open);
        fs::copy_file(db, backup);
        EXPECT_NE(IdentityOf(backup), open);
    }
    const std::optional<FileIdentity> before = IdentityOf(db);
    fs::rename(backup, db);
    ASSERT_TRUE(IdentityOf(db));
    EXPECT_NE(IdentityOf(db), before);
    fs::remove(db);
    EXPECT_FALSE(IdentityOf(db));
}

}  // namespace
}  // namespace farsend::units
