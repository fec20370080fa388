#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace parlix {

/// Removes leading and trailing blanks (the space character only).
std::string trimSpaces(std::string_view s);
/// ASCII upper case.
std::string toUpper(std::string_view s);
/// ASCII lower case.
std::string toLower(std::string_view s);
/// ASCII comparison without regard to case.
bool iequals(std::string_view a, std::string_view b);
/// Does `s` begin with `prefix`, without regard to case?
bool istartsWith(std::string_view s, std::string_view prefix);
/// Splits at every occurrence of `sep`; an empty text gives one empty piece.
std::vector<std::string> split(std::string_view s, std::string_view sep);
/// Replaces every occurrence of `from`, in one pass from left to right.
std::string replaceAll(std::string_view s, std::string_view from, std::string_view to);
/// The leading whole number of a text, as a conversion that accepts a leading number would
/// read it ("12abc" is 12, "" and "x" are 0).
double leadingNumber(std::string_view s);
/// A text read as a whole number the way an integer conversion does: blanks around it are
/// ignored, a fraction is rounded half to even; nothing for a text that is not a number or does
/// not fit `bits` (16 or 32).
std::optional<std::int64_t> toWholeNumber(std::string_view s, int bits);
/// The shortest decimal text that reads back as the same double.
std::string shortestDecimal(double v);

}  // namespace parlix
