// The cached OpenSSL key objects of the key and parameter records: value stamps that tell when
// a record has changed, the shared slot that holds one object, and construction from parameters.
#include <openssl/param_build.h>

#include "crypto_pkey.hpp"

namespace ostrel::crypto {

// Each value: length, sign, then its words without leading zero words.
void Stamp::take(std::initializer_list<const WJ_BigInt *> values) {
    words_.clear();
    for (const WJ_BigInt *a : values) {
        unsigned n = a ? a->Length : 0;
        while (n > 1 && a->Data[n - 1] == 0) --n;
        words_.push_back(n);
        words_.push_back(a && !bigint_is_zero(a) ? static_cast<WJ_WORD>(a->Sign) : 0);
        for (unsigned i = 0; i < n; ++i) words_.push_back(a->Data[i]);
    }
}

bool Stamp::matches(std::initializer_list<const WJ_BigInt *> values) const {
    size_t at = 0;
    for (const WJ_BigInt *a : values) {
        unsigned n = a ? a->Length : 0;
        while (n > 1 && a->Data[n - 1] == 0) --n;
        if (at + 2 + n > words_.size() || words_[at] != n) return false;
        if (words_[at + 1] != (a && !bigint_is_zero(a) ? static_cast<WJ_WORD>(a->Sign) : 0)) return false;
        at += 2;
        for (unsigned i = 0; i < n; ++i)
            if (words_[at + i] != a->Data[i]) return false;
        at += n;
    }
    return at == words_.size();
}

PkeyPtr PkeySlot::get(std::initializer_list<const WJ_BigInt *> values) {
    std::lock_guard<std::mutex> lock(mu_);
    if (!pkey_ || !stamp_.matches(values)) return nullptr;
    if (!EVP_PKEY_up_ref(pkey_)) return nullptr;
    return PkeyPtr(pkey_);
}

void PkeySlot::put(std::initializer_list<const WJ_BigInt *> values, EVP_PKEY *pkey) {
    if (!pkey || !EVP_PKEY_up_ref(pkey)) return;
    std::lock_guard<std::mutex> lock(mu_);
    EVP_PKEY_free(pkey_);
    pkey_ = pkey;
    try {
        stamp_.take(values);
    } catch (...) {
        EVP_PKEY_free(pkey_);
        pkey_ = nullptr;
        stamp_.clear();
    }
}

PkeySlot::~PkeySlot() { EVP_PKEY_free(pkey_); }

PkeyPtr pkey_fromdata(const char *name, int selection, const OSSL_PARAM *params) {
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(libctx(), name, nullptr));
    EVP_PKEY *pkey = nullptr;
    if (!ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
        EVP_PKEY_fromdata(ctx.get(), &pkey, selection, const_cast<OSSL_PARAM *>(params)) != 1)
        return nullptr;
    return PkeyPtr(pkey);
}

}  // namespace ostrel::crypto
