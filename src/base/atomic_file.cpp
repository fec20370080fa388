#include "base/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <string>

namespace parlix {

namespace {

Error osError(const std::string& what, const std::string& path) {
    return Error{errno, what + " " + path + ": " + std::strerror(errno)};
}

std::string folderOf(const std::string& path) {
    auto pos = path.rfind('/');
    return pos == std::string::npos ? "." : (pos == 0 ? "/" : path.substr(0, pos));
}

}  // namespace

Result<bool> writeFileAtomic(const std::string& path, const std::string& content, mode_t mode) {
    std::string tmp = path + "_new";
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) {
        return osError("cannot create", tmp);
    }
    // O_CREAT honours the umask; the owner-only mode must hold whatever it is.
    ::fchmod(fd, mode);
    size_t done = 0;
    while (done < content.size()) {
        ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            Error e = osError("cannot write", tmp);
            ::close(fd);
            ::unlink(tmp.c_str());
            return e;
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        Error e = osError("cannot flush", tmp);
        ::unlink(tmp.c_str());
        return e;
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        Error e = osError("cannot rename onto", path);
        ::unlink(tmp.c_str());
        return e;
    }
    // Sync the folder too, so the rename itself survives a power cut.
    int dfd = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

Result<std::string> readWholeFileBytes(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return osError("cannot open", path);
    }
    std::string out;
    char buf[65536];
    while (true) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            Error e = osError("cannot read", path);
            ::close(fd);
            return e;
        }
        if (n == 0) {
            break;
        }
        out.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return out;
}

}  // namespace parlix
