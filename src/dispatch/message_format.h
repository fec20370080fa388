#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "base/date_time.h"

namespace parlix {

/// Line breaks and no-break spaces become "~", then "~~" becomes "~" in one pass.
std::string normalizeMessageText(std::string_view text);
/// Characters of a UTF-8 text (an invalid byte counts as one character).
std::size_t characterCount(std::string_view utf8);
/// SMS parts a message of `characters` characters takes: 160, 280, 420, 560, then 5.
int smsParts(std::size_t characters);
/// user id + installation number + "-" + "yyMMdd-HHmm-" + serial.
std::string messageId(const std::string& userId, const std::string& comportNo, const DateTime& now,
                      double serial);
/// The batch name: "yyyyMMdd_HHmmss", the month and second again without leading zeros, "_" and
/// a random number below 9999999. The month and second appear twice because that is the form
/// the gateway knows batch names by.
std::string batchStamp(const DateTime& now, double randomFraction);
/// The last 10 characters of a number (all of it when shorter).
std::string lastTen(const std::string& mobile);

}  // namespace parlix
