#include "crl_internal.h"
