#pragma once

#include <string>
#include <vector>

namespace parlix {

enum class ElementKind {
    Window,
    Timer,
    Transfer,
    Frame,
    Label,
    TextBox,
    ComboBox,
    CheckBox,
    Button
};

/// Events a handler can be attached to, named as the window's handlers are (`Combo1_Click`).
enum class Event { Change, Click, LostFocus, Validate, Timer };

/// One element of the main window.
struct Element {
    std::string name;
    ElementKind kind = ElementKind::Label;
    /// The frame that holds it, or empty text for the window itself.
    std::string container;
    /// Caption or text; a `&` before a letter marks the access key, `&&` shows one `&`.
    std::string text;
    bool visible = true;
    bool enabled = true;
    /// Check boxes: 0 unchecked, 1 checked.
    int value = 0;
    /// Combo boxes: the list, and the selected item or -1.
    std::vector<std::string> items;
    int listIndex = -1;
    /// Text boxes that show "*" for each character.
    bool password = false;
    /// Multi-line text boxes with a vertical scroll bar.
    bool multiline = false;
    /// Hidden at start and never shown by anything in the program.
    bool neverShown = false;
    /// Timers: the interval in milliseconds; `enabled` says whether it runs.
    int interval = 0;
};

/// The window's elements in their design order, with captions, containers and initial states.
std::vector<Element> mainWindowElements();

}  // namespace parlix
