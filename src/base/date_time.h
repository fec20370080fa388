#pragma once

#include <optional>
#include <string>

namespace parlix {

/// A local calendar date and time of day, as the clock reports it.
struct DateTime {
    int year = 1970;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

/// "YYYY-MM-DD HH:MM:SS", the form dates and times are stored in.
std::string isoDateTime(const DateTime& t);
/// "YYYY-MM-DD".
std::string isoDate(const DateTime& t);
/// "HH:MM:SS".
std::string isoTime(const DateTime& t);
/// The system's general date-and-time form used in log lines: "12/6/2026 3:04:05 PM".
std::string generalDateTime(const DateTime& t);
/// The clock caption "HH:mm:SS:AMPM" on the 12-hour clock: "03:45:07:PM".
std::string clockCaption(const DateTime& t);
/// Reads "YYYY-MM-DD HH:MM:SS" (or "YYYY-MM-DDTHH:MM:SS"); nothing for other text or an
/// impossible date.
std::optional<DateTime> parseIsoDateTime(const std::string& text);
/// True when year, month, day and time of day name a real moment.
bool isValidDateTime(const DateTime& t);

}  // namespace parlix
