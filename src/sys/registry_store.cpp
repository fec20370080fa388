#include "sys/registry_store.h"

#include <charconv>
#include <sstream>

#include "base/file.h"
#include "base/text.h"

namespace parlix {

namespace {

constexpr const char* kHeader =
    "; Parlix registry store: written by the program, one key a section\n";

struct Root {
    std::uint32_t handle;
    const char* name;
};

constexpr Root kRoots[] = {
    {kHkeyClassesRoot, "HKEY_CLASSES_ROOT"},
    {kHkeyCurrentUser, "HKEY_CURRENT_USER"},
    {kHkeyLocalMachine, "HKEY_LOCAL_MACHINE"},
    {kHkeyUsers, "HKEY_USERS"},
    {kHkeyPerformanceData, "HKEY_PERFORMANCE_DATA"},
    {kHkeyCurrentConfig, "HKEY_CURRENT_CONFIG"},
    {kHkeyDynData, "HKEY_DYN_DATA"},
};

std::string toHex(const std::string& bytes) {
    static const char* kDigits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += kDigits[c >> 4];
        out += kDigits[c & 15];
    }
    return out;
}

bool fromHex(const std::string& hex, std::string* out) {
    if (hex.size() % 2 != 0) {
        return false;
    }
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return -1;
    };
    out->clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        int hi = digit(hex[i]);
        int lo = digit(hex[i + 1]);
        if (hi < 0 || lo < 0) {
            return false;
        }
        out->push_back(static_cast<char>(hi * 16 + lo));
    }
    return true;
}

std::string quoteName(const std::string& name) {
    std::string out = "\"";
    for (char c : name) {
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    return out + "\"";
}

/// Normalises a sub-key path: no empty components, no leading or trailing separator.
std::string cleanSubKey(const std::string& subKey) {
    std::string out;
    for (const std::string& part : split(subKey, "\\")) {
        if (part.empty()) {
            continue;
        }
        if (!out.empty()) {
            out += '\\';
        }
        out += part;
    }
    return out;
}

}  // namespace

std::string rootKeyName(std::uint32_t root) {
    for (const Root& r : kRoots) {
        if (r.handle == root) {
            return r.name;
        }
    }
    return {};
}

RegistryStore::RegistryStore(std::string filePath, Writer writer)
    : m_path(std::move(filePath)), m_writer(std::move(writer)) {
    if (!m_writer) {
        m_writer = [](const std::string& path, const std::string& content) {
            writeFileAtomic(path, content);
        };
    }
}

std::string RegistryStore::fullPath(std::uint32_t root, const std::string& subKey) {
    std::string name = rootKeyName(root);
    std::string sub = cleanSubKey(subKey);
    return sub.empty() ? name : name + "\\" + sub;
}

Result<RegistryStore::Keys> RegistryStore::load() const {
    Keys keys;
    std::optional<std::string> content;
    try {
        content = readFileIfPresent(m_path);
    } catch (const FileError& e) {
        return Error{kRegBadDb, e.what()};
    }
    if (!content) {
        return keys;
    }
    std::istringstream in(*content);
    std::string line;
    StoredKey* current = nullptr;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == ';') {
            continue;
        }
        if (line.front() == '[' && line.back() == ']') {
            std::string path = line.substr(1, line.size() - 2);
            current = &keys[toLower(path)];
            current->path = path;
            continue;
        }
        if (current == nullptr || line[0] != '"') {
            return Error{kRegBadDb, "unreadable line in " + m_path};
        }
        std::string name;
        size_t i = 1;
        for (; i < line.size() && line[i] != '"'; ++i) {
            if (line[i] == '\\' && i + 1 < line.size()) {
                ++i;
            }
            name += line[i];
        }
        size_t colon = line.find(':', i);
        if (i + 2 >= line.size() || line[i + 1] != '=' || colon == std::string::npos) {
            return Error{kRegBadDb, "unreadable value in " + m_path};
        }
        StoredValue v;
        v.name = name;
        const char* typeBegin = line.data() + i + 2;
        const char* typeEnd = line.data() + colon;
        auto [typeStop, typeErr] = std::from_chars(typeBegin, typeEnd, v.type);
        if (typeErr != std::errc() || typeStop != typeEnd || typeBegin == typeEnd ||
            !fromHex(line.substr(colon + 1), &v.data)) {
            return Error{kRegBadDb, "unreadable data in " + m_path};
        }
        current->values[toLower(name)] = v;
    }
    return keys;
}

Result<bool> RegistryStore::check() const {
    Result<Keys> keys = load();
    if (!keys) {
        return keys.error();
    }
    return true;
}

long RegistryStore::save(const Keys& keys) {
    std::ostringstream out;
    out << kHeader;
    for (const auto& [lower, key] : keys) {
        out << '[' << key.path << "]\n";
        for (const auto& [lname, v] : key.values) {
            out << quoteName(v.name) << '=' << v.type << ':' << toHex(v.data) << '\n';
        }
    }
    try {
        m_writer(m_path, out.str());
        return kRegOk;
    } catch (const FileError&) {
        return kRegAccessDenied;
    }
}

