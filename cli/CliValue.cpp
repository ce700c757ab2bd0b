#include "CliValue.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

const char* TypeName(VARTYPE vt) {
    switch (vt) {
        case VT_EMPTY:
            return "EMPTY";
        case VT_I1:
            return "I1";
        case VT_UI1:
            return "UI1";
        case VT_I2:
            return "I2";
        case VT_UI2:
            return "UI2";
        case VT_I4:
            return "I4";
        case VT_UI4:
            return "UI4";
        case VT_INT:
            return "INT";
        case VT_UINT:
            return "UINT";
        case VT_I8:
            return "I8";
        case VT_R4:
            return "R4";
        case VT_R8:
            return "R8";
        case VT_BOOL:
            return "BOOL";
        case VT_DATE:
            return "DATE";
        case VT_BSTR:
            return "STR";
        default:
            return "OTHER";
    }
}

std::string ValueText(const XVariant& v) {
    if (v.vt == VT_BSTR) return v.pStrVal ? std::string(*v.pStrVal) : std::string();
    if (v.vt == VT_BOOL) return v.bVal ? "true" : "false";
    CString text;
    if (!v.ToStringA(text, -1)) return "";
    return std::string(text);
}

nlohmann::json ValueJson(const XVariant& v) {
    switch (v.vt) {
        case VT_I1:
            return static_cast<signed char>(v.cVal);
        case VT_UI1:
            return v.bVal;
        case VT_I2:
            return v.iVal;
        case VT_UI2:
            return v.uiVal;
        case VT_I4:
        case VT_INT:
            return v.lVal;
        case VT_UI4:
        case VT_UINT:
            return v.ulVal;
        case VT_I8:
            return v.llVal;
        case VT_R4:
            return v.fltVal;
        case VT_R8:
            return v.dblVal;
        case VT_BOOL:
            return v.bVal != 0;
        case VT_BSTR:
            return ValueText(v);  // printed with bad UTF-8 replaced
        case VT_DATE:
            return ValueText(v);
        default:
            return nullptr;
    }
}

bool ParseValue(const std::string& text, const std::string& type, XVariant& v, std::string& err) {
    const char* s = text.c_str();
    char* end = nullptr;
    auto asInt = [&]() {
        errno = 0;
        long long n = strtoll(s, &end, 10);
        if (text.empty() || *end != '\0' || errno != 0 || n < INT_MIN || n > INT_MAX) return false;
        v = XVariant(static_cast<int>(n));
        return true;
    };
    auto asFloat = [&]() {
        errno = 0;
        double d = strtod(s, &end);
        if (text.empty() || *end != '\0' || errno != 0) return false;
        v = XVariant(d, VT_R8);
        return true;
    };
    auto asBool = [&]() {
        if (text != "true" && text != "false") return false;
        v = XVariant(text == "true");
        return true;
    };
    if (type == "int") {
        if (asInt()) return true;
        err = "'" + text + "' is not a 32-bit integer";
    } else if (type == "float") {
        if (asFloat()) return true;
        err = "'" + text + "' is not a number";
    } else if (type == "bool") {
        if (asBool()) return true;
        err = "'" + text + "' is not true or false";
    } else if (type == "text") {
        v = XVariant(text.c_str());
        return true;
    } else if (type.empty()) {
        if (asBool() || asInt() || asFloat()) return true;
        v = XVariant(text.c_str());
        return true;
    } else {
        err = "unknown type '" + type + "' (int, float, bool, text)";
    }
    return false;
}
