#include "sys/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace parlix {

FolderLock::FolderLock(const std::string& folder)
    : m_fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}

FolderLock::~FolderLock() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool FolderLock::take() {
    if (!m_held && m_fd >= 0) {
        m_held = ::flock(m_fd, LOCK_EX | LOCK_NB) == 0;
    }
    return m_held;
}

}  // namespace parlix
