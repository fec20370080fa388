#include "dispatch/batch_sender.h"

#include <algorithm>
#include <cerrno>
#include <optional>

#include "base/clock.h"
#include "base/date_time.h"
#include "base/file.h"
#include "base/random.h"
#include "base/text.h"
#include "base/ui.h"
#include "db/recordset.h"
#include "db/transaction.h"
#include "dispatch/message_format.h"
#include "model/form_model.h"
#include "transport/code_page.h"
#include "transport/gateway_url.h"
#include "transport/http_client.h"
#include "transport/payload_uploader.h"

namespace parlix {

namespace {

constexpr int kPartLimit = 2000;
constexpr long kBatchRowLimit = 2000;
constexpr const char* kDebitPassword = "pelurvintas";

}  // namespace

const SenderProfile kBatchProfile{.suffix = "_NWT",
                                  .withHeader = true,
                                  .minNumberLength = 10,
                                  .separator = "\r\n",
                                  .stampsTime = true,
                                  .captionBeforeBox = true,
                                  .logsFailedUpload = false,
                                  .debitRefused = Status::Queued,
                                  .debitRefusedLog = "Sent: Faile ",
                                  .debitRefusedTail = ""};

const SenderProfile kSingleFileProfile{.suffix = "_NWM",
                                       .withHeader = false,
                                       .minNumberLength = 0,
                                       .separator = "",
                                       .stampsTime = false,
                                       .captionBeforeBox = false,
                                       .logsFailedUpload = true,
                                       .debitRefused = Status::DelSent,
                                       .debitRefusedLog = "Message Sent but Balance not Deducted ",
                                       .debitRefusedTail = " , Contect to your vendor"};

BatchSender::BatchSender(FormModel& form, const AppEnvironment& env)
    : m_form(form), m_env(env), m_marker(env.programFolder) {}

void BatchSender::SendSmsSingleFile_NWT(const std::string& senderId) {
    send(kBatchProfile, kBatchRowLimit, senderId + "\r\n" + senderId);
}

void BatchSender::SendSmsSingleFile() {
    send(kSingleFileProfile, static_cast<long>(m_form.singleBatchSize), "");
}

void BatchSender::resumeSerial(const std::string& userId) {
    // Message ids carry the minute and a serial that starts again with every run, so a run that
    // starts within the minute of an earlier one would repeat its ids, and delivery reports would
    // land on both rows. The serial goes on after the highest one used today.
    std::string id = messageId(userId, m_form.comportNo, m_env.clock.now(), 0);
    std::string today = id.substr(0, id.size() - std::string("HHmm-0").size());
    for (const std::string& used : m_form.queue().messageIdsStartingWith(today)) {
        auto serial = toWholeNumber(used.substr(used.rfind('-') + 1), 32);
        if (serial && static_cast<double>(*serial) > m_form.messageSerial) {
            m_form.messageSerial = static_cast<double>(*serial);
        }
    }
}

void BatchSender::markDiscarded(Recordset& rs) {
    rs.setField("QDateTime", isoDate(m_env.clock.now()));
    rs.setField("Status", std::string(statusText(Status::Discarded)));
    rs.update();
}

BatchSender::Batch BatchSender::collect(const SenderProfile& profile, Recordset& rs) {
    const std::string userId = m_form.text("txtUserId");
    Batch batch;
    bool goOn = true;
    while (!rs.eof() && goOn) {
        Value message = rs.field("Message");
        std::string mobile = rs.field("Mobileno").toText();
        // A row without text or a usable number is discarded: nothing goes out for it, so it
        // must not be reported sent nor carry another message's id. A '#' or a line break in the
        // number would split the record and send the text elsewhere, or make the gateway refuse
        // every batch it is in.
        if (message.isNull() || message.toText().empty() ||
            characterCount(mobile) < profile.minNumberLength ||
            mobile.find_first_of("#\r\n") != std::string::npos) {
            markDiscarded(rs);
        } else {
            std::string text = message.toText();
            int parts = smsParts(characterCount(text));
            // Checked before anything of the row is written, so a message the balance cannot
            // pay for is neither sent nor counted; its row stays queued.
            if (m_form.smsBalance < batch.partCount + parts) {
                break;
            }
            batch.partCount += parts;
            m_form.sentSmsCount += parts;
            m_form.messageSerial += 1;
            DateTime now = m_env.clock.now();
            std::string id = messageId(userId, m_form.comportNo, now, m_form.messageSerial);
            std::string type = m_form.text("Combo2");
            batch.payload += lastTen(mobile) + "#" + id + "#" + type + "\r\n" +
                             normalizeMessageText(text) + "\r\n";
            if (batch.partCount >= kPartLimit) {
                goOn = false;
            }
            rs.setField("MessageID", id);
            rs.setField("SmsType", type);
            rs.setField("DelDate", isoTime(now));
            rs.setField("QDateTime", profile.stampsTime ? isoDateTime(now) : isoDate(now));
            rs.setField("Status", std::string(statusText(Status::Read)));
            rs.update();
            ++batch.rowsTaken;
        }
        rs.moveNext();
        if (!rs.eof()) {
            batch.payload += profile.separator;
        }
    }
    return batch;
}

std::string BatchSender::payloadFolder(const std::string& userId) {
    if (userId.find('/') != std::string::npos || userId.find('\0') != std::string::npos) {
        throw FileError(EINVAL, "the user id cannot name a payload file: it holds a '/'");
    }
    const std::string folder = m_env.programFolder + "/SMS/Pending";
    makeFolders(folder);
    return folder;
}

BatchSender::Batch BatchSender::take(const SenderProfile& profile, long rowLimit) {
    auto rs = m_form.queue().takeQueued(rowLimit);
    // One transaction for the batch's row saves: one disk sync per batch, and an error halfway
    // leaves every row as it was.
    Transaction tx(*m_form.dbConnection);
    Batch batch = collect(profile, *rs);
    tx.commit();
    return batch;
}

BatchSender::PayloadFile BatchSender::writePayload(const std::string& path,
                                                   const std::string& utf8) {
    PayloadFile file{path, toPayloadCodePage(utf8, m_env.config.payloadCodePage)};
    writeFileAtomic(file.path, file.bytes);
    return file;
}

void BatchSender::showCounts(const SenderProfile& profile, int partCount) {
    auto sentCaption = [&] {
        m_form.setText("LblSent",
                       "Sent = " + std::to_string(static_cast<long long>(m_form.sentSmsCount)));
    };
    if (profile.captionBeforeBox) {
        sentCaption();
    }
    if (m_form.smsBalance <= partCount) {
        m_env.ui.msgBox("SMS balance zero Send only " + std::to_string(m_form.smsBalance) + " SMS");
    }
    if (!profile.captionBeforeBox) {
        sentCaption();
    }
}

bool BatchSender::upload(const SenderProfile& profile, const PayloadFile* header,
                         const PayloadFile& message, const std::string& stamp, long rows,
                         const std::string& userId) {
    PayloadUploader uploader(m_env.uploader, m_env.ui);
    if (header != nullptr) {
        // Only the message file's outcome counts: the header's is overwritten by it.
        uploader.httpConnectSingle(header->path, header->bytes, stamp + "_TAG",
                                   m_form.serverAddress, userId);
    }
    const std::string flag = stamp + std::string(profile.suffix);
    // From the last piece on, the gateway may hold the whole batch: the marker says so before it
    // is posted, so that a crash or an Exit from then on never sends the batch again.
    return uploader.httpConnectSingle(message.path, message.bytes, flag, m_form.serverAddress,
                                      userId, [&] { m_marker.write(flag, rows); });
}

void BatchSender::send(const SenderProfile& profile, long rowLimit, const std::string& header) {
    m_uploadCompleted = false;
    const std::string userId = m_form.text("txtUserId");
    const std::string folder = payloadFolder(userId);
    if (!m_serialResumed) {
        resumeSerial(userId);
        m_serialResumed = true;
    }
    const Batch batch = take(profile, rowLimit);
    const PayloadFile message =
        writePayload(folder + "/" + userId + std::string(profile.suffix) + ".SMS", batch.payload);
    std::optional<PayloadFile> headerFile;
    if (profile.withHeader) {
        headerFile = writePayload(folder + "/" + userId + "_TAG.SMS", header);
    }
    showCounts(profile, batch.partCount);
    m_form.uploadOk = false;
    std::string stamp;
    if (batch.partCount != 0) {
        stamp = batchStamp(m_env.clock.now(), m_env.random.next());
        m_form.uploadOk = upload(profile, headerFile ? &*headerFile : nullptr, message, stamp,
                                 batch.rowsTaken, userId);
        m_uploadCompleted = m_form.uploadOk;
        m_form.counters.failedUploads += m_form.uploadOk ? 0 : 1;
    }
    if (!m_form.uploadOk) {
        if (profile.logsFailedUpload) {
            m_form.writeLog("Sent: Failed " + std::to_string(batch.partCount) + " " +
                            generalDateTime(m_env.clock.now()));
        }
        // A refused upload sent nothing: the rows go back to the queue.
        if (profile.logsFailedUpload || batch.partCount != 0) {
            settle(Status::Queued);
        }
        return;
    }
    debit(profile, batch.partCount, stamp);
}

void BatchSender::settle(Status to) {
    const int moved = m_form.queue().settleTaken(to);
    m_form.counters.messagesSent += to == Status::Sent || to == Status::DelSent ? moved : 0;
    m_marker.clear();
}

void BatchSender::debit(const SenderProfile& profile, int partCount, const std::string& stamp) {
    m_form.smsBalance = std::max(0, m_form.smsBalance - partCount);
    m_form.requestUrl = gatewayUrl("http://", m_form.serverAddress, "/Parlix/Debit.asp",
                                   {{"UserId", trimSpaces(m_form.text("txtUserId"))},
                                    {"UserPassWord", kDebitPassword},
                                    {"DebitSMS", std::to_string(partCount)},
                                    {"Flnm", trimSpaces(stamp)}});
    std::string reply = m_env.transfer.get(m_form.requestUrl);
    const std::string count = std::to_string(partCount);
    // Built by appending: GCC 12 at -O3 warns falsely (-Wrestrict) on " " + a temporary string.
    std::string when = " ";
    when += generalDateTime(m_env.clock.now());
    if (reply == "Success") {
        m_form.writeLog("Successfully Sent: " + count + when);
        settle(Status::Sent);
    } else {
        m_form.writeLog(std::string(profile.debitRefusedLog) + count +
                        std::string(profile.debitRefusedTail) + when);
        settle(profile.debitRefused);
    }
    m_form.setText("lblSMS", "Balance SMS: " + std::to_string(m_form.smsBalance));
    m_form.uploadOk = false;
}

}  // namespace parlix
