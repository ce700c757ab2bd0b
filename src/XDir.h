// XDir: one open folder, through which files and sub-folders are reached
// relative to it, so that a folder that was checked once is the one used:
// no path is resolved again, and a link swapped in later is never followed.
#ifndef QX_XDIR_H
#define QX_XDIR_H

#include <sys/types.h>

class XDir {
public:
    XDir() : m_fd(-1) {}
    ~XDir() { Close(); }
    XDir(const XDir& o);
    XDir& operator=(const XDir& o);

    // Opens a folder by its UTF-8 path (links in the path are followed).
    bool Open(const char* path);
    // Creates (mode 0700) or opens the sub-folder name of parent, never
    // through a link, and requires it to be this user's own and not
    // writable by others. bChmod sets its mode to 0700.
    bool MakeOwn(const XDir& parent, const char* name, bool bChmod);
    // The same for a folder given by its path, as the root of a tree.
    bool MakeOwnRoot(const char* path);
    // Opens into parent the folder holding a relative file name ("RecData/x"
    // gives RecData), one component at a time and never through a link; leaf
    // points at the file's own name inside szName.
    bool OpenParentOf(const char* szName, XDir& parent, const char*& leaf) const;
    void Close();
    bool IsOpen() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }
    // Why the last MakeOwn or MakeOwnRoot failed ("is writable by others",
    // "belongs to another user", ...); "" after a success.
    const char* Why() const { return m_why; }

private:
    // Creates or opens name relative to dirFd (AT_FDCWD: a path) and checks it.
    bool MakeAt(int dirFd, const char* name, bool bChmod);

    int m_fd;
    const char* m_why = "";
};

#endif  // QX_XDIR_H
