// transcriber: turns a PEM file into DER, or a DER file into PEM, asking for everything on
// standard input. It ends with status 0 whatever happens.
#include <cstdio>

#include "coding.h"
#include "io.h"
#include "ostrel/owners.hpp"

using ostrel::tools::Answer;

namespace {

constexpr size_t kField = 256;  // each path and the label

// A path is usable only when it was read whole: a cut one could name another file.
struct Path {
    char text[kField] = {};
    bool whole = false;
};

void read_path(const char *question, Path &p) {
    ostrel::tools::prompt(question);
    p.whole = ostrel::tools::read_word(p.text, sizeof p.text) == Answer::ok;
}

bool read_file(const Path &p, BIN *out) { return p.whole && QRT_File_ReadBin(out, p.text) == 0; }
bool write_file(const Path &p, const BIN *data) { return p.whole && QRT_File_WriteBin(p.text, data) == 0; }

void pem_to_der(const Path &pem, const Path &der) {
    ostrel::BinOwner text, bytes;
    if (!read_file(pem, text.get())) {
        std::printf("cannot read %s.\n", pem.text);
        return;
    }
    if (!QRT_IsPemType(text->value, static_cast<int>(text->length))) {
        std::printf("%s is not pem file type\n", pem.text);
        return;
    }
    if (QRT_PemToBin(text.get(), bytes.get()) != 0) {
        std::printf("cannot convert %s.\n", pem.text);
        return;
    }
    if (!write_file(der, bytes.get())) {
        std::printf("cannot write %s.\n", der.text);
        return;
    }
    std::printf("converting success...\n");
}

void der_to_pem(const Path &pem, const Path &der) {
    ostrel::BinOwner bytes, text;
    if (!read_file(der, bytes.get())) {
        std::printf("cannot read %s.\n", der.text);
        return;
    }
    char label[kField] = {};
    ostrel::tools::prompt("Header : ");
    bool whole = ostrel::tools::read_word(label, sizeof label) == Answer::ok;
    if (!whole || QRT_BinToPem(bytes.get(), label, text.get()) != 0) {
        std::printf("cannot convert %s.\n", der.text);
        return;
    }
    if (!write_file(pem, text.get())) {
        std::printf("cannot write %s.\n", pem.text);
        return;
    }
    std::printf("converting success...\n");
}

}  // namespace

int main() {
    try {
        ostrel::tools::prompt("convert [1] PEM ==> DER , [2] DER ==> PEM : ");
        int action = ostrel::tools::read_number(0);
        Path pem, der;
        read_path("PEM File : ", pem);
        read_path("DER File : ", der);
        if (action == 1)
            pem_to_der(pem, der);
        else if (action == 2)
            der_to_pem(pem, der);
        else
            std::printf("Invalid action.\n");
    } catch (...) {
        // Out of memory while reading an answer: nothing has been written.
    }
    std::fflush(stdout);
    return 0;
}
