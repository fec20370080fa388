#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>

#include "base/clock.h"
#include "base/date_time.h"
#include "base/file.h"
#include "base/random.h"
#include "base/text.h"
#include "support/expect.h"
#include "support/temp_dir.h"

namespace parlix {
namespace {

std::string text(const std::optional<std::int64_t>& n) {
    return n ? std::to_string(*n) : "none";
}

std::string iso(const char* text) {
    auto t = parseIsoDateTime(text);
    return t ? isoDateTime(*t) : "none";
}

using test::expectPairs;

TEST(Text, Rules) {
    expectPairs({trimSpaces("  a b  "), "a b", trimSpaces("\r\nEND\r\n"), "\r\nEND\r\n",
                 trimSpaces("   "), "", replaceAll("a~~~b", "~~", "~"), "a~~b",
                 replaceAll("aaa", "a", "aa"), "aaaaaa", replaceAll("abc", "", "x"), "abc"});
    expectPairs({shortestDecimal(leadingNumber("12abc")), "12",
                 shortestDecimal(leadingNumber(" \t-1.5e1x")), "-15",
                 shortestDecimal(leadingNumber("x")), "0", shortestDecimal(1234.5678),
                 "1234.5678"});
    expectPairs({text(toWholeNumber(" 8080 ", 16)), "8080", text(toWholeNumber("2.5", 16)), "2",
                 text(toWholeNumber("3.5", 16)), "4", text(toWholeNumber("32767", 16)), "32767",
                 text(toWholeNumber("-32768", 16)), "-32768", text(toWholeNumber("32768", 16)),
                 "none", text(toWholeNumber("-32769", 16)), "none"});
    expectPairs({text(toWholeNumber("32768", 32)), "32768", text(toWholeNumber("12abc", 32)),
                 "none", text(toWholeNumber("nan", 32)), "none", text(toWholeNumber("  ", 32)),
                 "none"});
    EXPECT_TRUE(iequals("Queued", "qUEUED") && istartsWith("PARLIX2", "parlix"));
    EXPECT_FALSE(iequals("ab", "abc") || iequals("ab", "ac") || istartsWith("p", "pa"));
    EXPECT_EQ(split("a||b||", "||"), (std::vector<std::string>{"a", "b", ""}));
    EXPECT_EQ(split("", ","), (std::vector<std::string>{""}));
    EXPECT_EQ(split("a,b", ""), (std::vector<std::string>{"a,b"}));
}

TEST(DateTimeText, FormsAndValidation) {
    expectPairs({generalDateTime({2026, 12, 6, 15, 4, 5, 0}), "12/6/2026 3:04:05 PM",
                 generalDateTime({2026, 1, 2, 0, 7, 9, 0}), "1/2/2026 12:07:09 AM",
                 generalDateTime({2026, 1, 2, 11, 0, 0, 0}), "1/2/2026 11:00:00 AM",
                 clockCaption({2026, 12, 6, 15, 45, 7, 0}), "03:45:07:PM",
                 clockCaption({2026, 12, 6, 12, 0, 0, 0}), "12:00:00:PM",
                 clockCaption({2026, 12, 6, 0, 0, 0, 0}), "12:00:00:AM",
                 isoDate({2026, 2, 3, 4, 5, 6, 0}) + "|" + isoTime({2026, 2, 3, 4, 5, 6, 0}),
                 "2026-02-03|04:05:06"});
    for (const char* valid : {"2024-02-29 23:59:59", "2000-02-29T00:00:00", "0001-01-01 00:00:00",
                              "9999-12-31 23:59:59"}) {
        EXPECT_EQ(iso(valid), std::string(valid).replace(10, 1, " "));
    }
    for (const char* invalid : {"2023-02-29 10:00:00", "1900-02-29 10:00:00", "2023-04-31 10:00:00",
                                "2023-12-31 24:00:00", "2023-12-31 23:60:00", "2023-12-31 23:59:60",
                                "2023-13-01 10:00:00", "2023-00-01 10:00:00", "2023-01-00 10:00:00",
                                "0000-01-01 10:00:00", "2023-1-01 10:00:00", "2023-02-28 10:00",
                                "2023-02-28x10:00:00", "2023-02-28 10:00:00x"}) {
        EXPECT_EQ(iso(invalid), "none") << invalid;
    }
    const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};  // of 2023
    for (int month = 1; month <= 12; ++month) {
        EXPECT_TRUE(isValidDateTime({2023, month, days[month - 1], 0, 0, 0, 0})) << month;
        EXPECT_FALSE(isValidDateTime({2023, month, days[month - 1] + 1, 0, 0, 0, 0})) << month;
    }
    EXPECT_FALSE(isValidDateTime({10000, 1, 1, 0, 0, 0, 0}));
    EXPECT_FALSE(isValidDateTime({2026, 1, 1, -1, 0, 0, 0}));
}

TEST(Clocks, TheSystemClockIsLocalTimeAndTheGeneratorIsSplitmix64) {
    DateTime t;
    std::tm local{};
    for (std::time_t before = 0, after = 1; before != after;) {
        before = std::time(nullptr);
        t = SystemClock().now();
        after = std::time(nullptr);
        localtime_r(&before, &local);
    }
    EXPECT_EQ(isoDateTime(t), isoDateTime({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                           local.tm_hour, local.tm_min, local.tm_sec, 0}));
    EXPECT_LT(t.millisecond, 1000);
    // The first output of splitmix64 seeded with 0, as its authors publish it.
    EXPECT_EQ(DefaultRandom(0).next(), static_cast<double>(0xE220A8397B1DCDAFull >> 11) / 0x1p53);
}

int openDescriptors() {
    auto fds = std::filesystem::directory_iterator("/proc/self/fd");
    return static_cast<int>(std::distance(fds, std::filesystem::directory_iterator()));
}

// A write replaces the whole file, owner-only, through a temporary file that never stays; every
// failure carries the system's error number and leaves no descriptor open.
TEST(Files, WritesReplaceWholeFilesAndFailuresCarryTheErrorNumber) {
    test::TempDir dir;
    const std::string path = (dir / "f").string();
    const std::string folder = (dir / "folder").string();
    test::writeFile(path, std::string(5000, 'x'));
    const std::string bytes("a\0b\r\n\xFF", 6);
    writeFileAtomic(path, bytes);
    EXPECT_EQ(readFile(path), bytes);
    writeFileAtomic(path, "");
    EXPECT_EQ(readFileIfPresent(path), "");
    EXPECT_EQ(std::filesystem::status(path).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    std::filesystem::create_directories(folder + "/inside");
    const std::pair<std::function<void()>, int> cases[] = {
        {[&] { writeFileAtomic(dir.str() + "/no/f", "x"); }, ENOENT},
        {[&] { writeFileAtomic(folder, "x"); }, EISDIR},
        {[&] {  // a write cut short: past the file size limit, as on a full disk
             rlimit saved{};
             ::getrlimit(RLIMIT_FSIZE, &saved);
             const rlimit small{1000, saved.rlim_max};
             ::signal(SIGXFSZ, SIG_IGN);
             ::setrlimit(RLIMIT_FSIZE, &small);
             std::shared_ptr<void> restore(nullptr,
                                           [&](void*) { ::setrlimit(RLIMIT_FSIZE, &saved); });
             writeFileAtomic(folder + "/big", std::string(5000, 'y'));
         },
         EFBIG},
        {[&] { readFile(dir.str() + "/absent"); }, ENOENT},
        {[&] { readFileIfPresent(folder); }, EISDIR},
        {[&] { readFileIfPresent(path + "/x"); }, ENOTDIR},
        {[&] { makeFolders(path + "/sub"); }, ENOTDIR},
        {[&] { removeFile(folder); }, EISDIR}};
    for (size_t i = 0; i < std::size(cases); ++i) {
        const int before = openDescriptors();
        try {
            cases[i].first();
            ADD_FAILURE() << i;
        } catch (const FileError& e) {
            EXPECT_EQ(e.code(), cases[i].second) << e.what();
        }
        EXPECT_EQ(openDescriptors(), before) << i;
    }
    EXPECT_FALSE(std::filesystem::exists(path + "_new") ||
                 std::filesystem::exists(folder + "_new") ||
                 std::filesystem::exists(folder + "/big_new"));
    EXPECT_EQ(readFileIfPresent(dir.str() + "/absent"), std::nullopt);
    makeFolders(dir.str() + "/a/b");
    EXPECT_TRUE(std::filesystem::is_directory(dir / "a" / "b"));
    removeFile(path);
    EXPECT_NO_THROW(removeFile(path));
    EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace parlix
