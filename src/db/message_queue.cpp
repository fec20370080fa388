#include "db/message_queue.h"

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

}  // namespace parlix
