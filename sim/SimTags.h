// The tag database of a simulated server: every driver's tags with their
// typed values, and the tags that change by themselves.
//
// A change, as project.txt gives it after a tag's first value:
//   ramp STEP PERIOD_MS      add STEP every period (wrapping at +-1e9)
//   sine AMPLITUDE PERIOD_MS the first value plus a sine of that period,
//                            in 20 steps a period
//   random MIN MAX PERIOD_MS a new value in [MIN, MAX] every period
// Values are kept in the tag's type; texts and dates do not change.
#ifndef QX_SIM_SIMTAGS_H
#define QX_SIM_SIMTAGS_H

#include <cstdint>
#include <mutex>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "SimProject.h"
#include "XVariant.h"

// A tag address: driver id in the high 16 bits, position in the low.
typedef uint32_t SimTagKey;
inline SimTagKey MakeTagKey(uint16_t id, uint16_t pos) {
    return (static_cast<uint32_t>(id) << 16) | pos;
}

class CSimTagDb {
public:
    // False with a message in err for a value or change that does not parse.
    bool Load(const std::vector<SSimDriver>& drivers, std::string& err);

    // The position of a tag name (GB2312) of driver id, or 0xFFFF.
    uint16_t Find(uint16_t id, const std::string& name) const;
    bool Get(uint16_t id, uint16_t pos, XVariant& value) const;
    // Stores a written value in the tag's own type; false for no such tag.
    bool Set(uint16_t id, uint16_t pos, const XVariant& value);
    // Moves the changing tags on to time nowMs; returns those that changed.
    std::vector<SimTagKey> Tick(int64_t nowMs);

private:
    struct STag {
        std::string name;
        XVariant value;
        enum { kNone, kRamp, kSine, kRandom } change = kNone;
        double a = 0, b = 0, base = 0;
        int64_t periodMs = 0, nextMs = 0, startMs = -1;
    };
    struct SDriver {
        uint16_t id;
        std::vector<STag> tags;
        std::unordered_map<std::string, uint16_t> byName;  // first position of each name
    };
    const STag* FindTag(uint16_t id, uint16_t pos) const;

    mutable std::mutex m_lock;  // guards everything below
    std::vector<SDriver> m_drivers;
    std::mt19937 m_random{12345};
};

#endif  // QX_SIM_SIMTAGS_H
