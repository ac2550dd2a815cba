#include "pkc_internal.h"
