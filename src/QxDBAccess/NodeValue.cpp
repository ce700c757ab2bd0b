#include "NodeValue.h"

#include <cstring>

#include "ByteOrder.h"
#include "TypedValue.h"

namespace {

const size_t kStringBuf = 128;  // a string value written: at most 127 bytes

}  // namespace

napi_value ValueToValue(napi_env env, const XVariant& value) {
    napi_value out = nullptr;
    napi_status st;
    switch (value.vt) {
        case VT_I2:
            st = napi_create_int32(env, value.iVal, &out);
            break;
        case VT_I4:
        case VT_INT:
            st = napi_create_int32(env, value.lVal, &out);
            break;
        case VT_R4:
            st = napi_create_double(env, value.fltVal, &out);
            break;
        case VT_R8:
            st = napi_create_double(env, value.dblVal, &out);
            break;
        case VT_BSTR: {
            const CString* s = value.pStrVal;
            st = napi_create_string_utf8(env, s ? s->c_str() : "", NAPI_AUTO_LENGTH, &out);
            break;
        }
        case VT_BOOL:
            st = napi_get_boolean(env, value.bVal != 0, &out);
            break;
        case VT_I1:
            st = napi_create_int32(env, static_cast<signed char>(value.cVal), &out);
            break;
        case VT_UI1:
            st = napi_create_int32(env, value.bVal, &out);
            break;
        case VT_UI2:
            st = napi_create_int32(env, value.uiVal, &out);
            break;
        case VT_UI4:
        case VT_UINT:
            st = napi_create_uint32(env, value.ulVal, &out);
            break;
        default:
            return nullptr;
    }
    return NapiOk(env, st) ? out : nullptr;
}

bool ValueToBuf(napi_env env, napi_value value, BYTE* buf, size_t& nLen, size_t nMax) {
    napi_valuetype type;
    if (napi_typeof(env, value, &type) != napi_ok) return false;
    switch (type) {
        case napi_string: {
            char text[kStringBuf];
            size_t n = 0;
            if (napi_get_value_string_utf8(env, value, text, sizeof text, &n) != napi_ok)
                return false;
            return AppendTyped(buf, nLen, nMax, VT_BSTR, text, n + 1);
        }
        case napi_boolean: {
            bool b = false;
            if (napi_get_value_bool(env, value, &b) != napi_ok) return false;
            const BYTE byte = b ? 1 : 0;
            return AppendTyped(buf, nLen, nMax, VT_BOOL, &byte, 1);
        }
        case napi_number: {
            double d = 0;
            if (napi_get_value_double(env, value, &d) != napi_ok) return false;
            uint64_t bits;
            memcpy(&bits, &d, sizeof bits);
            BYTE le[8];
            PutLE64(le, bits);
            return AppendTyped(buf, nLen, nMax, VT_R8, le, sizeof le);
        }
        default:
            return false;
    }
}

CNodeTagValues::CNodeTagValues(napi_env env, napi_value value) : m_env(env), m_value(value) {
    napi_is_array(env, value, &m_bArray);
    uint32_t n = 0;
    if (m_bArray && napi_get_array_length(env, value, &n) == napi_ok) m_nCount = n;
}

bool CNodeTagValues::Append(size_t i, BYTE* buf, size_t& nLen, size_t nMax) const {
    if (i == kWholeValue) {
        // One name takes the value itself; an array is not one value.
        return !m_bArray && ValueToBuf(m_env, m_value, buf, nLen, nMax);
    }
    napi_value item;
    if (!m_bArray || i >= m_nCount ||
        napi_get_element(m_env, m_value, static_cast<uint32_t>(i), &item) != napi_ok)
        return false;
    return ValueToBuf(m_env, item, buf, nLen, nMax);
}

