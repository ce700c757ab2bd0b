#include "CliOutput.h"

#include <sys/time.h>

#include <cstdio>
#include <ctime>

void CCliOutput::Record(const nlohmann::json& obj, const std::string& text) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_bJson) {
        // A text that is not UTF-8 is printed with U+FFFD, not refused.
        std::string line = obj.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        printf("%s\n", line.c_str());
    } else {
        printf("%s\n", text.c_str());
    }
    fflush(stdout);
}

void CCliOutput::Fail(const std::string& why) {
    fprintf(stderr, "qxdb: %s\n", why.c_str());
}

std::string LocalStamp() {
    timeval tv;
    gettimeofday(&tv, nullptr);
    struct tm tm;
    time_t t = tv.tv_sec;
    localtime_r(&t, &tm);
    char buf[64];
    size_t n = strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    snprintf(buf + n, sizeof buf - n, ".%03d", static_cast<int>(tv.tv_usec / 1000));
    return buf;
}
