#include "base/text.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace parlix {

std::string trimSpaces(std::string_view s) {
    size_t b = s.find_first_not_of(' ');
    if (b == std::string_view::npos) {
        return {};
    }
    size_t e = s.find_last_not_of(' ');
    return std::string(s.substr(b, e - b + 1));
}

std::string toUpper(std::string_view s) {
    std::string r(s);
    for (char& c : r) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return r;
}

std::string toLower(std::string_view s) {
    std::string r(s);
    for (char& c : r) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return r;
}

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

bool istartsWith(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && iequals(s.substr(0, prefix.size()), prefix);
}

std::vector<std::string> split(std::string_view s, std::string_view sep) {
    std::vector<std::string> out;
    size_t start = 0;
    while (true) {
        size_t pos = sep.empty() ? std::string_view::npos : s.find(sep, start);
        if (pos == std::string_view::npos) {
            out.emplace_back(s.substr(start));
            return out;
        }
        out.emplace_back(s.substr(start, pos - start));
        start = pos + sep.size();
    }
}

std::string replaceAll(std::string_view s, std::string_view from, std::string_view to) {
    if (from.empty()) {
        return std::string(s);
    }
    std::string out;
    out.reserve(s.size());
    size_t start = 0;
    while (true) {
        size_t pos = s.find(from, start);
        if (pos == std::string_view::npos) {
            out.append(s.substr(start));
            return out;
        }
        out.append(s.substr(start, pos - start));
        out.append(to);
        start = pos + from.size();
    }
}

double leadingNumber(std::string_view s) {
    std::string text(s);
    const char* begin = text.c_str();
    while (*begin == ' ' || *begin == '\t') {
        ++begin;
    }
    char* end = nullptr;
    double v = std::strtod(begin, &end);
    return end == begin ? 0.0 : v;
}

std::optional<std::int64_t> toWholeNumber(std::string_view s, int bits) {
    std::string t = trimSpaces(s);
    if (t.empty()) {
        return std::nullopt;
    }
    char* end = nullptr;
    double d = std::strtod(t.c_str(), &end);
    if (end != t.c_str() + t.size() || std::isnan(d)) {
        return std::nullopt;
    }
    double r = std::nearbyint(d);  // the default rounding mode rounds half to even
    double limit = std::ldexp(1.0, bits - 1);
    if (r < -limit || r > limit - 1) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(r);
}

std::string shortestDecimal(double v) {
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, res.ptr);
}

}  // namespace parlix
