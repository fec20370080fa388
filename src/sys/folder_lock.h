#pragma once

#include <string>

namespace parlix {

/// The right to send from a program folder: an exclusive lock on the folder itself, held from
/// the moment it is taken until the program ends. Only one program sends from a folder at a
/// time, because the batch marker and the payload files of a folder belong to one sender.
class FolderLock {
public:
    explicit FolderLock(const std::string& folder);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    /// The folder could be opened to be locked.
    bool opened() const { return m_fd >= 0; }
    /// Takes the lock without waiting, or confirms it is held; false while another program
    /// holds it.
    bool take();

private:
    int m_fd;
    bool m_held = false;
};

}  // namespace parlix
