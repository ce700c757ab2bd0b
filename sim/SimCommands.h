// Commands that drive a running simulator, one a line, as qxdb-sim reads
// them from its standard input with --commands: what a test or a
// commissioning script needs to make the server change a tag, raise an
// alarm, misbehave, or tell what it was sent.
#ifndef QX_SIM_SIMCOMMANDS_H
#define QX_SIM_SIMCOMMANDS_H

#include <string>

#include "SimServer.h"

extern const char kSimCommandHelp[];

// Runs one command line and returns its one-line answer: "ok", "ok RESULT"
// or "error: WHY".
std::string RunSimCommand(CSimServer& server, const std::string& line);

#endif  // QX_SIM_SIMCOMMANDS_H
