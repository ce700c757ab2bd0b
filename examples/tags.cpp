// Connects, subscribes to alarms, advises two tags, reads three, writes
// one and prints the changes and alarms that arrive for four seconds.
//   tags HOST[:PORT] USER PASSWORD
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "DBCore.h"

namespace {

// Prints each change as it arrives on the receive thread.
class PrintingCore : public CDBCore {
public:
    ~PrintingCore() override { _Disconnect(); }
    void FireTagNotify(CDBDriver& drv, void*, WORD pos, const XVariant& value) override {
        std::lock_guard<std::mutex> lock(m_print);
        printf("  change  %s.%s = %s\n", CT2UTF8(drv.m_strDriver).c_str(),
               CT2UTF8(drv.TagName(pos)).c_str(), CString(value).c_str());
        fflush(stdout);
    }
    void FireRtAlarm(void*, const S2RtAlarm2& a) override {
        std::lock_guard<std::mutex> lock(m_print);
        printf("  alarm   %s %s (%s, %s) level %u value %g limit %g\n",
               a.status ? "raised  " : "returned", AlarmText(m_tagList, a.tid),
               AlarmText(m_textList, a.type), AlarmText(m_textList, a.grp), a.level, a.value,
               a.limit);
        fflush(stdout);
    }
    std::mutex m_print;
};

// One value written from a variant, as a binding's converter would.
class OneValue : public ITagValues {
public:
    explicit OneValue(const XVariant& v) : v_(v) {}
    bool IsList() const override { return false; }
    size_t Count() const override { return 1; }
    bool Append(size_t, BYTE* buf, size_t& nLen, size_t nMax) const override {
        size_t n = v_.ToBuffer(buf + nLen, nMax - nLen, true);
        nLen += n;
        return n > 0;
    }

private:
    XVariant v_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: %s HOST[:PORT] USER PASSWORD\n", argv[0]);
        return 2;
    }
    PrintingCore core;
    int ret = core._Connect(argv[1], argv[2], argv[3]);
    printf("connect result: %d\n", ret);
    if (ret != 0) return 1;
    std::shared_ptr<CDBDriver> plc = core._GetDriver("PLC1");
    if (!plc) {
        printf("no driver PLC1\n");
        return 1;
    }
    int handle = 1;  // any non-null callback handle turns delivery on
    plc->m_tagNotifyFn = &handle;
    printf("alarm subscription: %d\n", core._SetRtAlarmNotify(&handle, true));

    const char* advised = "Tank1.Level,Pump1.Speed";
    printf("advise %s: %s\n", advised, plc->_ConnectTag(advised) ? "ok" : "failed");

    const char* names = "Tank1.Temp,Pump1.Mode,NoSuchTag";
    std::vector<CDBDriver::STag*> tags;
    printf("read %s: %s\n", names, plc->_GetTagValue(names, tags) ? "ok" : "failed");
    const char* shown[] = {"Tank1.Temp", "Pump1.Mode", "NoSuchTag"};
    for (size_t i = 0; i < tags.size() && i < 3; i++) {
        XVariant v;
        if (tags[i] && plc->CopyTagValue(tags[i]->id, v)) {
            printf("  %-12s = %s\n", shown[i], CString(v).c_str());
        } else {
            printf("  %-12s   (no such tag)\n", shown[i]);
        }
    }

    int w = plc->SetTagValue("Pump1.Run", OneValue(XVariant(false)));
    printf("write Pump1.Run = 0: result %d\n", w);

    printf("changes and alarms for four seconds:\n");
    fflush(stdout);
    std::this_thread::sleep_for(std::chrono::seconds(4));
    core._Disconnect();
    std::lock_guard<std::mutex> lock(core.m_print);
    plc->m_tagNotifyFn = nullptr;
    return 0;
}
