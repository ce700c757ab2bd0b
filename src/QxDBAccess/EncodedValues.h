// CEncodedTagValues: the values of a write, each already in typed form, so
// that the request can be built on any thread, away from the script's
// objects. A binding encodes them while it may touch those objects.
#ifndef QX_ENCODEDVALUES_H
#define QX_ENCODEDVALUES_H

#include <cstring>
#include <string>
#include <vector>

#include "DBDriver.h"

class CEncodedTagValues : public ITagValues {
public:
    struct SEncoded {
        bool bOk = false;  // false: the value does not convert
        std::string bytes;
    };

    bool IsList() const override { return m_bList; }
    size_t Count() const override { return m_items.size(); }
    bool Append(size_t i, BYTE* buf, size_t& nLen, size_t nMax) const override {
        const SEncoded* e = nullptr;
        if (i == kWholeValue) {
            if (m_bList) return false;  // a list is not one value
            e = &m_whole;
        } else if (m_bList && i < m_items.size()) {
            e = &m_items[i];
        }
        if (e == nullptr || !e->bOk || nLen > nMax || nMax - nLen < e->bytes.size()) return false;
        memcpy(buf + nLen, e->bytes.data(), e->bytes.size());
        nLen += e->bytes.size();
        return true;
    }

    bool m_bList = false;
    SEncoded m_whole;  // the value, when not a list
    std::vector<SEncoded> m_items;
};

#endif  // QX_ENCODEDVALUES_H
