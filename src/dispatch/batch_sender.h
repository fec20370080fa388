#pragma once

#include <string>

#include "model/app_environment.h"

namespace parlix {

class FormModel;
class Recordset;

/// The two senders: each turns queued rows into one payload, has it uploaded and debited, and
/// settles the rows' status by the outcome.
class BatchSender {
public:
    BatchSender(FormModel& form, const AppEnvironment& env);

    /// With a sender id: a header file and a message file with empty lines between records,
    /// up to 2000 rows, numbers of 10 or more characters.
    void SendSmsSingleFile_NWT(const std::string& GSMID, const std::string& CDMAID);
    /// Without one: a single message file, `singleBatchSize` rows, every number as it is.
    void SendSmsSingleFile();

    /// Whether the current batch's upload was accepted, for settling after an error.
    bool uploadCompleted() const { return m_uploadCompleted; }

private:
    enum class Kind { Nwt, Nwm };
    struct Batch {
        std::string payload;
        int partCount = 0;
    };

    void send(Kind kind, const std::string& GSMID, const std::string& CDMAID);
    Batch collect(Kind kind, Recordset& rs);
    void markDiscarded(Recordset& rs);
    bool upload(Kind kind, const std::string& folder, const std::string& stamp);
    void debit(Kind kind, int partCount, const std::string& stamp);
    void setAllRead(const char* status);
    std::string pendingFolder() const;
    void resumeSerial(const std::string& userId);

    FormModel& m_form;
    const AppEnvironment& m_env;
    bool m_uploadCompleted = false;
    bool m_serialResumed = false;
};

}  // namespace parlix
