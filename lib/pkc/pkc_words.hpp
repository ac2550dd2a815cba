// The words of key usage bits and extended key usage purposes, one table each: the formatters
// print them and certificate generation reads them back.
#pragma once

#include "suite_asn.h"

namespace ostrel::pkc {

struct UsageWord {
    unsigned int bit;
    const char *text;
};

// KeyUsage ::= BIT STRING { digitalSignature (0) ... decipherOnly (8) }
inline constexpr UsageWord kKeyUsageWords[] = {
    {KeyUsage_digitalSignature, "digitalSignature"},
    {KeyUsage_nonRepudiation, "nonRepudiation"},
    {KeyUsage_keyEncipherment, "keyEncipherment"},
    {KeyUsage_dataEncipherment, "dataEncipherment"},
    {KeyUsage_keyAgreement, "keyAgreement"},
    {KeyUsage_keyCertSign, "keyCertSign"},
    {KeyUsage_cRLSign, "cRLSign"},
    {KeyUsage_encipherOnly, "encipherOnly"},
    {KeyUsage_decipherOnly, "decipherOnly"},
};

struct PurposeWord {
    const ObjectID *oid;
    const char *text;
};

// The purposes the extended key usage text names.
inline constexpr PurposeWord kPurposeWords[] = {
    {&id_kp_serverAuth, "id-kp-serverAuth"},         {&id_kp_clientAuth, "id-kp-clientAuth"},
    {&id_kp_codeSigning, "id-kp-codeSigning"},       {&id_kp_emailProtection, "id-kp-emailProtection"},
    {&id_kp_ipsecEndSystem, "id-kp-ipsecEndSystem"}, {&id_kp_ipsecTunnel, "id-kp-ipsecTunnel"},
    {&id_kp_ipsecUser, "id-kp-ipsecUser"},           {&id_kp_timeStamping, "id-kp-timeStamping"},
};

}  // namespace ostrel::pkc
