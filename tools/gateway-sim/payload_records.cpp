#include "payload_records.h"

#include <cerrno>

#include "base/text.h"

namespace parlix::sim {

namespace {

Error invalid(const std::string& why) {
    return Error{EINVAL, why};
}

}  // namespace

Result<std::pair<PayloadKind, std::string>> kindOfFlag(std::string_view flag) {
    static const std::pair<std::string_view, PayloadKind> kSuffixes[] = {
        {"_TAG", PayloadKind::Tag}, {"_NWT", PayloadKind::Nwt}, {"_NWM", PayloadKind::Nwm}};
    for (const auto& [suffix, kind] : kSuffixes) {
        if (flag.size() > suffix.size() && flag.ends_with(suffix)) {
            return std::pair{kind, std::string(flag.substr(0, flag.size() - suffix.size()))};
        }
    }
    return invalid("flag does not end in _TAG, _NWT or _NWM");
}

const char* kindName(PayloadKind kind) {
    switch (kind) {
        case PayloadKind::Tag:
            return "TAG";
        case PayloadKind::Nwt:
            return "NWT";
        case PayloadKind::Nwm:
            return "NWM";
    }
    return "";
}

Result<DecodedPayload> decodeRecords(PayloadKind kind, std::string_view bytes) {
    DecodedPayload payload;
    payload.kind = kind;
    if (kind == PayloadKind::Tag) {
        std::vector<std::string> ids = split(bytes, "\r\n");
        if (ids.size() != 2) {
            return invalid("header file must be CDMAID CR LF GSMID");
        }
        payload.cdmaId = ids[0];
        payload.gsmId = ids[1];
        return payload;
    }
    if (bytes.empty()) {
        return payload;
    }
    // Every record ends in CR LF, so the last piece of the split is the empty text after it.
    std::vector<std::string> lines = split(bytes, "\r\n");
    size_t emptyLines = 0;
    size_t i = 0;
    while (i < lines.size()) {
        if (i + 1 == lines.size() && lines[i].empty()) {
            break;
        }
        if (lines[i].empty()) {
            ++emptyLines;
            ++i;
            continue;
        }
        const std::string where = "record " + std::to_string(payload.records.size() + 1);
        if (kind == PayloadKind::Nwt && !payload.records.empty() && emptyLines == 0) {
            return invalid(where + " is not separated from the one before by an empty line");
        }
        if (kind == PayloadKind::Nwm && emptyLines > 0) {
            return invalid(where + " follows an empty line");
        }
        const std::string& header = lines[i];
        size_t first = header.find('#');
        size_t last = header.rfind('#');
        if (first == std::string::npos || first == last) {
            return invalid(where + " has no number#message id#type line");
        }
        PayloadRecord r;
        r.number = header.substr(0, first);
        r.messageId = header.substr(first + 1, last - first - 1);
        r.type = header.substr(last + 1);
        if (r.messageId.empty() || r.type.empty()) {
            return invalid(where + " lacks a message id or a type");
        }
        if (i + 2 >= lines.size()) {
            return invalid(where + " has no text line ended by CR LF");
        }
        r.text = lines[i + 1];
        payload.records.push_back(std::move(r));
        emptyLines = 0;
        i += 2;
    }
    if (kind == PayloadKind::Nwm && emptyLines > 0) {
        return invalid("empty line after the last record");
    }
    return payload;
}

}  // namespace parlix::sim
