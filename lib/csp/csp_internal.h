// Private declarations shared by the provider's modules.
#pragma once

#include "suite_crypto.h"
#include "suite_csp.h"

#define OSTREL_REASON_FN QRT_CSP_GetErrorReason
#include "ostrel/guard.hpp"
#include "ostrel/ct.hpp"
#include "ostrel/trace.hpp"

namespace ostrel::csp {
// The boundary of the exported functions (ostrel/guard.hpp).
inline constexpr Boundary kBoundary{OSTREL_FAIL_FN, QRT_CSP_INVALID_INPUT, QRT_CSP_MALLOC_FAILED, QRT_CSP_INTERNAL};
// The older forms, which leave no trace records.
inline constexpr Boundary kOldFormBoundary{nullptr, QRT_CSP_INVALID_INPUT, QRT_CSP_MALLOC_FAILED, QRT_CSP_INTERNAL};
}  // namespace ostrel::csp
#define OSTREL_BOUNDARY ::ostrel::csp::kBoundary

namespace ostrel::csp {

// Set while an older form (which leaves no trace records) runs shared code that traces.
inline thread_local bool t_quiet = false;
struct QuietTrace {
    bool saved = t_quiet;
    QuietTrace() { t_quiet = true; }
    ~QuietTrace() { t_quiet = saved; }
};

// Records a failure of a core function under its own name, with the core's code and text.
inline void trace_core(const char *core_fn, int core_code, const char *file, int line) {
    if (!t_quiet) QRT_Trace_PutError(core_fn, core_code, WJC_GetErrorString(core_code), file, line);
}
// OSTREL_FAIL_AS unless the trace is quiet.
#define OSTREL_PK_FAIL_AS(fn, code) (::ostrel::csp::t_quiet ? (code) : OSTREL_FAIL_AS((fn), (code)))

// The boundary of an older form: body runs with the trace quiet, and a throw is not recorded.
template <class F>
int old_form_guard(const Site &site, F &&body) noexcept {
    return guard(kOldFormBoundary, site, [&] {
        QuietTrace quiet;
        return body();
    });
}
#define OSTREL_OLD_FORM_GUARD(...) ::ostrel::csp::old_form_guard(OSTREL_SITE, __VA_ARGS__)
#define OSTREL_CORE_FAIL(fn, code) ::ostrel::csp::trace_core((fn), (code), __FILE__, __LINE__)



// The core's number of a public hash id; 0 when unknown.
int core_hash(int hash_id);

// A BIN argument that is there and whose bytes are there unless it is empty.
inline bool bin_ok(const BIN *b) { return b && (b->value || b->length == 0); }

// The state gate of every operation: requests module state 3; nonzero is the code to return.
// The core's refusal is recorded in the trace unless `trace` is false (the older forms).
int state_gate(bool trace = true);

// A core secret key on the stack, wiped on scope exit.
struct SecretKey {
    WJ_SECRET_KEY k{};
    ~SecretKey();
};

// Public cipher number -> core number and the key length the core is handed (the first E key
// bytes). 6010 for an unknown cipher, 6026 for a key the core's key object cannot hold.
int conv_cipher_id(int cipher_id, int *core_id);
unsigned normalise_key_length(int cipher_id, unsigned length);

}  // namespace ostrel::csp
