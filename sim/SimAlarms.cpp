#include "SimAlarms.h"

#include <algorithm>

namespace {

WORD IndexOf(const std::vector<std::string>& list, const std::string& s) {
    auto it = std::find(list.begin(), list.end(), s);
    return static_cast<WORD>(it - list.begin());
}

bool SameAlarm(const S2RtAlarm2& a, const S2RtAlarm2& b) {
    return a.almtm == b.almtm && a.tid == b.tid && a.type == b.type && a.limit == b.limit;
}

}  // namespace

std::vector<std::string> SimTextList(const SSimProject& prj) {
    std::vector<std::string> texts;
    for (const SSimDriver& d : prj.drivers) {
        for (const SSimTag& t : d.tags) {
            for (const SSimAlarmLimit& a : t.alarms) {
                for (const std::string* s : {&a.type, &a.group}) {
                    if (std::find(texts.begin(), texts.end(), *s) == texts.end()) {
                        texts.push_back(*s);
                    }
                }
            }
        }
    }
    return texts;
}

std::vector<std::string> SimTagList(const SSimProject& prj) {
    std::vector<std::string> tags;
    for (const SSimDriver& d : prj.drivers) {
        for (const SSimTag& t : d.tags)
            tags.push_back(t.name);
    }
    return tags;
}

CSimAlarms::CSimAlarms(const SSimProject& prj) {
    std::vector<std::string> texts = SimTextList(prj);
    WORD tid = 0;
    for (const SSimDriver& d : prj.drivers) {
        for (size_t pos = 0; pos < d.tags.size(); pos++, tid++) {
            for (const SSimAlarmLimit& a : d.tags[pos].alarms) {
                SLimit l;
                l.def = a;
                l.tid = tid;
                l.type = IndexOf(texts, a.type);
                l.grp = IndexOf(texts, a.group);
                m_limits[MakeTagKey(d.id, static_cast<uint16_t>(pos))].push_back(l);
            }
        }
    }
}

std::vector<SSimAlarmEvent> CSimAlarms::OnValue(SimTagKey key, double value, uint32_t now) {
    std::vector<SSimAlarmEvent> events;
    std::lock_guard<std::mutex> lock(m_lock);
    auto it = m_limits.find(key);
    if (it == m_limits.end()) return events;
    for (SLimit& l : it->second) {
        bool bOver = l.def.bHigh ? value > l.def.limit : value < l.def.limit;
        if (bOver == l.bActive) continue;
        SSimAlarmEvent ev;
        if (bOver) {
            S2RtAlarm2& a = l.raised;
            a = S2RtAlarm2();
            a.almtm = now;
            a.tid = l.tid;
            a.type = l.type;
            a.grp = l.grp;
            a.level = static_cast<BYTE>(l.def.level);
            a.status = 1;
            a.value = value;
            a.limit = l.def.limit;
            m_active.push_back(a);
            ev.type = 1;
            ev.alarm = a;
        } else {
            m_active.erase(
                std::remove_if(m_active.begin(), m_active.end(),
                               [&](const S2RtAlarm2& a) { return SameAlarm(a, l.raised); }),
                m_active.end());
            ev.type = 3;
            ev.alarm = l.raised;
            ev.alarm.evttm = now;
            ev.alarm.status = 0;
            ev.alarm.value = value;
        }
        l.bActive = bOver;
        events.push_back(ev);
    }
    return events;
}

void CSimAlarms::Raise(const S2RtAlarm2& alarm) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_active.push_back(alarm);
}

std::vector<S2RtAlarm2> CSimAlarms::Active() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_active;
}
