#include "csv.h"

namespace parlix {

Result<std::vector<CsvRecord>> parseCsv(const std::string& text) {
    std::vector<CsvRecord> records;
    CsvRecord current;
    std::string field;
    bool quoted = false;
    bool fieldWasQuoted = false;
    int line = 1;
    current.line = 1;
    auto endRecord = [&]() {
        current.fields.push_back(field);
        bool blank = current.fields.size() == 1 && current.fields[0].empty() && !fieldWasQuoted;
        if (!blank) {
            records.push_back(current);
        }
        current = CsvRecord{};
        current.line = line;
        field.clear();
        fieldWasQuoted = false;
    };
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (quoted) {
            if (c == '"') {
                if (i + 1 < text.size() && text[i + 1] == '"') {
                    field += '"';
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                if (c == '\n') {
                    ++line;
                }
                field += c;
            }
            continue;
        }
        if (c == '"') {
            if (!field.empty() || fieldWasQuoted) {
                return Error{line,
                             "line " + std::to_string(line) + ": a quote inside an unquoted field"};
            }
            quoted = true;
            fieldWasQuoted = true;
        } else if (c == ',') {
            current.fields.push_back(field);
            field.clear();
            fieldWasQuoted = false;
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;
        } else if (c == '\n') {
            ++line;
            endRecord();
        } else {
            if (fieldWasQuoted) {
                return Error{line, "line " + std::to_string(line) +
                                       ": text after the closing quote of a field"};
            }
            field += c;
        }
    }
    if (quoted) {
        return Error{current.line,
                     "line " + std::to_string(current.line) + ": a quoted field is never closed"};
    }
    endRecord();
    return records;
}

}  // namespace parlix
