// The real-time alarms of a simulated server: limits on tag values that
// raise an alarm when a value crosses them and report its return, the list
// of active alarms that an alarm subscription ('n') replays, and the text
// and tag lists that give alarms their names.
//
// In project.txt a limit follows its tag:
//   alarm high|low LIMIT LEVEL "TYPE TEXT" "GROUP TEXT"
// The text list holds every type and group text once, in order of first
// use; the tag list every tag of every driver, in order: an alarm's tid is
// its tag's place there.
#ifndef QX_SIM_SIMALARMS_H
#define QX_SIM_SIMALARMS_H

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "RtAlarm.h"
#include "SimProject.h"
#include "SimTags.h"

// An alarm message: type 1 raised, type 3 returned.
struct SSimAlarmEvent {
    BYTE type = 1;
    S2RtAlarm2 alarm;
};

class CSimAlarms {
public:
    explicit CSimAlarms(const SSimProject& prj);

    // A tag's new value: the alarms it raises or ends, at time now.
    std::vector<SSimAlarmEvent> OnValue(SimTagKey key, double value, uint32_t now);
    // Adds an alarm to the active ones, as a test asks.
    void Raise(const S2RtAlarm2& alarm);
    std::vector<S2RtAlarm2> Active() const;

private:
    struct SLimit {
        SSimAlarmLimit def;
        WORD tid = 0;
        WORD type = 0, grp = 0;
        bool bActive = false;
        S2RtAlarm2 raised;  // while active
    };
    mutable std::mutex m_lock;  // guards everything below
    std::map<SimTagKey, std::vector<SLimit>> m_limits;
    std::vector<S2RtAlarm2> m_active;  // in the order raised
};

// The lines of RecData/textlist and RecData/taglist for a project (GB2312).
std::vector<std::string> SimTextList(const SSimProject& prj);
std::vector<std::string> SimTagList(const SSimProject& prj);

#endif  // QX_SIM_SIMALARMS_H
