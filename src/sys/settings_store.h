#pragma once

#include <functional>
#include <string>

#include "base/result.h"

namespace parlix {

/// The per-user settings store: text values addressed by application, section and key, one INI
/// file per application in the user's settings folder. Section and key names match without
/// regard to case. Every save rewrites the file atomically, readable by its owner only.
class SettingsStore {
public:
    /// Replaces a file's content; raises FileError when it cannot.
    using Writer = std::function<void(const std::string& path, const std::string& content)>;

    /// `folder` holds the files ("<application>.ini").
    explicit SettingsStore(std::string folder, Writer writer = {});

    /// The stored text, or `defaultValue` when the key is absent or the file unreadable.
    std::string GetSetting(const std::string& app, const std::string& section,
                           const std::string& key, const std::string& defaultValue = "") const;
    /// Stores a text; false when the file could not be written (the old value stays).
    bool SaveSetting(const std::string& app, const std::string& section, const std::string& key,
                     const std::string& value);

    /// Whether an application's file is readable and holds only sections, settings and
    /// comments; an Error naming the first line that is none of them. A missing file is fine.
    Result<bool> check(const std::string& app) const;

    /// The user's settings folder: $XDG_CONFIG_HOME/parlix, or ~/.config/parlix.
    static std::string defaultFolder();
    std::string filePath(const std::string& app) const;

private:
    std::string m_folder;
    Writer m_writer;
};

}  // namespace parlix
