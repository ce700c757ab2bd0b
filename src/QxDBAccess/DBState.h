// The connection state of a DBCore object, and the settings of the receive
// thread's reconnect: when a connection it did not end is lost, it tries
// again with exponentially growing, jittered pauses.
#ifndef QX_DBSTATE_H
#define QX_DBSTATE_H

enum EDBState {
    kStateUnconnected = 0,  // never connected
    kStateConnecting,       // a connect is under way
    kStateConnected,
    kStateReconnecting,  // lost; the receive thread is restoring it
    kStateClosed,        // disconnected, lost for good, or a connect failed
};

// "unconnected", "connecting", "connected", "reconnecting", "closed";
// "unknown" for anything else.
const char* DBStateName(int state);

struct SReconnectSettings {
    bool bEnabled = false;
    int nInitialDelayMs = 500;   // before the first attempt
    int nMaxDelayMs = 30000;     // the pause never grows past this
    int nMaxAttempts = 0;        // per loss; 0 tries for as long as it takes
    bool bReplayAlarms = false;  // deliver the active alarms again once back
};

// Settings clamped to sound ranges: delays of 1 ms to 1 h, the maximum no
// less than the initial delay, attempts not negative.
SReconnectSettings ClampReconnect(const SReconnectSettings& s);

// The pause before attempt n (1, 2, ...): the initial delay doubled n - 1
// times, at most the maximum, then scaled by 0.8 + 0.2 * jitter (jitter in
// [0, 1)), so that clients cut off together do not come back together and
// the maximum still holds.
int BackoffDelayMs(const SReconnectSettings& s, int nAttempt, double jitter);

#endif  // QX_DBSTATE_H
