#include "SimProject.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

std::string Trim(const std::string& s) {
    size_t a = s.find_first_not_of(" \t\r\n");
    if (a == std::string::npos) return std::string();
    size_t b = s.find_last_not_of(" \t\r\n");
    return s.substr(a, b - a + 1);
}

}  // namespace

bool SSimProject::Load(const std::string& dir, std::string& err) {
    struct stat st;
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        err = "'" + dir + "' is not a folder";
        return false;
    }
    std::ifstream in(dir + "/project.txt");
    if (!in) {
        err = "cannot read '" + dir + "/project.txt': " + strerror(errno);
        return false;
    }
    std::stringstream ss;
    ss << in.rdbuf();
    if (!Parse(ss.str(), err)) {
        err = dir + "/project.txt: " + err;
        return false;
    }
    folder = dir;
    return true;
}

bool SSimProject::Parse(const std::string& text, std::string& err) {
    std::istringstream in(text);
    std::string line;
    int nLine = 0;
    users.clear();
    while (std::getline(in, line)) {
        nLine++;
        line = Trim(line);
        if (line.empty() || line[0] == '#') continue;
        size_t sp = line.find_first_of(" \t");
        std::string key = line.substr(0, sp);
        std::string rest = sp == std::string::npos ? std::string() : Trim(line.substr(sp));
        if (key == "name") {
            name = rest;
        } else if (key == "title") {
            title = rest;
        } else if (key == "user") {
            std::istringstream f(rest);
            SSimUser u;
            std::string rights;
            if (!(f >> u.name >> u.password >> rights)) {
                err = "line " + std::to_string(nLine) + ": user needs NAME PASSWORD RIGHTS";
                return false;
            }
            u.rights = static_cast<uint32_t>(strtoul(rights.c_str(), nullptr, 0));
            users.push_back(u);
        } else {
            err = "line " + std::to_string(nLine) + ": unknown setting '" + key + "'";
            return false;
        }
    }
    if (name.empty()) {
        err = "the project has no name";
        return false;
    }
    return true;
}

const SSimUser* SSimProject::FindUser(const std::string& userName) const {
    for (const SSimUser& u : users) {
        if (u.name == userName) return &u;
    }
    return nullptr;
}

void SSimProject::DrvInfoStamp(uint32_t& time, uint32_t& size) const {
    time = 0;
    size = 0;
    struct stat st;
    if (folder.empty() || stat((folder + "/RecData/drvinfo.dat").c_str(), &st) != 0) return;
    time = static_cast<uint32_t>(st.st_mtime);
    size = static_cast<uint32_t>(st.st_size);
}
