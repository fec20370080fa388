#pragma once

#include <string>

#include "base/result.h"
#include "db/connection.h"

namespace parlix {

class RegistryStore;
class Ui;

/// The folder a Windows-style folder name stands for on this system: "WindowsDirectory" is
/// "/etc" (machine-wide configuration) and "WindowsSystemDirectory" is "/usr/lib" (shared
/// libraries, where a database driver would live). Any other name gives empty text.
std::string SystemFolderPath(const std::string& which);

/// Writes the data source `name` into the registry store under
/// HKEY_LOCAL_MACHINE\SOFTWARE\ODBC\ODBC.INI, pointing at `databasePath`. Registry failures are
/// skipped silently; anything else shows "Error In Creating DSN".
void RegisterOdbcDsn(RegistryStore& store, Ui& ui, const std::string& name,
                     const std::string& databasePath, const std::string& userId,
                     const std::string& password);

/// Reads a registered data source back: its database path ("DBQ") and password ("PWD").
Result<DataSource> lookupOdbcDsn(RegistryStore& store, const std::string& name);

}  // namespace parlix
