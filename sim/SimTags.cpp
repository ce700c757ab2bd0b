#include "SimTags.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace {

bool ParseNumbers(std::istringstream& in, int n, double* out) {
    for (int i = 0; i < n; i++) {
        if (!(in >> out[i])) return false;
    }
    return true;
}

}  // namespace

bool CSimTagDb::Load(const std::vector<SSimDriver>& drivers, std::string& err) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_drivers.clear();
    for (const SSimDriver& d : drivers) {
        SDriver drv;
        drv.id = d.id;
        for (const SSimTag& t : d.tags) {
            STag tag;
            tag.name = t.name;
            XVariant text(t.value.c_str());
            if (t.vt == VT_BSTR) {
                tag.value = text;
            } else if (text.ChangeType(t.vt) != 0) {
                err = "tag " + t.name + ": bad value '" + t.value + "'";
                return false;
            } else {
                tag.value = text;
            }
            tag.base = tag.value.ToDouble();
            std::istringstream in(t.change);
            std::string kind;
            double n[3];
            if (in >> kind) {
                bool ok = false;
                if (kind == "ramp" && ParseNumbers(in, 2, n)) {
                    tag.change = STag::kRamp;
                    tag.a = n[0];
                    tag.periodMs = static_cast<int64_t>(n[1]);
                    ok = true;
                } else if (kind == "sine" && ParseNumbers(in, 2, n)) {
                    tag.change = STag::kSine;
                    tag.a = n[0];
                    tag.periodMs = static_cast<int64_t>(n[1]);
                    ok = true;
                } else if (kind == "random" && ParseNumbers(in, 3, n)) {
                    tag.change = STag::kRandom;
                    tag.a = n[0];
                    tag.b = n[1];
                    tag.periodMs = static_cast<int64_t>(n[2]);
                    ok = true;
                }
                if (!ok || tag.periodMs <= 0 || t.vt == VT_BSTR || t.vt == VT_DATE) {
                    err = "tag " + t.name + ": bad change '" + t.change +
                          "' (ramp STEP MS, sine AMPLITUDE MS, random MIN MAX MS; numbers only)";
                    return false;
                }
            }
            drv.byName.emplace(tag.name, static_cast<uint16_t>(drv.tags.size()));
            drv.tags.push_back(tag);
        }
        m_drivers.push_back(drv);
    }
    return true;
}

const CSimTagDb::STag* CSimTagDb::FindTag(uint16_t id, uint16_t pos) const {
    for (const SDriver& d : m_drivers) {
        if (d.id == id) return pos < d.tags.size() ? &d.tags[pos] : nullptr;
    }
    return nullptr;
}

uint16_t CSimTagDb::Find(uint16_t id, const std::string& name) const {
    std::lock_guard<std::mutex> lock(m_lock);
    for (const SDriver& d : m_drivers) {
        if (d.id != id) continue;
        auto it = d.byName.find(name);
        if (it != d.byName.end()) return it->second;
    }
    return 0xFFFF;
}

bool CSimTagDb::Get(uint16_t id, uint16_t pos, XVariant& value) const {
    std::lock_guard<std::mutex> lock(m_lock);
    const STag* t = FindTag(id, pos);
    if (t == nullptr) return false;
    value = t->value;
    return true;
}

bool CSimTagDb::Set(uint16_t id, uint16_t pos, const XVariant& value) {
    std::lock_guard<std::mutex> lock(m_lock);
    STag* t = const_cast<STag*>(FindTag(id, pos));
    if (t == nullptr) return false;
    XVariant v;
    if (v.ChangeType(t->value.vt, &value) != 0) return false;
    t->value = v;
    t->base = v.ToDouble();
    return true;
}

std::vector<SimTagKey> CSimTagDb::Tick(int64_t nowMs) {
    std::lock_guard<std::mutex> lock(m_lock);
    std::vector<SimTagKey> changed;
    for (SDriver& d : m_drivers) {
        for (size_t i = 0; i < d.tags.size(); i++) {
            STag& t = d.tags[i];
            if (t.change == STag::kNone) continue;
            // A sine moves in 20 steps a period; the others once a period.
            int64_t step =
                t.change == STag::kSine ? std::max<int64_t>(t.periodMs / 20, 10) : t.periodMs;
            if (t.startMs < 0) {
                t.startMs = nowMs;
                t.nextMs = nowMs + step;
                continue;
            }
            if (nowMs < t.nextMs) continue;
            t.nextMs = nowMs + step;
            double x;
            if (t.change == STag::kRamp) {
                x = t.value.ToDouble() + t.a;
                if (std::fabs(x) > 1e9) x = 0;
            } else if (t.change == STag::kSine) {
                const double kPi = 3.14159265358979323846;
                x = t.base + t.a * std::sin(2 * kPi * (nowMs - t.startMs) / t.periodMs);
            } else {
                x = std::uniform_real_distribution<double>(t.a, t.b)(m_random);
            }
            XVariant num(x, VT_R8);
            XVariant v;
            if (t.value.vt == VT_BOOL) {
                v = x >= 0.5;  // a Boolean ramps or wanders between 0 and 1
            } else if (v.ChangeType(t.value.vt, &num) != 0) {
                continue;
            }
            if (t.change == STag::kSine) {
                double base = t.base;
                t.value = v;
                t.base = base;
            } else {
                t.value = v;
            }
            changed.push_back(MakeTagKey(d.id, static_cast<uint16_t>(i)));
        }
    }
    return changed;
}
