// Windows scalar type names used by the portable sources, for builds that
// have no <windows.h>.
#ifndef QX_NONWIN_WINTYPES_H
#define QX_NONWIN_WINTYPES_H

#include <cstdint>

typedef unsigned char BYTE;
typedef unsigned short USHORT;
typedef unsigned short WORD;
typedef unsigned int UINT;
typedef unsigned long ULONG;  // a distinct type from UINT, as on Windows
typedef uint32_t DWORD;
typedef int32_t HRESULT;
typedef unsigned short VARTYPE;
typedef double DATE;  // days since 1899-12-30 00:00; the fraction is the time of day
typedef const char* LPCSTR;
typedef const char* LPCTSTR;
typedef char* LPSTR;
typedef char TCHAR;

#ifndef S_OK
#define S_OK ((HRESULT)0)
#endif
#ifndef E_FAIL
#define E_FAIL ((HRESULT)0x80004005)
#endif
#ifndef E_INVALIDARG
#define E_INVALIDARG ((HRESULT)0x80070057)
#endif

#endif  // QX_NONWIN_WINTYPES_H
