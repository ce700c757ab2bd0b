// qxdb: looks at a database server from the command line: what it serves,
// tag values read and written, changes and alarms as they arrive.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>

#include "CliCommands.h"

int main(int argc, char** argv) {
    CLI::App app{
        "qxdb: a command-line client of a real-time process database server.\n"
        "HOST is ADDRESS[:PORT] (port 80 unless given). The password comes from\n"
        "$QXDB_PASSWORD, or --password. Exit status: 0 done, 1 the server refused\n"
        "or a request failed (the reason on standard error), 2 bad usage.",
        "qxdb"};
    app.require_subcommand(1);
    app.fallthrough();
    SCliOptions o;
    bool bJson = false;
    std::string password;
    app.add_option("-u,--user", o.user, "user name")->envname("QXDB_USER");
    app.add_option("-p,--password", password,
                   "password (shows in the process list: prefer $QXDB_PASSWORD)");
    app.add_flag("--json", bJson, "one JSON object a line");

    CLI::App* info = app.add_subcommand("info", "project, rights and drivers of a server");
    info->add_option("HOST", o.host)->required();

    CLI::App* read = app.add_subcommand("read", "read tags");
    read->add_option("HOST", o.host)->required();
    read->add_option("DRIVER", o.driver)->required();
    read->add_option("TAGS", o.tags, "comma-separated tag names")->required();

    CLI::App* write = app.add_subcommand("write", "write tags");
    write->add_option("HOST", o.host)->required();
    write->add_option("DRIVER", o.driver)->required();
    write->add_option("TAG=VALUE", o.writes, "values; their type inferred unless --type")
        ->required();
    write->add_option("--type", o.type, "int, float, bool or text, for every value")
        ->check(CLI::IsMember({"int", "float", "bool", "text"}));

    CLI::App* watch = app.add_subcommand("watch", "advise tags and print each change");
    watch->add_option("HOST", o.host)->required();
    watch->add_option("DRIVER", o.driver)->required();
    watch->add_option("TAGS", o.tags, "comma-separated tag names")->required();

    CLI::App* alarms = app.add_subcommand("alarms", "print each real-time alarm");
    alarms->add_option("HOST", o.host)->required();
    alarms->add_flag("--existing", o.bExisting, "the alarms active now first");

    for (CLI::App* sub : {watch, alarms}) {
        sub->add_option("--seconds", o.seconds, "stop after this long")
            ->check(CLI::NonNegativeNumber);
        sub->add_option("--count", o.count, "stop after this many")->check(CLI::NonNegativeNumber);
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int code = app.exit(e);
        return code == 0 ? 0 : 2;
    }
    if (!password.empty()) {
        fprintf(stderr,
                "qxdb: warning: --password shows in the process list; "
                "prefer $QXDB_PASSWORD\n");
        o.password = password;
    } else if (const char* env = getenv("QXDB_PASSWORD")) {
        o.password = env;
    }

    CCliOutput out(bJson);
    if (*info) return CmdInfo(o, out);
    if (*read) return CmdRead(o, out);
    if (*write) return CmdWrite(o, out);
    if (*watch) return CmdWatch(o, out);
    return CmdAlarms(o, out);
}
