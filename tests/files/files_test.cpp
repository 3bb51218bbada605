#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include <gtest/gtest.h>

#include "files/replace_file.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

class Files : public testing::Test {
  protected:
    void SetUp() override { fs::current_path(dir.path()); }
    void TearDown() override { fs::current_path(home); }
    long entryCount() const { return std::distance(fs::directory_iterator("."), {}); }
    const fs::path home = fs::current_path();
    lumeko_test::TempDir dir;
};

// A replaced file keeps its permissions, a new one gets what the umask
// leaves, the umask itself is untouched; a named writer's temporary file
// carries the output's extension; a failure leaves the earlier file alone.
TEST_F(Files, ReplacingKeepsPermissionsAndTheEarlierFileOnFailure) {
    const mode_t mask = umask(027);
    lumeko_test::writeFile("kept.txt", "earlier");
    fs::permissions("kept.txt", fs::perms(0604));
    EXPECT_TRUE(
        replaceFile("kept.txt", [](std::FILE* file) { return std::fputs("new", file) >= 0; }).ok());
    EXPECT_EQ(lumeko_test::readFile("kept.txt"), "new");
    EXPECT_EQ(fs::status("kept.txt").permissions(), fs::perms(0604));
    std::string seen;
    EXPECT_TRUE(replaceFileNamed("fresh.mp4", [&](const std::string& name) {
                    seen = name;
                    lumeko_test::writeFile(name, "movie");
                    return true;
                }).ok());
    EXPECT_EQ(fs::path(seen).extension(), ".mp4");
    EXPECT_EQ(fs::status("fresh.mp4").permissions(), fs::perms(0640));
    EXPECT_EQ(umask(mask), 027);

    const FileResult failed = replaceFile("kept.txt", [](std::FILE*) {
        errno = ENOSPC;
        return false;
    });
    EXPECT_EQ(failed.status, FileStatus::CannotWrite);
    EXPECT_EQ(failed.error, ENOSPC);
    EXPECT_EQ(lumeko_test::readFile("kept.txt"), "new");
    EXPECT_EQ(entryCount(), 2);
}

// A pipe (as a device such as /dev/null) is written as it is: renaming a
// file over it would remove it.
TEST_F(Files, APipeIsWrittenAsItIs) {
    ASSERT_EQ(mkfifo("pipe.csv", 0600), 0);
    const int reader = open("pipe.csv", O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_TRUE(replaceFile("pipe.csv", [](std::FILE* file) {
                    return std::fputs("rows", file) >= 0;
                }).ok());
    EXPECT_TRUE(replaceFileNamed("pipe.csv", [](const std::string& name) {
                    lumeko_test::writeFile(name, " and a movie");
                    return true;
                }).ok());
    char bytes[64] = {};
    EXPECT_EQ(read(reader, bytes, sizeof bytes), 16);
    EXPECT_STREQ(bytes, "rows and a movie");
    close(reader);
    EXPECT_TRUE(fs::is_fifo("pipe.csv"));
    EXPECT_EQ(entryCount(), 1);
}

}  // namespace
