#pragma once

#include <map>
#include <string>

#include "daemon/http_snapshot.h"

namespace parlix {

/// The service's figures in the Prometheus text format; `rowsByStatus` are the queue's rows per
/// status as stored.
std::string prometheusText(const ServiceSnapshot& s,
                           const std::map<std::string, long>& rowsByStatus);

/// Rows waiting to be sent: those "Queued" or taken ("Read"), whatever the case of the status.
long queueDepth(const std::map<std::string, long>& rowsByStatus);

}  // namespace parlix
