// The sub-commands of qxdb. Each returns the exit status: 0 done, 1 the
// server refused or a request failed (the reason on standard error).
#ifndef QX_CLI_CLICOMMANDS_H
#define QX_CLI_CLICOMMANDS_H

#include <string>
#include <vector>

#include "CliOutput.h"

struct SCliOptions {
    std::string host;
    std::string user;
    std::string password;
    std::string driver;
    std::string tags;                 // comma-separated
    std::vector<std::string> writes;  // TAG=VALUE
    std::string type;                 // forced write type, or empty
    double seconds = -1;              // < 0: until interrupted
    long count = -1;                  // < 0: no limit
    bool bExisting = false;
};

int CmdInfo(const SCliOptions& o, CCliOutput& out);
int CmdRead(const SCliOptions& o, CCliOutput& out);
int CmdWrite(const SCliOptions& o, CCliOutput& out);
int CmdWatch(const SCliOptions& o, CCliOutput& out);
int CmdAlarms(const SCliOptions& o, CCliOutput& out);

#endif  // QX_CLI_CLICOMMANDS_H
