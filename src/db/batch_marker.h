#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace parlix {

/// The note that a batch may have reached the gateway. It is written and synced just before
/// the last piece of a batch's message file is posted, the moment after which the gateway may
/// hold the whole batch, and removed once the batch's rows are settled. It names the batch's
/// rows, so that what follows a crash or an Exit touches those rows and no others.
class BatchMarker {
public:
    /// The marker of a program folder: the file InFlight.txt in it.
    explicit BatchMarker(const std::string& programFolder);

    /// What a marker says.
    struct Note {
        /// The keys of the batch's rows; none when the marker cannot be read, and then every
        /// row taken for sending may be the batch's: when in doubt, nothing is sent twice.
        std::optional<std::vector<std::int64_t>> keys;
    };

    /// Records the batch name and its rows durably; raises FileError.
    void write(const std::string& batch, const std::vector<std::int64_t>& keys);
    /// The marker, or nothing when there is none.
    std::optional<Note> read() const;
    /// Removes the marker; raises FileError.
    void clear();

    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

}  // namespace parlix
