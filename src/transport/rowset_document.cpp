#include "transport/rowset_document.h"

namespace parlix {

const std::array<std::string_view, 12> kRowsetTemplateFragments = {
    R"(<xml xmlns:s="uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882" xmlns:dt="uuid:C2F41010-65B3-11d1-A29F-00AA00C14882" xmlns:rs="urn:schemas-microsoft-com:rowset" xmlns:z="#RowsetSchema">)",
    R"(   <s:Schema id="RowsetSchema">)",
    R"(       <s:ElementType name="row" content="eltOnly">)",
    R"(           <s:AttributeType name="Msg_Text" rs:number="2" rs:nullable="true" rs:maydefer="true" rs:writeunknown="true">)",
    R"(               <s:datatype dt:type="string" dt:maxLength="536870910" rs:long="true"/>)",
    R"(           </s:AttributeType>)",
    R"(           <s:extends type="rs:rowbase"/>)",
    R"(       </s:ElementType>)",
    R"(   </s:Schema>)",
    R"(   <rs:data>)",
    R"(   </rs:data>)",
    R"(</xml>)",
};

namespace {

constexpr size_t kDataOpenIndex = 9;

std::string escapeAttribute(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            case '\t':
                out += "&#9;";
                break;
            case '\n':
                out += "&#10;";
                break;
            case '\r':
                out += "&#13;";
                break;
            default:
                out.push_back(c);
        }
    }
    return out;
}

std::optional<std::string> unescapeAttribute(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '&') {
            out.push_back(text[i]);
            continue;
        }
        size_t end = text.find(';', i);
        if (end == std::string_view::npos) {
            return std::nullopt;
        }
        std::string_view entity = text.substr(i + 1, end - i - 1);
        if (entity == "amp") {
            out.push_back('&');
        } else if (entity == "lt") {
            out.push_back('<');
        } else if (entity == "gt") {
            out.push_back('>');
        } else if (entity == "quot") {
            out.push_back('"');
        } else if (entity == "apos") {
            out.push_back('\'');
        } else if (entity == "#9") {
            out.push_back('\t');
        } else if (entity == "#10") {
            out.push_back('\n');
        } else if (entity == "#13") {
            out.push_back('\r');
        } else {
            return std::nullopt;
        }
        i = end;
    }
    return out;
}

}  // namespace

std::string rowsetTemplate() {
    std::string out;
    for (std::string_view f : kRowsetTemplateFragments) {
        out.append(f);
    }
    return out;
}

std::string rowsetDocument(std::string_view msgText) {
    std::string out;
    for (size_t i = 0; i < kRowsetTemplateFragments.size(); ++i) {
        out.append(kRowsetTemplateFragments[i]);
        if (i == kDataOpenIndex) {
            // A row added to a disconnected rowset and not yet sent anywhere is saved as a
            // pending insert.
            out.append("<rs:insert><z:row Msg_Text=\"");
            out.append(escapeAttribute(msgText));
            out.append("\"/></rs:insert>");
        }
    }
    return out;
}

std::optional<std::string> rowsetMsgText(std::string_view document) {
    if (document.find(kRowsetTemplateFragments[0]) == std::string_view::npos ||
        document.find(R"(<s:AttributeType name="Msg_Text")") == std::string_view::npos) {
        return std::nullopt;
    }
    size_t row = document.find("<z:row");
    if (row == std::string_view::npos ||
        document.find("<z:row", row + 1) != std::string_view::npos) {
        return std::nullopt;
    }
    size_t tagEnd = document.find('>', row);
    if (tagEnd == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view tag = document.substr(row, tagEnd - row);
    size_t attr = tag.find(" Msg_Text=");
    if (attr == std::string_view::npos || attr + 11 > tag.size()) {
        return std::nullopt;
    }
    char quote = tag[attr + 10];
    if (quote != '"' && quote != '\'') {
        return std::nullopt;
    }
    size_t valueStart = attr + 11;
    size_t valueEnd = tag.find(quote, valueStart);
    if (valueEnd == std::string_view::npos) {
        return std::nullopt;
    }
    return unescapeAttribute(tag.substr(valueStart, valueEnd - valueStart));
}

}  // namespace parlix
