#pragma once

// Included by the module's wrapper only, after SWIG's runtime: it works on
// the wrapper's pointer objects and director classes.

#include <climits>

#include "python/notify.h"

namespace com::mivo::kmr::client {

// Market data's way into a Python OnMarketData, on the delivery thread,
// which holds the interpreter lock for a whole batch. It makes the same call
// as the director (the method named OnMarketData of the registered object,
// a "void *" pointer object and an int, a raised error printed and thrown as
// the director's exception), with less work per record: the bound method is
// looked up once per batch and called through vectorcall, and the pointer
// object is reused when the callback kept no reference to it.
class MarketDataCall {
public:
    // The interpreter lock is held.
    static void Call(Notify* notify, char* data, int length) {
        auto* director = dynamic_cast<Swig::Director*>(notify);
        PyObject* self = director == nullptr ? nullptr : director->swig_get_self();
        if (self == nullptr) {
            notify->OnMarketData(data, length);  // native, or the director's own error
            return;
        }
        if (self != s_self) {
            Forget();
            PyObject* method = PyObject_GetAttr(self, Name());
            if (method == nullptr) {
                Raise(self);  // the error is pending
            }
            Py_INCREF(self);
            s_self = self;
            s_method = method;
        }
        PyObject* pointer = PointerTo(data);
        PyObject* size = PyLong_FromLong(length);
        PyObject* result = nullptr;
        if (pointer != nullptr && size != nullptr) {
            // A free slot before the arguments lets the bound method put
            // self there instead of copying the arguments.
            PyObject* slots[3] = {nullptr, pointer, size};
            result = PyObject_Vectorcall(s_method, slots + 1, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
        }
        Py_XDECREF(size);
        Keep(pointer);
        if (result != nullptr) {
            Py_DECREF(result);
        } else if (PyErr_Occurred() != nullptr) {
            Raise(self);
        }
    }

    // At the end of a batch, before the lock goes: the object or its method
    // may change before the next one.
    static void Forget() {
        Py_CLEAR(s_method);
        Py_CLEAR(s_self);
    }

    // cdata(data, length) for the pointer objects and lengths callbacks
    // pass; any other arguments go to the generated wrapper, which does the
    // same with every check and error text.
    static PyObject* Cdata(PyObject* module, PyObject* const* args, Py_ssize_t count) {
        if (count == 2 && Py_TYPE(args[0]) == SwigPyObject_type() && PyLong_CheckExact(args[1])) {
            const void* data = reinterpret_cast<SwigPyObject*>(args[0])->ptr;
            int overflow = 0;
            const long long size = PyLong_AsLongLongAndOverflow(args[1], &overflow);
            if (data != nullptr && overflow == 0 && size >= 0 && size <= INT_MAX) {
                return PyUnicode_DecodeUTF8(static_cast<const char*>(data), static_cast<Py_ssize_t>(size),
                                            "surrogateescape");
            }
        }
        PyObject* tuple = PyTuple_New(count);
        if (tuple == nullptr) {
            return nullptr;
        }
        for (Py_ssize_t i = 0; i < count; ++i) {
            Py_INCREF(args[i]);
            PyTuple_SET_ITEM(tuple, i, args[i]);
        }
        PyObject* result = _wrap_cdata(module, tuple);
        Py_DECREF(tuple);
        return result;
    }

    // Puts the fast cdata in place of the generated one.
    static void Install(PyObject* module_dict) {
        static PyMethodDef s_cdata = {"cdata",
                                      reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Cdata)),
                                      METH_FASTCALL, "cdata(void * ptr, size_t nelements=1) -> SWIGCDATA"};
        PyObject* function = PyCFunction_NewEx(&s_cdata, nullptr, nullptr);
        if (function != nullptr) {
            PyDict_SetItemString(module_dict, "cdata", function);
            Py_DECREF(function);
        }
    }

private:
    static PyObject* Name() {
        static PyObject* s_name = PyUnicode_InternFromString("OnMarketData");
        return s_name;
    }

    static PyObject* PointerTo(char* data) {
        if (s_spare != nullptr) {
            PyObject* pointer = s_spare;
            s_spare = nullptr;
            reinterpret_cast<SwigPyObject*>(pointer)->ptr = data;
            return pointer;
        }
        return SWIG_NewPointerObj(SWIG_as_voidptr(data), SWIGTYPE_p_void, 0);
    }

    // Keeps the pointer object for the next record when nothing else holds it.
    static void Keep(PyObject* pointer) {
        if (pointer == nullptr) {
            return;
        }
        if (s_spare == nullptr && Py_REFCNT(pointer) == 1 &&
            reinterpret_cast<SwigPyObject*>(pointer)->next == nullptr) {
            s_spare = pointer;
            return;
        }
        Py_DECREF(pointer);
    }

    [[noreturn]] static void Raise(PyObject* self) {
        Swig::DirectorMethodException pending("Error detected when calling 'Notify.OnMarketData'");
        PyErr_WriteUnraisable(self);
        throw pending;
    }

    static inline PyObject* s_self = nullptr;    // a reference, while s_method is set
    static inline PyObject* s_method = nullptr;  // self's OnMarketData
    static inline PyObject* s_spare = nullptr;   // a pointer object no one else holds
};

}  // namespace com::mivo::kmr::client
