#pragma once

#include <string>

#include "model/app_environment.h"

namespace parlix {

class BatchSender;
class FormModel;

/// The ways the program ends, and what each does to the queue.
class ExitPaths {
public:
    ExitPaths(FormModel& form, const AppEnvironment& env, BatchSender& sender);

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
    BatchSender& m_sender;
};

}  // namespace parlix
