// Advising ('b'), reading ('H'), writing ('g') and unadvising ('d') tags.
// Replies come in chunks of at most 4096 value bytes; every value is decoded
// within the bytes of its chunk.
#include <cstring>

#include "ByteOrder.h"
#include "DBCore.h"
#include "DBDriver.h"

namespace {

const size_t kAdviseBufLen = 2600;
const size_t kReadBufLen = 4096;

}  // namespace

// Receives one reply chunk: the code, for reads the more flag, the 16-bit
// length L and then L value bytes into buf. False on a short receive, a
// wrong code or an L beyond one chunk.
bool CDBDriver::RecvChunk(BYTE code, bool bMoreFlag, BYTE* buf, size_t& nLen, bool& bMore) {
    CReqTimeSock& sock = m_pDBCore->m_reqSock;
    BYTE head[4];
    const int nHead = bMoreFlag ? 4 : 3;
    if (!sock.RecvAll(head, nHead) || head[0] != code) return false;
    bMore = bMoreFlag && head[1] == 1;
    nLen = GetLE16(head + nHead - 2);
    if (nLen > kMaxChunkValues) return false;
    return sock.RecvAll(buf, static_cast<int>(nLen));
}

bool CDBDriver::_ConnectTag(LPCTSTR tags) {
    if (m_pDBCore == nullptr) return false;
    std::vector<STag*> reqTags;
    if (!CheckTagId(tags, reqTags)) return false;

    BYTE req[kAdviseBufLen] = {0};
    req[0] = 'b';
    std::vector<STag*> items;
    for (STag* pTag : reqTags) {
        if (pTag == nullptr || pTag->bSubscribe) continue;
        // A name given twice is advised once.
        bool bDup = false;
        for (STag* p : items)
            bDup = bDup || p == pTag;
        if (bDup) continue;
        BYTE* p = req + 3 + 5 * items.size();
        PutLE16(p, m_drvId);
        PutLE16(p + 2, pTag->id);
        p[4] = 0;
        items.push_back(pTag);
        if (items.size() == kMaxAdviseItems) break;
    }
    if (items.empty()) return true;
    PutLE16(req + 1, static_cast<uint16_t>(items.size()));
    if (!m_pDBCore->m_reqSock.SendAll(req, static_cast<int>(3 + 5 * items.size()))) return false;

    BYTE chunk[kMaxChunkValues];
    size_t nLen = 0, nPos = 0;
    bool bMore = false;
    for (STag* pTag : items) {
        if (nPos == nLen) {
            if (!RecvChunk('b', false, chunk, nLen, bMore)) return false;
            nPos = 0;
        }
        XVariant v;
        size_t n = v.FromBuffer(chunk + nPos, nLen - nPos, true);
        if (n == 0) return false;  // cut off by the chunk's end
        StoreValue(pTag, v, true);
        nPos += n;
    }
    return true;
}

bool CDBDriver::_GetTagValue(LPCTSTR tags, std::vector<STag*>& reqTags) {
    if (m_pDBCore == nullptr) return false;
    if (!CheckTagId(tags, reqTags)) return false;

    BYTE req[kReadBufLen] = {0};
    req[0] = 'H';
    std::vector<STag*> pTags;
    for (STag* pTag : reqTags) {
        if (pTag == nullptr) continue;
        bool bAdvised;
        {
            std::lock_guard<std::mutex> lock(m_tagLock);
            bAdvised = pTag->bSubscribe;
        }
        if (bAdvised) continue;  // kept current by notifications
        BYTE* p = req + 3 + 4 * pTags.size();
        PutLE16(p, m_drvId);
        PutLE16(p + 2, pTag->id);
        pTags.push_back(pTag);
        if (pTags.size() == kMaxReadTags) break;
    }
    if (pTags.empty()) return true;
    PutLE16(req + 1, static_cast<uint16_t>(pTags.size()));
    if (!m_pDBCore->m_reqSock.SendAll(req, static_cast<int>(3 + 4 * pTags.size()))) return false;

    BYTE chunk[kMaxChunkValues];
    size_t nNext = 0;
    bool bMore = true;
    while (bMore && nNext < pTags.size()) {
        size_t nLen = 0;
        if (!RecvChunk('H', true, chunk, nLen, bMore)) return false;
        size_t nPos = 0;
        while (nPos < nLen && nNext < pTags.size()) {
            XVariant v;
            size_t n = v.FromBuffer(chunk + nPos, nLen - nPos, true);
            if (n == 0) return false;  // cut off by the chunk's end
            StoreValue(pTags[nNext++], v, false);
            nPos += n;
        }
    }
    // Chunks announced beyond the last value are read off too, so that the
    // next reply starts where it should.
    while (bMore) {
        size_t nLen = 0;
        if (!RecvChunk('H', true, chunk, nLen, bMore)) return false;
    }
    return true;
}

int CDBDriver::SetTagValue(LPCTSTR tags, const ITagValues& values) {
    if (m_pDBCore == nullptr) return kWriteNotSent;
    if ((m_pDBCore->m_nRights & kRightWrite) == 0) return kWriteNoRight;
    std::vector<STag*> reqTags;
    if (!CheckTagId(tags, reqTags)) return kWriteNotSent;
    if (reqTags.empty()) return kWriteOk;

    BYTE req[kWriteBufLen] = {0};
    req[0] = 'g';
    size_t nLen = 3;
    WORD nCount = 0;
    // Address and value together must fit: a write is refused whole rather
    // than cut.
    auto append = [&](STag* pTag, size_t i) {
        if (nLen + 4 > sizeof req) return false;
        PutLE16(req + nLen, m_drvId);
        PutLE16(req + nLen + 2, pTag->id);
        size_t nValue = nLen + 4;
        if (!values.Append(i, req, nValue, sizeof req) || nValue > sizeof req) return false;
        nLen = nValue;
        nCount++;
        return true;
    };
    if (reqTags.size() == 1) {
        if (reqTags[0] == nullptr || !append(reqTags[0], 0)) return kWriteBadValue;
    } else {
        if (!values.IsList()) return kWriteBadValue;
        for (size_t i = 0; i < reqTags.size(); i++) {
            if (reqTags[i] == nullptr) continue;
            if (i >= values.Count() || !append(reqTags[i], i)) return kWriteBadValue;
        }
    }
    PutLE16(req + 1, nCount);
    if (m_pDBCore->ReqSend(req, static_cast<int>(nLen)) <= 0) return kWriteNotSent;
    return kWriteOk;
}

bool CDBCore::UnadviseTag(long id) {
    BYTE req[1 + sizeof(long)];
    req[0] = 'd';
    memcpy(req + 1, &id, sizeof id);  // the platform's long, as the server expects
    if (ReqSend(req, sizeof req) <= 0) return false;
    BYTE reply[16];
    return m_reqSock._Recv(reply, sizeof reply) >= 1 && reply[0] == 'd';
}
