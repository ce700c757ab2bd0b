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
bool HasControlByte(const CString& s) {
    for (unsigned char c : s) {
        if (c < 0x20) return true;
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
    char szSend[kMaxBatchLen];
    size_t nLen = 1;
    szSend[0] = 'L';
    std::list<CString> curTags;
    // Entries of the pending names, filled when their batch is answered.
    std::vector<size_t> pendingAt;

    CString strTags(tags ? tags : "");
    int iStart = 0;
    for (;;) {
        CString name = strTags.Tokenize(",", iStart);
        if (iStart < 0) break;
        name.Trim(' ');
        if (name.IsEmpty() || HasControlByte(name) || name.size() + 4 > kMaxBatchLen) {
            reqTags.push_back(nullptr);  // a name no request can carry resolves to nothing
            continue;
        }
        auto it = m_mapTagToId.find(name);
        if (it != m_mapTagToId.end()) {
            reqTags.push_back(it->second < m_tags.size() ? &m_tags[it->second] : nullptr);
            continue;
        }
        if (nLen + name.size() + 3 > kMaxBatchLen) {
            std::vector<STag*> got;
            if (!ReqBatchGetPoss(curTags, szSend, nLen, got)) return false;
            for (size_t i = 0; i < got.size(); i++)
                reqTags[pendingAt[i]] = got[i];
            curTags.clear();
            pendingAt.clear();
            nLen = 1;
        }
        PutLE16(reinterpret_cast<BYTE*>(szSend + nLen), m_drvId);
        memcpy(szSend + nLen + 2, name.c_str(), name.size() + 1);
        nLen += name.size() + 3;
        curTags.push_back(name);
        pendingAt.push_back(reqTags.size());
        reqTags.push_back(nullptr);
    }
    if (curTags.empty()) return true;
    std::vector<STag*> got;
    if (!ReqBatchGetPoss(curTags, szSend, nLen, got)) return false;
    for (size_t i = 0; i < got.size(); i++)
        reqTags[pendingAt[i]] = got[i];
    return true;
}

bool CDBDriver::ReqBatchGetPoss(std::list<CString>& curTags, const char* szSend, size_t nLen,
                                std::vector<STag*>& reqTags) {
    if (m_pDBCore == nullptr) return false;
    const size_t needLen = 4 * curTags.size() + 1;
    std::vector<char> szReply(needLen);
    if (!m_pDBCore->RequestAll(szSend, nLen, needLen, szReply.data()) || szReply[0] != 'L') {
        return false;
    }
    size_t i = 0;
    for (const CString& name : curTags) {
        WORD dpos = GetLE16(reinterpret_cast<const BYTE*>(szReply.data()) + 1 + 4 * i++);
        m_mapTagToId[name] = dpos;
        if (dpos < m_tags.size()) {
            std::lock_guard<std::mutex> lock(m_tagLock);
            m_tags[dpos].strTag = name;
            reqTags.push_back(&m_tags[dpos]);
        } else {
            reqTags.push_back(nullptr);
        }
    }
    return true;
}

WORD CDBDriver::GetTagId(LPCTSTR tagName) {
    if (tagName == nullptr || *tagName == '\0' || m_tags.empty()) return kNoTag;
    auto it = m_mapTagToId.find(tagName);
    if (it != m_mapTagToId.end()) return it->second;
    WORD pos = kNoTag;
    // A request that failed says nothing about the name: it is not cached.
    if (m_pDBCore == nullptr || !m_pDBCore->GetTagId(m_drvId, tagName, &pos)) return kNoTag;
    if (pos < m_tags.size()) {
        std::lock_guard<std::mutex> lock(m_tagLock);
        m_tags[pos].strTag = tagName;
    }
    m_mapTagToId[tagName] = pos;
    return pos;
}

bool CDBCore::GetTagId(WORD drvId, LPCTSTR tagName, WORD* pTagId) {
    if (!m_bConnect) return false;
    size_t n = strlen(tagName);
    if (n + 4 > kSingleReqLen) return false;  // does not fit the request
    char buf[kSingleReqLen] = {0};
    buf[0] = 'L';
    PutLE16(reinterpret_cast<BYTE*>(buf + 1), drvId);
    memcpy(buf + 3, tagName, n + 1);
    if (m_reqSock._Send(buf, static_cast<int>(n + 4)) <= 0) return false;
    BYTE reply[16];
    int r = m_reqSock._Recv(reply, sizeof reply);
    if (r < 3 || reply[0] != 'L') return false;
    *pTagId = GetLE16(reply + 1);
    return true;
}
