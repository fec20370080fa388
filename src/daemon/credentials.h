#pragma once

#include <optional>
#include <string>

#include "base/result.h"

namespace parlix {

class RegistryKeys;

/// A gateway login.
struct Credentials {
    std::string userId;
    std::string password;
};

/// The login of a credentials file: a "user=" and a "password=" line, the value taken exactly as
/// it stands after the "="; blank lines and lines starting with '#' are skipped. An Error when
/// the file cannot be read, when anyone but its owner may read it, or when it lacks either line.
Result<Credentials> readCredentialsFile(const std::string& path);

/// The login the window's "remember" option keeps in the registry store: the user id and
/// password, when the remember flag is set and neither is empty.
std::optional<Credentials> rememberedLogin(RegistryKeys& keys);

/// Remembers a login as the window's "remember" option does; false when the registry store
/// could not keep it.
bool rememberLogin(RegistryKeys& keys, const Credentials& login);

}  // namespace parlix
