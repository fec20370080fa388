#include "base/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace parlix {

namespace {

[[noreturn]] void raise(const std::string& what, const std::string& path) {
    int code = errno;
    throw FileError(code, what + " " + path + ": " + std::strerror(code));
}

std::string folderOf(const std::string& path) {
    auto pos = path.rfind('/');
    return pos == std::string::npos ? "." : (pos == 0 ? "/" : path.substr(0, pos));
}

void syncFolder(const std::string& path) {
    int dfd = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
}

/// Reads an open file to its end and closes it.
std::string readAll(int fd, const std::string& path) {
    std::string out;
    char buf[65536];
    while (true) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            int code = errno;
            ::close(fd);
            errno = code;
            raise("cannot read", path);
        }
        if (n == 0) {
            break;
        }
        out.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return out;
}

}  // namespace

void writeFileAtomic(const std::string& path, const std::string& content, mode_t mode) {
    std::string tmp = path + "_new";
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) {
        raise("cannot create", tmp);
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
            int code = errno;
            ::close(fd);
            ::unlink(tmp.c_str());
            errno = code;
            raise("cannot write", tmp);
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        int code = errno;
        ::unlink(tmp.c_str());
        errno = code;
        raise("cannot flush", tmp);
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        int code = errno;
        ::unlink(tmp.c_str());
        errno = code;
        raise("cannot rename onto", path);
    }
    syncFolder(path);
}

std::string readFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        raise("cannot open", path);
    }
    return readAll(fd, path);
}

std::optional<std::string> readFileIfPresent(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            return std::nullopt;
        }
        raise("cannot open", path);
    }
    return readAll(fd, path);
}

void makeFolders(const std::string& path) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    if (ec) {
        throw FileError(ec.value(), "cannot create the folder " + path + ": " + ec.message());
    }
}

void removeFile(const std::string& path) {
    if (::unlink(path.c_str()) != 0) {
        if (errno == ENOENT) {
            return;
        }
        raise("cannot remove", path);
    }
    syncFolder(path);
}

}  // namespace parlix
