// CDBDriver: one I/O driver of the project in use, with its tag table, its
// cache of tag names and the requests that resolve, advise, read and write
// its tags.
//
// Lifetime: the DBCore object creates a driver on first request and holds it
// by shared ownership; a binding's handle holds it the same way. When the
// connection ends, the DBCore object detaches its drivers (m_pDBCore becomes
// null once the receive thread has ended, or, when the object is destroyed
// from a callback, once that delivery has returned) and drops its
// references: a handle kept by a script then reaches a live driver whose
// every request fails, never a destroyed one.
#ifndef QX_DBDRIVER_H
#define QX_DBDRIVER_H

#include <atomic>
#include <map>
#include <string>
#include <unordered_map>
#include <memory>
#include <mutex>
#include <vector>

#include "XVariant.h"
#include "cstring.h"

class CDBCore;
class CDBDriver;

// One entry of the project's driver list.
struct SNDrvInfo {
    WORD id = 0;
    WORD tagNum = 0;
};

struct SNDrvInfoEx : SNDrvInfo {
    CDBDriver* pDriver = nullptr;         // null until created
    std::shared_ptr<CDBDriver> spDriver;  // the DBCore object's reference to it
};

// The values of a write, as the binding holds them. Append writes one value
// in typed form at buf[nLen, nMax) and advances nLen; false when the value
// does not convert or does not fit. A write to one name appends the value
// itself (kWholeValue), which is refused when it is a list; a write to
// several names appends the list's items.
class ITagValues {
public:
    static const size_t kWholeValue = static_cast<size_t>(-1);
    virtual ~ITagValues() {}
    virtual bool IsList() const = 0;  // several values, one per name
    virtual size_t Count() const = 0;
    // Item i of the list, or the value itself for kWholeValue.
    virtual bool Append(size_t i, BYTE* buf, size_t& nLen, size_t nMax) const = 0;
};

// Results of SetTagValue.
const int kWriteOk = 0;
const int kWriteNoRight = -1;
const int kWriteNotSent = -2;
const int kWriteBadValue = -3;

const size_t kMaxBatchLen = 768;  // one position request
const size_t kMaxAdviseItems = 519;
const size_t kMaxReadTags = 1023;
const size_t kWriteBufLen = 2048;
const WORD kNoTag = 0xFFFF;
const BYTE kRightWrite = 0x08;

// What a name field becomes when it did not convert to the core's text
// whole: a control byte that no tag name holds, which resolves to no tag.
extern const char kUnconvertibleName[];
// Converts a script's comma-separated UTF-8 names field by field, so that a
// field that does not convert whole cannot shorten into another name.
CString TagNamesFromUtf8(const char* szUtf8);

class CDBDriver : public std::enable_shared_from_this<CDBDriver> {
public:
    struct STag {
        XVariant value;  // VT_EMPTY until first read or advised
        CString strTag;  // empty until the name has resolved here
        WORD id = 0;     // position in the driver
        bool bSubscribe = false;
    };

    CDBDriver();
    ~CDBDriver();
    CDBDriver(const CDBDriver&) = delete;
    CDBDriver& operator=(const CDBDriver&) = delete;

    void SetTagCount(DWORD dwCount);
    size_t GetTagCount() const { return m_nTags; }

    // Resolves the comma-separated names into one entry each (null: blank or
    // unknown). False when a position request failed.
    bool CheckTagId(LPCTSTR tags, std::vector<STag*>& reqTags);
    // One name of a comma-separated list, trimmed of blanks, inside the list.
    struct SNameRef {
        const char* p;
        size_t n;
        size_t at;  // its entry in reqTags
    };
    // Resolves the names of one batch request; caller holds the request lock.
    bool ReqBatchGetPoss(const std::vector<SNameRef>& names, const char* szSend, size_t nLen,
                         std::vector<STag*>& reqTags);
    WORD GetTagId(LPCTSTR tagName);

    // Advises the named tags not advised yet and stores their values.
    bool _ConnectTag(LPCTSTR tags);
    // Resolves the names and refreshes the values of the tags not advised.
    bool _GetTagValue(LPCTSTR tags, std::vector<STag*>& reqTags);
    // Writes values: kWriteOk, kWriteNoRight, kWriteNotSent or kWriteBadValue.
    int SetTagValue(LPCTSTR tags, const ITagValues& values);

    // The name a tag resolved by first, empty before. It is set once, before
    // the tag can have a type, so a tag that changes has a name that no
    // longer changes: the receive thread's batches refer to it by position.
    const CString& TagName(WORD pos) const;

    // Stores a value as a read does, giving the tag its type. False for an
    // unknown position.
    bool PutTagValue(WORD pos, const XVariant& value);
    // Consistent copies, safe while the receive thread updates the table.
    bool CopyTagValue(WORD pos, XVariant& value) const;
    bool CopyTag(WORD pos, STag& tag) const;

    // Owner's thread, receive thread not running: cut the tie to the core.
    void Detach() { m_pDBCore = nullptr; }
    bool IsAttached() const { return m_pDBCore != nullptr; }

    // Stores the binding's callback handle when none is stored yet; the
    // driver lets it go with pfnRelease (may be null) when destroyed, on
    // whichever thread drops the last reference. False, with nothing kept,
    // when a handle is stored already.
    bool SetTagNotifyFn(void* fn, void (*pfnRelease)(void*));

    std::atomic<void*> m_tagNotifyFn;  // the binding's callback handle; null = none
    WORD m_drvId;
    CString m_strDriver;
    // Null once detached; written under the core's request lock.
    std::atomic<CDBCore*> m_pDBCore;

private:
    friend class CDBCore;
    friend struct SRunLock;
    // Caller holds the core's request lock.
    bool CheckTagIdLocked(const char* tags, std::vector<STag*>& reqTags);
    bool ResolveName(const char* a, size_t n, std::string& key, std::vector<SNameRef>& pending,
                     char* szSend, size_t& nLen, std::vector<STag*>& reqTags);
    // One request each, tags[0, n) within its limit.
    bool AdviseBatch(CDBCore* core, STag* const* items, size_t n);
    bool ReadBatch(CDBCore* core, STag* const* pTags, size_t n);
    // The reply of an advise ('b') or read ('H') into the tags' values; a
    // reply cut short, late or malformed ends the connection.
    bool RecvValues(CDBCore* core, BYTE code, STag* const* tags, size_t n);
    bool RecvChunk(CDBCore* core, BYTE code, BYTE* buf, size_t& nLen, bool& bMore,
                   const struct SDeadline& deadline);
    void SetTagName(WORD pos, const char* p, size_t n);

    // Guards the values, names and flags of m_tags: the receive thread
    // writes values while request threads read and write them. Held only to
    // copy in or out, never across a callback or a network wait.
    mutable std::mutex m_tagLock;
    void (*m_pfnReleaseNotify)(void*) = nullptr;  // set with m_tagNotifyFn
    std::vector<STag> m_tags;                     // sized once, at creation
    size_t m_nTags = 0;
    // Name cache; guarded by the core's request lock.
    std::unordered_map<std::string, WORD> m_mapTagToId;
};

#endif  // QX_DBDRIVER_H
