#include "dispatch/message_format.h"

#include <cstdio>

#include "base/text.h"

namespace parlix {

std::string normalizeMessageText(std::string_view text) {
    std::string s = replaceAll(text, "\r\n", "~");
    s = replaceAll(s, "\n", "~");
    s = replaceAll(s, "\r", "~");
    s = replaceAll(s, "\xC2\xA0", "~");  // the no-break space, as the database holds it
    return replaceAll(s, "~~", "~");
}

std::size_t characterCount(std::string_view utf8) {
    std::size_t n = 0;
    for (unsigned char c : utf8) {
        if ((c & 0xC0) != 0x80) {
            ++n;
        }
    }
    return n;
}

int smsParts(std::size_t characters) {
    if (characters <= 160) {
        return 1;
    }
    if (characters <= 280) {
        return 2;
    }
    if (characters <= 420) {
        return 3;
    }
    return characters <= 560 ? 4 : 5;
}

std::string messageId(const std::string& userId, const std::string& comportNo, const DateTime& now,
                      double serial) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d%02d%02d-%02d%02d-", now.year % 100, now.month, now.day,
                  now.hour, now.minute);
    return userId + comportNo + "-" + stamp + shortestDecimal(serial);
}

std::string batchStamp(const DateTime& now, double randomFraction) {
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d_%02d%02d%02d%d%d_", now.year, now.month,
                  now.day, now.hour, now.minute, now.second, now.month, now.second);
    return stamp + std::to_string(static_cast<long>(randomFraction * 9999999));
}

std::string lastTen(const std::string& mobile) {
    return mobile.size() <= 10 ? mobile : mobile.substr(mobile.size() - 10);
}

}  // namespace parlix
