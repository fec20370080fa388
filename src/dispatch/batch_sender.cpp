#include "dispatch/batch_sender.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "base/clock.h"
#include "base/date_time.h"
#include "base/random.h"
#include "base/text.h"
#include "base/ui.h"
#include "db/transaction.h"
#include "dispatch/message_format.h"
#include "model/form_model.h"
#include "transport/code_page.h"
#include "transport/file_helpers.h"
#include "transport/gateway_url.h"
#include "transport/http_client.h"
#include "transport/payload_uploader.h"

namespace parlix {

namespace {

constexpr int kPartLimit = 2000;
constexpr const char* kDebitPassword = "pelurvintas";

const char* suffix(bool nwt) {
    return nwt ? "_NWT" : "_NWM";
}

}  // namespace

BatchSender::BatchSender(FormModel& form, const AppEnvironment& env) : m_form(form), m_env(env) {}

void BatchSender::SendSmsSingleFile_NWT(const std::string& GSMID, const std::string& CDMAID) {
    send(Kind::Nwt, GSMID, CDMAID);
}

void BatchSender::SendSmsSingleFile() {
    send(Kind::Nwm, "", "");
}

std::string BatchSender::pendingFolder() const {
    return m_env.programFolder + "/SMS/Pending";
}

void BatchSender::setAllRead(const char* status) {
    m_form.dbConnection->execute(std::string("update  MessageQueue set Status='") + status +
                                 "' where status='Read'");
}

void BatchSender::resumeSerial(const std::string& userId) {
    // Message ids carry the minute and a serial that starts again with every run, so a run that
    // starts within the minute of an earlier one would repeat its ids, and delivery reports would
    // land on both rows. The serial goes on after the highest one used today instead.
    std::string id = messageId(userId, m_form.comportNo, m_env.clock.now(), 0);
    std::string today = id.substr(0, id.size() - std::string("HHmm-0").size());
    auto rs = m_form.dbConnection->openRecordset(
        "select MessageID from MessageQueue where MessageID like ?", {today + "%"});
    for (; !rs->eof(); rs->moveNext()) {
        std::string used = rs->field("MessageID").toText();
        if (used.rfind(today, 0) == 0) {
            auto serial = toWholeNumber(used.substr(used.rfind('-') + 1), 32);
            if (serial && static_cast<double>(*serial) > m_form.messageSerial) {
                m_form.messageSerial = static_cast<double>(*serial);
            }
        }
    }
}

void BatchSender::markDiscarded(Recordset& rs) {
    rs.setField("QDateTime", isoDate(m_env.clock.now()));
    rs.setField("Status", "Discarded");
    rs.update();
}

BatchSender::Batch BatchSender::collect(Kind kind, Recordset& rs) {
    const bool nwt = kind == Kind::Nwt;
    const std::string userId = m_form.text("txtUserId");
    Batch batch;
    bool goOn = true;
    while (!rs.eof() && goOn) {
        Value message = rs.field("Message");
        Value mobile = rs.field("Mobileno");
        if (message.isNull() || message.toText().empty()) {
            markDiscarded(rs);
        } else if ((nwt && (mobile.isNull() || characterCount(mobile.toText()) < 10)) ||
                   mobile.toText().find_first_of("#\r\n") != std::string::npos) {
            // No usable number: nothing goes out for it, so it must not be reported sent nor
            // carry another message's id. A '#' or a line break would split the record and send
            // the text elsewhere, or make the gateway refuse every batch it is in.
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
            batch.payload += lastTen(mobile.toText()) + "#" + id + "#" + type + "\r\n" +
                             normalizeMessageText(text) + "\r\n";
            if (batch.partCount >= kPartLimit) {
                goOn = false;
            }
            rs.setField("MessageID", id);
            rs.setField("SmsType", type);
            rs.setField("DelDate", isoTime(now));
            rs.setField("QDateTime", nwt ? isoDateTime(now) : isoDate(now));
            rs.setField("Status", "Read");
            rs.update();
        }
        rs.moveNext();
        if (nwt && !rs.eof()) {
            batch.payload += "\r\n";
        }
    }
    return batch;
}

void BatchSender::send(Kind kind, const std::string& GSMID, const std::string& CDMAID) {
    const bool nwt = kind == Kind::Nwt;
    m_uploadCompleted = false;
    const std::string userId = m_form.text("txtUserId");
    if (userId.find('/') != std::string::npos || userId.find('\0') != std::string::npos) {
        throw std::invalid_argument("the user id cannot name a payload file: it holds a '/'");
    }
    const std::string folder = pendingFolder();
    std::filesystem::create_directories(folder);

    if (!m_serialResumed) {
        resumeSerial(userId);
        m_serialResumed = true;
    }
    Batch batch;
    {
        auto rs = m_form.dbConnection->openRecordset(
            nwt ? std::string("select top 2000 * from MessageQueue where Status='Queued' ")
                : "select top " + std::to_string(static_cast<long long>(m_form.singleBatchSize)) +
                      " * from MessageQueue where  Status='Queued' ");
        // One transaction for the batch's row saves: one disk sync per batch, and an error
        // halfway leaves every row as it was.
        Transaction tx(*m_form.dbConnection);
        batch = collect(kind, *rs);
        tx.commit();
    }
    const std::string& codePage = m_env.config.payloadCodePage;
    WriteWholeFile(folder + "/" + userId + suffix(nwt) + ".SMS",
                   toPayloadCodePage(batch.payload, codePage));
    if (nwt) {
        WriteWholeFile(folder + "/" + userId + "_TAG.SMS",
                       toPayloadCodePage(CDMAID + "\r\n" + GSMID, codePage));
    }
    auto sentCaption = [&] {
        m_form.setText("LblSent",
                       "Sent = " + std::to_string(static_cast<long long>(m_form.sentSmsCount)));
    };
    if (nwt) {
        sentCaption();
    }
    if (m_form.smsBalance <= batch.partCount) {
        m_env.ui.msgBox("SMS balance zero Send only " + std::to_string(m_form.smsBalance) + " SMS");
    }
    if (!nwt) {
        sentCaption();
    }
    m_form.uploadOk = false;
    std::string stamp;
    if (batch.partCount != 0) {
        stamp = batchStamp(m_env.clock.now(), m_env.random.next());
        m_form.uploadOk = upload(kind, folder, stamp);
        m_uploadCompleted = m_form.uploadOk;
    }
    if (!m_form.uploadOk) {
        if (!nwt) {
            m_form.writeLog("Sent: Failed " + std::to_string(batch.partCount) + " " +
                            generalDateTime(m_env.clock.now()));
            setAllRead("Queued");
        } else if (batch.partCount != 0) {
            // A refused upload sent nothing: the rows go back to the queue.
            setAllRead("Queued");
        }
        return;
    }
    debit(kind, batch.partCount, stamp);
}

bool BatchSender::upload(Kind kind, const std::string& folder, const std::string& stamp) {
    PayloadUploader uploader(m_env.uploader, m_env.ui);
    const std::string userId = m_form.text("txtUserId");
    if (kind == Kind::Nwt) {
        // The header's outcome is overwritten by the message file's, as it always was.
        uploader.httpConnectSingle(folder + "/" + userId + "_TAG.SMS", stamp + "_TAG",
                                   m_form.serverAddress, userId);
    }
    return uploader.httpConnectSingle(folder + "/" + userId + suffix(kind == Kind::Nwt) + ".SMS",
                                      stamp + suffix(kind == Kind::Nwt), m_form.serverAddress,
                                      userId);
}

void BatchSender::debit(Kind kind, int partCount, const std::string& stamp) {
    m_form.smsBalance = std::max(0, m_form.smsBalance - partCount);
    m_form.requestUrl = gatewayUrl("http://", m_form.serverAddress, "/Parlix/Debit.asp",
                                   {{"UserId", trimSpaces(m_form.text("txtUserId"))},
                                    {"UserPassWord", kDebitPassword},
                                    {"DebitSMS", std::to_string(partCount)},
                                    {"Flnm", trimSpaces(stamp)}});
    std::string reply = m_env.transfer.get(m_form.requestUrl);
    std::string when = " " + generalDateTime(m_env.clock.now());
    if (reply == "Success") {
        m_form.writeLog("Successfully Sent: " + std::to_string(partCount) + when);
        setAllRead("Sent");
    } else if (kind == Kind::Nwt) {
        m_form.writeLog("Sent: Faile " + std::to_string(partCount) + when);
        setAllRead("Queued");
    } else {
        m_form.writeLog("Message Sent but Balance not Deducted " + std::to_string(partCount) +
                        " , Contect to your vendor" + when);
        setAllRead("DelSent");
    }
    m_form.setText("lblSMS", "Balance SMS: " + std::to_string(m_form.smsBalance));
    m_form.uploadOk = false;
}

}  // namespace parlix
