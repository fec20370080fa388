#pragma once

#include <string>

namespace parlix {

/// The title a message box shows when its caller names none.
inline constexpr const char* kAppTitle = "Parlix";

enum class MsgButtons { Ok, YesNo };
enum class MsgIcon { None, Question, Exclamation, Critical };
enum class MsgAnswer { Ok, Yes, No };

/// What the core needs from the window toolkit.
class Ui {
public:
    virtual ~Ui() = default;
    /// Shows a modal message box and returns the operator's answer.
    virtual MsgAnswer msgBox(const std::string& text, MsgButtons buttons = MsgButtons::Ok,
                             MsgIcon icon = MsgIcon::None,
                             const std::string& title = kAppTitle) = 0;
    /// Lets the window process its pending events once.
    virtual void doEvents() = 0;
    /// Shows or clears the busy mouse pointer for the whole program.
    virtual void setBusy(bool busy) = 0;
    /// Ends the program at once; no further handler runs.
    [[noreturn]] virtual void endProgram() = 0;
};

}  // namespace parlix
