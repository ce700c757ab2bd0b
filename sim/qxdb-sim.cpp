// qxdb-sim: serves a project folder as a simulated database server.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>

#include "SimCommands.h"
#include "SimServer.h"

namespace {

const char kUsage[] =
    "usage: qxdb-sim [--port N] [--bind ADDR] [--commands] PROJECT_FOLDER\n"
    "\n"
    "Serves PROJECT_FOLDER as a simulated real-time database server until\n"
    "interrupted (SIGINT or SIGTERM).\n"
    "\n"
    "  --port N     TCP port to listen on (default 4100, which needs no root\n"
    "               rights; 0 picks a free one)\n"
    "  --bind ADDR  IPv4 address to listen on (default 127.0.0.1)\n"
    "  --verbose    print a line for each client event (connection paired or\n"
    "               closed, login, file and tag requests)\n"
    "  --commands   read commands from standard input (below), and stop at\n"
    "               its end\n"
    "  --help       show this text\n"
    "\n"
    "PROJECT_FOLDER/project.txt describes the project, a setting a line:\n"
    "  name NAME                  project name\n"
    "  title TEXT                 project title\n"
    "  user NAME PASSWORD RIGHTS  a user and its rights word (0x08 allows writes)\n"
    "  driver NAME [ID]           an I/O driver (ids count from 0)\n"
    "  tag NAME TYPE VALUE [CHANGE]\n"
    "                             a tag of the driver above; TYPE: I1 UI1 I2 UI2 I4\n"
    "                             UI4 INT UINT I8 R4 R8 BOOL DATE STR; \"...\" for a\n"
    "                             text with blanks; CHANGE: ramp STEP MS,\n"
    "                             sine AMPLITUDE MS, or random MIN MAX MS\n"
    "  alarm high|low LIMIT LEVEL \"TYPE\" \"GROUP\"\n"
    "                             an alarm limit of the tag above: a value past\n"
    "                             it raises a real-time alarm, a value back\n"
    "                             reports its return\n"
    "\n"
    "From the drivers it writes RecData/drvinfo.dat, and RecData/textlist and\n"
    "RecData/taglist that name alarms (each only when its content changes);\n"
    "every other file of the folder is served as it stands.\n"
    "\n"
    "Once listening it prints 'listening on ADDR:PORT' on standard output.\n"
    "\n";

}  // namespace

int main(int argc, char** argv) {
    long nPort = 4100;
    bool bCommands = false, bVerbose = false;
    std::string bind = "127.0.0.1", folder;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            fputs(kUsage, stdout);
            fputs(kSimCommandHelp, stdout);
            return 0;
        } else if (a == "--commands") {
            bCommands = true;
        } else if (a == "--verbose") {
            bVerbose = true;
        } else if ((a == "--port" || a == "--bind") && i + 1 < argc) {
            if (a == "--bind") {
                bind = argv[++i];
                continue;
            }
            char* end = nullptr;
            nPort = strtol(argv[++i], &end, 10);
            if (*end != '\0' || nPort < 0 || nPort > 65535) {
                fprintf(stderr, "qxdb-sim: bad port '%s'\n", argv[i]);
                return 2;
            }
        } else if (!a.empty() && a[0] != '-' && folder.empty()) {
            folder = a;
        } else {
            fprintf(stderr, "qxdb-sim: unexpected argument '%s'\n%s", a.c_str(), kUsage);
            return 2;
        }
    }
    if (folder.empty()) {
        fprintf(stderr, "qxdb-sim: no project folder given\n%s", kUsage);
        return 2;
    }

    SSimProject prj;
    std::string err;
    if (!prj.Load(folder, err)) {
        fprintf(stderr, "qxdb-sim: bad project folder: %s\n", err.c_str());
        return 1;
    }

    // Taken by sigwait below, so that the stop happens on this thread.
    // A shell starts background jobs with SIGINT ignored; take it back.
    signal(SIGINT, SIG_DFL);
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    signal(SIGPIPE, SIG_IGN);

    CSimServer server(prj);
    std::mutex outLock;  // the log and the command answers share standard output
    if (bVerbose) {
        server.SetLog([&outLock](const std::string& line) {
            std::lock_guard<std::mutex> lock(outLock);
            printf("qxdb-sim: %s\n", line.c_str());
            fflush(stdout);
        });
    }
    if (!server.Start(static_cast<uint16_t>(nPort), &err, bind.c_str())) {
        fprintf(stderr, "qxdb-sim: %s\n", err.c_str());
        return 1;
    }
    printf("qxdb-sim: project '%s' listening on %s:%u\n", prj.name.c_str(), bind.c_str(),
           server.Port());
    fflush(stdout);

    if (bCommands) {
        // Answers on standard output, one line each; the end of the input
        // stops the server, so that a test's simulator never outlives it.
        std::thread([&server, &outLock] {
            std::string line;
            while (std::getline(std::cin, line)) {
                std::string answer = RunSimCommand(server, line);
                std::lock_guard<std::mutex> lock(outLock);
                printf("%s\n", answer.c_str());
                fflush(stdout);
            }
            kill(getpid(), SIGTERM);
        }).detach();
    }

    int sig = 0;
    sigwait(&stop, &sig);
    server.Stop();
    printf("qxdb-sim: stopped (%s)\n", strsignal(sig));
    fflush(stdout);
    // A command may still be running on the commands thread: leave without
    // destroying what it uses.
    if (bCommands) _exit(0);
    return 0;
}
