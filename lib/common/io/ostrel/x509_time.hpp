// Times of certificates and CRLs as seconds since the epoch. A UTCTime's two-digit year reads as
// 19yy from 50 on and 20yy below (RFC 5280 4.1.2.5.1); the ASN.1 layer's own UTCTime converter
// keeps its older pivot of 71 for the callers that rely on it.
#pragma once

#include <ctime>

#include "suite_asn.h"

namespace ostrel {

inline short x509_full_year(short two_digits) { return static_cast<short>(two_digits >= 50 ? 1900 + two_digits : 2000 + two_digits); }

// false for a Time of neither choice.
inline bool x509_time(const Time &t, time_t &out) {
    if (t.choice == Time_utcTime_chosen) {
        GeneralizedTime g = t.u.utcTime;
        g.year = x509_full_year(g.year);
        out = QRT_ASN_General2Time(&g);
        return true;
    }
    if (t.choice == Time_generalTime_chosen) {
        out = QRT_ASN_General2Time(&t.u.generalTime);
        return true;
    }
    return false;
}

}  // namespace ostrel
