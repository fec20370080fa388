#include "db/batch_marker.h"

#include <charconv>

#include "base/file.h"
#include "base/text.h"

namespace parlix {

namespace {

/// Keys as runs, "1-5,9,12-20": a batch's keys mostly follow each other.
std::string keyRuns(const std::vector<std::int64_t>& keys) {
    std::string out;
    for (size_t i = 0; i < keys.size();) {
        size_t j = i;
        while (j + 1 < keys.size() && keys[j + 1] == keys[j] + 1) {
            ++j;
        }
        out += (out.empty() ? "" : ",") + std::to_string(keys[i]);
        if (j > i) {
            out += "-" + std::to_string(keys[j]);
        }
        i = j + 1;
    }
    return out;
}

std::optional<std::int64_t> key(std::string_view text) {
    std::int64_t k = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), k);
    if (ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return k;
}

std::optional<std::vector<std::int64_t>> parseKeyRuns(const std::string& text) {
    std::vector<std::int64_t> keys;
    if (text.empty()) {
        return keys;
    }
    for (const std::string& run : split(text, ",")) {
        const size_t dash = run.find('-', 1);
        auto first = key(std::string_view(run).substr(0, dash));
        auto last = dash == std::string::npos ? first : key(std::string_view(run).substr(dash + 1));
        if (!first || !last || *last < *first || *last - *first > 1000000) {
            return std::nullopt;
        }
        for (std::int64_t k = *first; k <= *last; ++k) {
            keys.push_back(k);
        }
    }
    return keys;
}

}  // namespace

BatchMarker::BatchMarker(const std::string& programFolder)
    : m_path(programFolder + "/InFlight.txt") {}

void BatchMarker::write(const std::string& batch, const std::vector<std::int64_t>& keys) {
    writeFileAtomic(m_path, "batch=" + batch + "\nrows=" + std::to_string(keys.size()) +
                                "\nkeys=" + keyRuns(keys) + "\n");
}

std::optional<BatchMarker::Note> BatchMarker::read() const {
    std::optional<std::string> text;
    try {
        text = readFileIfPresent(m_path);
    } catch (const FileError&) {
        return Note{};
    }
    if (!text) {
        return std::nullopt;
    }
    for (const std::string& line : split(*text, "\n")) {
        if (line.starts_with("keys=")) {
            return Note{parseKeyRuns(line.substr(5))};
        }
    }
    return Note{};
}

void BatchMarker::clear() {
    removeFile(m_path);
}

}  // namespace parlix
