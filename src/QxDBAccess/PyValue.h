// Tag values between the core and Python objects: numbers stay numbers, text
// passes as UTF-8 both ways, and nothing goes through a text form.
//
// Caller holds the interpreter lock, except where said.
#ifndef QX_PYVALUE_H
#define QX_PYVALUE_H

#include <Python.h>

#include <string>
#include <vector>

#include "DBDriver.h"
#include "EncodedValues.h"

// A new object for the value: int, float, bool or str by its type, None for
// a type without a Python form. Null, with UnicodeDecodeError set, for a
// text that is not UTF-8.
PyObject* ValueToObj(const XVariant& value);
// The same, but a text that is not UTF-8 comes with U+FFFD in place of its
// bad bytes: a tag change is still worth telling.
PyObject* ValueToObjLenient(const XVariant& value);

// Appends obj in typed form at buf[nLen, nMax) and advances nLen: str as
// VT_BSTR, exactly bool as VT_BOOL, int as VT_I4, float as VT_R8. False,
// with nothing written and no exception pending, for any other object, an
// int outside the signed 32-bit range, a str that does not encode as UTF-8
// or holds a NUL, and a value that does not fit.
bool ObjToBuf(PyObject* obj, BYTE* buf, size_t& nLen, size_t nMax);

// The values of a write, encoded while the lock is held, so that the core
// can build its request without it.
class CPyTagValues : public CEncodedTagValues {
public:
    explicit CPyTagValues(PyObject* objValues);

private:
    static SEncoded Encode(PyObject* obj);
};

// The read and write entry points of the Python module. They release the
// interpreter lock while the core talks to the server.
//
// None, one value, or a list with one item (None where a name did not
// resolve) per name; null with an exception set when a text is not UTF-8.
PyObject* GetTagValue(CDBDriver& drv, LPCTSTR tags);
// kWriteOk, kWriteNoRight, kWriteNotSent or kWriteBadValue.
int SetTagValue(CDBDriver& drv, LPCTSTR tags, PyObject* objValues);

#endif  // QX_PYVALUE_H
