#pragma once

#include <functional>

namespace parlix {

class Ui;

/// Runs one of the model's handlers on behalf of a widget event. No exception may leave it:
/// Qt's event dispatch cannot pass one on.
using HandlerRunner = std::function<void(const std::function<void()>& handler)>;

/// The program's runner: an error that no handler caught is shown in a message box that names
/// it, and then the program ends, as an unhandled run-time error ends it.
HandlerRunner endOnUnhandledError(Ui& ui);

}  // namespace parlix
