#pragma once

#include "base/failure.h"

namespace parlix {

/// Runs one step of a routine that skips a failing step and goes on with the next. Returns
/// whether the step completed. Only a failure of the outside world is skipped: a logic error,
/// and the program's own end, pass through.
template <typename F>
bool tryStep(F&& step) {
    try {
        step();
        return true;
    } catch (const OutsideFailure&) {
        return false;
    }
}

}  // namespace parlix
