#pragma once

#include <string>
#include <vector>

#include "base/result.h"

namespace parlix {

/// One record of a CSV text and the line it starts on.
struct CsvRecord {
    int line = 0;
    std::vector<std::string> fields;
};

/// Reads CSV text: comma-separated fields, double quotes around a field that holds commas,
/// quotes or line breaks, a doubled quote inside such a field. Blank lines are skipped. An
/// Error names the line of a malformed record.
Result<std::vector<CsvRecord>> parseCsv(const std::string& text);

}  // namespace parlix
