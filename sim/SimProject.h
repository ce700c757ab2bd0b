// The project a simulated server serves: its name and title, its users and
// the folder of its files.
//
// A project folder holds "project.txt", one setting a line:
//   name  Demo plant           the project name (no spaces around it)
//   title Demo plant, line 1   the project title
//   user  NAME PASSWORD RIGHTS a user; RIGHTS is a number (0x.. for hex)
//   driver NAME [ID]           an I/O driver; ids count from 0 by default
//   tag NAME TYPE VALUE [...]  a tag of the driver above it: TYPE is one of
//                              I1 UI1 I2 UI2 I4 UI4 INT UINT I8 R4 R8 BOOL
//                              DATE STR; VALUE its first value ("..." for
//                              a text with blanks)
//   alarm high|low LIMIT LEVEL "TYPE" "GROUP"
//                              an alarm limit of the tag above it
// Blank lines and lines starting with '#' are ignored. Names are UTF-8; the
// server keeps them in GB2312, as the protocol carries them. When drivers
// are given, RecData/drvinfo.dat, RecData/textlist and RecData/taglist are
// written from them (each only if it differs, so its time stamp stays).
#ifndef QX_SIM_SIMPROJECT_H
#define QX_SIM_SIMPROJECT_H

#include <cstdint>
#include <string>
#include <vector>

struct SSimUser {
    std::string name;
    std::string password;
    uint32_t rights = 0;
};

struct SSimAlarmLimit {
    bool bHigh = true;  // raised above the limit, else below it
    double limit = 0;
    int level = 1;
    std::string type;   // GB2312
    std::string group;  // GB2312
};

struct SSimTag {
    std::string name;       // GB2312
    unsigned short vt = 0;  // VARTYPE
    std::string value;      // the first value, as text
    std::string change;     // how the value changes, as text
    std::vector<SSimAlarmLimit> alarms;
};

struct SSimDriver {
    std::string name;  // GB2312
    uint16_t id = 0;
    std::vector<SSimTag> tags;
};

struct SSimProject {
    std::string name = "Demo";
    std::string title = "Demo project";
    std::vector<SSimUser> users;
    std::vector<SSimDriver> drivers;
    std::string folder;  // empty: no files to serve

    // Reads DIR/project.txt; false with a message in err.
    bool Load(const std::string& dir, std::string& err);
    // Parses the text of a project.txt; false with a message in err.
    bool Parse(const std::string& text, std::string& err);
    const SSimUser* FindUser(const std::string& name) const;
    // The binary driver list of the drivers given.
    std::string BuildDrvInfo() const;
    // Writes folder/RecData/drvinfo.dat from the drivers given, unless it
    // already holds exactly that; false with a message in err.
    bool WriteDrvInfo(std::string& err) const;
    // The same for RecData/textlist and RecData/taglist.
    bool WriteLists(std::string& err) const;
    // Time stamp and size of RecData/drvinfo.dat, or zeros when absent.
    void DrvInfoStamp(uint32_t& time, uint32_t& size) const;
};

#endif  // QX_SIM_SIMPROJECT_H
