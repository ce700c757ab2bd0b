#include "XFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include "cstring.h"

bool XFile::OpenA(const char* path, int flags, bool) {
    if (m_fh >= 0) return true;
    m_fh = ::open(path, flags | O_NOFOLLOW | O_CLOEXEC, 0600);
    return m_fh >= 0;
}

bool XFile::OpenT(const char* path, int flags, bool bUnused) {
    CT2UTF8 utf8(path);
    return OpenA(utf8, flags, bUnused);
}

bool XFile::OpenAt(int dirFd, const char* name, int flags) {
    if (m_fh >= 0) return true;
    m_fh = ::openat(dirFd, name, flags | O_NOFOLLOW | O_CLOEXEC, 0600);
    return m_fh >= 0;
}

void XFile::Close() {
    if (m_fh >= 0) ::close(m_fh);
    m_fh = -1;
}

int XFile::Read(void* pBuf, unsigned nCount) {
    return static_cast<int>(::read(m_fh, pBuf, nCount));
}

int XFile::Write(const void* pBuf, unsigned nCount) {
    return static_cast<int>(::write(m_fh, pBuf, nCount));
}

unsigned XFile::GetFileSize() {
    return static_cast<unsigned>(GetFileSize64());
}

long long XFile::GetFileSize64() {
    struct stat st;
    return fstat(m_fh, &st) == 0 ? static_cast<long long>(st.st_size) : 0;
}

void XFile::SetFileSize(unsigned nSize) {
    SetFileSize64(nSize);
}

void XFile::SetFileSize64(long long nSize) {
    // On failure the size stays as it was, which GetFileSize shows.
    int r = ftruncate(m_fh, static_cast<off_t>(nSize));
    (void)r;
}

bool XFile::Seek(int nOffset, int nWhence) {
    return lseek(m_fh, nOffset, nWhence) != static_cast<off_t>(-1);
}

bool XFile::Seek64(long long nOffset, int nWhence) {
    return lseek(m_fh, static_cast<off_t>(nOffset), nWhence) != static_cast<off_t>(-1);
}

unsigned XFile::GetCurPos() {
    off_t pos = lseek(m_fh, 0, SEEK_CUR);
    return pos < 0 ? 0 : static_cast<unsigned>(pos);
}
