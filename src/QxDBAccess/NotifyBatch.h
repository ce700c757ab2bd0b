// CNotifyBatch: what one read of the notification connection delivered, in
// the order the server sent it: tag changes and real-time alarms; or a
// change of the connection's state, alone. The
// receive thread fills it and hands it to the binding in one call, with no
// lock held; the slots are reused from read to read, so that a steady
// stream of changes allocates nothing.
#ifndef QX_NOTIFYBATCH_H
#define QX_NOTIFYBATCH_H

#include <cstddef>
#include <vector>

#include "DBState.h"
#include "RtAlarm.h"
#include "XVariant.h"

class CDBDriver;

struct SNotifyItem {
    enum EKind { kTagChange, kRtAlarm, kState } kind = kTagChange;
    // Tag changes: the driver (alive until the batch has been handed over),
    // the callback handle it had when the change arrived, the tag's position
    // and a copy of its new value. The name is the driver's to give
    // (CDBDriver::TagName), so none is copied here.
    CDBDriver* pDriver = nullptr;
    void* fn = nullptr;
    WORD pos = 0;
    XVariant value;
    // Alarms: the record; fn is the alarm callback handle.
    S2RtAlarm2 alarm;
    // State changes: the new state; fn is the state callback handle.
    EDBState state = kStateUnconnected;
};

class CNotifyBatch {
public:
    size_t Size() const { return m_nUsed; }
    bool Empty() const { return m_nUsed == 0; }
    const SNotifyItem& operator[](size_t i) const { return m_items[i]; }
    // A slot at the end, holding whatever an earlier read left in it.
    SNotifyItem& Add() {
        if (m_nUsed == m_items.size()) m_items.emplace_back();
        return m_items[m_nUsed++];
    }
    void Reset() { m_nUsed = 0; }
    // An alarm, or a change of state, for the callback handle fn.
    void AddAlarm(void* fn, const S2RtAlarm2& alarm) {
        SNotifyItem& item = Add();
        item.kind = SNotifyItem::kRtAlarm;
        item.fn = fn;
        item.pDriver = nullptr;
        item.alarm = alarm;
    }
    void AddState(void* fn, EDBState state) {
        SNotifyItem& item = Add();
        item.kind = SNotifyItem::kState;
        item.fn = fn;
        item.pDriver = nullptr;
        item.state = state;
    }

private:
    std::vector<SNotifyItem> m_items;
    size_t m_nUsed = 0;
};

#endif  // QX_NOTIFYBATCH_H
