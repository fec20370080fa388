#pragma once

#include <string>

namespace parlix {

/// The note that a batch may have reached the gateway. It is written and synced just before
/// the last piece of a batch's message file is posted, the moment after which the gateway may
/// hold the whole batch, and removed once the batch's rows are settled. Rows found taken for
/// sending ("Read") after a crash or at Exit are sent again only when it is absent.
class BatchMarker {
public:
    /// The marker of a program folder: the file InFlight.txt in it.
    explicit BatchMarker(const std::string& programFolder);

    /// Records the batch name and its number of rows durably; raises FileError.
    void write(const std::string& batch, long rows);
    /// Whether a batch may have reached the gateway. A marker that cannot be read counts as
    /// present: when in doubt, nothing is sent twice.
    bool present() const;
    /// Removes the marker; raises FileError.
    void clear();

    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

}  // namespace parlix
