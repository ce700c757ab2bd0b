#include "qxdb.h"

#include "DBCore.h"

void* _DBCoreNew(void) {
    return new CDBCore();
}

int _DBConnect(void* pDB, const char* szHost, const char* szUserName, const char* szPassword) {
    CString strHost(szHost ? szHost : "");
    return static_cast<CDBCore*>(pDB)->_Connect(strHost, szUserName, szPassword);
}

void _DBCoreDelete(void* pDB) {
    delete static_cast<CDBCore*>(pDB);
}
