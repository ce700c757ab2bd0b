// Connects to a server and prints what the connect learned.
//   connect HOST[:PORT] USER PASSWORD
#include <cstdio>

#include "DBCore.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: %s HOST[:PORT] USER PASSWORD\n", argv[0]);
        return 2;
    }
    CDBCore core;
    int ret = core._Connect(argv[1], argv[2], argv[3]);
    printf("connect result: %d\n", ret);
    if (ret != 0) return 1;
    printf("project name:   %s\n", CT2UTF8(core.m_strPrjName).c_str());
    printf("project title:  %s\n", CT2UTF8(core.m_strTitle).c_str());
    printf("rights word:    0x%08X\n", core.m_nRights);
    printf("drivers:        %zu\n", core.m_mapDrvInfos.size());
    for (const auto& d : core.m_mapDrvInfos) {
        printf("  %-12s id %-3u tags %u\n", CT2UTF8(d.first).c_str(), d.second.id, d.second.tagNum);
    }
    core._Disconnect();
    return 0;
}
