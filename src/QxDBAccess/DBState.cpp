#include "DBState.h"

#include <algorithm>

namespace {

const int kMaxSettingMs = 3600 * 1000;

}  // namespace

const char* DBStateName(int state) {
    switch (state) {
        case kStateUnconnected:
            return "unconnected";
        case kStateConnecting:
            return "connecting";
        case kStateConnected:
            return "connected";
        case kStateReconnecting:
            return "reconnecting";
        case kStateClosed:
            return "closed";
        default:
            return "unknown";
    }
}

SReconnectSettings ClampReconnect(const SReconnectSettings& s) {
    SReconnectSettings out = s;
    out.nInitialDelayMs = std::min(std::max(s.nInitialDelayMs, 1), kMaxSettingMs);
    out.nMaxDelayMs = std::min(std::max(s.nMaxDelayMs, out.nInitialDelayMs), kMaxSettingMs);
    out.nMaxAttempts = std::max(s.nMaxAttempts, 0);
    return out;
}

int BackoffDelayMs(const SReconnectSettings& s, int nAttempt, double jitter) {
    const SReconnectSettings c = ClampReconnect(s);
    double delay = c.nInitialDelayMs;
    for (int i = 1; i < nAttempt && delay < c.nMaxDelayMs; i++)
        delay *= 2;
    delay = std::min(delay, static_cast<double>(c.nMaxDelayMs));
    jitter = std::min(std::max(jitter, 0.0), 1.0);
    return std::max(1, static_cast<int>(delay * (0.8 + 0.2 * jitter)));
}
