// Arbitrary file contents through PEM detection and unwrapping, as the tools read certificate
// and key files: no crash, no read past the buffer, no leak; and arbitrary bytes wrapped as PEM
// under a label taken from the input come back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "coding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 100000) return 0;
    BIN in{static_cast<unsigned int>(size), const_cast<uint8_t *>(data)};
    QRT_IsPemType(data, static_cast<int>(size));
    BIN out{0, nullptr};
    if (QRT_PemToBin(&in, &out) == 0 && out.length > size) __builtin_trap();
    QRT_BIN_Reset(&out);

    // The label is the input's first line, when it holds no "-".
    std::string label(reinterpret_cast<const char *>(data), size);
    label = label.substr(0, std::strcspn(label.c_str(), "\n-"));
    BIN pem{0, nullptr};
    if (QRT_BinToPem(&in, label.c_str(), &pem) != 0 || QRT_PemToBin(&pem, &out) != 0) __builtin_trap();
    if (out.length != size || (size && std::memcmp(out.value, data, size) != 0)) __builtin_trap();
    QRT_BIN_Reset(&pem);
    QRT_BIN_Reset(&out);

    std::string text(reinterpret_cast<const char *>(data), size);
    std::string escaped = QRT_escape(text.c_str());
    if (escaped.size() > 4095) __builtin_trap();
    QRT_unescape(text.data());
    return 0;
}
