// Request and context ids (see request_id.hpp).
#include "ostrel/request_id.hpp"

namespace ostrel {

Ref new_hex_id() {
    constexpr Py_ssize_t kBytes = 16;
    Ref count = Ref::steal(PyLong_FromSsize_t(kBytes));
    Ref random = Ref::steal(PyObject_CallOneArg(C.urandom, count.get()));
    if (!PyBytes_CheckExact(random.get()) || PyBytes_GET_SIZE(random.get()) != kBytes) {
        support::raise(PyExc_RuntimeError, "os.urandom returned an unexpected value");
    }
    unsigned char b[kBytes];
    const char* raw = PyBytes_AS_STRING(random.get());
    for (Py_ssize_t i = 0; i < kBytes; ++i) b[i] = static_cast<unsigned char>(raw[i]);
    // The version (4) and variant (RFC 4122) bits, as uuid.UUID(..., version=4) sets them.
    b[6] = static_cast<unsigned char>((b[6] & 0x0f) | 0x40);
    b[8] = static_cast<unsigned char>((b[8] & 0x3f) | 0x80);
    static const char digits[] = "0123456789abcdef";
    Ref hex = Ref::steal(PyUnicode_New(2 * kBytes, 127));
    Py_UCS1* out = PyUnicode_1BYTE_DATA(hex.get());
    for (Py_ssize_t i = 0; i < kBytes; ++i) {
        out[2 * i] = static_cast<Py_UCS1>(digits[b[i] >> 4]);
        out[2 * i + 1] = static_cast<Py_UCS1>(digits[b[i] & 0x0f]);
    }
    return hex;
}

}  // namespace ostrel
