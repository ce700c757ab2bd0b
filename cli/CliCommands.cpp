#include "CliCommands.h"

#include <signal.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <memory>

#include "CliValue.h"
#include "DBCore.h"

namespace {

std::atomic<bool> g_bInterrupted{false};

extern "C" void OnInterrupt(int) {
    g_bInterrupted = true;
}

// The core as qxdb uses it: it prints what the receive thread delivers and
// counts it, so that the main thread knows when to stop.
class CCliCore : public CDBCore {
public:
    explicit CCliCore(CCliOutput& out) : m_out(out) {}

    void FireTagNotify(CDBDriver& drv, void*, WORD pos, const XVariant& value) override {
        const std::string tag = std::string(CT2UTF8(drv.TagName(pos).c_str()));
        const std::string stamp = LocalStamp();
        m_out.Record(
            {{"time", stamp},
             {"driver", std::string(CT2UTF8(drv.m_strDriver.c_str()))},
             {"tag", tag},
             {"value", ValueJson(value)},
             {"type", TypeName(value.vt)}},
            stamp + "  " + tag + " = " + ValueText(value) + " (" + TypeName(value.vt) + ")");
        Count();
    }

    void FireRtAlarm(void*, const S2RtAlarm2& a) override {
        auto when = [](uint32_t t) {
            time_t tt = t;
            struct tm tm;
            localtime_r(&tt, &tm);
            char buf[32];
            strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
            return std::string(buf);
        };
        const std::string almtm = when(a.almtm), evttm = when(a.evttm ? a.evttm : a.almtm);
        const std::string tag = AlarmText(m_tagList, a.tid), type = AlarmText(m_textList, a.type),
                          group = AlarmText(m_textList, a.grp);
        char text[512];
        snprintf(text, sizeof text,
                 "%s  %s  %-6s %s  type '%s'  group '%s'  level %d  value %g  limit %g  status %d",
                 almtm.c_str(), evttm.c_str(), a.evttm ? "ended" : "raised", tag.c_str(),
                 type.c_str(), group.c_str(), a.level, a.value, a.limit, a.status);
        m_out.Record({{"almtm", almtm},
                      {"evttm", evttm},
                      {"tag", tag},
                      {"hasEvent", a.evttm ? 1 : 0},
                      {"type", type},
                      {"group", group},
                      {"level", a.level},
                      {"value", a.value},
                      {"limit", a.limit},
                      {"status", a.status}},
                     text);
        Count();
    }

    // Waits until n deliveries (n < 0: any number), seconds have passed
    // (< 0: no limit), an interrupt, or the connection's end.
    void Wait(long n, double seconds) {
        const auto end = std::chrono::steady_clock::now() +
                         std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
        std::unique_lock<std::mutex> lock(m_lock);
        while (!(n >= 0 && m_nSeen >= n) && !g_bInterrupted && IsConnected()) {
            if (seconds >= 0 && std::chrono::steady_clock::now() >= end) break;
            m_seen.wait_for(lock, std::chrono::milliseconds(50));
        }
    }

private:
    void Count() {
        std::lock_guard<std::mutex> lock(m_lock);
        m_nSeen++;
        m_seen.notify_all();
    }

    CCliOutput& m_out;
    std::mutex m_lock;
    std::condition_variable m_seen;
    long m_nSeen = 0;
};

int Refused(const CDBCore& core, const std::string& what) {
    std::string why = core.LastError();
    CCliOutput::Fail(what + (why.empty() ? "" : ": " + why));
    return 1;
}

// Connects; 0, or the exit status of a refusal.
int Connect(CCliCore& core, const SCliOptions& o, int& result) {
    result = core._Connect(o.host.c_str(), o.user.c_str(), o.password.c_str());
    if (result == 0) return 0;
    return Refused(core, "connect to " + o.host + " failed (" + std::to_string(result) + ")");
}

std::shared_ptr<CDBDriver> Driver(CCliCore& core, const SCliOptions& o) {
    std::shared_ptr<CDBDriver> drv = core._GetDriver(CUTF82T(o.driver.c_str()));
    if (!drv) CCliOutput::Fail("the project has no driver '" + o.driver + "'");
    return drv;
}

// The names as given, split as the library splits them, for the output.
std::vector<std::string> Names(const std::string& tags) {
    std::vector<std::string> names;
    size_t start = 0;
    for (;;) {
        size_t comma = tags.find(',', start);
        std::string name = tags.substr(start, comma == std::string::npos ? comma : comma - start);
        size_t a = name.find_first_not_of(' '), b = name.find_last_not_of(' ');
        names.push_back(a == std::string::npos ? "" : name.substr(a, b - a + 1));
        if (comma == std::string::npos) return names;
        start = comma + 1;
    }
}

class CCliValues : public ITagValues {
public:
    explicit CCliValues(const std::vector<XVariant>& v) : m_v(v) {}
    bool IsList() const override { return m_v.size() != 1; }
    size_t Count() const override { return m_v.size(); }
    bool Append(size_t i, BYTE* buf, size_t& nLen, size_t nMax) const override {
        if (i == kWholeValue) i = 0;
        if (i >= m_v.size()) return false;
        size_t n = m_v[i].ToBuffer(buf + nLen, nMax - nLen, true);
        nLen += n;
        return n > 0;
    }

private:
    const std::vector<XVariant>& m_v;
};

}  // namespace

