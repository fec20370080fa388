#pragma once

#include <string>

namespace parlix {

/// Returns every byte of the file. A missing file is created empty first, as opening a file for
/// binary access does. Throws std::system_error when the file cannot be opened or read.
std::string ReadWholeFile(const std::string& path);

/// Makes the file hold exactly `text`. The text goes to a temporary file that is renamed over
/// the old one, so neither a crash nor a shorter text leaves stale bytes behind. Throws
/// std::system_error when the file cannot be written.
void WriteWholeFile(const std::string& path, const std::string& text);

/// A file opened for sequential binary reading; the handle is held until destruction.
class SequentialFile {
public:
    /// Throws std::system_error when the file cannot be opened.
    explicit SequentialFile(const std::string& path);
    ~SequentialFile();
    SequentialFile(SequentialFile&& other) noexcept;
    SequentialFile& operator=(SequentialFile&& other) noexcept;
    SequentialFile(const SequentialFile&) = delete;
    SequentialFile& operator=(const SequentialFile&) = delete;

    /// The file's length in bytes when it was opened.
    long long length() const { return m_length; }
    /// Reads up to `count` bytes from the current position; fewer only at the end of the file.
    std::string read(size_t count);

private:
    int m_fd = -1;
    long long m_length = 0;
    std::string m_path;
};

}  // namespace parlix
