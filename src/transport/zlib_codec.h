#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace parlix {

/// One-shot zlib compression of payload text.
class ZlibCodec {
public:
    /// Replaces `text` with its zlib stream (RFC 1950) at zlib's default level. `level` is
    /// accepted for the callers' sake and not used. Never throws: on any failure, and for an
    /// empty text, `text` keeps its value.
    void CompressString(std::string& text, int level) const noexcept;
};

/// Inflates one complete zlib stream. Nothing when the data is not exactly one valid stream or
/// when the result would exceed `maxOutput` bytes.
std::optional<std::string> inflateZlibStream(std::string_view data, size_t maxOutput);

}  // namespace parlix
