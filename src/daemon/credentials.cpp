#include "daemon/credentials.h"

#include <cerrno>
#include <cmath>
#include <cstring>

#include "base/file.h"
#include "base/text.h"
#include "model/settings_keys.h"
#include "sys/registry_keys.h"
#include "sys/registry_store.h"

namespace parlix {

Result<Credentials> readCredentialsFile(const std::string& path) {
    std::string content;
    try {
        content = readPrivateFile(path);
    } catch (const FileError& e) {
        return Error{e.code(), std::string("the credentials file: ") + e.what()};
    }
    std::optional<std::string> user;
    std::optional<std::string> password;
    for (std::string line : split(content, "\n")) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (trimSpaces(line).empty() || line[0] == '#') {
            continue;
        }
        size_t eq = line.find('=');
        std::string key = eq == std::string::npos ? line : trimSpaces(line.substr(0, eq));
        if (key == "user" && eq != std::string::npos) {
            user = line.substr(eq + 1);
        } else if (key == "password" && eq != std::string::npos) {
            password = line.substr(eq + 1);
        } else {
            return Error{EINVAL, "the credentials file " + path +
                                     " holds a line that is neither user= nor password="};
        }
    }
    if (!user || user->empty() || !password || password->empty()) {
        return Error{EINVAL,
                     "the credentials file " + path + " needs a user= and a password= line"};
    }
    return Credentials{*user, *password};
}

std::optional<Credentials> rememberedLogin(RegistryKeys& keys) {
    double remember =
        std::round(leadingNumber(keys.ReadRegValue(kProgramRegistryKey, "Remember Id PassWord")));
    if (remember == 0) {
        return std::nullopt;
    }
    Credentials login{keys.ReadRegValue(kProgramRegistryKey, "UserId"),
                      keys.ReadRegValue(kProgramRegistryKey, "PassWord")};
    if (login.userId.empty() || login.password.empty()) {
        return std::nullopt;
    }
    return login;
}

bool rememberLogin(RegistryKeys& keys, const Credentials& login) {
    keys.CreateRegKey(kProgramRegistryKey);
    const std::pair<const char*, std::string> values[] = {
        {"UserId", login.userId}, {"PassWord", login.password}, {"Remember Id PassWord", "1"}};
    for (const auto& [name, value] : values) {
        keys.WriteRegString(kProgramRegistryKey, name, value);
        if (keys.lastResult() != kRegOk) {
            return false;
        }
    }
    std::optional<Credentials> saved = rememberedLogin(keys);
    return saved && saved->userId == login.userId && saved->password == login.password;
}

}  // namespace parlix
