// Advising ('b'), reading ('H'), writing ('g') and unadvising ('d') tags.
// Replies come in chunks of at most 4096 value bytes; every value is decoded
// within the bytes of its chunk. A call that names more tags than one
// request carries sends as many requests as the names need. A reply that is
// cut short, late or malformed ends the connection: what is left of it must
// never be read as the reply to a later request.
#include <algorithm>
#include <chrono>
#include <cstring>

#include "ByteOrder.h"
#include "DBCore.h"
#include "DBDriver.h"
#include "ReplyChunk.h"

namespace {

const size_t kAdviseBufLen = 2600;
const size_t kReadBufLen = 4096;

}  // namespace

// The end of the time one reply may take, whatever the server sends.
struct SDeadline {
    std::chrono::steady_clock::time_point end;
    explicit SDeadline(int ms)
        : end(std::chrono::steady_clock::now() + std::chrono::milliseconds(ms)) {}
    int Left() const {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        return left.count() > 0 ? static_cast<int>(left.count()) : 0;
    }
};

// Receives one reply chunk: the head, then its L value bytes into buf. False
// on a short or late receive, a wrong code or an L beyond one chunk.
bool CDBDriver::RecvChunk(CDBCore* core, BYTE code, BYTE* buf, size_t& nLen, bool& bMore,
                          const SDeadline& deadline) {
    CReqTimeSock& sock = core->m_reqSock;
    const bool bMoreFlag = code == 'H';
    BYTE head[kChunkHeadLenRead];
    const size_t nHead = bMoreFlag ? kChunkHeadLenRead : kChunkHeadLenAdvise;
    if (!sock.RecvAllTimeOut(head, static_cast<int>(nHead), deadline.Left())) return false;
    if (!ParseChunkHead(head, nHead, code, bMoreFlag, bMore, nLen)) return false;
    return sock.RecvAllTimeOut(buf, static_cast<int>(nLen), deadline.Left());
}

bool CDBDriver::RecvValues(CDBCore* core, BYTE code, STag* const* tags, size_t n) {
    const bool bAdvise = code == 'b';
    const auto start = std::chrono::steady_clock::now();
    const SDeadline deadline(core->m_nReplyTimeOut);
    std::vector<XVariant*> out(n);
    for (size_t i = 0; i < n; i++)
        out[i] = &tags[i]->value;
    BYTE chunk[kMaxChunkBytes];
    size_t nNext = 0;
    bool bMore = true;
    // A read stops once every tag has its value, whatever the more flag
    // says; a tag the server leaves without a value keeps its previous one.
    while (nNext < n && (bAdvise || bMore)) {
        size_t nLen = 0;
        bool bCut = false;
        if (!RecvChunk(core, code, chunk, nLen, bMore, deadline)) {
            core->EndConnection(bAdvise ? "advise" : "read", core->ReplyFailure(start).c_str());
            return false;
        }
        {
            // Bytes past the last wanted value are read off and dropped.
            std::lock_guard<std::mutex> tagLock(m_tagLock);
            size_t got =
                DecodeChunkValues(chunk, nLen, out.data() + nNext, n - nNext, nullptr, bCut);
            for (size_t i = 0; bAdvise && i < got; i++)
                tags[nNext + i]->bSubscribe = true;
            nNext += got;
        }
        // A value cut off by its chunk puts the reply out of step.
        if (bCut) {
            core->EndConnection(bAdvise ? "advise" : "read", "a value was cut off by its chunk");
            return false;
        }
    }
    return true;
}

bool CDBDriver::_ConnectTag(LPCTSTR tags) {
    CDBCore* core = m_pDBCore;
    if (core == nullptr) return false;
    CRequestHold hold(*core);
    if (!hold) return false;
    std::vector<STag*> reqTags;
    if (!CheckTagIdLocked(tags, reqTags)) return false;

    // Each tag once, and only those not advised yet.
    std::vector<STag*> items;
    {
        std::vector<bool> seen(m_tags.size());
        std::lock_guard<std::mutex> tagLock(m_tagLock);
        for (STag* pTag : reqTags) {
            if (pTag == nullptr || pTag->bSubscribe || seen[pTag->id]) continue;
            seen[pTag->id] = true;
            items.push_back(pTag);
        }
    }
    for (size_t i = 0; i < items.size(); i += kMaxAdviseItems) {
        if (!AdviseBatch(core, items.data() + i, std::min(kMaxAdviseItems, items.size() - i))) {
            return false;
        }
    }
    return true;
}

