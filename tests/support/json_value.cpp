#include "support/json_value.h"

#include <stdexcept>

namespace parlix::test {

class JsonParser {
public:
    explicit JsonParser(std::string_view text) : m_text(text) {}

    JsonValue document() {
        JsonValue v = value();
        skipBlanks();
        if (m_pos != m_text.size()) {
            fail("text after the value");
        }
        return v;
    }

private:
    [[noreturn]] void fail(const std::string& why) const {
        throw std::runtime_error("JSON: " + why + " at offset " + std::to_string(m_pos));
    }

    void skipBlanks() {
        while (m_pos < m_text.size() && (m_text[m_pos] == ' ' || m_text[m_pos] == '\n' ||
                                         m_text[m_pos] == '\r' || m_text[m_pos] == '\t')) {
            ++m_pos;
        }
    }

    bool consume(std::string_view word) {
        if (m_text.substr(m_pos, word.size()) == word) {
            m_pos += word.size();
            return true;
        }
        return false;
    }

    void expect(char c) {
        skipBlanks();
        if (m_pos >= m_text.size() || m_text[m_pos] != c) {
            fail(std::string("expected '") + c + "'");
        }
        ++m_pos;
    }

    JsonValue value() {
        skipBlanks();
        if (m_pos >= m_text.size()) {
            fail("unexpected end");
        }
        JsonValue v;
        char c = m_text[m_pos];
        if (c == '{') {
            v.m_value = object();
        } else if (c == '[') {
            v.m_value = array();
        } else if (c == '"') {
            v.m_value = string();
        } else if (consume("true")) {
            v.m_value = true;
        } else if (consume("false")) {
            v.m_value = false;
        } else if (consume("null")) {
            v.m_value = std::monostate{};
        } else {
            v.m_value = number();
        }
        return v;
    }

    std::shared_ptr<JsonValue::Object> object() {
        auto obj = std::make_shared<JsonValue::Object>();
        expect('{');
        skipBlanks();
        if (consume("}")) {
            return obj;
        }
        while (true) {
            skipBlanks();
            std::string key = string();
            expect(':');
            (*obj)[key] = value();
            skipBlanks();
            if (consume("}")) {
                return obj;
            }
            expect(',');
        }
    }

    std::shared_ptr<JsonValue::Array> array() {
        auto arr = std::make_shared<JsonValue::Array>();
        expect('[');
        skipBlanks();
        if (consume("]")) {
            return arr;
        }
        while (true) {
            arr->push_back(value());
            skipBlanks();
            if (consume("]")) {
                return arr;
            }
            expect(',');
        }
    }

    unsigned hex4() {
        if (m_pos + 4 > m_text.size()) {
            fail("short \\u escape");
        }
        unsigned v =
            static_cast<unsigned>(std::stoul(std::string(m_text.substr(m_pos, 4)), nullptr, 16));
        m_pos += 4;
        return v;
    }

    static void appendUtf8(std::string& out, unsigned cp) {
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }

    std::string string() {
        expect('"');
        std::string out;
        while (true) {
            if (m_pos >= m_text.size()) {
                fail("unterminated string");
            }
            char c = m_text[m_pos++];
            if (c == '"') {
                return out;
            }
            if (c != '\\') {
                out.push_back(c);
                continue;
            }
            if (m_pos >= m_text.size()) {
                fail("unterminated escape");
            }
            char e = m_text[m_pos++];
            switch (e) {
                case '"':
                    out.push_back('"');
                    break;
                case '\\':
                    out.push_back('\\');
                    break;
                case '/':
                    out.push_back('/');
                    break;
                case 'b':
                    out.push_back('\b');
                    break;
                case 'f':
                    out.push_back('\f');
                    break;
                case 'n':
                    out.push_back('\n');
                    break;
                case 'r':
                    out.push_back('\r');
                    break;
                case 't':
                    out.push_back('\t');
                    break;
                case 'u': {
                    unsigned cp = hex4();
                    if (cp >= 0xD800 && cp <= 0xDBFF && consume("\\u")) {
                        unsigned lo = hex4();
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                    }
                    appendUtf8(out, cp);
                    break;
                }
                default:
                    fail("bad escape");
            }
        }
    }

    long long number() {
        size_t start = m_pos;
        if (m_pos < m_text.size() && m_text[m_pos] == '-') {
            ++m_pos;
        }
        while (m_pos < m_text.size() && m_text[m_pos] >= '0' && m_text[m_pos] <= '9') {
            ++m_pos;
        }
        if (m_pos == start || (m_pos == start + 1 && m_text[start] == '-')) {
            fail("unexpected character");
        }
        return std::stoll(std::string(m_text.substr(start, m_pos - start)));
    }

    std::string_view m_text;
    size_t m_pos = 0;
};

JsonValue JsonValue::parse(std::string_view text) {
    return JsonParser(text).document();
}

namespace {

[[noreturn]] void wrongType(const char* wanted) {
    throw std::runtime_error(std::string("JSON value is not ") + wanted);
}

}  // namespace

const std::string& JsonValue::str() const {
    if (const auto* s = std::get_if<std::string>(&m_value)) {
        return *s;
    }
    wrongType("a string");
}

long long JsonValue::num() const {
    if (const auto* n = std::get_if<long long>(&m_value)) {
        return *n;
    }
    wrongType("a number");
}

bool JsonValue::boolean() const {
    if (const auto* b = std::get_if<bool>(&m_value)) {
        return *b;
    }
    wrongType("a boolean");
}

const JsonValue::Array& JsonValue::array() const {
    if (const auto* a = std::get_if<std::shared_ptr<Array>>(&m_value)) {
        return **a;
    }
    wrongType("an array");
}

const JsonValue::Object& JsonValue::object() const {
    if (const auto* o = std::get_if<std::shared_ptr<Object>>(&m_value)) {
        return **o;
    }
    wrongType("an object");
}

const JsonValue& JsonValue::operator[](const std::string& key) const {
    auto it = object().find(key);
    if (it == object().end()) {
        throw std::runtime_error("JSON object has no member " + key);
    }
    return it->second;
}

const JsonValue& JsonValue::at(size_t index) const {
    return array().at(index);
}

size_t JsonValue::size() const {
    return std::holds_alternative<std::shared_ptr<Object>>(m_value) ? object().size()
                                                                    : array().size();
}

bool JsonValue::has(const std::string& key) const {
    return object().count(key) > 0;
}

}  // namespace parlix::test
