#include "base/date_time.h"

#include <cstdio>

namespace parlix {

namespace {

bool isLeap(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int y, int m) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : kDays[m - 1];
}

}  // namespace

std::string isoDate(const DateTime& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", t.year, t.month, t.day);
    return buf;
}

std::string isoTime(const DateTime& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.hour, t.minute, t.second);
    return buf;
}

std::string isoDateTime(const DateTime& t) {
    return isoDate(t) + " " + isoTime(t);
}

std::string generalDateTime(const DateTime& t) {
    char buf[48];
    int hour12 = t.hour % 12 == 0 ? 12 : t.hour % 12;
    std::snprintf(buf, sizeof buf, "%d/%d/%04d %d:%02d:%02d %s", t.month, t.day, t.year, hour12,
                  t.minute, t.second, t.hour < 12 ? "AM" : "PM");
    return buf;
}

std::string clockCaption(const DateTime& t) {
    char buf[32];
    int hour12 = t.hour % 12 == 0 ? 12 : t.hour % 12;
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d:%s", hour12, t.minute, t.second,
                  t.hour < 12 ? "AM" : "PM");
    return buf;
}

bool isValidDateTime(const DateTime& t) {
    return t.year >= 1 && t.year <= 9999 && t.month >= 1 && t.month <= 12 && t.day >= 1 &&
           t.day <= daysInMonth(t.year, t.month) && t.hour >= 0 && t.hour <= 23 && t.minute >= 0 &&
           t.minute <= 59 && t.second >= 0 && t.second <= 59;
}

std::optional<DateTime> parseIsoDateTime(const std::string& text) {
    DateTime t;
    char sep = 0;
    int used = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d%n", &t.year, &t.month, &t.day, &sep,
                    &t.hour, &t.minute, &t.second, &used) != 7 ||
        (sep != ' ' && sep != 'T') || static_cast<size_t>(used) != text.size() ||
        text.size() != 19 || !isValidDateTime(t)) {
        return std::nullopt;
    }
    return t;
}

}  // namespace parlix
