#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "base/result.h"

namespace parlix {

/// Result codes of the registry calls; 0 is success.
enum RegResult : long {
    kRegOk = 0,
    kRegFileNotFound = 2,
    kRegAccessDenied = 5,
    kRegInvalidHandle = 6,
    kRegMoreData = 234,
    kRegBadDb = 1009,
};

/// Value types the store keeps.
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegDword = 4;

/// Access masks callers pass when opening a key.
inline constexpr std::uint32_t kKeyRead = 0x20019;
inline constexpr std::uint32_t kKeyWrite = 0x20006;

/// The predefined root keys.
inline constexpr std::uint32_t kHkeyClassesRoot = 0x80000000u;
inline constexpr std::uint32_t kHkeyCurrentUser = 0x80000001u;
inline constexpr std::uint32_t kHkeyLocalMachine = 0x80000002u;
inline constexpr std::uint32_t kHkeyUsers = 0x80000003u;
inline constexpr std::uint32_t kHkeyPerformanceData = 0x80000004u;
inline constexpr std::uint32_t kHkeyCurrentConfig = 0x80000005u;
inline constexpr std::uint32_t kHkeyDynData = 0x80000006u;

/// The root name of a predefined key ("HKEY_LOCAL_MACHINE"), or empty text.
std::string rootKeyName(std::uint32_t root);

/// A machine-wide key store kept in one file in the program folder. Keys are paths under a
/// root key; each holds named values of a type and raw data bytes. Key and value names match
/// without regard to case. Every change rewrites the file atomically with owner-only rights.
class RegistryStore {
public:
    /// Replaces the file's content; raises FileError when it cannot.
    using Writer = std::function<void(const std::string& path, const std::string& content)>;

    /// `writer` replaces the file's content; the default writes a temporary file and renames it.
    explicit RegistryStore(std::string filePath, Writer writer = {});

    long openKey(std::uint32_t root, const std::string& subKey, std::uint32_t access,
                 std::uint32_t* key);
    /// Opens a key, creating it and every missing key above it.
    long createKey(std::uint32_t root, const std::string& subKey, std::uint32_t* key);
    /// Copies at most `bufferSize` bytes of a value; kRegMoreData when it does not fit.
    long queryValue(std::uint32_t key, const std::string& name, std::uint32_t* type,
                    std::string* data, std::uint32_t bufferSize);
    long setValue(std::uint32_t key, const std::string& name, std::uint32_t type,
                  const std::string& data);
    long closeKey(std::uint32_t key);

    // Values by key path, without handles or byte layouts; the setters return result codes.

    /// A string value's text up to its first NUL; nothing when missing or of another type.
    std::optional<std::string> getString(std::uint32_t root, const std::string& subKey,
                                         const std::string& name) const;
    /// A 32-bit number value; nothing when missing or of another type.
    std::optional<std::uint32_t> getNumber(std::uint32_t root, const std::string& subKey,
                                           const std::string& name) const;
    /// Stores `value` and a NUL under an existing key; a missing key is not created.
    long setString(std::uint32_t root, const std::string& subKey, const std::string& name,
                   const std::string& value);
    /// Stores `value` as 4 bytes, low byte first, under an existing key.
    long setNumber(std::uint32_t root, const std::string& subKey, const std::string& name,
                   std::uint32_t value);
    /// Creates a key and every missing key above it; an existing key keeps its values.
    long ensureKey(std::uint32_t root, const std::string& subKey);

    const std::string& filePath() const { return m_path; }
    /// Whether the file can be read and understood; a missing file is an empty store.
    Result<bool> check() const;

private:
    struct StoredValue {
        std::uint32_t type = kRegSz;
        std::string data;
        std::string name;
    };
    struct StoredKey {
        std::string path;
        std::map<std::string, StoredValue> values;  // by lower-case name
    };
    using Keys = std::map<std::string, StoredKey>;  // by lower-case full path

    Result<Keys> load() const;
    long save(const Keys& keys);
    /// Looks a value up under the key at a full path.
    long find(const std::string& path, const std::string& name, StoredValue* value) const;
    /// Stores a value under the key at a full path; only a root key may be missing.
    long put(const std::string& path, const std::string& name, std::uint32_t type,
             const std::string& data);
    /// The data of a value of `type` under a key of a predefined root.
    std::optional<std::string> getData(std::uint32_t root, const std::string& subKey,
                                       const std::string& name, std::uint32_t type) const;
    /// Stores a value under an existing key of a predefined root.
    long setData(std::uint32_t root, const std::string& subKey, const std::string& name,
                 std::uint32_t type, const std::string& data);
    static std::string fullPath(std::uint32_t root, const std::string& subKey);

    std::string m_path;
    Writer m_writer;
    std::map<std::uint32_t, std::string> m_open;  // open handle -> full key path
    std::uint32_t m_nextHandle = 1;
};

}  // namespace parlix
