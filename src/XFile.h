// XFile: one operating-system file handle.
#ifndef QX_XFILE_H
#define QX_XFILE_H

#include <fcntl.h>

class XFile {
public:
    XFile() : m_fh(-1) {}
    ~XFile() { Close(); }
    XFile(const XFile&) = delete;
    XFile& operator=(const XFile&) = delete;

    // Opens a UTF-8 path; a created file gets mode 0600. A symbolic link is
    // never followed. True at once when a file is already open.
    bool OpenA(const char* path, int flags, bool bUnused = false);
    // As OpenA, for a path in the core's text (converted to UTF-8 first).
    bool OpenT(const char* path, int flags, bool bUnused = false);
    // Opens name (UTF-8, no '/') relative to the open folder dirFd, with the
    // same rules.
    bool OpenAt(int dirFd, const char* name, int flags);
    void Close();
    bool IsOpen() const { return m_fh >= 0; }
    int GetHandle() const { return m_fh; }

    int Read(void* pBuf, unsigned nCount);
    int Write(const void* pBuf, unsigned nCount);
    unsigned GetFileSize();
    long long GetFileSize64();
    void SetFileSize(unsigned nSize);
    void SetFileSize64(long long nSize);
    bool Seek(int nOffset, int nWhence);
    bool Seek64(long long nOffset, int nWhence);
    unsigned GetCurPos();

private:
    int m_fh;
};

#endif  // QX_XFILE_H
