#pragma once

#include <iconv.h>
#include <string>
#include <string_view>

#include "base/result.h"

namespace parlix {

/// The 8-bit code page payload files are written in unless the configuration names another.
inline constexpr const char* kDefaultPayloadCodePage = "WINDOWS-1252";

/// Converts text between two character sets through iconv. Every character that the target
/// cannot hold, and every malformed sequence in the source, becomes exactly one '?'.
class CodePageConverter {
public:
    /// An Error when iconv knows no conversion between the two.
    static Result<CodePageConverter> open(const std::string& from, const std::string& to);
    ~CodePageConverter();
    CodePageConverter(CodePageConverter&& other) noexcept;
    CodePageConverter& operator=(CodePageConverter&& other) noexcept;
    CodePageConverter(const CodePageConverter&) = delete;
    CodePageConverter& operator=(const CodePageConverter&) = delete;

    std::string convert(std::string_view text);

private:
    CodePageConverter(iconv_t cd, bool fromUtf8) : m_cd(cd), m_fromUtf8(fromUtf8) {}

    iconv_t m_cd;
    bool m_fromUtf8;
};

/// UTF-8 text from the database as bytes of the payload code page. Throws std::invalid_argument
/// when the code page is unknown.
std::string toPayloadCodePage(std::string_view utf8, const std::string& codePage);

}  // namespace parlix
