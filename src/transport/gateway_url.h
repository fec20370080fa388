#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

namespace parlix {

/// Percent-encodes a query value. Letters, digits, "-._~" and "," travel unchanged, so
/// ordinary values give the same URL as plain concatenation; everything else, bytes of
/// non-ASCII characters included, becomes %XX with upper-case digits.
std::string encodeQueryValue(std::string_view value);

/// Decodes %XX escapes, and '+' as a blank as HTML forms write it; a malformed escape stays as
/// it is.
std::string decodeQueryValue(std::string_view value);

using QueryItem = std::pair<std::string_view, std::string_view>;

/// scheme + host + path + "?key=value&..." in the given order, every value encoded. The scheme
/// is written as given ("http://" or "HTTP://"); with no items there is no "?".
std::string gatewayUrl(std::string_view scheme, std::string_view host, std::string_view path,
                       std::initializer_list<QueryItem> query = {});

}  // namespace parlix
