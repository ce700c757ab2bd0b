// CDBCore::_SetRtAlarmNotify: the alarm subscription ('n'), the replay of
// the alarms active at that time, and the text and tag lists that name them.
#include <cstring>

#include "DBCore.h"
#include "FileTransfer.h"
#include "ProjectLists.h"

int CDBCore::_SetRtAlarmNotify(void* fn, bool notifyExisting) {
    std::vector<S2RtAlarm2> rtAlarms;
    {
        CRequestHold hold(*this);
        if (!hold) return -2;
        if (m_rtAlarmNotifyFn.load() != nullptr || m_bAlarmSubscribing) return -1;
        if (!BeginRequest() || !ReqAlarmSubscribe(notifyExisting ? &rtAlarms : nullptr)) return -2;
        // The replay runs the script's code, which may make requests of its
        // own: it runs without the lock, and this flag keeps a second
        // subscription out meanwhile.
        m_bAlarmSubscribing = true;
    }
    for (const S2RtAlarm2& alarm : rtAlarms)
        FireRtAlarm(fn, alarm);
    void* handle = RegisterRtAlarmNotify(fn);
    std::lock_guard<CReqMutex> lock(m_reqLock);
    m_rtAlarmNotifyFn.store(handle, std::memory_order_release);
    m_bAlarmSubscribing = false;
    return 0;
}

bool CDBCore::ReqAlarmSubscribe(std::vector<S2RtAlarm2>* pActive) {
    if (ReqSend("n", 1) < 1) {
        EndConnection("alarm subscription", "the request could not be sent");
        return false;
    }
    BYTE head[kAlarmHeadLen];
    WORD nCount = 0;
    int n = m_reqSock._Recv(head, sizeof head);
    if (n < 0 || !ParseAlarmHead(head, static_cast<size_t>(n), nCount)) {
        // What is left of the reply must not meet a later request.
        EndConnection("alarm subscription", n < 1 ? "no reply" : "the reply was malformed");
        return false;
    }
    for (WORD i = 0; i < nCount; i++) {
        BYTE rec[kRtAlarmLen];
        S2RtAlarm2 alarm;
        if (!m_reqSock.RecvAllTimeOut(rec, sizeof rec, m_nReplyTimeOut)) {
            EndConnection("alarm subscription", "the active alarms were cut short");
            return false;
        }
        if (pActive != nullptr && DecodeRtAlarm(rec, sizeof rec, alarm)) pActive->push_back(alarm);
    }
    LoadAlarmList("RecData/textlist", m_textList);
    LoadAlarmList("RecData/taglist", m_tagList);
    return m_bConnect;
}

void CDBCore::LoadAlarmList(const char* szFile, std::vector<CString>& list) {
    if (!list.empty()) return;
    // The result is not needed: a copy left from an earlier fetch is loaded
    // when this one fails. A failed exchange leaves the connection out of
    // step, though, and ends it.
    std::string why;
    if (m_bConnect &&
        GetFile(szFile, m_reqSock, '4', m_prjDir, 0, 0, nullptr, nullptr, &why) == 0) {
        SetLastError("%s transfer failed: %s", szFile, why.c_str());
        EndConnection();
    }
    InitStringList(m_prjDir, szFile, list);
}
