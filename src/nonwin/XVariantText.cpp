// Text forms of XVariant values, and the date template formatter.
#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "XVariant.h"

namespace {

// printf into a CString of whatever length the text needs.
void Format(CString& str, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    va_list ap2;
    va_copy(ap2, ap);
    int n = vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    str.clear();
    if (n > 0) {
        str.resize(static_cast<size_t>(n) + 1);
        vsnprintf(&str[size_t{0}], str.size(), fmt, ap2);
        str.resize(static_cast<size_t>(n));
    }
    va_end(ap2);
}

// A rounded value outside int's range is printed whole rather than wrapped.
void FormatRounded(CString& str, double rounded) {
    double t = std::trunc(rounded);
    if (t >= -2147483648.0 && t <= 2147483647.0) {
        Format(str, "%d", static_cast<int>(t));
    } else {
        Format(str, "%.0f", t);
    }
}

void FormatFloat(CString& str, double d, bool bSingle, int nPointBit) {
    if (nPointBit >= 1 && nPointBit <= 10) {
        Format(str, "%.*f", nPointBit, d);
    } else if (nPointBit == 0) {
        if (bSingle) {
            float f = static_cast<float>(d);
            FormatRounded(str, f < 0 ? f - 0.5f : f + 0.5f);
        } else {
            FormatRounded(str, d < 0 ? d - 0.5 : d + 0.5);
        }
    } else {
        Format(str, "%g", d);
    }
}

void FormatDate(CString& str, DATE date) {
    str.clear();
    tzset();
    double secs = (date - 25569.0) * 86400.0 + static_cast<double>(timezone) + 0.5;
    // A day count far outside time_t's range has no calendar reading here.
    if (!(secs > -9.0e15 && secs < 9.0e15)) return;
    time_t t = static_cast<time_t>(secs);
    struct tm tmLocal;
    if (localtime_r(&t, &tmLocal) == nullptr) return;
    Format(str, "%d-%02d-%02d %02d:%02d:%02d", tmLocal.tm_year + 1900, tmLocal.tm_mon + 1,
           tmLocal.tm_mday, tmLocal.tm_hour, tmLocal.tm_min, tmLocal.tm_sec);
}

bool IsPaddedInteger(VARTYPE vt) {
    switch (vt) {
        case VT_I2:
        case VT_I4:
        case VT_I1:
        case VT_UI1:
        case VT_UI2:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
            return true;
        default:
            return false;
    }
}

}  // namespace

bool XVariant::ToStringA(CString& str, int nPointBit) const {
    switch (vt) {
        case VT_BSTR:
            str = pStrVal ? *pStrVal : CString();
            return true;
        case VT_I2:
            Format(str, "%d", iVal);
            break;
        case VT_I4:
        case VT_INT:
            Format(str, "%d", lVal);
            break;
        case VT_I1:
            Format(str, "%d", cVal);
            break;
        case VT_UI1:
            Format(str, "%d", bVal);
            break;
        case VT_UI2:
            Format(str, "%d", uiVal);
            break;
        case VT_UI4:
        case VT_UINT:
            Format(str, "%u", ulVal);
            break;
        case VT_I8:
            Format(str, "%lld", llVal);
            return true;
        case VT_BOOL:
            str = boolVal ? "1" : "0";
            return true;
        case VT_R4:
            FormatFloat(str, fltVal, true, nPointBit);
            return true;
        case VT_R8:
            FormatFloat(str, dblVal, false, nPointBit);
            return true;
        case VT_DATE:
            FormatDate(str, date);
            return true;
        default:
            str.clear();
            return false;
    }
    if (nPointBit >= 1 && nPointBit <= 10 && IsPaddedInteger(vt)) {
        str.AppendChar('.');
        str.append(static_cast<size_t>(nPointBit), '0');
    }
    return true;
}

CString::CString(const XVariant& var) {
    if (var.vt == VT_BSTR) {
        if (var.pStrVal) assign(*var.pStrVal);
        return;
    }
    var.ToStringA(*this, -1);
}

void DateToStr(int nYear, int nMonth, int nDay, int nHour, int nMinute, int nSecond,
               const CString& strFormat, CString& strTime) {
    struct Field {
        const char* szShort;
        const char* szPadded;
        const char* szPadFmt;
        int nValue;
    };
    const Field fields[] = {
        {"$Y", "$2Y", "%2d", nYear},    {"$M", "$2M", "%02d", nMonth},
        {"$D", "$2D", "%02d", nDay},    {"$h", "$2h", "%02d", nHour},
        {"$m", "$2m", "%02d", nMinute}, {"$s", "$2s", "%02d", nSecond},
    };
    strTime = strFormat;
    CString strText;
    for (const Field& f : fields) {
        Format(strText, "%d", f.nValue);
        if (strTime.Replace(f.szShort, strText) == 0) {
            Format(strText, f.szPadFmt, f.nValue);
            strTime.Replace(f.szPadded, strText);
        }
    }
}
