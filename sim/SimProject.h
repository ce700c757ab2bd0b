// The project a simulated server serves: its name and title, its users and
// the folder of its files.
//
// A project folder holds "project.txt", one setting a line:
//   name  Demo plant           the project name (no spaces around it)
//   title Demo plant, line 1   the project title
//   user  NAME PASSWORD RIGHTS a user; RIGHTS is a number (0x.. for hex)
// Blank lines and lines starting with '#' are ignored.
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

struct SSimProject {
    std::string name = "Demo";
    std::string title = "Demo project";
    std::vector<SSimUser> users;
    std::string folder;  // empty: no files to serve

    // Reads DIR/project.txt; false with a message in err.
    bool Load(const std::string& dir, std::string& err);
    // Parses the text of a project.txt; false with a message in err.
    bool Parse(const std::string& text, std::string& err);
    const SSimUser* FindUser(const std::string& name) const;
    // Time stamp and size of RecData/drvinfo.dat, or zeros when absent.
    void DrvInfoStamp(uint32_t& time, uint32_t& size) const;
};

#endif  // QX_SIM_SIMPROJECT_H
