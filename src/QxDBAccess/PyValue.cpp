#include "PyValue.h"

#include <climits>
#include <cstring>

#include "ByteOrder.h"
#include "TypedValue.h"

namespace {

PyObject* TextToObj(const XVariant& value, const char* errors) {
    const CString* s = value.pStrVal;
    if (s == nullptr) return PyUnicode_FromStringAndSize("", 0);
    return PyUnicode_DecodeUTF8(s->c_str(), static_cast<Py_ssize_t>(s->size()), errors);
}

PyObject* ConvertValue(const XVariant& value, const char* errors) {
    switch (value.vt) {
        case VT_I2:
            return PyLong_FromLong(value.iVal);
        case VT_I4:
        case VT_INT:
            return PyLong_FromLong(value.lVal);
        case VT_R4:
            return PyFloat_FromDouble(value.fltVal);
        case VT_R8:
            return PyFloat_FromDouble(value.dblVal);
        case VT_BSTR:
            return TextToObj(value, errors);
        case VT_BOOL:
            return PyBool_FromLong(value.bVal != 0);
        case VT_I1:
            return PyLong_FromLong(static_cast<signed char>(value.cVal));
        case VT_UI1:
            return PyLong_FromLong(value.bVal);
        case VT_UI2:
            return PyLong_FromLong(value.uiVal);
        case VT_UI4:
        case VT_UINT:
            return PyLong_FromUnsignedLong(value.ulVal);
        default:
            Py_RETURN_NONE;
    }
}

}  // namespace

PyObject* ValueToObj(const XVariant& value) {
    return ConvertValue(value, nullptr);
}

PyObject* ValueToObjLenient(const XVariant& value) {
    return ConvertValue(value, "replace");
}

bool ObjToBuf(PyObject* obj, BYTE* buf, size_t& nLen, size_t nMax) {
    if (PyUnicode_Check(obj)) {
        Py_ssize_t n = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(obj, &n);
        if (utf8 == nullptr) {
            PyErr_Clear();  // lone surrogates
            return false;
        }
        // The server reads a text up to its zero byte: one inside would
        // make the rest of the text read as the next value.
        if (memchr(utf8, '\0', static_cast<size_t>(n)) != nullptr) return false;
        return AppendTyped(buf, nLen, nMax, VT_BSTR, utf8, static_cast<size_t>(n) + 1);
    }
    if (PyBool_Check(obj)) {
        const BYTE b = obj == Py_True ? 1 : 0;
        return AppendTyped(buf, nLen, nMax, VT_BOOL, &b, 1);
    }
    if (PyLong_Check(obj)) {
        int overflow = 0;
        long v = PyLong_AsLongAndOverflow(obj, &overflow);
        if (v == -1 && PyErr_Occurred()) {
            PyErr_Clear();
            return false;
        }
        if (overflow != 0 || v < INT_MIN || v > INT_MAX) return false;
        BYTE le[4];
        PutLE32(le, static_cast<DWORD>(static_cast<int>(v)));
        return AppendTyped(buf, nLen, nMax, VT_I4, le, sizeof le);
    }
    if (PyFloat_Check(obj)) {
        double d = PyFloat_AsDouble(obj);
        if (d == -1.0 && PyErr_Occurred()) {
            PyErr_Clear();
            return false;
        }
        BYTE le[8];
        uint64_t bits;
        memcpy(&bits, &d, sizeof bits);
        PutLE64(le, bits);
        return AppendTyped(buf, nLen, nMax, VT_R8, le, sizeof le);
    }
    return false;
}

CPyTagValues::SEncoded CPyTagValues::Encode(PyObject* obj) {
    SEncoded e;
    BYTE buf[kWriteBufLen];
    size_t n = 0;
    e.bOk = ObjToBuf(obj, buf, n, sizeof buf);
    if (e.bOk) e.bytes.assign(reinterpret_cast<const char*>(buf), n);
    return e;
}

CPyTagValues::CPyTagValues(PyObject* objValues) {
    m_bList = PyList_Check(objValues);
    if (!m_bList) {
        m_whole = Encode(objValues);
        return;
    }
    const Py_ssize_t n = PyList_GET_SIZE(objValues);
    m_items.reserve(static_cast<size_t>(n));
    for (Py_ssize_t i = 0; i < n; i++)
        m_items.push_back(Encode(PyList_GET_ITEM(objValues, i)));
}

PyObject* GetTagValue(CDBDriver& drv, LPCTSTR tags) {
    std::vector<CDBDriver::STag*> reqTags;
    bool ok;
    Py_BEGIN_ALLOW_THREADS;
    ok = drv._GetTagValue(tags, reqTags);
    Py_END_ALLOW_THREADS;
    if (!ok || reqTags.empty()) Py_RETURN_NONE;
    // A copy of each value, taken as the receive thread may be updating it.
    auto convert = [&drv](const CDBDriver::STag* pTag) -> PyObject* {
        if (pTag == nullptr) Py_RETURN_NONE;
        XVariant value;
        if (!drv.CopyTagValue(pTag->id, value)) Py_RETURN_NONE;
        return ValueToObj(value);
    };
    if (reqTags.size() == 1) return convert(reqTags[0]);
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(reqTags.size()));
    if (list == nullptr) return nullptr;
    for (size_t i = 0; i < reqTags.size(); i++) {
        PyObject* item = convert(reqTags[i]);
        if (item == nullptr) {
            Py_DECREF(list);
            return nullptr;
        }
        PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), item);
    }
    return list;
}

int SetTagValue(CDBDriver& drv, LPCTSTR tags, PyObject* objValues) {
    CPyTagValues values(objValues);
    int ret;
    Py_BEGIN_ALLOW_THREADS;
    ret = drv.SetTagValue(tags, values);
    Py_END_ALLOW_THREADS;
    return ret;
}
