// A temporary folder removed with its contents at the end of a test.
#ifndef QX_TESTS_TEMPDIR_H
#define QX_TESTS_TEMPDIR_H

#include <sys/stat.h>
#include <utime.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/qxdb-test-XXXXXX";
        path_ = mkdtemp(tmpl);
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    const std::string& path() const { return path_; }
    // path() + "/" + rel, with its folders created.
    std::string Write(const std::string& rel, const std::string& data, time_t mtime = 0) const {
        std::string p = path_ + "/" + rel;
        std::filesystem::create_directories(std::filesystem::path(p).parent_path());
        std::ofstream(p, std::ios::binary | std::ios::trunc) << data;
        if (mtime) SetTime(p, mtime);
        return p;
    }
    static void SetTime(const std::string& p, time_t t) {
        utimbuf u = {t, t};
        utime(p.c_str(), &u);
    }
    static std::string Read(const std::string& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static time_t MTime(const std::string& p) {
        struct stat st;
        return stat(p.c_str(), &st) == 0 ? st.st_mtime : -1;
    }
    static bool Exists(const std::string& p) { return std::filesystem::exists(p); }

private:
    std::string path_;
};

#endif  // QX_TESTS_TEMPDIR_H
