#include "db/value.h"

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

}  // namespace parlix
