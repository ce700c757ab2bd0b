#include "SimNotify.h"

#include <cstring>

#include "ByteOrder.h"

std::string SimTagMsg(uint16_t id, uint16_t pos, const XVariant& value) {
    std::string msg(4 + value.BufferSize(false), '\0');
    BYTE* p = reinterpret_cast<BYTE*>(&msg[0]);
    PutLE16(p, id);
    PutLE16(p + 2, pos);
    value.ToBuffer(p + 4, msg.size() - 4, false);
    return msg;
}

std::string SimServerMsg(BYTE type, uint16_t id, uint16_t pos, const char* text,
                         const BYTE* record) {
    size_t len;
    switch (type) {
        case 1:
        case 3:
            len = 35;
            break;
        case 2:
        case 5:
        case 7:
            len = 7;
            break;
        case 4:
            len = 43;
            break;
        case 6:
            len = 20;
            break;
        case 8:
            len = 5;
            break;
        case 9:
        case 14:
        case 15:
        case 22:
            len = 8;
            break;
        case 10:
        case 11:
        case 12:
        case 13:
            len = 15;
            break;
        case 16:
        case 17:
        case 18:
        case 19:
        case 20:
        case 21:
            len = 8 + strlen(text);
            break;
        default:
            len = 3;
            break;
    }
    std::string msg(len, '\0');
    BYTE* p = reinterpret_cast<BYTE*>(&msg[0]);
    PutLE16(p, 0xFFFF);
    p[2] = type;
    if (type >= 9 && type <= 22) {
        PutLE16(p + 3, id);
        PutLE16(p + 5, pos);
    }
    if (type >= 16 && type <= 21) memcpy(p + 7, text, strlen(text));
    if ((type == 1 || type == 3) && record) memcpy(p + 3, record, 32);
    return msg;
}
