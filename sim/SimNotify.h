// Builders for the messages a server pushes on the notification connection.
#ifndef QX_SIM_SIMNOTIFY_H
#define QX_SIM_SIMNOTIFY_H

#include <cstdint>
#include <string>

#include "XVariant.h"

// A tag change: driver id, tag position, the value untyped.
std::string SimTagMsg(uint16_t id, uint16_t pos, const XVariant& value);
// A server message of the given type with a zero-filled body of the type's
// length. Types 9 to 22 carry id and pos; 16 to 21 also the text; types 1
// and 3 take their 32-byte alarm record from record (zeros when null).
std::string SimServerMsg(BYTE type, uint16_t id = 0, uint16_t pos = 0, const char* text = "",
                         const BYTE* record = nullptr);

#endif  // QX_SIM_SIMNOTIFY_H
