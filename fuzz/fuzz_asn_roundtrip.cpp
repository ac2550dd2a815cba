// Decodes any catalogue type from arbitrary bytes (the first two bytes choose the number). A
// value that decodes must encode, its encoding must decode again under the strict DER rules to
// a tree that encodes to the same bytes, and copies must compare equal. Input that is DER
// already must come back byte for byte.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "suite_asn.h"

namespace {

struct Worlds {
    ZQ_ASN_CTX lenient, strict;
    Worlds() {
        QRT_OssInit(&lenient);
        QRT_OssInit(&strict);
        strict.flags |= QRT_ASN_FLAG_STRICT_DER;
    }
};

void check(bool ok) {
    if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static Worlds w;
    if (size < 2 || size > 200000) return 0;
    int pdu = 1 + static_cast<int>((data[0] | (data[1] << 8)) % (QRT_ASN_PDU_COUNT - 1));
    BIN in{static_cast<unsigned int>(size - 2), const_cast<unsigned char *>(data + 2)};

    void *t1 = nullptr;
    if (QRT_GetDecodedPDU(&w.lenient, pdu, &in, &t1) != 0) {
        check(t1 == nullptr);
        return 0;
    }
    BIN e1{0, nullptr};
    if (QRT_GetEncodedPDU(&w.lenient, pdu, t1, &e1) != 0) {
        // only a time moved out of its range by its time difference may fail to encode
        check(w.lenient.errorCode == QRT_ASN_E_BAD_TIME);
        QRT_FreePDU(&w.lenient, pdu, t1);
        return 0;
    }
    void *t2 = nullptr;
    check(QRT_GetDecodedPDU(&w.strict, pdu, &e1, &t2) == 0);
    BIN e2{0, nullptr};
    check(QRT_GetEncodedPDU(&w.strict, pdu, t2, &e2) == 0);
    check(QRT_BIN_Cmp(&e1, &e2) == 0);

    void *c = nullptr;
    check(QRT_CopyPDU(&w.lenient, pdu, t2, &c) == 0);
    check(QRT_ComparePDU(&w.lenient, pdu, c, t2) == 0);

    void *t3 = nullptr;
    if (QRT_GetDecodedPDU(&w.strict, pdu, &in, &t3) == 0) {
        check(e1.length == in.length && std::memcmp(e1.value, in.value, in.length) == 0);
        check(QRT_ComparePDU(&w.lenient, pdu, t1, t2) == 0);
        QRT_FreePDU(&w.strict, pdu, t3);
    }
    QRT_FreePDU(&w.lenient, pdu, c);
    QRT_FreePDU(&w.lenient, pdu, t2);
    QRT_FreePDU(&w.lenient, pdu, t1);
    QRT_BIN_Reset(&e1);
    QRT_BIN_Reset(&e2);
    return 0;
}
