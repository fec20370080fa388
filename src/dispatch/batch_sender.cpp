#include "dispatch/batch_sender.h"

#include <algorithm>
#include <cerrno>
#include <optional>

#include "base/clock.h"
#include "base/continue_on_error.h"
#include "base/date_time.h"
#include "base/file.h"
#include "base/random.h"
#include "base/text.h"
#include "base/ui.h"
#include "dispatch/message_format.h"
#include "model/form_model.h"
#include "sys/folder_lock.h"
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

BatchSender::BatchSender(FormModel& form, const AppEnvironment& env) : m_form(form), m_env(env) {}

void BatchSender::SendSmsSingleFile_NWT(const std::string& senderId) {
    send(kBatchProfile, kBatchRowLimit, senderId + "\r\n" + senderId);
}

void BatchSender::SendSmsSingleFile() {
    send(kSingleFileProfile, static_cast<long>(m_form.singleBatchSize), "");
}

bool BatchSender::readyToTake() {
    if (m_held && !settleHeld("Dispatch error: ")) {
        m_form.writeLog("Dispatch error: the rows of the batch could not be settled");
        return false;
    }
    return settleLeftOvers(Status::Deleted, "Interrupted batch: ");
}

bool BatchSender::settleHeld(const std::string& logPrefix) {
    if (!m_held) {
        return true;
    }
    const Status to =
        m_held->to.value_or(m_held->batch.reaching ? Status::DelSent : Status::Queued);
    int rows = 0;
    if (!tryStep([&] { rows = m_form.queue().settleBatch(m_held->batch, to); })) {
        return false;
    }
    countSettled(to, rows);
    const std::string count = logPrefix + std::to_string(rows) + " messages ";
    const std::string marked = "marked " + std::string(statusText(to));
    m_form.writeLog(m_held->to               ? count + marked
                    : m_held->batch.reaching ? count + "may have reached the gateway, " + marked
                                             : count + "back in the queue");
    m_held.reset();
    return true;
}

