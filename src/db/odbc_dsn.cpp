#include "db/odbc_dsn.h"

#include <cstdint>

#include "base/failure.h"
#include "base/ui.h"
#include "sys/registry_store.h"

namespace parlix {

namespace {

const std::string kOdbcIni = "SOFTWARE\\ODBC\\ODBC.INI\\";

/// A value of any type up to its first NUL, read into a 4096-byte buffer; `found` for a string.
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
        const std::uint32_t hklm = kHkeyLocalMachine;
        const std::string dsnKey = kOdbcIni + name;
        if (store.ensureKey(hklm, dsnKey) == kRegOk) {
            const std::string driver =
                SystemFolderPath("WindowsSystemDirectory") + "\\odbcjt32.dll";
            store.setString(hklm, dsnKey, "DBQ", databasePath);
            store.setString(hklm, dsnKey, "Driver", driver);
            store.setNumber(hklm, dsnKey, "DriverId", 25);
            store.setString(hklm, dsnKey, "FIL", "MS Access;");
            store.setNumber(hklm, dsnKey, "SafeTransaction", 0);
            store.setString(hklm, dsnKey, "PWD", password);
            store.setString(hklm, dsnKey, "UID", userId);
        }
        store.ensureKey(hklm, dsnKey + "\\Engines");
        const std::string jetKey = dsnKey + "\\Engines\\Jet";
        if (store.ensureKey(hklm, jetKey) == kRegOk) {
            store.setString(hklm, jetKey, "ImplicitCommitSync", "");
            store.setNumber(hklm, jetKey, "MaxBufferSize", 2048);
            store.setNumber(hklm, jetKey, "PageTimeOut", 5);
            store.setNumber(hklm, jetKey, "Threads", 3);
            store.setString(hklm, jetKey, "UserCommitSync", "");
        }
        const std::string sourcesKey = kOdbcIni + "ODBC Data Sources";
        if (store.ensureKey(hklm, sourcesKey) == kRegOk) {
            store.setString(hklm, sourcesKey, name, "");
        }
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
