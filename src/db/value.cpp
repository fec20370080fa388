#include "db/value.h"

#include <cstdlib>

#include "base/text.h"

namespace parlix {

std::string Value::toText() const {
    if (isNull()) {
        return {};
    }
    if (isInteger()) {
        return std::to_string(integer());
    }
    if (isDouble()) {
        return shortestDecimal(real());
    }
    return text();
}

std::optional<double> Value::toNumber() const {
    if (isInteger()) {
        return static_cast<double>(integer());
    }
    if (isDouble()) {
        return real();
    }
    if (isText()) {
        std::string t = trimSpaces(text());
        if (t.empty()) {
            return std::nullopt;
        }
        char* end = nullptr;
        double d = std::strtod(t.c_str(), &end);
        if (end == t.c_str() + t.size()) {
            return d;
        }
    }
    return std::nullopt;
}

}  // namespace parlix
