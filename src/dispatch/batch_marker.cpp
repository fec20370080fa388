#include "dispatch/batch_marker.h"

#include "base/file.h"

namespace parlix {

BatchMarker::BatchMarker(const std::string& programFolder)
    : m_path(programFolder + "/InFlight.txt") {}

void BatchMarker::write(const std::string& batch, long rows) {
    writeFileAtomic(m_path, "batch=" + batch + "\nrows=" + std::to_string(rows) + "\n");
}

bool BatchMarker::present() const {
    try {
        return readFileIfPresent(m_path).has_value();
    } catch (const FileError&) {
        return true;
    }
}

void BatchMarker::clear() {
    removeFile(m_path);
}

}  // namespace parlix
