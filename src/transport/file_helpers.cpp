#include "transport/file_helpers.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <system_error>
#include <utility>

#include "base/atomic_file.h"

namespace parlix {

namespace {

[[noreturn]] void throwOsError(const std::string& what, const std::string& path) {
    throw std::system_error(errno, std::generic_category(), what + " " + path);
}

}  // namespace

std::string ReadWholeFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        throwOsError("cannot open", path);
    }
    ::close(fd);
    Result<std::string> content = readWholeFileBytes(path);
    if (!content) {
        throw std::system_error(static_cast<int>(content.error().code), std::generic_category(),
                                content.error().message);
    }
    return std::move(content).value();
}

void WriteWholeFile(const std::string& path, const std::string& text) {
    Result<bool> written = writeFileAtomic(path, text);
    if (!written) {
        throw std::system_error(static_cast<int>(written.error().code), std::generic_category(),
                                written.error().message);
    }
}

SequentialFile::SequentialFile(const std::string& path) : m_path(path) {
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0) {
        throwOsError("cannot open", path);
    }
    struct stat st {};
    if (::fstat(m_fd, &st) != 0) {
        int saved = errno;
        ::close(m_fd);
        m_fd = -1;
        throw std::system_error(saved, std::generic_category(), "cannot examine " + path);
    }
    m_length = st.st_size;
}

SequentialFile::~SequentialFile() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

SequentialFile::SequentialFile(SequentialFile&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)),
      m_length(other.m_length),
      m_path(std::move(other.m_path)) {}

SequentialFile& SequentialFile::operator=(SequentialFile&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = std::exchange(other.m_fd, -1);
        m_length = other.m_length;
        m_path = std::move(other.m_path);
    }
    return *this;
}

std::string SequentialFile::read(size_t count) {
    std::string out(count, '\0');
    size_t done = 0;
    while (done < count) {
        ssize_t n = ::read(m_fd, out.data() + done, count - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throwOsError("cannot read", m_path);
        }
        if (n == 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
    out.resize(done);
    return out;
}

}  // namespace parlix