long RegistryStore::openKey(std::uint32_t root, const std::string& subKey, std::uint32_t,
                            std::uint32_t* key) {
    if (rootKeyName(root).empty()) {
        return kRegInvalidHandle;
    }
    std::string path = fullPath(root, subKey);
    if (path != rootKeyName(root)) {
        auto keys = load();
        if (!keys) {
            return kRegBadDb;
        }
        if (!keys.value().count(toLower(path))) {
            return kRegFileNotFound;
        }
    }
    *key = m_nextHandle++;
    m_open[*key] = path;
    return kRegOk;
}

long RegistryStore::ensureKey(std::uint32_t root, const std::string& subKey) {
    if (rootKeyName(root).empty()) {
        return kRegInvalidHandle;
    }
    auto loaded = load();
    if (!loaded) {
        return kRegBadDb;
    }
    Keys keys = std::move(loaded).value();
    std::string path = rootKeyName(root);
    bool changed = false;
    for (const std::string& part : split(cleanSubKey(subKey), "\\")) {
        if (part.empty()) {
            continue;
        }
        path += "\\" + part;
        StoredKey& k = keys[toLower(path)];
        if (k.path.empty()) {
            k.path = path;
            changed = true;
        }
    }
    return changed ? save(keys) : kRegOk;
}

long RegistryStore::createKey(std::uint32_t root, const std::string& subKey, std::uint32_t* key) {
    long rc = ensureKey(root, subKey);
    if (rc == kRegOk) {
        *key = m_nextHandle++;
        m_open[*key] = fullPath(root, subKey);
    }
    return rc;
}

long RegistryStore::find(const std::string& path, const std::string& name,
                         StoredValue* value) const {
    auto keys = load();
    if (!keys) {
        return kRegBadDb;
    }
    auto k = keys.value().find(toLower(path));
    if (k == keys.value().end()) {
        return kRegFileNotFound;
    }
    auto v = k->second.values.find(toLower(name));
    if (v == k->second.values.end()) {
        return kRegFileNotFound;
    }
    *value = v->second;
    return kRegOk;
}

long RegistryStore::put(const std::string& path, const std::string& name, std::uint32_t type,
                        const std::string& data) {
    auto loaded = load();
    if (!loaded) {
        return kRegBadDb;
    }
    Keys keys = std::move(loaded).value();
    std::string lower = toLower(path);
    if (!keys.count(lower)) {
        if (path.find('\\') != std::string::npos) {
            return kRegFileNotFound;  // only a root key is there without being created
        }
        keys[lower].path = path;
    }
    keys[lower].values[toLower(name)] = StoredValue{type, data, name};
    return save(keys);
}

long RegistryStore::queryValue(std::uint32_t key, const std::string& name, std::uint32_t* type,
                               std::string* data, std::uint32_t bufferSize) {
    auto it = m_open.find(key);
    if (it == m_open.end()) {
        return kRegInvalidHandle;
    }
    StoredValue v;
    if (long rc = find(it->second, name, &v); rc != kRegOk) {
        return rc;
    }
    if (type != nullptr) {
        *type = v.type;
    }
    if (v.data.size() > bufferSize) {
        return kRegMoreData;
    }
    *data = v.data;
    return kRegOk;
}

long RegistryStore::setValue(std::uint32_t key, const std::string& name, std::uint32_t type,
                             const std::string& data) {
    auto it = m_open.find(key);
    return it == m_open.end() ? kRegInvalidHandle : put(it->second, name, type, data);
}

long RegistryStore::closeKey(std::uint32_t key) {
    return m_open.erase(key) ? kRegOk : kRegInvalidHandle;
}

std::optional<std::string> RegistryStore::getData(std::uint32_t root, const std::string& subKey,
                                                  const std::string& name,
                                                  std::uint32_t type) const {
    StoredValue v;
    if (rootKeyName(root).empty() || find(fullPath(root, subKey), name, &v) != kRegOk ||
        v.type != type) {
        return std::nullopt;
    }
    return v.data;
}

std::optional<std::string> RegistryStore::getString(std::uint32_t root, const std::string& subKey,
                                                    const std::string& name) const {
    std::optional<std::string> data = getData(root, subKey, name, kRegSz);
    if (data) {
        *data = data->substr(0, data->find('\0'));
    }
    return data;
}

std::optional<std::uint32_t> RegistryStore::getNumber(std::uint32_t root, const std::string& subKey,
                                                      const std::string& name) const {
    std::optional<std::string> data = getData(root, subKey, name, kRegDword);
    if (!data || data->size() != 4) {
        return std::nullopt;
    }
    std::uint32_t n = 0;
    for (size_t i = 0; i < data->size(); ++i) {
        n |= std::uint32_t{static_cast<unsigned char>((*data)[i])} << (8 * i);
    }
    return n;
}

long RegistryStore::setData(std::uint32_t root, const std::string& subKey, const std::string& name,
                            std::uint32_t type, const std::string& data) {
    return rootKeyName(root).empty() ? kRegInvalidHandle
                                     : put(fullPath(root, subKey), name, type, data);
}

long RegistryStore::setString(std::uint32_t root, const std::string& subKey,
                              const std::string& name, const std::string& value) {
    return setData(root, subKey, name, kRegSz, value + '\0');
}

long RegistryStore::setNumber(std::uint32_t root, const std::string& subKey,
                              const std::string& name, std::uint32_t value) {
    std::string bytes;
    for (int shift = 0; shift < 32; shift += 8) {
        bytes += static_cast<char>(value >> shift);
    }
    return setData(root, subKey, name, kRegDword, bytes);
}

}  // namespace parlix
