#include "db/odbc_dsn.h"

#include <cstdint>

#include "base/failure.h"
#include "base/ui.h"
#include "sys/registry_store.h"

namespace parlix {

namespace {

const std::string kOdbcIni = "SOFTWARE\\ODBC\\ODBC.INI\\";

std::string sz(const std::string& text) {
    return text + std::string(1, '\0');
}

std::string dword(std::uint32_t n) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) {
        bytes[static_cast<size_t>(i)] = static_cast<char>((n >> (8 * i)) & 0xFF);
    }
    return bytes;
}

/// Creates or opens a key, runs `write` on it when that worked, and closes it.
template <typename F>
void withKey(RegistryStore& store, const std::string& subKey, F write) {
    std::uint32_t key = 0;
    if (store.createKey(kHkeyLocalMachine, subKey, &key) == kRegOk) {
        write(key);
        store.closeKey(key);
    }
}

std::string readSz(RegistryStore& store, std::uint32_t key, const std::string& name, bool* found) {
    std::string data;
    std::uint32_t type = 0;
    *found = store.queryValue(key, name, &type, &data, 4096) == kRegOk && type == kRegSz;
    size_t nul = data.find('\0');
    return nul == std::string::npos ? data : data.substr(0, nul);
}

}  // namespace

std::string SystemFolderPath(const std::string& which) {
    if (which == "WindowsDirectory") {
        return "/etc";
    }
    if (which == "WindowsSystemDirectory") {
        return "/usr/lib";
    }
    return {};
}

void RegisterOdbcDsn(RegistryStore& store, Ui& ui, const std::string& name,
                     const std::string& databasePath, const std::string& userId,
                     const std::string& password) {
    try {
        std::string driver = SystemFolderPath("WindowsSystemDirectory") + "\\odbcjt32.dll";
        std::string dsnKey = kOdbcIni + name;
        withKey(store, dsnKey, [&](std::uint32_t key) {
            store.setValue(key, "DBQ", kRegSz, sz(databasePath));
            store.setValue(key, "Driver", kRegSz, sz(driver));
            store.setValue(key, "DriverId", kRegDword, dword(25));
            store.setValue(key, "FIL", kRegSz, sz("MS Access;"));
            store.setValue(key, "SafeTransaction", kRegDword, dword(0));
            store.setValue(key, "PWD", kRegSz, sz(password));
            store.setValue(key, "UID", kRegSz, sz(userId));
        });
        withKey(store, dsnKey + "\\Engines", [](std::uint32_t) {});
        withKey(store, dsnKey + "\\Engines\\Jet", [&](std::uint32_t key) {
            store.setValue(key, "ImplicitCommitSync", kRegSz, sz(""));
            store.setValue(key, "MaxBufferSize", kRegDword, dword(2048));
            store.setValue(key, "PageTimeOut", kRegDword, dword(5));
            store.setValue(key, "Threads", kRegDword, dword(3));
            store.setValue(key, "UserCommitSync", kRegSz, sz(""));
        });
        withKey(store, kOdbcIni + "ODBC Data Sources",
                [&](std::uint32_t key) { store.setValue(key, name, kRegSz, sz("")); });
    } catch (const OutsideFailure&) {
        ui.msgBox("Error In Creating DSN");
    }
}

Result<DataSource> lookupOdbcDsn(RegistryStore& store, const std::string& name) {
    std::uint32_t key = 0;
    if (store.openKey(kHkeyLocalMachine, kOdbcIni + name, kKeyRead, &key) != kRegOk) {
        return Error{kRegFileNotFound, "Data source '" + name +
                                           "' is not registered; tick \"Vista OS / Windows 7\" "
                                           "to open the database file directly"};
    }
    bool hasPath = false;
    bool hasDriver = false;
    bool hasPassword = false;
    DataSource ds;
    ds.path = readSz(store, key, "DBQ", &hasPath);
    readSz(store, key, "Driver", &hasDriver);
    ds.password = readSz(store, key, "PWD", &hasPassword);
    store.closeKey(key);
    if (!hasPath || ds.path.empty() || !hasDriver) {
        return Error{kRegFileNotFound, "Data source '" + name +
                                           "' is incomplete: it names no database file or driver"};
    }
    return ds;
}

}  // namespace parlix
