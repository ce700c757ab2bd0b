// Flat wrappers over CDBCore for the Python glue.
#ifndef QX_QXDB_H
#define QX_QXDB_H

#ifdef __cplusplus
extern "C" {
#endif

void* _DBCoreNew(void);
int _DBConnect(void* pDB, const char* szHost, const char* szUserName, const char* szPassword);
void _DBCoreDelete(void* pDB);

#ifdef __cplusplus
}
#endif

#endif  // QX_QXDB_H
