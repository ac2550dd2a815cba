// Files of the tools: reading a certificate or key file that holds DER or PEM, and writing a
// file whole or not at all.
#pragma once

#include <sys/types.h>

#include "suite_io.h"

namespace ostrel::tools {

// The bytes of the file at path in *der, converted from PEM when the content is PEM. 0, or -1
// when the file cannot be read or its PEM does not convert (*der is then empty).
int read_der_file(const char *path, BIN *der);

// Writes data to path whole or not at all: a temporary beside it (named so that no store reader
// takes it), fsync, rename. On failure the temporary is gone and an existing file at path is
// left as it was. mode is filtered by the umask. 0, or the errno of the failure.
int write_whole(const char *path, const BIN *data, mode_t mode);

}  // namespace ostrel::tools
