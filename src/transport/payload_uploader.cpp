#include "transport/payload_uploader.h"

#include "base/file.h"
#include "base/text.h"
#include "transport/gateway_url.h"
#include "transport/hex.h"
#include "transport/rowset_document.h"
#include "transport/zlib_codec.h"

namespace parlix {

namespace {

constexpr int kCompressionLevel = 15;  // the level the senders name; zlib's default is used
constexpr const char* kUploadPath = "/Parlix/PostDataZSM.ASP";

}  // namespace

bool PayloadUploader::httpConnectSingle(const std::string& tcfname, std::string_view payload,
                                        const std::string& Flnm, const std::string& serverAddress,
                                        const std::string& userId,
                                        const std::function<void(bool last)>& beforePiece) {
    std::string text(payload);
    ZlibCodec{}.CompressString(text, kCompressionLevel);
    const std::string hex = StringToHex(text);
    writeFileAtomic(tcfname, hex);

    const std::string_view all(hex);
    size_t pos = 0;
    while (true) {
        m_ui.doEvents();
        if (pos + kPieceSize >= all.size()) {
            break;
        }
        if (beforePiece) {
            beforePiece(false);
        }
        if (!postPiece(all.substr(pos, kPieceSize), false, Flnm, serverAddress, userId)) {
            return false;
        }
        pos += kPieceSize;
    }
    if (beforePiece) {
        beforePiece(true);
    }
    return postPiece(all.substr(pos), true, Flnm, serverAddress, userId);
}

bool PayloadUploader::postPiece(std::string_view piece, bool last, const std::string& Flnm,
                                const std::string& serverAddress, const std::string& userId) {
    const std::string msgLen = std::to_string(piece.size());
    std::string url = gatewayUrl(
        "HTTP://", serverAddress, kUploadPath,
        {{"ID", userId}, {"MsgLen", msgLen}, {"Status", last ? "1" : "0"}, {"Flag", Flnm}});
    std::string reply = m_poster.post(url, rowsetDocument(piece), kRowsetContentType);
    if (toLower(reply) != (last ? "complete" : "done")) {
        m_ui.msgBox("Send Fail!", MsgButtons::Ok, MsgIcon::None, kAppTitle);
        return false;
    }
    return true;
}

}  // namespace parlix
