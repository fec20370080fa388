#include "transport/gateway_url.h"

namespace parlix {

namespace {

bool travelsUnchanged(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~' || c == ',';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

}  // namespace

std::string encodeQueryValue(std::string_view value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(value.size());
    for (char ch : value) {
        auto c = static_cast<unsigned char>(ch);
        if (travelsUnchanged(c)) {
            out.push_back(ch);
        } else {
            out.push_back('%');
            out.push_back(kDigits[c >> 4]);
            out.push_back(kDigits[c & 0x0F]);
        }
    }
    return out;
}

std::string decodeQueryValue(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        if (c == '+') {
            out.push_back(' ');
        } else if (c == '%' && i + 2 < value.size() && hexValue(value[i + 1]) >= 0 &&
                   hexValue(value[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hexValue(value[i + 1]) * 16 + hexValue(value[i + 2])));
            i += 2;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::string gatewayUrl(std::string_view scheme, std::string_view host, std::string_view path,
                       std::initializer_list<QueryItem> query) {
    std::string url;
    url.append(scheme).append(host).append(path);
    char sep = '?';
    for (const auto& [key, value] : query) {
        url.push_back(sep);
        url.append(key).push_back('=');
        url.append(encodeQueryValue(value));
        sep = '&';
    }
    return url;
}

}  // namespace parlix
