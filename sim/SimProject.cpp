#include "SimProject.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "ByteOrder.h"
#include "SimAlarms.h"
#include "XVariant.h"

namespace {

std::string Trim(const std::string& s) {
    size_t a = s.find_first_not_of(" \t\r\n");
    if (a == std::string::npos) return std::string();
    size_t b = s.find_last_not_of(" \t\r\n");
    return s.substr(a, b - a + 1);
}

// Splits a line into words; "..." keeps blanks inside one word.
std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            i++;
        if (i >= line.size()) break;
        std::string w;
        if (line[i] == '"') {
            size_t end = line.find('"', i + 1);
            if (end == std::string::npos) end = line.size();
            w = line.substr(i + 1, end - i - 1);
            i = end + 1;
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t')
                w += line[i++];
        }
        words.push_back(w);
    }
    return words;
}

struct STypeName {
    const char* name;
    VARTYPE vt;
};
const STypeName kTypes[] = {
    {"I1", VT_I1},   {"UI1", VT_UI1},   {"I2", VT_I2},     {"UI2", VT_UI2},  {"I4", VT_I4},
    {"UI4", VT_UI4}, {"INT", VT_INT},   {"UINT", VT_UINT}, {"I8", VT_I8},    {"R4", VT_R4},
    {"R8", VT_R8},   {"BOOL", VT_BOOL}, {"DATE", VT_DATE}, {"STR", VT_BSTR},
};

bool TypeByName(const std::string& name, VARTYPE& vt) {
    for (const STypeName& t : kTypes) {
        if (name == t.name) {
            vt = t.vt;
            return true;
        }
    }
    return false;
}

std::string ToGb(const std::string& utf8) {
    return CUTF82T(utf8.c_str());
}

bool WriteIfChanged(const std::string& folder, const char* name, const std::string& want,
                    std::string& err);

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
    return drivers.empty() || (WriteDrvInfo(err) && WriteLists(err));
}

bool SSimProject::Parse(const std::string& text, std::string& err) {
    std::istringstream in(text);
    std::string line;
    int nLine = 0;
    users.clear();
    drivers.clear();
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
        } else if (key == "driver") {
            std::vector<std::string> w = Words(rest);
            if (w.empty() || w.size() > 2) {
                err = "line " + std::to_string(nLine) + ": driver needs NAME [ID]";
                return false;
            }
            SSimDriver d;
            d.name = ToGb(w[0]);
            d.id = static_cast<uint16_t>(w.size() == 2 ? strtoul(w[1].c_str(), nullptr, 0)
                                                       : drivers.size());
            drivers.push_back(d);
        } else if (key == "tag") {
            std::vector<std::string> w = Words(rest);
            SSimTag t;
            if (drivers.empty() || w.size() < 3 || !TypeByName(w[1], t.vt)) {
                err = "line " + std::to_string(nLine) +
                      ": tag needs NAME TYPE VALUE after a driver (TYPE: I1 UI1 I2 UI2 I4 UI4 "
                      "INT UINT I8 R4 R8 BOOL DATE STR)";
                return false;
            }
            t.name = ToGb(w[0]);
            t.value = w[2];
            for (size_t i = 3; i < w.size(); i++)
                t.change += (i > 3 ? " " : "") + w[i];
            drivers.back().tags.push_back(t);
        } else if (key == "alarm") {
            std::vector<std::string> w = Words(rest);
            SSimAlarmLimit a;
            char* end = nullptr;
            bool ok = !drivers.empty() && !drivers.back().tags.empty() && w.size() == 5 &&
                      (w[0] == "high" || w[0] == "low");
            if (ok) {
                a.bHigh = w[0] == "high";
                a.limit = strtod(w[1].c_str(), &end);
                ok = *end == '\0';
                a.level = static_cast<int>(strtol(w[2].c_str(), &end, 0));
                ok = ok && *end == '\0' && a.level >= 0 && a.level <= 255;
            }
            if (!ok) {
                err = "line " + std::to_string(nLine) +
                      ": alarm needs high|low LIMIT LEVEL \"TYPE\" \"GROUP\" after a tag";
                return false;
            }
            a.type = ToGb(w[3]);
            a.group = ToGb(w[4]);
            drivers.back().tags.back().alarms.push_back(a);
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

std::string SSimProject::BuildDrvInfo() const {
    std::string out;
    for (const SSimDriver& d : drivers) {
        out += d.name;
        out += '\0';
        BYTE rec[4];
        PutLE16(rec, d.id);
        PutLE16(rec + 2, static_cast<uint16_t>(d.tags.size()));
        out.append(reinterpret_cast<char*>(rec), 4);
    }
    return out;
}

bool SSimProject::WriteDrvInfo(std::string& err) const {
    return WriteIfChanged(folder, "drvinfo.dat", BuildDrvInfo(), err);
}

bool SSimProject::WriteLists(std::string& err) const {
    auto join = [](const std::vector<std::string>& lines) {
        std::string text;
        for (const std::string& l : lines)
            text += l + "\n";
        return text;
    };
    return WriteIfChanged(folder, "textlist", join(SimTextList(*this)), err) &&
           WriteIfChanged(folder, "taglist", join(SimTagList(*this)), err);
}

namespace {

bool WriteIfChanged(const std::string& folder, const char* name, const std::string& want,
                    std::string& err) {
    std::string path = folder + "/RecData/" + name;
    std::ifstream in(path, std::ios::binary);
    if (in) {
        std::stringstream have;
        have << in.rdbuf();
        if (have.str() == want) return true;  // keep its time stamp
    }
    mkdir((folder + "/RecData").c_str(), 0755);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << want;
    if (!out.flush()) {
        err = "cannot write '" + path + "'";
        return false;
    }
    return true;
}

}  // namespace

void SSimProject::DrvInfoStamp(uint32_t& time, uint32_t& size) const {
    time = 0;
    size = 0;
    struct stat st;
    if (folder.empty() || stat((folder + "/RecData/drvinfo.dat").c_str(), &st) != 0) return;
    time = static_cast<uint32_t>(st.st_mtime);
    size = static_cast<uint32_t>(st.st_size);
}
