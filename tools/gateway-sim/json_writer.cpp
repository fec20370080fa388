#include "json_writer.h"

#include <cstdio>

namespace parlix::sim {

namespace {

size_t utf8Length(std::string_view s, size_t i) {
    auto b0 = static_cast<unsigned char>(s[i]);
    size_t len = b0 < 0x80                    ? 1
                 : (b0 >= 0xC2 && b0 <= 0xDF) ? 2
                 : (b0 >= 0xE0 && b0 <= 0xEF) ? 3
                 : (b0 >= 0xF0 && b0 <= 0xF4) ? 4
                                              : 0;
    if (len == 0 || i + len > s.size()) {
        return 0;
    }
    for (size_t k = 1; k < len; ++k) {
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) {
            return 0;
        }
    }
    auto b1 = static_cast<unsigned char>(s[i + 1 < s.size() ? i + 1 : i]);
    if ((b0 == 0xE0 && b1 < 0xA0) || (b0 == 0xED && b1 > 0x9F) || (b0 == 0xF0 && b1 < 0x90) ||
        (b0 == 0xF4 && b1 > 0x8F)) {
        return 0;
    }
    return len;
}

void appendString(std::string& out, std::string_view s) {
    out.push_back('"');
    for (size_t i = 0; i < s.size();) {
        auto c = static_cast<unsigned char>(s[i]);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(static_cast<char>(c));
            ++i;
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04X", c);
            out += buf;
            ++i;
        } else if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            ++i;
        } else if (size_t len = utf8Length(s, i); len > 0) {
            out.append(s.substr(i, len));
            i += len;
        } else {
            out += "\\uFFFD";
            ++i;
        }
    }
    out.push_back('"');
}

}  // namespace

void JsonWriter::separate() {
    if (m_afterKey) {
        m_afterKey = false;
        return;
    }
    if (!m_hasItems.empty()) {
        if (m_hasItems.back()) {
            m_out.push_back(',');
        }
        m_hasItems.back() = true;
    }
}

JsonWriter& JsonWriter::beginObject() {
    separate();
    m_out.push_back('{');
    m_hasItems.push_back(false);
    return *this;
}

JsonWriter& JsonWriter::endObject() {
    m_out.push_back('}');
    m_hasItems.pop_back();
    return *this;
}

JsonWriter& JsonWriter::beginArray() {
    separate();
    m_out.push_back('[');
    m_hasItems.push_back(false);
    return *this;
}

JsonWriter& JsonWriter::endArray() {
    m_out.push_back(']');
    m_hasItems.pop_back();
    return *this;
}

JsonWriter& JsonWriter::key(std::string_view name) {
    separate();
    appendString(m_out, name);
    m_out.push_back(':');
    m_afterKey = true;
    return *this;
}

JsonWriter& JsonWriter::value(std::string_view text) {
    separate();
    appendString(m_out, text);
    return *this;
}

JsonWriter& JsonWriter::value(long long number) {
    separate();
    m_out += std::to_string(number);
    return *this;
}

JsonWriter& JsonWriter::value(bool flag) {
    separate();
    m_out += flag ? "true" : "false";
    return *this;
}

JsonWriter& JsonWriter::raw(std::string_view json) {
    separate();
    m_out.append(json);
    return *this;
}

}  // namespace parlix::sim
