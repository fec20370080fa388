#pragma once

#include <exception>

namespace parlix {

/// Runs one step of a routine that skips a failing step and goes on with the next. Returns
/// whether the step completed. The program's own end is not an error and passes through.
template <typename F>
bool tryStep(F&& step) {
    try {
        step();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace parlix
