// Every library answers for each code of its error list with the texts the list gives: the
// English as written, the Korean as its EUC-KR bytes, and for a text the list does not have the
// same answer as for a code the library does not know (no other library's text shadows a code).
#include <gtest/gtest.h>
#include <iconv.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "suite_asn.h"
#include "suite_cas.h"
#include "suite_codec.h"
#include "suite_config.h"
#include "suite_crl.h"
#include "suite_crs.h"
#include "suite_crypto.h"
#include "suite_csp.h"
#include "suite_ctl.h"
#include "suite_io.h"
#include "suite_ldap.h"
#include "suite_php.h"
#include "suite_pkc.h"
#include "suite_ocsp.h"
#include "suite_pkcs10.h"
#include "suite_pkcs12.h"
#include "suite_pvd.h"
#include "suite_tsp.h"
#include "suite_pkcs5.h"
#include "suite_pkcs7.h"
#include "suite_pkcs8.h"
#include "suite_ras.h"
#include "suite_sss.h"

namespace {

struct Row {
    std::string name;
    int code;
    std::string english, korean;  // "-": none
};

std::vector<Row> read_list(const std::string &lib) {
    std::ifstream in(std::string(OSTREL_SOURCE_DIR) + "/lib/" + lib + "/errors.tsv");
    std::vector<Row> rows;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream s(line);
        Row r;
        std::string code;
        std::getline(s, r.name, '\t');
        std::getline(s, code, '\t');
        std::getline(s, r.english, '\t');
        std::getline(s, r.korean, '\t');
        r.code = std::stoi(code);
        rows.push_back(r);
    }
    return rows;
}

std::string euc_kr(const std::string &utf8) {
    iconv_t cd = iconv_open("EUC-KR", "UTF-8");
    EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
    std::string in = utf8, out(utf8.size() * 2 + 4, '\0');
    char *ip = in.data(), *op = out.data();
    size_t il = in.size(), ol = out.size();
    EXPECT_NE(iconv(cd, &ip, &il, &op, &ol), static_cast<size_t>(-1)) << utf8;
    iconv_close(cd);
    out.resize(out.size() - ol);
    return out;
}

constexpr int kUnknown = 987654;  // no library's code

void check(const std::string &lib, const char *(*reason)(int, int)) {
    std::vector<Row> rows = read_list(lib);
    ASSERT_FALSE(rows.empty()) << lib;
    for (int lang : {1, 0}) {
        const std::string unknown = reason(kUnknown, lang);
        for (const Row &r : rows) {
            const std::string &text = lang == 1 ? r.english : r.korean;
            const std::string want = text == "-" ? unknown : lang == 1 ? text : euc_kr(text);
            EXPECT_EQ(reason(r.code, lang), want) << lib << " " << r.name << " lang " << lang;
        }
    }
}

}  // namespace

TEST(ErrorLists, EveryLibraryAnswersWithItsListsTexts) {
    check("io", QRT_IO_GetErrorReason);
    check("codec", QRT_Codec_GetErrorReason);
    check("asn", QRT_ASN_GetErrorReason);
    check("csp", QRT_CSP_GetErrorReason);
    check("config", QRT_CONFIG_GetErrorReason);
    check("ras", QRT_RAS_GetErrorReason);
    check("cas", QRT_CAS_GetErrorReason);
    check("crs", QRT_CRS_GetErrorReason);
    check("php", QRT_PHP_GetErrorReason);
    check("sss", QRT_SSS_GetErrorReason);
    check("crl", QRT_CRL_GetErrorReason);
    check("pkc", QRT_PKC_GetErrorReason);
    check("pkcs7", QRT_PKCS7_GetErrorReason);
    check("ctl", QRT_CTL_GetErrorReason);
    check("pkcs5", QRT_PKCS5_GetErrorReason);
    check("pkcs8", QRT_PKCS8_GetErrorReason);
    check("pkcs12", QRT_PKCS12_GetErrorReason);
    check("tsp", QRT_TSP_GetErrorReason);
    check("ocsp", QRT_OCSP_GetErrorReason);
    check("pkcs10", QRT_PKCS10_GetErrorReason);
    check("ldap", QRT_LDAP_GetErrorReason);
    check("pvd", QRT_PVD_GetErrorReason);
}

TEST(ErrorLists, CryptoCoreTexts) {
    for (const Row &r : read_list("crypto"))
        EXPECT_STREQ(WJC_GetErrorString(r.code), r.english == "-" ? "unknown error" : r.english.c_str()) << r.name;
}
