#include "sys/registry_keys.h"

#include "base/ui.h"
#include "sys/registry_store.h"

namespace parlix {

namespace {

constexpr std::uint32_t kReadBufferSize = 255;

}  // namespace

RegistryKeys::RegistryKeys(RegistryStore& store, Ui& ui) : m_store(store), m_ui(ui) {}

std::uint32_t RegistryKeys::HiveFromName(const std::string& name) {
    for (std::uint32_t h = kHkeyClassesRoot; h <= kHkeyDynData; ++h) {
        if (name == rootKeyName(h)) {
            return h;
        }
    }
    return 0;
}

bool RegistryKeys::SplitKeyPath(std::string& keyPath, std::uint32_t& root) {
    root = 0;
    if (keyPath.rfind("HKEY_", 0) != 0 || (!keyPath.empty() && keyPath.back() == '\\')) {
        m_ui.msgBox("Incorrect Format:\n\n" + keyPath);
        return false;
    }
    size_t sep = keyPath.find('\\');
    if (sep == std::string::npos) {
        root = HiveFromName(keyPath);
        keyPath.clear();
    } else {
        root = HiveFromName(keyPath.substr(0, sep));
        keyPath = keyPath.substr(sep + 1);
    }
    return true;
}

std::string RegistryKeys::ReadRegValue(std::string keyPath, const std::string& valueName) {
    std::uint32_t root = 0;
    if (!SplitKeyPath(keyPath, root) || root == 0) {
        return {};
    }
    std::uint32_t key = 0;
    m_lastResult = m_store.openKey(root, keyPath, kKeyRead, &key);
    if (m_lastResult != kRegOk) {
        return {};
    }
    std::string data;
    std::uint32_t type = 0;
    m_lastResult = m_store.queryValue(key, valueName, &type, &data, kReadBufferSize);
    long queried = m_lastResult;
    m_lastResult = m_store.closeKey(key);
    if (queried != kRegOk) {
        return {};
    }
    size_t nul = data.find('\0');
    if (nul == std::string::npos || nul == 0) {
        return {};
    }
    return data.substr(0, nul);
}

void RegistryKeys::CreateRegKey(std::string keyPath) {
    std::uint32_t root = 0;
    if (SplitKeyPath(keyPath, root) && root != 0) {
        m_lastResult = m_store.ensureKey(root, keyPath);
    }
}

void RegistryKeys::WriteRegString(std::string keyPath, const std::string& valueName,
                                  const std::string& value) {
    std::uint32_t root = 0;
    if (SplitKeyPath(keyPath, root) && root != 0) {
        m_lastResult = m_store.setString(root, keyPath, valueName, value);
    }
}

}  // namespace parlix
