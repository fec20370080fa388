#pragma once

#include <cstdint>
#include <string>

namespace parlix {

class RegistryStore;
class Ui;

/// Reads and writes string values under key paths such as
/// "HKEY_LOCAL_MACHINE\SOFTWARE\ZENTROCA\VardexServer". Failures are silent: a read gives empty
/// text, a write does nothing. Only a path of the wrong form is reported, by a message box.
class RegistryKeys {
public:
    RegistryKeys(RegistryStore& store, Ui& ui);

    /// The value's text, or empty text when anything fails.
    std::string ReadRegValue(std::string keyPath, const std::string& valueName);
    /// Creates the key (and the keys above it); an existing key is left as it is.
    void CreateRegKey(std::string keyPath);
    /// Sets a string value under an existing key; a missing key is not created.
    void WriteRegString(std::string keyPath, const std::string& valueName,
                        const std::string& value);

    /// Cuts the root name off `keyPath`, leaving the sub-key path, and resolves it. False when
    /// the path has the wrong form (after the "Incorrect Format:" box).
    bool SplitKeyPath(std::string& keyPath, std::uint32_t& root);
    /// The handle of a root name, exactly as spelled, or 0.
    static std::uint32_t HiveFromName(const std::string& name);

    /// Result code of the last registry call.
    long lastResult() const { return m_lastResult; }

private:
    RegistryStore& m_store;
    Ui& m_ui;
    long m_lastResult = 0;
};

}  // namespace parlix
