// Tag values between the core and JavaScript values. JavaScript thread only.
#ifndef QX_NODEVALUE_H
#define QX_NODEVALUE_H

#include <string>
#include <vector>

#include "DBDriver.h"
#include "EncodedValues.h"
#include "NodeApi.h"
#include "RtAlarm.h"

// The value as a number, string or boolean; null (no value) for a type
// without a JavaScript form, or when a Node-API call failed (then thrown).
napi_value ValueToValue(napi_env env, const XVariant& value);

// Appends value in typed form at buf[nLen, nMax) and advances nLen: a
// string as VT_BSTR (its first 127 bytes of UTF-8), a boolean as VT_BOOL,
// a number as VT_R8. False, with nothing written, for any other value and
// for one that does not fit.
bool ValueToBuf(napi_env env, napi_value value, BYTE* buf, size_t& nLen, size_t nMax);

// The values of a write, read from JavaScript as the core asks for them.
class CNodeTagValues : public ITagValues {
public:
    CNodeTagValues(napi_env env, napi_value value);
    bool IsList() const override { return m_bArray; }
    size_t Count() const override { return m_nCount; }
    bool Append(size_t i, BYTE* buf, size_t& nLen, size_t nMax) const override;

private:
    napi_env m_env;
    napi_value m_value;
    bool m_bArray = false;
    size_t m_nCount = 0;
};

// The values of a write, encoded on the JavaScript thread, for a write made
// on another thread.
void EncodeValues(napi_env env, napi_value value, CEncodedTagValues& out);

// What a read gave: one entry per name, bOk false where the name did not
// resolve. Any thread; false when the request failed.
struct SReadValue {
    bool bOk = false;
    XVariant value;
};
bool ReadTagValues(CDBDriver& drv, LPCTSTR tags, std::vector<SReadValue>& out);
// The read's result as GetTagValue gives it (null for undefined).
napi_value ReadValuesToValue(napi_env env, const std::vector<SReadValue>& values);

// The read and write entry points of the addon. A read returns undefined
// (null here), one value, or an array with one element per name (empty
// where a name did not resolve or a value has no JavaScript form).
napi_value GetTagValue(napi_env env, CDBDriver& drv, LPCTSTR tags);
// kWriteOk, kWriteNoRight, kWriteNotSent or kWriteBadValue.
int SetTagValue(napi_env env, CDBDriver& drv, LPCTSTR tags, napi_value value);

// The ten callback arguments of an alarm, texts from the two lists.
bool RAToArgs(napi_env env, napi_value args[10], const S2RtAlarm2& alarm,
              const std::vector<CString>& textList, const std::vector<CString>& tagList);

#endif  // QX_NODEVALUE_H
