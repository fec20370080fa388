#include "db/message_queue.h"

#include <set>

#include "db/db_error.h"

namespace parlix {

std::string_view statusText(Status status) {
    switch (status) {
        case Status::Queued:
            return "Queued";
        case Status::Read:
            return "Read";
        case Status::Sent:
            return "Sent";
        case Status::DelSent:
            return "DelSent";
        case Status::Deleted:
            return "Deleted";
        case Status::Discarded:
            return "Discarded";
    }
    return {};
}

void checkOffered(const std::vector<QueuedRow>& offered, const std::vector<RowTaken>& taken) {
    std::set<std::int64_t> keys;
    for (const QueuedRow& row : offered) {
        keys.insert(row.key);
    }
    for (const RowTaken& row : taken) {
        if (keys.erase(row.key) == 0) {
            throw DbError(kDbRowChanged, "Row cannot be located for updating: row " +
                                             std::to_string(row.key) +
                                             " was not offered, or twice, for this batch");
        }
    }
}

}  // namespace parlix
