#include "gui/handler_runner.h"

#include <exception>
#include <string>

#include "base/ui.h"

namespace parlix {

HandlerRunner endOnUnhandledError(Ui& ui) {
    return [&ui](const std::function<void()>& handler) {
        try {
            handler();
        } catch (const std::exception& e) {
            ui.msgBox(std::string("Run-time error: ") + e.what(), MsgButtons::Ok,
                      MsgIcon::Critical);
            ui.endProgram();
        } catch (...) {
            // The top-level handler: nothing may leave it into Qt's event dispatch.
            ui.msgBox("Run-time error: an unknown error", MsgButtons::Ok, MsgIcon::Critical);
            ui.endProgram();
        }
    };
}

}  // namespace parlix
