#include "transport/code_page.h"

#include <cerrno>
#include <stdexcept>
#include <utility>

#include "base/text.h"

namespace parlix {

namespace {

const iconv_t kNoConversion = reinterpret_cast<iconv_t>(-1);

// Length of the well-formed UTF-8 sequence at the start of `s`, or 0 when it is malformed.
size_t utf8SequenceLength(std::string_view s) {
    auto b0 = static_cast<unsigned char>(s[0]);
    size_t len = 0;
    if (b0 < 0x80) {
        return 1;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
    } else {
        return 0;
    }
    if (s.size() < len) {
        return 0;
    }
    for (size_t i = 1; i < len; ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
            return 0;
        }
    }
    auto b1 = static_cast<unsigned char>(s[1]);
    if ((b0 == 0xE0 && b1 < 0xA0) || (b0 == 0xED && b1 > 0x9F) || (b0 == 0xF0 && b1 < 0x90) ||
        (b0 == 0xF4 && b1 > 0x8F)) {
        return 0;
    }
    return len;
}

bool namesUtf8(const std::string& charset) {
    return iequals(charset, "UTF-8") || iequals(charset, "UTF8");
}

}  // namespace

Result<CodePageConverter> CodePageConverter::open(const std::string& from, const std::string& to) {
    iconv_t cd = iconv_open(to.c_str(), from.c_str());
    if (cd == kNoConversion) {
        return Error{errno, "no conversion from " + from + " to " + to};
    }
    return CodePageConverter(cd, namesUtf8(from));
}

CodePageConverter::~CodePageConverter() {
    if (m_cd != kNoConversion) {
        iconv_close(m_cd);
    }
}

CodePageConverter::CodePageConverter(CodePageConverter&& other) noexcept
    : m_cd(std::exchange(other.m_cd, kNoConversion)), m_fromUtf8(other.m_fromUtf8) {}

CodePageConverter& CodePageConverter::operator=(CodePageConverter&& other) noexcept {
    if (this != &other) {
        if (m_cd != kNoConversion) {
            iconv_close(m_cd);
        }
        m_cd = std::exchange(other.m_cd, kNoConversion);
        m_fromUtf8 = other.m_fromUtf8;
    }
    return *this;
}

std::string CodePageConverter::convert(std::string_view text) {
    iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
    std::string out;
    char buf[4096];
    size_t pos = 0;
    while (pos < text.size()) {
        // iconv's prototype takes a non-const input pointer but never writes through it.
        char* in = const_cast<char*>(text.data() + pos);
        size_t inLeft = text.size() - pos;
        char* outPtr = buf;
        size_t outLeft = sizeof buf;
        size_t rc = iconv(m_cd, &in, &inLeft, &outPtr, &outLeft);
        int err = errno;
        out.append(buf, static_cast<size_t>(outPtr - buf));
        pos = text.size() - inLeft;
        if (rc != static_cast<size_t>(-1) || err == E2BIG) {
            continue;
        }
        out.push_back('?');
        if (err == EINVAL) {
            break;  // a truncated sequence at the very end
        }
        // EILSEQ: a character the target lacks, or a malformed sequence.
        size_t skip = 1;
        if (m_fromUtf8 && err == EILSEQ) {
            size_t len = utf8SequenceLength(text.substr(pos));
            skip = len == 0 ? 1 : len;
        }
        pos += skip;
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

std::string toPayloadCodePage(std::string_view utf8, const std::string& codePage) {
    Result<CodePageConverter> conv = CodePageConverter::open("UTF-8", codePage);
    if (!conv) {
        throw std::invalid_argument(conv.error().message);
    }
    return std::move(conv).value().convert(utf8);
}

}  // namespace parlix
