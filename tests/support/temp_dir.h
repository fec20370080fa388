#pragma once

#include <filesystem>
#include <string>

namespace parlix::test {

/// A fresh folder under `base`, by default the system's temporary folder, removed with
/// everything in it.
class TempDir {
public:
    explicit TempDir(const std::filesystem::path& base = std::filesystem::temp_directory_path());
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::string str() const { return m_path.string(); }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

/// The whole content of a file, or empty text when it cannot be read.
std::string readFile(const std::filesystem::path& p);
/// Writes a file's whole content.
void writeFile(const std::filesystem::path& p, const std::string& content);

}  // namespace parlix::test
