#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "db/message_queue.h"
#include "model/app_environment.h"

namespace parlix {

class FormModel;

/// What sets the two senders apart. Everything else about a batch is the same for both.
struct SenderProfile {
    /// Ends the message file's name and the batch's upload flag.
    std::string_view suffix;
    /// A header file with the sender ids goes up first.
    bool withHeader = false;
    /// Characters a number needs; a row with a shorter one is discarded.
    std::size_t minNumberLength = 0;
    /// Written after every row handled when more rows follow.
    std::string_view separator;
    /// A taken row's QDateTime holds the time of day as well as the date.
    bool stampsTime = false;
    /// "Sent = " is shown before the balance box rather than after it.
    bool captionBeforeBox = false;
    /// A refused upload, or a batch with nothing to upload, is logged as "Sent: Failed".
    bool logsFailedUpload = false;
    /// A debit the gateway does not confirm: the rows' status, and the log line around the count.
    Status debitRefused = Status::Queued;
    std::string_view debitRefusedLog;
    std::string_view debitRefusedTail;
};

/// With a sender id: a header file and a message file with empty lines between records, up to
/// 2000 rows, numbers of 10 or more characters.
extern const SenderProfile kBatchProfile;
/// Without one: a single message file, `singleBatchSize` rows, every number as it is.
extern const SenderProfile kSingleFileProfile;

/// The senders: each turns queued rows into one payload, has it uploaded and debited, and
/// settles the rows' status by the outcome. A batch's rows stay in its hands until they are
/// settled; no new batch is taken before that.
class BatchSender {
public:
    BatchSender(FormModel& form, const AppEnvironment& env);

    /// The batch sender; `senderId` goes into the header file twice.
    void SendSmsSingleFile_NWT(const std::string& senderId);
    /// The single-file sender.
    void SendSmsSingleFile();

    /// Whether a new batch may be taken: this program holds the right to send from its folder,
    /// and whatever an earlier batch or an interrupted run left taken is settled first. What
    /// cannot be settled is logged, and nothing is taken until it is.
    bool readyToTake();
    /// Settles the batch in hand, after a failure or at Exit: by the status its outcome chose
    /// when it had one, else "DelSent" once it may have reached the gateway and "Queued" before.
    /// Logs, after `logPrefix`, what it did; false when it could not, and the batch stays in hand.
    bool settleHeld(const std::string& logPrefix);
    /// Settles what an interrupted run left taken: the rows of a marked batch to `reached`, the
    /// others back to "Queued"; nothing when another program sends from the folder. Logs what it
    /// did after `logPrefix`; false when it could not.
    bool settleLeftOvers(Status reached, const std::string& logPrefix);

private:
    /// The rows taken and the status their settle is to give them, once the outcome chose one.
    struct Held {
        Batch batch;
        std::optional<Status> to;
    };

    struct Taken {
        std::string payload;
        int partCount = 0;
    };

    /// A payload file as written: its path and its bytes in the payload code page.
    struct PayloadFile {
        std::string path;
        std::string bytes;
    };

    void send(const SenderProfile& profile, long rowLimit, const std::string& header);
    /// The folder of the payload files, made when missing; raises for a user id that cannot
    /// name a file.
    std::string payloadFolder(const std::string& userId);
    /// Takes the rows of one batch and writes their records.
    Taken take(const SenderProfile& profile, long rowLimit);
    std::vector<RowTaken> collect(const SenderProfile& profile, const std::vector<QueuedRow>& rows,
                                  Taken& taken);
    PayloadFile writePayload(const std::string& path, const std::string& utf8);
    /// The sent counter and, when the balance does not exceed the batch, the balance box.
    void showCounts(const SenderProfile& profile, int partCount);
    /// Uploads the header file (when there is one) and the message file; the message file's
    /// outcome.
    bool upload(const SenderProfile& profile, const PayloadFile* header, const PayloadFile& message,
                const std::string& stamp, const std::string& userId);
    void debit(const SenderProfile& profile, int partCount, const std::string& stamp);
    void resumeSerial(const std::string& userId);
    /// Settles the batch in hand to `to`.
    void settle(Status to);
    /// Counts the rows a settle gave to the gateway.
    void countSettled(Status to, int rows);

    FormModel& m_form;
    const AppEnvironment& m_env;
    std::optional<Held> m_held;
    bool m_serialResumed = false;
    bool m_waitLogged = false;
};

}  // namespace parlix
