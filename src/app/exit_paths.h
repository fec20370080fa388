#pragma once

#include <string>

#include "db/message_queue.h"
#include "model/app_environment.h"

namespace parlix {

class FormModel;

/// Settles the rows a batch left taken for sending ("Read") when the program stopped in the
/// middle of it: back to "Queued" when its marker is absent, since the gateway cannot hold the
/// batch; to `mayHaveReached` when it is present, so nothing is sent twice. A line starting with
/// `logPrefix` says which and how many, when there was such a batch; the marker goes once the
/// rows are settled. A step that fails is skipped.
void settleInterruptedBatch(FormModel& form, const std::string& programFolder,
                            const std::string& logPrefix, Status mayHaveReached);

/// The ways the program ends, and what each does to the queue.
class ExitPaths {
public:
    ExitPaths(FormModel& form, const AppEnvironment& env);

    /// Exit: stops dispatch, puts rows taken for sending back in the queue, closes, ends.
    void cmdexit2_Click();
    /// Closing the window: closes the database and ends, leaving the queue as it is.
    void Form_Unload();
    /// The hidden "Sevrer Settings" button: restores the server choice and stops dispatch.
    void Command1_Click();

private:
    void closeDatabase();

    FormModel& m_form;
    const AppEnvironment& m_env;
};

}  // namespace parlix
