#include "sys/instance_count.h"

#include <unistd.h>
#include <algorithm>
#include <array>
#include <charconv>
#include <fstream>
#include <system_error>

#include "base/text.h"

namespace parlix {
namespace {

/// The image-name field of a process table row holds at most this many characters.
constexpr std::size_t kMaxImageName = 260;
/// How many leading characters of a name the copy test compares.
constexpr std::size_t kComparedLength = 15;
constexpr std::string_view kProductPrefix = "PARLIX";
constexpr std::string_view kDeletedMark = " (deleted)";

std::optional<std::uint32_t> parsePid(std::string_view name) {
    std::uint32_t pid = 0;
    auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), pid);
    if (ec != std::errc() || end != name.data() + name.size() || name.empty()) {
        return std::nullopt;
    }
    return pid;
}

std::string fileNameOf(std::string_view path) {
    std::size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::optional<std::string> readLink(const std::filesystem::path& link) {
    std::array<char, 4096> buf{};
    ssize_t n = ::readlink(link.c_str(), buf.data(), buf.size());
    if (n <= 0) {
        return std::nullopt;
    }
    return std::string(buf.data(), static_cast<std::size_t>(n));
}

/// The executable's file name, or the command name for processes without a readable
/// executable link (kernel threads, or another user's process when we lack the rights).
std::optional<std::string> imageNameOf(const std::filesystem::path& processDir) {
    if (auto target = readLink(processDir / "exe")) {
        // The kernel marks a replaced or removed executable; the process still runs as it.
        if (target->ends_with(kDeletedMark)) {
            target->resize(target->size() - kDeletedMark.size());
        }
        return fileNameOf(*target);
    }
    std::ifstream comm(processDir / "comm");
    std::string name;
    if (!comm || !std::getline(comm, name)) {
        return std::nullopt;
    }
    return name;
}

std::string firstChars(std::string_view s) {
    return std::string(s.substr(0, kComparedLength));
}

}  // namespace

ProcProcessTable::ProcProcessTable(std::filesystem::path procRoot)
    : m_procRoot(std::move(procRoot)) {}

std::optional<std::vector<ProcessEntry>> ProcProcessTable::snapshot() {
    std::error_code ec;
    std::filesystem::directory_iterator it(m_procRoot, ec);
    if (ec) {
        return std::nullopt;
    }
    std::vector<ProcessEntry> entries;
    for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
        if (ec) {
            return std::nullopt;
        }
        auto pid = parsePid(it->path().filename().native());
        if (!pid) {
            continue;
        }
        // A process that ends while the folder is walked simply drops out of the snapshot.
        if (auto name = imageNameOf(it->path())) {
            entries.push_back({*pid, std::move(*name)});
        }
    }
    return entries;
}

std::optional<ProcessEntry> ProcProcessTable::entryOf(std::uint32_t id) {
    auto name = imageNameOf(m_procRoot / std::to_string(id));
    if (!name) {
        return std::nullopt;
    }
    return ProcessEntry{id, std::move(*name)};
}

std::string programNameFromExecutable(std::string_view executablePath) {
    std::string name = fileNameOf(executablePath);
    if (name.size() > 4 && iequals(std::string_view(name).substr(name.size() - 4), ".exe")) {
        name.resize(name.size() - 4);
    }
    return name;
}

std::string currentExecutablePath() {
    return readLink("/proc/self/exe").value_or("");
}

InstanceCount::InstanceCount(ProcessTable& table, std::string ownName)
    : m_table(table), m_ownName(std::move(ownName)) {}

void InstanceCount::ListProcessIds(std::vector<std::uint32_t>& ids) {
    ids.assign(1, 0);
    auto entries = m_table.snapshot();
    if (!entries || entries->empty()) {
        return;
    }
    ids.clear();
    ids.reserve(entries->size());
    for (const ProcessEntry& e : *entries) {
        ids.push_back(e.id);
    }
}

std::string InstanceCount::ProcessNameById(std::uint32_t id) {
    auto entry = m_table.entryOf(id);
    if (!entry) {
        return {};
    }
    std::string name = std::move(entry->imageName);
    name.resize(std::min({name.find('\0'), name.size(), kMaxImageName}));
    return name;
}

// The three tests were made for image names like "Parlix.exe": there the third one (own name
// plus ".EXE") is what finds a copy. Linux executables carry no ".EXE", so a copy running as
// "parlix" matches through the first test instead, and the third only still matters for an
// executable that really is called "something.exe". The 15-character cut suits Linux as well:
// where the executable link cannot be read, the image name is the command name, which the
// kernel itself cuts to 15 characters.
double InstanceCount::CountRunningInstances() {
    std::vector<std::uint32_t> ids;
    ListProcessIds(ids);
    const std::string ownName = firstChars(toUpper(m_ownName));
    const std::string ownFileName = firstChars(toUpper(m_ownName + ".EXE"));
    double count = 0;
    for (std::uint32_t id : ids) {
        const std::string image = toUpper(ProcessNameById(id));
        // A process that ended since the listing has no name and is no copy, whatever our own
        // name is.
        if (image.empty()) {
            continue;
        }
        const std::string head = firstChars(image);
        if (head == ownName || image.starts_with(kProductPrefix) || head == ownFileName) {
            count += 1;
        }
    }
    return count;
}

}  // namespace parlix
