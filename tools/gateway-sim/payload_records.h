#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace parlix::sim {

/// The kind of payload file, from the suffix of its flag.
enum class PayloadKind { Tag, Nwt, Nwm };

/// One message record: "number#message id#type" CR LF "text" CR LF.
struct PayloadRecord {
    std::string number;
    std::string messageId;
    std::string type;
    std::string text;
};

/// A decoded payload, texts still in the payload code page.
struct DecodedPayload {
    PayloadKind kind = PayloadKind::Nwm;
    std::vector<PayloadRecord> records;
    std::string cdmaId;  // header file only
    std::string gsmId;   // header file only
};

/// The kind named by the flag's suffix "_TAG", "_NWT" or "_NWM", and the batch stamp before it.
Result<std::pair<PayloadKind, std::string>> kindOfFlag(std::string_view flag);

const char* kindName(PayloadKind kind);

/// Reads the plain payload bytes. A header file is "CDMAID" CR LF "GSMID". Message records of
/// an _NWT file are separated by one or more empty lines; those of an _NWM file follow each
/// other directly. An Error names what does not fit.
Result<DecodedPayload> decodeRecords(PayloadKind kind, std::string_view bytes);

}  // namespace parlix::sim
