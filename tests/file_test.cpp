#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "base/file.h"
#include "support/temp_dir.h"

namespace parlix {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

TEST(Files, AWriteReplacesTheWholeFileOwnerOnlyAndLeavesNoTemporaryFile) {
    TempDir dir;
    auto path = dir / "f";
    writeFile(path, std::string(5000, 'x'));
    writeFileAtomic(path.string(), "abc");
    EXPECT_EQ(readFile(path), "abc");
    writeFileAtomic(path.string(), "");
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(readFile(path), "");
    EXPECT_FALSE(std::filesystem::exists(dir / "f_new"));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(Files, ReadsEveryByteAndTellsAMissingFileFromAnUnreadableOne) {
    TempDir dir;
    std::string bytes("a\0b\r\n\xFF", 6);
    writeFile(dir / "f", bytes);
    EXPECT_EQ(parlix::readFile((dir / "f").string()), bytes);
    EXPECT_EQ(readFileIfPresent((dir / "f").string()), bytes);
    EXPECT_EQ(readFileIfPresent((dir / "absent").string()), std::nullopt);
    EXPECT_THROW(parlix::readFile((dir / "absent").string()), FileError);
    std::filesystem::create_directory(dir / "folder");
    EXPECT_THROW(readFileIfPresent((dir / "folder").string()), FileError);
}

TEST(Files, FailuresRaiseWithTheSystemsErrorNumber) {
    TempDir dir;
    try {
        writeFileAtomic((dir / "no" / "f").string(), "x");
        FAIL();
    } catch (const FileError& e) {
        EXPECT_EQ(e.code(), ENOENT);
        EXPECT_NE(std::string(e.what()).find("f_new"), std::string::npos);
    }
    writeFile(dir / "plain", "x");
    EXPECT_THROW(makeFolders((dir / "plain" / "sub").string()), FileError);
    makeFolders((dir / "a" / "b").string());
    EXPECT_TRUE(std::filesystem::is_directory(dir / "a" / "b"));
    removeFile((dir / "plain").string());
    EXPECT_FALSE(std::filesystem::exists(dir / "plain"));
    EXPECT_NO_THROW(removeFile((dir / "plain").string()));
    EXPECT_THROW(removeFile((dir / "a").string()), FileError);
}

}  // namespace
}  // namespace parlix
