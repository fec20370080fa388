#include "support/json_value.h"

#include <stdexcept>

namespace parlix::test {

namespace {

template <typename F>
auto checked(F&& read) {
    try {
        return read();
    } catch (const nlohmann::json::exception& e) {
        throw std::runtime_error(std::string("JSON: ") + e.what());
    }
}

}  // namespace

JsonValue JsonValue::parse(std::string_view text) {
    return checked([&] { return JsonValue(nlohmann::json::parse(text)); });
}

std::string JsonValue::str() const {
    return checked([&] { return m_json.get<std::string>(); });
}

long long JsonValue::num() const {
    return checked([&] {
        if (!m_json.is_number_integer()) {
            throw std::runtime_error("JSON: not a whole number: " + m_json.dump());
        }
        return m_json.get<long long>();
    });
}

bool JsonValue::boolean() const {
    return checked([&] { return m_json.get<bool>(); });
}

JsonValue::Array JsonValue::array() const {
    if (!m_json.is_array()) {
        throw std::runtime_error("JSON: not an array: " + m_json.dump());
    }
    Array out;
    for (const auto& v : m_json) {
        out.emplace_back(v);
    }
    return out;
}

JsonValue::Object JsonValue::object() const {
    if (!m_json.is_object()) {
        throw std::runtime_error("JSON: not an object: " + m_json.dump());
    }
    Object out;
    for (const auto& [k, v] : m_json.items()) {
        out.emplace(k, JsonValue(v));
    }
    return out;
}

JsonValue JsonValue::operator[](const std::string& key) const {
    return checked([&] { return JsonValue(m_json.at(key)); });
}

JsonValue JsonValue::at(size_t index) const {
    return checked([&] { return JsonValue(m_json.at(index)); });
}

size_t JsonValue::size() const {
    if (!m_json.is_array() && !m_json.is_object()) {
        throw std::runtime_error("JSON: no size for " + m_json.dump());
    }
    return m_json.size();
}

bool JsonValue::has(const std::string& key) const {
    return m_json.is_object() && m_json.contains(key);
}

}  // namespace parlix::test
