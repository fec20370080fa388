#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "base/ui.h"
#include "transport/http_client.h"

namespace parlix {

/// Moves one payload file to the gateway: the file is rewritten as the upper-case hex text of
/// its zlib stream, and that text is posted in pieces of 2048 characters, each the one row of a
/// rowset document.
class PayloadUploader {
public:
    /// `poster` must be a client without proxy settings: the upload always goes direct.
    PayloadUploader(HttpClient& poster, Ui& ui) : m_poster(poster), m_ui(ui) {}

    /// Uploads `payload`, the bytes of the payload file `tcfname`, under the flag text `Flnm`
    /// to the gateway host `serverAddress` as user `userId` (sent untrimmed). The file is
    /// rewritten with the hex text first. `beforePiece` runs just before each piece is posted,
    /// told whether it is the last, after which the gateway may hold the whole file; what it
    /// raises stops the upload there. Returns the new value of uploadOk: true when the gateway
    /// answered every piece as expected, false after a refused piece, which shows "Send Fail!" once
    /// and sends nothing more. File errors (FileError) and failed transfers (TransferError) are
    /// thrown to the caller.
    bool httpConnectSingle(const std::string& tcfname, std::string_view payload,
                           const std::string& Flnm, const std::string& serverAddress,
                           const std::string& userId,
                           const std::function<void(bool last)>& beforePiece = {});

    static constexpr size_t kPieceSize = 2048;

private:
    bool postPiece(std::string_view piece, bool last, const std::string& Flnm,
                   const std::string& serverAddress, const std::string& userId);

    HttpClient& m_poster;
    Ui& m_ui;
};

}  // namespace parlix
