#include "sys/settings_store.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "base/file.h"
#include "base/text.h"

namespace parlix {

namespace {

struct Entry {
    std::string key;
    std::string value;
};

struct Section {
    std::string name;
    std::vector<Entry> entries;
};

// Values may hold any text; line breaks and backslashes are escaped so one value stays on one
// line of the file.
std::string escape(const std::string& v) {
    std::string out;
    for (char c : v) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string unescape(const std::string& v) {
    std::string out;
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i] == '\\' && i + 1 < v.size()) {
            char n = v[++i];
            out += n == 'n' ? '\n' : n == 'r' ? '\r' : n;
        } else {
            out += v[i];
        }
    }
    return out;
}

/// The sections of a file; a line that is none of comment, section and setting is skipped, and
/// the number of the first such line goes to `badLine`.
std::vector<Section> parse(const std::string& content, int* badLine = nullptr) {
    std::vector<Section> sections;
    std::istringstream in(content);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line[0] == ';') {
            continue;
        }
        if (line.front() == '[' && line.back() == ']') {
            sections.push_back({line.substr(1, line.size() - 2), {}});
            continue;
        }
        size_t eq = line.find('=');
        if (eq == std::string::npos || sections.empty() || line.find('\0') != std::string::npos) {
            if (badLine != nullptr && *badLine == 0) {
                *badLine = number;
            }
            continue;
        }
        sections.back().entries.push_back({line.substr(0, eq), unescape(line.substr(eq + 1))});
    }
    return sections;
}

std::string render(const std::vector<Section>& sections) {
    std::string out;
    for (const Section& s : sections) {
        out += "[" + s.name + "]\n";
        for (const Entry& e : s.entries) {
            out += e.key + "=" + escape(e.value) + "\n";
        }
    }
    return out;
}

}  // namespace

SettingsStore::SettingsStore(std::string folder, Writer writer)
    : m_folder(std::move(folder)), m_writer(std::move(writer)) {
    if (!m_writer) {
        m_writer = [](const std::string& path, const std::string& content) {
            writeFileAtomic(path, content);
        };
    }
}

std::string SettingsStore::defaultFolder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && *xdg != '\0') {
        return std::string(xdg) + "/parlix";
    }
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : ".") + "/.config/parlix";
}

std::string SettingsStore::filePath(const std::string& app) const {
    return m_folder + "/" + app + ".ini";
}

Result<bool> SettingsStore::check(const std::string& app) const {
    try {
        std::optional<std::string> content = readFileIfPresent(filePath(app));
        int badLine = 0;
        parse(content.value_or(""), &badLine);
        if (badLine != 0) {
            return Error{EINVAL, filePath(app) + " line " + std::to_string(badLine) +
                                     " is not a section or a setting"};
        }
        return true;
    } catch (const FileError& e) {
        return Error{e.code(), e.what()};
    }
}

std::string SettingsStore::GetSetting(const std::string& app, const std::string& section,
                                      const std::string& key,
                                      const std::string& defaultValue) const {
    std::optional<std::string> content;
    try {
        content = readFileIfPresent(filePath(app));
    } catch (const FileError&) {
        return defaultValue;
    }
    if (!content) {
        return defaultValue;
    }
    for (const Section& s : parse(*content)) {
        if (!iequals(s.name, section)) {
            continue;
        }
        for (const Entry& e : s.entries) {
            if (iequals(e.key, key)) {
                return e.value;
            }
        }
    }
    return defaultValue;
}

bool SettingsStore::SaveSetting(const std::string& app, const std::string& section,
                                const std::string& key, const std::string& value) {
    std::optional<std::string> content;
    try {
        content = readFileIfPresent(filePath(app));
    } catch (const FileError&) {
        return false;  // never replace a file we could not read
    }
    std::vector<Section> sections = parse(content.value_or(""));
    Section* target = nullptr;
    for (Section& s : sections) {
        if (iequals(s.name, section)) {
            target = &s;
            break;
        }
    }
    if (target == nullptr) {
        sections.push_back({section, {}});
        target = &sections.back();
    }
    bool found = false;
    for (Entry& e : target->entries) {
        if (iequals(e.key, key)) {
            e.value = value;
            found = true;
            break;
        }
    }
    if (!found) {
        target->entries.push_back({key, value});
    }
    try {
        makeFolders(m_folder);
        m_writer(filePath(app), render(sections));
        return true;
    } catch (const FileError&) {
        return false;
    }
}

}  // namespace parlix
