// CDBDriver: one driver of the project in use, with its tag table.
#ifndef QX_DBDRIVER_H
#define QX_DBDRIVER_H

#include <mutex>
#include <vector>

#include "XVariant.h"
#include "cstring.h"

class CDBDriver;

// One entry of the project's driver list.
struct SNDrvInfo {
    WORD id = 0;
    WORD tagNum = 0;
};

struct SNDrvInfoEx : SNDrvInfo {
    CDBDriver* pDriver = nullptr;  // owned by the CDBCore; null until created
};

class CDBDriver {
public:
    struct STag {
        XVariant value;
        CString name;
        WORD pos = 0xFFFF;
        bool bAdvise = false;
    };

    CDBDriver(const CString& strName, WORD id) : m_strName(strName), m_id(id) {}

    void SetTagCount(size_t nCount);
    size_t GetTagCount() const;
    // The present type of tag pos; false when there is no such tag.
    bool GetTagType(WORD pos, VARTYPE& vt) const;
    // Receive thread: stores a tag's new value. False for an unknown tag.
    bool OnDBNotify(WORD tagId, const XVariant& value);
    // A consistent copy of tag pos's value; false for an unknown tag.
    bool CopyTagValue(WORD pos, XVariant& value) const;

    const CString m_strName;
    const WORD m_id;

private:
    // Guards m_tags: the receive thread writes values while the script's
    // thread reads them. Held only to copy in or out.
    mutable std::mutex m_tagLock;
    std::vector<STag> m_tags;
};

#endif  // QX_DBDRIVER_H
