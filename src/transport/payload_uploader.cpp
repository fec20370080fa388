#include "transport/payload_uploader.h"

#include <stdexcept>

#include "base/text.h"
#include "transport/file_helpers.h"
#include "transport/gateway_url.h"
#include "transport/hex.h"
#include "transport/rowset_document.h"
#include "transport/zlib_codec.h"

namespace parlix {

namespace {

constexpr int kCompressionLevel = 15;  // passed as the callers always have; zlib ignores it
constexpr const char* kUploadPath = "/Parlix/PostDataZSM.ASP";

}  // namespace

bool PayloadUploader::httpConnectSingle(const std::string& tcfname, const std::string& Flnm,
                                        const std::string& serverAddress,
                                        const std::string& userId) {
    std::string text = ReadWholeFile(tcfname);
    ZlibCodec{}.CompressString(text, kCompressionLevel);
    WriteWholeFile(tcfname, StringToHex(text));

    SequentialFile file(tcfname);
    const long long length = file.length();
    const auto pieceSize = static_cast<long long>(kPieceSize);
    long long pos = 0;
    std::string buffer;
    while (true) {
        m_ui.doEvents();
        buffer = file.read(kPieceSize);
        if (pos >= length - pieceSize) {
            break;
        }
        if (static_cast<long long>(buffer.size()) != pieceSize) {
            throw std::runtime_error("payload file " + tcfname + " shrank during the upload");
        }
        if (toLower(postPiece(buffer, false, Flnm, serverAddress, userId)) != "done") {
            m_ui.msgBox("Send Fail!", MsgButtons::Ok, MsgIcon::None, kAppTitle);
            return false;
        }
        pos += pieceSize;
    }
    const auto lastLength = static_cast<size_t>(length - pos);
    if (buffer.size() < lastLength) {
        throw std::runtime_error("payload file " + tcfname + " shrank during the upload");
    }
    buffer.resize(lastLength);
    if (toLower(postPiece(buffer, true, Flnm, serverAddress, userId)) != "complete") {
        m_ui.msgBox("Send Fail!", MsgButtons::Ok, MsgIcon::None, kAppTitle);
        return false;
    }
    return true;
}

std::string PayloadUploader::postPiece(const std::string& piece, bool last, const std::string& Flnm,
                                       const std::string& serverAddress,
                                       const std::string& userId) {
    const std::string msgLen = std::to_string(piece.size());
    std::string url = gatewayUrl(
        "HTTP://", serverAddress, kUploadPath,
        {{"ID", userId}, {"MsgLen", msgLen}, {"Status", last ? "1" : "0"}, {"Flag", Flnm}});
    return m_poster.post(url, rowsetDocument(piece), kRowsetContentType);
}

}  // namespace parlix
