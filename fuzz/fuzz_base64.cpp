// Arbitrary text through the Base64 decoders (one block, and line by line): no crash, no read
// or write outside the buffers, no leak; and arbitrary bytes survive both encode/decode pairs.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "suite_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 100000) return 0;
    std::string text(reinterpret_cast<const char *>(data), size);  // terminated copy

    BIN bin{0, nullptr};
    if (QRT_Base64ToBin(text.c_str(), &bin) == 0 && bin.length > std::strlen(text.c_str())) __builtin_trap();
    QRT_BIN_Reset(&bin);

    BIN in{static_cast<unsigned int>(size), const_cast<uint8_t *>(data)};
    if (QRT_Base64_Decode(&bin, &in) == 0 && bin.length > size) __builtin_trap();
    QRT_BIN_Reset(&bin);

    std::string block(size / 4 * 3 + 1, '\0');
    BIN result{0, nullptr};
    if (QRT_Base64_DecodeBlock(reinterpret_cast<unsigned char *>(block.data()), &result, text.data(),
                               static_cast<int>(size)) == 0 &&
        result.length > size / 4 * 3)
        __builtin_trap();

    char *one = nullptr;
    BIN back{0, nullptr};
    if (QRT_BinToBase64(&in, &one) != 0 || QRT_Base64ToBin(one, &back) != 0) __builtin_trap();
    if (back.length != size || (size && std::memcmp(back.value, data, size) != 0)) __builtin_trap();
    QRT_free(one);
    QRT_BIN_Reset(&back);

    BIN lines{0, nullptr};
    if (QRT_Base64_Encode(&lines, &in) != 0 || QRT_Base64_Decode(&back, &lines) != 0) __builtin_trap();
    if (back.length != size || (size && std::memcmp(back.value, data, size) != 0)) __builtin_trap();
    QRT_BIN_Reset(&lines);
    QRT_BIN_Reset(&back);
    return 0;
}
