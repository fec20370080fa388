#include "base/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace parlix {

namespace {

[[noreturn]] void raise(const std::string& what, const std::string& path) {
    int code = errno;
    throw FileError(code, what + " " + path + ": " + std::strerror(code));
}

/// Syncs the folder that holds `path`, so that a rename or removal in it survives a power cut.
void syncFolder(const std::string& path) {
    const std::string folder = folderOf(path);
    int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0) {
        raise("cannot open the folder", folder);
    }
    if (::fsync(dfd) != 0) {
        int code = errno;
        ::close(dfd);
        errno = code;
        raise("cannot sync the folder", folder);
    }
    ::close(dfd);
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

std::string folderOf(const std::string& path) {
    auto pos = path.rfind('/');
    return pos == std::string::npos ? "." : (pos == 0 ? "/" : path.substr(0, pos));
}

void writeFileAtomic(const std::string& path, const std::string& content) {
    constexpr mode_t mode = 0600;
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

std::string readPrivateFile(const std::string& path) {
    // One descriptor for the checks and the read, so a file swapped in between is never read.
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        raise(errno == ELOOP ? "a symbolic link may not stand for" : "cannot open", path);
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        int code = errno;
        ::close(fd);
        errno = code;
        raise("cannot examine", path);
    }
    auto refuse = [&](const std::string& why) {
        ::close(fd);
        throw FileError(EACCES, path + " " + why);
    };
    if (!S_ISREG(st.st_mode)) {
        refuse("is not a regular file");
    }
    if (st.st_uid != ::geteuid()) {
        refuse("belongs to user " + std::to_string(st.st_uid) + ", not to the user running " +
               "this program (" + std::to_string(::geteuid()) + ")");
    }
    if ((st.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        refuse(std::string("may be read by others (mode ") + mode +
               "); make it readable by its owner only: chmod 600 " + path);
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