void EncodeValues(napi_env env, napi_value value, CEncodedTagValues& out) {
    auto encode = [env](napi_value v) {
        CEncodedTagValues::SEncoded e;
        BYTE buf[kWriteBufLen];
        size_t n = 0;
        e.bOk = ValueToBuf(env, v, buf, n, sizeof buf);
        if (e.bOk) e.bytes.assign(reinterpret_cast<const char*>(buf), n);
        return e;
    };
    out.m_bList = false;
    napi_is_array(env, value, &out.m_bList);
    if (!out.m_bList) {
        out.m_whole = encode(value);
        return;
    }
    uint32_t n = 0;
    napi_get_array_length(env, value, &n);
    out.m_items.reserve(n);
    for (uint32_t i = 0; i < n; i++) {
        napi_value item;
        if (napi_get_element(env, value, i, &item) != napi_ok) {
            out.m_items.emplace_back();  // does not convert
            continue;
        }
        out.m_items.push_back(encode(item));
    }
}

bool ReadTagValues(CDBDriver& drv, LPCTSTR tags, std::vector<SReadValue>& out) {
    std::vector<CDBDriver::STag*> reqTags;
    if (!drv._GetTagValue(tags, reqTags)) return false;
    out.resize(reqTags.size());
    for (size_t i = 0; i < reqTags.size(); i++) {
        // A copy, taken as the receive thread may be updating it.
        out[i].bOk = reqTags[i] != nullptr && drv.CopyTagValue(reqTags[i]->id, out[i].value);
    }
    return true;
}

napi_value ReadValuesToValue(napi_env env, const std::vector<SReadValue>& values) {
    if (values.empty()) return nullptr;
    auto convert = [env](const SReadValue& v) -> napi_value {
        return v.bOk ? ValueToValue(env, v.value) : nullptr;
    };
    if (values.size() == 1) return convert(values[0]);
    napi_value array;
    if (!NapiOk(env, napi_create_array_with_length(env, values.size(), &array))) return nullptr;
    for (size_t i = 0; i < values.size(); i++) {
        napi_value item = convert(values[i]);
        bool pending = false;
        napi_is_exception_pending(env, &pending);
        if (pending) return nullptr;
        // A value without a JavaScript form leaves its element empty, as an
        // unresolved name does.
        if (item != nullptr &&
            !NapiOk(env, napi_set_element(env, array, static_cast<uint32_t>(i), item)))
            return nullptr;
    }
    return array;
}

napi_value GetTagValue(napi_env env, CDBDriver& drv, LPCTSTR tags) {
    std::vector<SReadValue> values;
    if (!ReadTagValues(drv, tags, values)) return nullptr;
    return ReadValuesToValue(env, values);
}

int SetTagValue(napi_env env, CDBDriver& drv, LPCTSTR tags, napi_value value) {
    return drv.SetTagValue(tags, CNodeTagValues(env, value));
}

bool RAToArgs(napi_env env, napi_value args[10], const S2RtAlarm2& alarm,
              const std::vector<CString>& textList, const std::vector<CString>& tagList) {
    const double evttm = alarm.evttm != 0 ? alarm.evttm : alarm.almtm;
    return NapiOk(env, napi_create_date(env, alarm.almtm * 1000.0, &args[0])) &&
           NapiOk(env, napi_create_date(env, evttm * 1000.0, &args[1])) &&
           NapiOk(env, napi_create_string_utf8(env, AlarmText(tagList, alarm.tid), NAPI_AUTO_LENGTH,
                                               &args[2])) &&
           NapiOk(env, napi_create_int32(env, alarm.evttm != 0 ? 1 : 0, &args[3])) &&
           NapiOk(env, napi_create_string_utf8(env, AlarmText(textList, alarm.type),
                                               NAPI_AUTO_LENGTH, &args[4])) &&
           NapiOk(env, napi_create_string_utf8(env, AlarmText(textList, alarm.grp),
                                               NAPI_AUTO_LENGTH, &args[5])) &&
           NapiOk(env, napi_create_int32(env, alarm.level, &args[6])) &&
           NapiOk(env, napi_create_double(env, alarm.value, &args[7])) &&
           NapiOk(env, napi_create_double(env, alarm.limit, &args[8])) &&
           NapiOk(env, napi_create_int32(env, alarm.status, &args[9]));
}
