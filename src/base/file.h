#pragma once

#include <sys/types.h>
#include <optional>
#include <string>

#include "base/failure.h"

namespace parlix {

/// The folder that holds `path`: "." for a bare name.
std::string folderOf(const std::string& path);

/// Replaces a file's content so that a crash leaves either the old or the new file, never half
/// of one: the text goes to a "_new" file that is synced and then renamed over the target, and
/// the folder is synced so the rename survives a power cut; a failed sync fails the write. The
/// file is readable and writable by its owner only. Throws FileError.
void writeFileAtomic(const std::string& path, const std::string& content);

/// Every byte of a file. Throws FileError.
std::string readFile(const std::string& path);

/// Every byte of a file, or nothing when there is no such file. Throws FileError for any other
/// failure, so a file that exists but cannot be read is never taken for an absent one.
std::optional<std::string> readFileIfPresent(const std::string& path);

/// Reads a file that only its owner may read, such as a file of credentials or a token. It is
/// opened once, without following a symbolic link, and checked on that open descriptor: a regular
/// file, owned by the running user, with no permission for group or others. Throws FileError
/// naming what is wrong.
std::string readPrivateFile(const std::string& path);

/// Creates a folder and every missing folder above it. Throws FileError.
void makeFolders(const std::string& path);

/// Removes a file and syncs its folder; a file that is not there is no error. Throws FileError.
void removeFile(const std::string& path);

}  // namespace parlix
