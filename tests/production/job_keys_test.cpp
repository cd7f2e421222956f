// Signing keys and signatures over real files: the secret key is its
// owner's alone and never replaced, a signature holds only for the job it
// was made over and the key that made it.
#include "production/job_keys.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#ifdef _WIN32
#include "production/win/owner_only.h"
#endif

#include <fstream>

#include "production/encoding.h"
#include "support/temp_directory.h"

namespace farsend::production {
namespace {

std::string Read(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

ProductionJob SomeJob() {
    ProductionJob job;
    job.name = "board-v2";
    job.image.name = "app.hex";
    job.image.sha256 = Sha256Hex("image");
    job.serial = JobSerial{"0x00004010:4:le", "board"};
    job.unitLimit = 10;
    return job;
}

class JobKeys : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return (temp_.path() / name).string(); }
    testing::TempDirectory temp_;
};

TEST_F(JobKeys, NewPairIsPrivateAndNeverReplaced) {
    std::string error;
#ifdef _WIN32
    const std::optional<PublicKey> key = WriteNewKeyPair(Path("signer.key"), error);
    ASSERT_TRUE(key) << error;
    EXPECT_EQ(testing::OwnerOnlyProblem(Path("signer.key")), "");
    EXPECT_NE(testing::OwnerOnlyProblem(Path("signer.key.pub")), "");
#else
    const mode_t umask = ::umask(0);  // the secret key's mode must not depend on it
    const std::optional<PublicKey> key = WriteNewKeyPair(Path("signer.key"), error);
    ::umask(umask);
    ASSERT_TRUE(key) << error;
    struct stat secret {};
    struct stat shared {};
    ASSERT_EQ(::stat(Path("signer.key").c_str(), &secret), 0);
    ASSERT_EQ(::stat(Path("signer.key.pub").c_str(), &shared), 0);
    EXPECT_EQ(secret.st_mode & 0777, 0600u);
    EXPECT_EQ(shared.st_mode & 0777, 0644u);
#endif

    const std::optional<PublicKey> read = ReadPublicKeyFile(Path("signer.key.pub"), error);
    ASSERT_TRUE(read) << error;
    EXPECT_EQ(read->id, key->id);
    EXPECT_EQ(read->key, key->key);

    // Neither file is ever replaced: a second key under the same name is refused.
    const std::string before = Read(Path("signer.key"));
    EXPECT_FALSE(WriteNewKeyPair(Path("signer.key"), error));
    EXPECT_NE(error.find("never replaced"), std::string::npos) << error;
    EXPECT_EQ(Read(Path("signer.key")), before);
    std::ofstream(Path("other.key.pub")) << "x";
    EXPECT_FALSE(WriteNewKeyPair(Path("other.key"), error));
    EXPECT_FALSE(std::filesystem::exists(Path("other.key")));
}

// A signature holds for its job and key alone; a public key file whose id
// was changed is refused.
TEST_F(JobKeys, SignatureHoldsOnlyForTheJobAndKeyItWasMadeWith) {
    std::string error;
    const std::optional<PublicKey> key = WriteNewKeyPair(Path("a.key"), error);
    const std::optional<PublicKey> other = WriteNewKeyPair(Path("b.key"), error);
    ASSERT_TRUE(key && other) << error;
    ProductionJob job = SomeJob();
    ASSERT_TRUE(SignJob(job, Path("a.key"), error)) << error;
    ASSERT_TRUE(job.signature);
    EXPECT_EQ(job.signature->keyId, key->id);
    EXPECT_TRUE(SignatureHolds(job, *key));
    EXPECT_FALSE(SignatureHolds(job, *other));

    // The signature covers the job's values (the tamper table of the
    // process tests changes each field in turn) and is all there.
    ProductionJob changed = job;
    changed.unitLimit = 11;
    EXPECT_FALSE(SignatureHolds(changed, *key));
    changed = job;
    changed.signature->signature.pop_back();
    EXPECT_FALSE(SignatureHolds(changed, *key));

    // A public key line whose id was edited to another key's is refused.
    std::string line = PublicKeyLine(*key);
    line.replace(line.find(key->id), 16, other->id);
    EXPECT_FALSE(ParsePublicKey(line, error));
}

// A file that is not a secret key is refused without its content being
// quoted: it may be a real key under a wrong name.
TEST_F(JobKeys, BadSecretKeyIsRefusedWithoutQuotingIt) {
    std::string error;
    ASSERT_TRUE(WriteNewKeyPair(Path("a.key"), error)) << error;
    std::string content = Read(Path("a.key"));
    const std::string secretPart = content.substr(content.rfind(' ') + 1, 20);
    content.replace(content.find("farsend-secret-key"), 7, "nothing");
    std::ofstream(Path("damaged.key"), std::ios::trunc) << content;
    ProductionJob job = SomeJob();
    EXPECT_FALSE(SignJob(job, Path("damaged.key"), error));
    EXPECT_FALSE(job.signature);
    EXPECT_EQ(error.find(secretPart), std::string::npos) << error;
    EXPECT_FALSE(SignJob(job, Path("a.key.pub"), error));  // the public half cannot sign
}

}  // namespace
}  // namespace farsend::production
