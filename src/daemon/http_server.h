#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "base/result.h"
#include "transport/transport_config.h"

namespace parlix {

class FormModel;
class ServiceLog;

/// parlixd's HTTP interface: queueing, look-ups, status, metrics and the status page. It serves
/// on threads of its own with connections of its own, and learns the service's state only from
/// the snapshots the tick hands it, so that the tick never waits for a request.
class HttpInterface {
public:
    /// The interface that `http.listen` (or `listenOption`, which wins) asks for, its token read
    /// from `http.token_file` and its address bound; nullptr when it is off. An Error for an
    /// address that cannot be bound or a token file that is missing, empty or readable by others.
    static Result<std::unique_ptr<HttpInterface>> open(const TransportConfig& config,
                                                       const std::string& listenOption,
                                                       const std::string& programFolder,
                                                       bool verbose, ServiceLog& log);
    ~HttpInterface();
    HttpInterface(const HttpInterface&) = delete;
    HttpInterface& operator=(const HttpInterface&) = delete;

    /// Opens the interface's own connections to the queue the form opened, hears the form's
    /// activity log and starts serving; false, with a log line, when the queue cannot be opened.
    bool start(FormModel& form);
    /// Publishes the state after a tick that took `took`.
    void tickEnded(const FormModel& form, std::chrono::duration<double> took);
    /// Publishes the state between ticks, after a Connect.
    void publish(const FormModel& form);

private:
    struct Parts;
    explicit HttpInterface(std::unique_ptr<Parts> parts);
    std::unique_ptr<Parts> m_parts;
};

}  // namespace parlix
