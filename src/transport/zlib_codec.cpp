#include "transport/zlib_codec.h"

#include <zlib.h>
#include <climits>
#include <new>

namespace parlix {

namespace {

// Keeps inflate's stream released however the loop ends.
class InflateStream {
public:
    InflateStream() { m_ok = inflateInit(&m_stream) == Z_OK; }
    ~InflateStream() {
        if (m_ok) {
            inflateEnd(&m_stream);
        }
    }
    InflateStream(const InflateStream&) = delete;
    InflateStream& operator=(const InflateStream&) = delete;

    bool ok() const { return m_ok; }
    z_stream& get() { return m_stream; }

private:
    z_stream m_stream{};
    bool m_ok = false;
};

}  // namespace

void ZlibCodec::CompressString(std::string& text, int /*level*/) const noexcept {
    try {
        if (text.empty() || text.size() > ULONG_MAX) {
            return;
        }
        auto sourceLength = static_cast<uLong>(text.size());
        uLongf outLength = compressBound(sourceLength);
        std::string out(outLength, '\0');
        int rc = compress(reinterpret_cast<Bytef*>(out.data()), &outLength,
                          reinterpret_cast<const Bytef*>(text.data()), sourceLength);
        if (rc != Z_OK) {
            return;
        }
        out.resize(outLength);
        text = std::move(out);
    } catch (const std::bad_alloc&) {
        // Compression is best effort by contract: the caller goes on with the text as it was.
    }
}

std::optional<std::string> inflateZlibStream(std::string_view data, size_t maxOutput) {
    if (data.size() > UINT_MAX) {
        return std::nullopt;
    }
    InflateStream stream;
    if (!stream.ok()) {
        return std::nullopt;
    }
    z_stream& zs = stream.get();
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    std::string out;
    char chunk[16384];
    while (true) {
        zs.next_out = reinterpret_cast<Bytef*>(chunk);
        zs.avail_out = sizeof chunk;
        int rc = inflate(&zs, Z_NO_FLUSH);
        size_t produced = sizeof chunk - zs.avail_out;
        if (out.size() + produced > maxOutput) {
            return std::nullopt;
        }
        out.append(chunk, produced);
        if (rc == Z_STREAM_END) {
            return zs.avail_in == 0 ? std::optional<std::string>(std::move(out)) : std::nullopt;
        }
        if (rc != Z_OK || (produced == 0 && zs.avail_in == 0)) {
            return std::nullopt;
        }
    }
}

}  // namespace parlix
