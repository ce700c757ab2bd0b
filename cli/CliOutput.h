// What qxdb prints: text lines for people, or with --json one JSON object
// a line, for scripts; failures go to standard error either way.
#ifndef QX_CLI_CLIOUTPUT_H
#define QX_CLI_CLIOUTPUT_H

#include <mutex>
#include <nlohmann/json.hpp>
#include <string>

class CCliOutput {
public:
    explicit CCliOutput(bool bJson) : m_bJson(bJson) {}
    bool Json() const { return m_bJson; }
    // One record: obj as a JSON line, or text as a line. Safe from any thread.
    void Record(const nlohmann::json& obj, const std::string& text);
    // "qxdb: WHY" on standard error.
    static void Fail(const std::string& why);

private:
    bool m_bJson;
    std::mutex m_lock;
};

// The local time now, "2026-12-10 10:44:48.123".
std::string LocalStamp();

#endif  // QX_CLI_CLIOUTPUT_H