int CmdInfo(const SCliOptions& o, CCliOutput& out) {
    CCliCore core(out);
    int result = 0;
    if (int st = Connect(core, o, result)) return st;
    nlohmann::json drivers = nlohmann::json::array();
    std::string text;
    char rights[16];
    snprintf(rights, sizeof rights, "0x%08X", core.m_nRights);
    text += "connected to " + o.host + " (result 0)\n";
    text += "project  " + std::string(CT2UTF8(core.m_strPrjName.c_str())) + "\n";
    text += "title    " + std::string(CT2UTF8(core.m_strTitle.c_str())) + "\n";
    text +=
        std::string("rights   ") + rights + ((core.m_nRights & kRightWrite) ? " (write)\n" : "\n");
    text += "drivers  " + std::to_string(core.m_mapDrvInfos.size());
    for (const auto& d : core.m_mapDrvInfos) {
        const std::string name = std::string(CT2UTF8(d.first.c_str()));
        drivers.push_back({{"name", name}, {"id", d.second.id}, {"tags", d.second.tagNum}});
        text += "\n  " + name + "  id " + std::to_string(d.second.id) + ", " +
                std::to_string(d.second.tagNum) + " tags";
    }
    out.Record({{"host", o.host},
                {"result", result},
                {"project", std::string(CT2UTF8(core.m_strPrjName.c_str()))},
                {"title", std::string(CT2UTF8(core.m_strTitle.c_str()))},
                {"rights", core.m_nRights},
                {"drivers", drivers}},
               text);
    return 0;
}

int CmdRead(const SCliOptions& o, CCliOutput& out) {
    CCliCore core(out);
    int result = 0;
    if (int st = Connect(core, o, result)) return st;
    std::shared_ptr<CDBDriver> drv = Driver(core, o);
    if (!drv) return 1;
    std::vector<CDBDriver::STag*> tags;
    if (!drv->_GetTagValue(TagNamesFromUtf8(o.tags.c_str()), tags))
        return Refused(core, "read failed");
    const std::vector<std::string> names = Names(o.tags);
    for (size_t i = 0; i < tags.size() && i < names.size(); i++) {
        XVariant v;
        if (tags[i] == nullptr || !drv->CopyTagValue(tags[i]->id, v)) {
            out.Record({{"tag", names[i]}, {"error", "no such tag"}}, names[i] + "  no such tag");
            continue;
        }
        out.Record({{"tag", names[i]}, {"value", ValueJson(v)}, {"type", TypeName(v.vt)}},
                   names[i] + " = " + ValueText(v) + " (" + TypeName(v.vt) + ")");
    }
    return 0;
}

int CmdWrite(const SCliOptions& o, CCliOutput& out) {
    std::string names;
    std::vector<XVariant> values;
    for (const std::string& w : o.writes) {
        size_t eq = w.find('=');
        if (eq == std::string::npos || eq == 0) {
            CCliOutput::Fail("'" + w + "' is not TAG=VALUE");
            return 2;
        }
        XVariant v;
        std::string err;
        if (!ParseValue(w.substr(eq + 1), o.type, v, err)) {
            CCliOutput::Fail(w.substr(0, eq) + ": " + err);
            return 2;
        }
        names += (names.empty() ? "" : ",") + w.substr(0, eq);
        values.push_back(v);
    }
    CCliCore core(out);
    int result = 0;
    if (int st = Connect(core, o, result)) return st;
    std::shared_ptr<CDBDriver> drv = Driver(core, o);
    if (!drv) return 1;
    int ret = drv->SetTagValue(TagNamesFromUtf8(names.c_str()), CCliValues(values));
    if (ret == kWriteBadValue) {
        CCliOutput::Fail(
            "write refused (-3): a tag name did not resolve, or a value does not "
            "convert");
        return 1;
    }
    if (ret != kWriteOk) return Refused(core, "write failed (" + std::to_string(ret) + ")");
    const std::vector<std::string> list = Names(names);
    for (size_t i = 0; i < values.size(); i++) {
        out.Record({{"tag", list[i]},
                    {"value", ValueJson(values[i])},
                    {"type", TypeName(values[i].vt)},
                    {"result", ret}},
                   list[i] + " <- " + ValueText(values[i]) + " (" + TypeName(values[i].vt) + ")");
    }
    return 0;
}

int CmdWatch(const SCliOptions& o, CCliOutput& out) {
    signal(SIGINT, OnInterrupt);
    signal(SIGTERM, OnInterrupt);
    CCliCore core(out);
    int result = 0;
    if (int st = Connect(core, o, result)) return st;
    std::shared_ptr<CDBDriver> drv = Driver(core, o);
    if (!drv) return 1;
    static int handle;  // any non-null handle: deliver this driver's changes
    drv->m_tagNotifyFn = &handle;
    if (!drv->_ConnectTag(TagNamesFromUtf8(o.tags.c_str()))) return Refused(core, "advise failed");
    core.Wait(o.count, o.seconds);
    if (!core.IsConnected() && !g_bInterrupted) return Refused(core, "watch ended");
    return 0;
}

int CmdAlarms(const SCliOptions& o, CCliOutput& out) {
    signal(SIGINT, OnInterrupt);
    signal(SIGTERM, OnInterrupt);
    CCliCore core(out);
    int result = 0;
    if (int st = Connect(core, o, result)) return st;
    static int handle;
    if (core._SetRtAlarmNotify(&handle, o.bExisting) != 0)
        return Refused(core, "alarm subscription failed");
    core.Wait(o.count, o.seconds);
    if (!core.IsConnected() && !g_bInterrupted) return Refused(core, "alarms ended");
    return 0;
}
