// Arbitrary text through the name parser and arbitrary bytes as a DER Name through the printer,
// under the EUC-KR and the UTF-8 locale. Whatever parses prints, and text -> name -> text ->
// name is a fixed point after one round: the two texts and the two DER encodings are equal.
// No crash, no read past a buffer, no leak.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "suite_pkc.h"

namespace {

std::string der_of(const Name &name) {
    BIN der{0, nullptr};
    if (QRT_ASN_EncodePDU(&der, &name, Name_PDU) != 0) __builtin_trap();
    std::string out(reinterpret_cast<const char *>(der.value), der.length);
    QRT_BIN_Reset(&der);
    return out;
}

std::string text_of(const Name &name) {
    char *out = nullptr;
    if (QRT_ExtractRDN(0, &name, &out) != 0) __builtin_trap();  // whatever the parser builds prints
    std::string s = out;
    QRT_free(out);
    return s;
}

void text_round_trip(const std::string &text) {
    Name first{};
    if (QRT_ImplementRDN(&first, text.c_str()) != 0) {
        if (first.u.rdnSequence) __builtin_trap();
        return;
    }
    std::string printed = text_of(first);
    Name second{};
    if (QRT_ImplementRDN(&second, printed.c_str()) != 0) __builtin_trap();
    if (text_of(second) != printed || der_of(first) != der_of(second)) __builtin_trap();
    QRT_NameFree(&first);
    QRT_NameFree(&second);
}

void print_der(const uint8_t *data, size_t size) {
    BIN in{static_cast<unsigned int>(size), const_cast<uint8_t *>(data)};
    void *tree = nullptr;
    if (QRT_ASN_DecodePDU(&tree, &in, Name_PDU) == 0) {
        char *out = nullptr;
        if (QRT_ExtractRDN(0, static_cast<Name *>(tree), &out) == 0) QRT_free(out);
    }
    if (tree) QRT_ASN_FreePDU(tree, Name_PDU);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 70000) return 0;
    static const bool quiet = [] {
        QRT_Trace_Initialize();
        return true;
    }();
    (void)quiet;
    std::string text(reinterpret_cast<const char *>(data), size);
    for (const char *locale : {"ko_KR-euc", "ko_KR-UTF-8"}) {
        QRT_PKC_SetOption("locale", locale);
        text_round_trip(text);
        print_der(data, size);
        QRT_Trace_ClearError();
    }
    return 0;
}
