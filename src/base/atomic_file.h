#pragma once

#include <sys/types.h>
#include <string>

#include "base/result.h"

namespace parlix {

/// Replaces a file's content so that a crash leaves either the old or the new file, never half
/// of one: the text goes to a "_new" file that is synced and then renamed over the target.
Result<bool> writeFileAtomic(const std::string& path, const std::string& content,
                             mode_t mode = 0600);

/// Reads a whole file; an Error when it cannot be opened.
Result<std::string> readWholeFileBytes(const std::string& path);

}  // namespace parlix
