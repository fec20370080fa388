#pragma once

#include <string>

namespace parlix {

/// Where lower layers write lines of the window's activity log.
class ActivityLog {
public:
    virtual ~ActivityLog() = default;
    virtual void writeLog(const std::string& entry) = 0;
};

}  // namespace parlix
