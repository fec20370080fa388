#include "sys/counter_query.h"

#include <charconv>
#include <cmath>

#include "base/text.h"

namespace parlix {
namespace {

/// Text values end at their first NUL, as the zero-terminated text they stand for.
template <typename Char>
std::basic_string_view<Char> upToNul(const std::basic_string<Char>& s) {
    return std::basic_string_view<Char>(s).substr(0, s.find(Char{}));
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

/// UTF-16 to the UTF-8 the rest of the program works in; a lone surrogate becomes U+FFFD.
std::string utf8FromUtf16(std::u16string_view in) {
    std::string out;
    for (std::size_t i = 0; i < in.size(); ++i) {
        char32_t c = in[i];
        const bool high = c >= 0xD800 && c <= 0xDBFF;
        const bool low = c >= 0xDC00 && c <= 0xDFFF;
        if (high && i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (in[i + 1] - 0xDC00);
            ++i;
        } else if (high || low) {
            c = 0xFFFD;
        }
        appendUtf8(out, c);
    }
    return out;
}

/// The value rounded to a whole number in upper-case hexadecimal digits; no digits for a value
/// no whole number can hold.
std::string hexText(double value) {
    const double whole = std::round(value);
    if (!std::isfinite(whole) || std::fabs(whole) >= 9.2e18) {
        return {};
    }
    char buf[32];
    auto res = std::to_chars(buf, buf + sizeof buf, static_cast<long long>(whole), 16);
    return toUpper(std::string_view(buf, static_cast<std::size_t>(res.ptr - buf)));
}

std::string_view suffixOf(std::uint32_t type) {
    switch (type & kTypeSuffixMask) {
        case kTypeSuffixPerSecond:
            return "/sec";
        case kTypeSuffixPercent:
            return "%";
        case kTypeSuffixSeconds:
            return "secs";
        default:
            return {};
    }
}

}  // namespace

CounterQuery::CounterQuery(CounterFacility& facility) : m_facility(facility) {
    // A query that fails to open stays 0; every later call then reports the facility's code for
    // a bad handle.
    if (auto query = m_facility.openQuery()) {
        m_query = query.value();
    }
}

CounterQuery::~CounterQuery() {
    if (m_query != 0) {
        m_facility.closeQuery(m_query);
    }
}

std::int32_t CounterQuery::Count() const {
    return static_cast<std::int32_t>(m_counters.size());
}

bool CounterQuery::IsCounterPath(const std::string& path) {
    return m_facility.validatePath(path) == kCounterOk;
}

std::int32_t CounterQuery::AddCounter(const std::string& path) {
    if (!IsCounterPath(path)) {
        return -1;
    }
    auto counter = m_facility.addCounter(m_query, path);
    if (!counter) {
        return static_cast<std::int32_t>(counter.error().code);
    }
    m_counters.push_back({counter.value(), path});
    return kCounterOk;
}

bool CounterQuery::RemoveCounter(std::int32_t index) {
    if (index < 0 || index >= Count()) {
        return false;
    }
    auto entry = m_counters.begin() + index;
    const bool removed = m_facility.removeCounter(entry->handle) == kCounterOk;
    m_counters.erase(entry);
    return removed;
}

std::int32_t CounterQuery::Collect() {
    return m_facility.collectQueryData(m_query);
}

std::string CounterQuery::GetCounterData(std::int32_t index) {
    // A negative index is no counter either; it must not reach the list.
    if (index < 0 || index >= Count()) {
        return {};
    }
    auto value = m_facility.getFormattedValue(m_counters[static_cast<std::size_t>(index)].handle,
                                              kFormatDouble);
    return value ? FormatCounterValue(value.value()) : std::string();
}

std::string CounterQuery::GetFormatedCounter(std::int32_t objectIndex, const std::string& instance,
                                             std::int32_t counterIndex) {
    if (objectIndex < 0 || counterIndex < 0) {
        return {};
    }
    auto object = m_facility.lookupNameByIndex(static_cast<std::uint32_t>(objectIndex));
    auto counter = m_facility.lookupNameByIndex(static_cast<std::uint32_t>(counterIndex));
    if (!object || !counter) {
        return {};
    }
    return "\\" + object.value() + "(" + instance + ")\\" + counter.value();
}

std::string CounterQuery::FormatCounterValue(const FormattedCounter& value) {
    const std::uint32_t base = value.type & kTypeBaseMask;
    std::string text;
    if ((value.type & kTypeClassMask) != kTypeClassText) {
        text = base == kTypeBaseHexOrWide ? hexText(value.number) : shortestDecimal(value.number);
    } else if (base == kTypeBaseHexOrWide) {
        text = utf8FromUtf16(upToNul(value.wideText));
    } else if (base == kTypeBaseDecimalOrAnsi) {
        text = upToNul(value.ansiText);
    }
    return text.append(suffixOf(value.type));
}

}  // namespace parlix
