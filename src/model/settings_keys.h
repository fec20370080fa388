#pragma once

namespace parlix {

/// The application name of every setting the program keeps.
inline constexpr const char* kSettingsApp = "Zentroca";
/// The registry key that remembers the gateway credentials.
inline constexpr const char* kProgramRegistryKey =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\ZENTROCA\\VardexServer";

}  // namespace parlix