bool CDBDriver::AdviseBatch(CDBCore* core, STag* const* items, size_t n) {
    if (!core->BeginRequest()) return false;
    BYTE req[kAdviseBufLen] = {0};
    req[0] = 'b';
    PutLE16(req + 1, static_cast<uint16_t>(n));
    for (size_t i = 0; i < n; i++) {
        BYTE* p = req + 3 + 5 * i;
        PutLE16(p, m_drvId);
        PutLE16(p + 2, items[i]->id);
        p[4] = 0;
    }
    if (!core->m_reqSock.SendAll(req, static_cast<int>(3 + 5 * n))) {
        core->EndConnection("advise", "the request could not be sent");
        return false;
    }
    return RecvValues(core, 'b', items, n);
}

bool CDBDriver::_GetTagValue(LPCTSTR tags, std::vector<STag*>& reqTags) {
    CDBCore* core = m_pDBCore;
    if (core == nullptr) return false;
    CRequestHold hold(*core);
    if (!hold) return false;
    if (!CheckTagIdLocked(tags, reqTags)) return false;

    std::vector<STag*> pTags;
    {
        std::lock_guard<std::mutex> tagLock(m_tagLock);
        for (STag* pTag : reqTags) {
            // Advised tags are kept current by notifications.
            if (pTag != nullptr && !pTag->bSubscribe) pTags.push_back(pTag);
        }
    }
    for (size_t i = 0; i < pTags.size(); i += kMaxReadTags) {
        if (!ReadBatch(core, pTags.data() + i, std::min(kMaxReadTags, pTags.size() - i))) {
            return false;
        }
    }
    return true;
}

bool CDBDriver::ReadBatch(CDBCore* core, STag* const* pTags, size_t n) {
    if (!core->BeginRequest()) return false;
    BYTE req[kReadBufLen] = {0};
    req[0] = 'H';
    PutLE16(req + 1, static_cast<uint16_t>(n));
    for (size_t i = 0; i < n; i++) {
        BYTE* p = req + 3 + 4 * i;
        PutLE16(p, m_drvId);
        PutLE16(p + 2, pTags[i]->id);
    }
    if (!core->m_reqSock.SendAll(req, static_cast<int>(3 + 4 * n))) {
        core->EndConnection("read", "the request could not be sent");
        return false;
    }
    return RecvValues(core, 'H', pTags, n);
}

int CDBDriver::SetTagValue(LPCTSTR tags, const ITagValues& values) {
    CDBCore* core = m_pDBCore;
    if (core == nullptr) return kWriteNotSent;
    CRequestHold hold(*core);  // the rights are a login's: read under the lock
    if (!hold) return kWriteNotSent;
    if ((core->m_nRights & kRightWrite) == 0) {
        core->SetLastError("write refused: the user has no write right");
        return kWriteNoRight;
    }
    std::vector<STag*> reqTags;
    if (!CheckTagIdLocked(tags, reqTags)) return kWriteNotSent;
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
        if (reqTags[0] == nullptr || !append(reqTags[0], ITagValues::kWholeValue))
            return kWriteBadValue;
    } else {
        if (!values.IsList()) return kWriteBadValue;
        for (size_t i = 0; i < reqTags.size(); i++) {
            if (reqTags[i] == nullptr) continue;
            if (i >= values.Count() || !append(reqTags[i], i)) return kWriteBadValue;
        }
    }
    PutLE16(req + 1, nCount);
    if (!core->BeginRequest()) return kWriteNotSent;
    if (core->ReqSend(req, static_cast<int>(nLen)) <= 0) {
        core->EndConnection("write", "the request could not be sent");
        return kWriteNotSent;
    }
    return kWriteOk;
}

bool CDBCore::UnadviseTag(long id) {
    CRequestHold hold(*this);
    if (!hold) return false;
    if (!BeginRequest()) return false;
    BYTE req[1 + sizeof(long)];
    req[0] = 'd';
    memcpy(req + 1, &id, sizeof id);  // the platform's long, as the server expects
    if (ReqSend(req, sizeof req) <= 0) {
        EndConnection("unadvise", "the request could not be sent");
        return false;
    }
    BYTE reply[16];
    if (m_reqSock._Recv(reply, sizeof reply) >= 1 && reply[0] == 'd') return true;
    EndConnection("unadvise", "no reply, or a malformed one");
    return false;
}
