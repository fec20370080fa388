#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace parlix::sim {

/// Builds one JSON text. Strings are written as UTF-8; a byte that is not part of a well-formed
/// UTF-8 sequence is written as U+FFFD, so the output is always valid JSON.
class JsonWriter {
public:
    JsonWriter& beginObject();
    JsonWriter& endObject();
    JsonWriter& beginArray();
    JsonWriter& endArray();
    JsonWriter& key(std::string_view name);
    JsonWriter& value(std::string_view text);
    JsonWriter& value(const char* text) { return value(std::string_view(text)); }
    JsonWriter& value(long long number);
    JsonWriter& value(int number) { return value(static_cast<long long>(number)); }
    JsonWriter& value(bool flag);
    /// Inserts an already written JSON value.
    JsonWriter& raw(std::string_view json);

    const std::string& str() const { return m_out; }

private:
    void separate();

    std::string m_out;
    std::vector<bool> m_hasItems;
    bool m_afterKey = false;
};

}  // namespace parlix::sim
