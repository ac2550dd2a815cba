// Files of the tools.
#include "files.h"

#include <cerrno>
#include <string>

#include "coding.h"
#include "ostrel/file_store.hpp"
#include "ostrel/owners.hpp"

namespace ostrel::tools {

int read_der_file(const char *path, BIN *der) {
    if (!path || !der) return -1;
    *der = BIN{0, nullptr};
    BinOwner raw;
    if (QRT_File_ReadBin(raw.get(), path) != 0) return -1;
    if (!QRT_IsPemType(raw->value, static_cast<int>(raw->length))) {
        raw.release_to(der);
        return 0;
    }
    BinOwner converted;
    if (QRT_PemToBin(raw.get(), converted.get()) != 0) return -1;
    converted.release_to(der);
    return 0;
}

int write_whole(const char *path, const BIN *data, mode_t mode) {
    if (!path || !data || (data->length && !data->value)) return EINVAL;
    try {
        return ostrel::store::write_file_atomic(path, data->value, data->length, mode);
    } catch (const std::bad_alloc &) {
        return ENOMEM;
    }
}

}  // namespace ostrel::tools
