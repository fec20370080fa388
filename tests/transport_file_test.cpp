#include <gtest/gtest.h>

#include <filesystem>
#include <system_error>

#include "support/temp_dir.h"
#include "transport/file_helpers.h"

namespace parlix {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

TEST(ReadWholeFile, CreatesAMissingFileAndReturnsNothing) {
    TempDir dir;
    auto path = dir / "absent.SMS";
    EXPECT_EQ(ReadWholeFile(path.string()), "");
    ASSERT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
}

TEST(ReadWholeFile, ReturnsEveryByteInOrder) {
    TempDir dir;
    std::string bytes("a\0b\r\n\xFF", 6);
    writeFile(dir / "f", bytes);
    EXPECT_EQ(ReadWholeFile((dir / "f").string()), bytes);
}

TEST(ReadWholeFile, RaisesWhenTheFolderDoesNotExist) {
    TempDir dir;
    EXPECT_THROW(ReadWholeFile((dir / "no" / "f").string()), std::system_error);
}

TEST(WriteWholeFile, ReplacesLongerContentWithoutStaleBytes) {
    TempDir dir;
    auto path = dir / "f";
    writeFile(path, std::string(5000, 'x'));
    WriteWholeFile(path.string(), "abc");
    EXPECT_EQ(readFile(path), "abc");
    WriteWholeFile(path.string(), "");
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(readFile(path), "");
    EXPECT_FALSE(std::filesystem::exists(dir / "f_new"));
}

TEST(WriteWholeFile, RaisesWhenThePathCannotBeWritten) {
    TempDir dir;
    EXPECT_THROW(WriteWholeFile((dir / "no" / "f").string(), "x"), std::system_error);
}

TEST(SequentialFile, ReadsPiecesAndAShortLastOne) {
    TempDir dir;
    writeFile(dir / "f", "ABCDEFG");
    SequentialFile file((dir / "f").string());
    EXPECT_EQ(file.length(), 7);
    EXPECT_EQ(file.read(3), "ABC");
    EXPECT_EQ(file.read(3), "DEF");
    EXPECT_EQ(file.read(3), "G");
    EXPECT_EQ(file.read(3), "");
    SequentialFile moved = std::move(file);
    EXPECT_EQ(moved.read(1), "");
    EXPECT_THROW(SequentialFile((dir / "missing").string()), std::system_error);
}

}  // namespace
}  // namespace parlix
