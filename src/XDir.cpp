#include "XDir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace {

const int kDirFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// A folder of this user's that no one else can write into: "" when it is,
// else why not.
const char* NotOwnFolder(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode)) return "is not a folder";
    if (st.st_uid != geteuid()) return "belongs to another user";
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) return "is writable by others";
    return "";
}

// Why opening a folder failed, from errno.
const char* OpenFailure() {
    if (errno == ELOOP) return "is a link";
    if (errno == ENOTDIR) return "is not a folder";
    if (errno == EACCES) return "is not accessible";
    return "cannot be opened";
}

}  // namespace

XDir::XDir(const XDir& o)
    : m_fd(o.m_fd >= 0 ? fcntl(o.m_fd, F_DUPFD_CLOEXEC, 0) : -1), m_why(o.m_why) {}

XDir& XDir::operator=(const XDir& o) {
    if (this != &o) {
        Close();
        m_fd = o.m_fd >= 0 ? fcntl(o.m_fd, F_DUPFD_CLOEXEC, 0) : -1;
    }
    return *this;
}

bool XDir::Open(const char* path) {
    Close();
    m_fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return m_fd >= 0;
}

bool XDir::MakeOwn(const XDir& parent, const char* name, bool bChmod) {
    Close();
    if (!parent.IsOpen() || name == nullptr || *name == '\0' || strchr(name, '/') != nullptr) {
        m_why = "has a bad name";
        return false;
    }
    return MakeAt(parent.m_fd, name, bChmod);
}

bool XDir::MakeOwnRoot(const char* path) {
    Close();
    // A trailing '/' would make the last component follow a link.
    std::string p(path ? path : "");
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    if (p.empty()) {
        m_why = "has a bad name";
        return false;
    }
    return MakeAt(AT_FDCWD, p.c_str(), false);
}

bool XDir::MakeAt(int dirFd, const char* name, bool bChmod) {
    if (mkdirat(dirFd, name, 0700) != 0 && errno != EEXIST) {
        m_why = "cannot be made";
        return false;
    }
    int fd = openat(dirFd, name, kDirFlags);
    if (fd < 0) {
        m_why = OpenFailure();
        return false;
    }
    if (bChmod) fchmod(fd, 0700);
    m_why = NotOwnFolder(fd);
    if (*m_why != '\0') {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

bool XDir::OpenParentOf(const char* szName, XDir& parent, const char*& leaf) const {
    parent.Close();
    if (!IsOpen() || szName == nullptr) return false;
    int fd = fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) return false;
    const char* p = szName;
    for (;;) {
        const char* slash = strchr(p, '/');
        if (slash == nullptr) break;
        std::string part(p, static_cast<size_t>(slash - p));
        if (part.empty() || part == "." || part == "..") {
            ::close(fd);
            return false;
        }
        int next = openat(fd, part.c_str(), kDirFlags);
        ::close(fd);
        if (next < 0) return false;
        fd = next;
        p = slash + 1;
    }
    if (*p == '\0' || strcmp(p, ".") == 0 || strcmp(p, "..") == 0) {
        ::close(fd);
        return false;
    }
    leaf = p;
    parent.m_fd = fd;
    return true;
}

void XDir::Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}