bool BatchSender::settleLeftOvers(Status reached, const std::string& logPrefix) {
    if (!m_env.sendLock.take()) {
        if (!m_waitLogged) {
            m_form.writeLog("Another Parlix program sends from " + m_env.programFolder +
                            "; this one sends once that one stops");
            m_waitLogged = true;
        }
        return false;
    }
    Interrupted left;
    if (!tryStep([&] { left = m_form.queue().settleInterrupted(reached); })) {
        return false;
    }
    if (left.marked) {
        m_form.writeLog(logPrefix + std::to_string(left.reached) +
                        " messages may have reached the gateway, marked " +
                        std::string(statusText(reached)));
    }
    if (left.requeued > 0) {
        m_form.writeLog(logPrefix + std::to_string(left.requeued) + " messages back in the queue");
    }
    if (!left.markerKept.empty()) {
        m_form.writeLog(logPrefix + "the batch marker stays: " + left.markerKept);
        return false;
    }
    return true;
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

std::vector<RowTaken> BatchSender::collect(const SenderProfile& profile,
                                           const std::vector<QueuedRow>& rows, Taken& taken) {
    const std::string userId = m_form.text("txtUserId");
    std::vector<RowTaken> marks;
    bool goOn = true;
    for (size_t i = 0; i < rows.size() && goOn; ++i) {
        const QueuedRow& row = rows[i];
        const std::string mobile = row.mobile.toText();
        const DateTime now = m_env.clock.now();
        // A row without text or a usable number is discarded: nothing goes out for it, so it
        // must not be reported sent nor carry another message's id. A '#' or a line break in the
        // number would split the record and send the text elsewhere, or make the gateway refuse
        // every batch it is in.
        if (row.message.isNull() || row.message.toText().empty() ||
            characterCount(mobile) < profile.minNumberLength ||
            mobile.find_first_of("#\r\n") != std::string::npos) {
            marks.push_back({row.key, Status::Discarded, isoDate(now), {}, {}, {}});
        } else {
            const std::string text = row.message.toText();
            const int parts = smsParts(characterCount(text));
            // Checked before anything of the row is written, so a message the balance cannot
            // pay for is neither sent nor counted; its row stays queued.
            if (m_form.smsBalance < taken.partCount + parts) {
                break;
            }
            taken.partCount += parts;
            m_form.sentSmsCount += parts;
            m_form.messageSerial += 1;
            const std::string id = messageId(userId, m_form.comportNo, now, m_form.messageSerial);
            const std::string type = m_form.text("Combo2");
            taken.payload += lastTen(mobile) + "#" + id + "#" + type + "\r\n" +
                             normalizeMessageText(text) + "\r\n";
            if (taken.partCount >= kPartLimit) {
                goOn = false;
            }
            marks.push_back({row.key, Status::Read,
                             profile.stampsTime ? isoDateTime(now) : isoDate(now), id, type,
                             isoTime(now)});
        }
        if (i + 1 < rows.size()) {
            taken.payload += profile.separator;
        }
    }
    return marks;
}

std::string BatchSender::payloadFolder(const std::string& userId) {
    if (userId.find('/') != std::string::npos || userId.find('\0') != std::string::npos) {
        throw FileError(EINVAL, "the user id cannot name a payload file: it holds a '/'");
    }
    const std::string folder = m_env.programFolder + "/SMS/Pending";
    makeFolders(folder);
    return folder;
}

BatchSender::Taken BatchSender::take(const SenderProfile& profile, long rowLimit) {
    Taken taken;
    Batch batch = m_form.queue().takeBatch(rowLimit, [&](const std::vector<QueuedRow>& rows) {
        taken = Taken{};
        return collect(profile, rows, taken);
    });
    if (!batch.keys.empty()) {
        m_held = Held{std::move(batch), std::nullopt};
    }
    return taken;
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
                         const PayloadFile& message, const std::string& stamp,
                         const std::string& userId) {
    PayloadUploader uploader(m_env.uploader, m_env.ui);
    auto keepClaim = [this](bool) {
        if (m_held) {
            m_form.queue().renew(m_held->batch);
        }
    };
    if (header != nullptr) {
        // Only the message file's outcome counts: the header's is overwritten by it.
        uploader.httpConnectSingle(header->path, header->bytes, stamp + "_TAG",
                                   m_form.serverAddress, userId, keepClaim);
    }
    const std::string flag = stamp + std::string(profile.suffix);
    // From the last piece on, the gateway may hold the whole batch: the batch is marked so
    // before it is posted, so that a crash, an Exit or a lost reply from then on never sends the
    // batch again.
    return uploader.httpConnectSingle(message.path, message.bytes, flag, m_form.serverAddress,
                                      userId, [&](bool last) {
                                          if (last && m_held) {
                                              m_form.queue().markReaching(m_held->batch, flag);
                                          } else {
                                              keepClaim(last);
                                          }
                                      });
}

void BatchSender::send(const SenderProfile& profile, long rowLimit, const std::string& header) {
    const std::string userId = m_form.text("txtUserId");
    const std::string folder = payloadFolder(userId);
    if (!m_serialResumed) {
        resumeSerial(userId);
        m_serialResumed = true;
    }
    const Taken taken = take(profile, rowLimit);
    const PayloadFile message =
        writePayload(folder + "/" + userId + std::string(profile.suffix) + ".SMS", taken.payload);
    std::optional<PayloadFile> headerFile;
    if (profile.withHeader) {
        headerFile = writePayload(folder + "/" + userId + "_TAG.SMS", header);
    }
    showCounts(profile, taken.partCount);
    m_form.uploadOk = false;
    std::string stamp;
    if (taken.partCount != 0) {
        stamp = batchStamp(m_env.clock.now(), m_env.random.next());
        m_form.uploadOk =
            upload(profile, headerFile ? &*headerFile : nullptr, message, stamp, userId);
        m_form.counters.failedUploads += m_form.uploadOk ? 0 : 1;
    }
    if (!m_form.uploadOk) {
        if (profile.logsFailedUpload) {
            m_form.writeLog("Sent: Failed " + std::to_string(taken.partCount) + " " +
                            generalDateTime(m_env.clock.now()));
        }
        // A refused upload sent nothing: the rows go back to the queue.
        settle(Status::Queued);
        return;
    }
    debit(profile, taken.partCount, stamp);
}

void BatchSender::settle(Status to) {
    if (m_held) {
        m_held->to = to;
        countSettled(to, m_form.queue().settleBatch(m_held->batch, to));
        m_held.reset();
    }
}

void BatchSender::countSettled(Status to, int rows) {
    // The gateway has the rows it was sent, debited or not.
    if (to == Status::Sent || to == Status::DelSent) {
        m_form.counters.messagesSent += rows;
    }
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
