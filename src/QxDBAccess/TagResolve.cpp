// Tag names to positions: the name cache of a driver, and the position
// requests ('L') that fill it, packed up to 768 bytes a batch.
#include <cstring>

#include "ByteOrder.h"
#include "DBCore.h"
#include "DBDriver.h"

const char kUnconvertibleName[] = "\x01";

namespace {

const size_t kSingleReqLen = 256;

// Names holding a control byte never resolve (see kUnconvertibleName).
bool HasControlByte(const char* p, size_t n) {
    for (size_t i = 0; i < n; i++) {
        if (static_cast<unsigned char>(p[i]) < 0x20) return true;
    }
    return false;
}

}  // namespace

CString TagNamesFromUtf8(const char* szUtf8) {
    CString out;
    const char* p = szUtf8 ? szUtf8 : "";
    for (;;) {
        const char* comma = strchr(p, ',');
        size_t n = comma ? static_cast<size_t>(comma - p) : strlen(p);
        CString field;
        if (n > 0) {
            field.FromUtf8(p, n);
            // A cut conversion would name another, shorter tag.
            CString back;
            field.ToUtf8(back);
            if (back != std::string(p, n)) field = kUnconvertibleName;
        }
        out += field;
        if (comma == nullptr) break;
        out += ',';
        p = comma + 1;
    }
    return out;
}

bool CDBDriver::CheckTagId(LPCTSTR tags, std::vector<STag*>& reqTags) {
    CDBCore* core = m_pDBCore;
    if (core == nullptr) return false;
    CRequestHold hold(*core);
    if (!hold) return false;
    return CheckTagIdLocked(tags, reqTags);
}

bool CDBDriver::CheckTagIdLocked(const char* tags, std::vector<STag*>& reqTags) {
    CDBCore* core = m_pDBCore;
    if (core == nullptr || !core->m_bConnect) return false;
    char szSend[kMaxBatchLen];
    size_t nLen = 1;
    szSend[0] = 'L';
    std::vector<SNameRef> pending;  // names of the batch being built
    std::string key;                // reused: lookups allocate nothing once it is large enough

    const char* p = tags ? tags : "";
    for (;;) {
        const char* comma = strchr(p, ',');
        const char* end = comma ? comma : p + strlen(p);
        // An empty field gives no entry; one of blanks only, a null entry.
        if (end > p) {
            const char* a = p;
            const char* b = end;
            while (a < b && *a == ' ')
                a++;
            while (b > a && b[-1] == ' ')
                b--;
            const size_t n = static_cast<size_t>(b - a);
            if (n == 0 || HasControlByte(a, n) || n + 4 > kMaxBatchLen) {
                reqTags.push_back(nullptr);  // a name no request can carry resolves to nothing
            } else if (!ResolveName(a, n, key, pending, szSend, nLen, reqTags)) {
                return false;
            }
        }
        if (comma == nullptr) break;
        p = comma + 1;
    }
    if (pending.empty()) return true;
    return ReqBatchGetPoss(pending, szSend, nLen, reqTags);
}

// One name: from the cache, or added to the batch being built (sent first
// when the name does not fit it any more).
bool CDBDriver::ResolveName(const char* a, size_t n, std::string& key,
                            std::vector<SNameRef>& pending, char* szSend, size_t& nLen,
                            std::vector<STag*>& reqTags) {
    key.assign(a, n);
    auto it = m_mapTagToId.find(key);
    if (it != m_mapTagToId.end()) {
        reqTags.push_back(it->second < m_tags.size() ? &m_tags[it->second] : nullptr);
        return true;
    }
    if (nLen + n + 3 > kMaxBatchLen) {
        if (!ReqBatchGetPoss(pending, szSend, nLen, reqTags)) return false;
        pending.clear();
        nLen = 1;
    }
    PutLE16(reinterpret_cast<BYTE*>(szSend + nLen), m_drvId);
    memcpy(szSend + nLen + 2, a, n);
    szSend[nLen + 2 + n] = '\0';
    nLen += n + 3;
    pending.push_back({a, n, reqTags.size()});
    reqTags.push_back(nullptr);
    return true;
}

bool CDBDriver::ReqBatchGetPoss(const std::vector<SNameRef>& names, const char* szSend, size_t nLen,
                                std::vector<STag*>& reqTags) {
    CDBCore* core = m_pDBCore;
    if (core == nullptr || !core->BeginRequest()) return false;
    const size_t needLen = 4 * names.size() + 1;
    std::vector<char> szReply(needLen);
    const auto start = std::chrono::steady_clock::now();
    if (!core->RequestAll(szSend, nLen, needLen, szReply.data())) {
        // The reply may still come: never read it as another's.
        core->EndConnection("name lookup", core->ReplyFailure(start).c_str());
        return false;
    }
    if (szReply[0] != 'L') {
        core->EndConnection("name lookup", "the reply was malformed");
        return false;
    }
    for (size_t i = 0; i < names.size(); i++) {
        const SNameRef& name = names[i];
        WORD dpos = GetLE16(reinterpret_cast<const BYTE*>(szReply.data()) + 1 + 4 * i);
        m_mapTagToId[std::string(name.p, name.n)] = dpos;
        if (dpos < m_tags.size()) {
            SetTagName(dpos, name.p, name.n);
            reqTags[name.at] = &m_tags[dpos];
        }
    }
    return true;
}

void CDBDriver::SetTagName(WORD pos, const char* p, size_t n) {
    std::lock_guard<std::mutex> lock(m_tagLock);
    // The first name stays: the receive thread may be reading it.
    if (m_tags[pos].strTag.empty()) m_tags[pos].strTag.assign(p, n);
}

const CString& CDBDriver::TagName(WORD pos) const {
    static const CString kNone;
    return pos < m_tags.size() ? m_tags[pos].strTag : kNone;
}

WORD CDBDriver::GetTagId(LPCTSTR tagName) {
    if (tagName == nullptr || *tagName == '\0' || m_tags.empty()) return kNoTag;
    CDBCore* core = m_pDBCore;
    if (core == nullptr) return kNoTag;
    CRequestHold hold(*core);
    if (!hold) return kNoTag;
    auto it = m_mapTagToId.find(tagName);
    if (it != m_mapTagToId.end()) return it->second;
    WORD pos = kNoTag;
    // A request that failed says nothing about the name: it is not cached.
    if (m_pDBCore == nullptr || !core->GetTagId(m_drvId, tagName, &pos)) return kNoTag;
    if (pos < m_tags.size()) SetTagName(pos, tagName, strlen(tagName));
    m_mapTagToId[tagName] = pos;
    return pos;
}

bool CDBCore::GetTagId(WORD drvId, LPCTSTR tagName, WORD* pTagId) {
    CRequestHold hold(*this);
    if (!hold) return false;
    size_t n = strlen(tagName);
    if (n + 4 > kSingleReqLen) return false;  // does not fit the request
    if (!BeginRequest()) return false;
    char buf[kSingleReqLen] = {0};
    buf[0] = 'L';
    PutLE16(reinterpret_cast<BYTE*>(buf + 1), drvId);
    memcpy(buf + 3, tagName, n + 1);
    if (m_reqSock._Send(buf, static_cast<int>(n + 4)) <= 0) {
        EndConnection("name lookup", "the request could not be sent");
        return false;
    }
    BYTE reply[16];
    int r = m_reqSock._Recv(reply, sizeof reply);
    if (r < 3 || reply[0] != 'L') {
        EndConnection("name lookup", r < 1 ? "no reply" : "the reply was malformed");
        return false;
    }
    *pTagId = GetLE16(reply + 1);
    return true;
}
