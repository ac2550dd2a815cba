/* For the libraries of this tree, not installed: a function the engine calls whenever it releases
 * a value of one type, wherever the value sits (a whole PDU, a field of another, a list element).
 * A library that keeps derived data per tree address (an index of a CRL's entries) drops it here,
 * so a later tree that the allocator places at the same address never meets stale data. */
#ifndef OSTREL_ASN_RELEASE_HOOK_H
#define OSTREL_ASN_RELEASE_HOOK_H

#include "suite_asn.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*QRT_ASN_ReleaseHook)(void *value);

/* Registers hook for the type of catalogue number pdu; it runs before the value's contents are
 * released. Up to four hooks in all; registering the same pair again does nothing. Returns 0,
 * or QRT_ASN_INVALID_INPUT. Hooks stay for the life of the process. */
QRT_API int QRT_ASN_SetReleaseHook(int pdu, QRT_ASN_ReleaseHook hook);

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_ASN_RELEASE_HOOK_H */
