#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace parlix {

/// Two upper-case hex digits per byte, high digit first, with no separators.
std::string StringToHex(std::string_view text);

/// The bytes behind upper-case hex text; nothing for an odd length or any other character.
std::optional<std::string> hexToBytes(std::string_view hex);

/// True when every character is 0-9 or A-F.
bool isUpperHex(std::string_view text);

}  // namespace parlix
