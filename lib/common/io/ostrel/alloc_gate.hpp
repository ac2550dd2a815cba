// A hook for tests that makes the I/O core's allocator fail on demand.
//
// While a gate is set, QRT_malloc, QRT_calloc and QRT_realloc ask it first and return NULL
// (realloc leaving the block untouched) when it answers 0; NULL removes the gate. The error
// trace keeps its own records out of the gate, so a test can read what failing calls recorded.
// Exported from libOstrelIO for the tests only; it is no part of the public headers.
#pragma once

#include <cstddef>

#include "suite_io.h"

extern "C" QRT_API void QRT_Test_SetAllocGate(int (*gate)(size_t size));
