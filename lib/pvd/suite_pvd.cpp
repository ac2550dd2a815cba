// The public object records, the string helpers, the candidate cursor and the validation
// context: InitCTX loads the request's lists and takes over the parameters, ResetCTX ends the
// callback store and releases everything.
#include <new>

#include "pvd_internal.h"

namespace ostrel::pvd {

char *dup_string(std::string_view s) {
    auto *p = static_cast<char *>(QRT_malloc(s.size() + 1));
    if (!p) throw std::bad_alloc();
    if (!s.empty()) std::memcpy(p, s.data(), s.size());
    p[s.size()] = '\0';
    return p;
}

int pdu_of_type(int typeID) {
    switch (typeID) {
        case PVD_TYPE_CERT:
        case PVD_TYPE_CA:
        case PVD_TYPE_ROOT:
            return Certificate_PDU;
        case PVD_TYPE_CRL:
        case PVD_TYPE_ARL:
        case PVD_TYPE_CRL_OTHER:
            return CertificateList_PDU;
        case PVD_TYPE_CTL:
            return CertificateTrustList_PDU;
        default:
            return 0;
    }
}

bool cursor_take(ZQ_PVD_BuildCursor *cursor, BIN *out) {
    while (cursor->next) {
        ZQ_BIN_LIST *node = cursor->next;
        cursor->next = node->next;
        if (!node->value.value || !node->value.length) continue;
        *out = node->value;
        node->value = BIN{0, nullptr};
        return true;
    }
    return false;
}

void cursor_set(ZQ_PVD_BuildCursor *cursor, ZQ_BIN_LIST *list) {
    QRT_BIN_LIST_Free(cursor->candidates);
    cursor->candidates = list;
    cursor->next = list;
    cursor->fetched = 1;
}

namespace {

void reset_object(ZQ_PVD_Object &obj) {
    QRT_BIN_Reset(&obj.encObj);
    if (obj.pAsnObj) {
        if (int pdu = pdu_of_type(obj.typeID)) QRT_ASN_FreePDU(obj.pAsnObj, pdu);
        obj.pAsnObj = nullptr;
    }
    obj.typeID = 0;
}

// The store record handed to CB_Store_Start: the store path, as QRT_PVD_CertStore_Open leaves it.
void open_store_record(ZQ_PVD_Context &ctx) {
    if (ctx.storePath) ctx.store.storePath = dup_string(ctx.storePath);
}

void release(ZQ_PVD_Context &ctx) {
    QRT_PVD_StateVars_Reset(&ctx.vars);
    QRT_PVD_InterObjectList_Free(ctx.trustCerts);
    QRT_PVD_InterObjectList_Free(ctx.otherCerts);
    QRT_PVD_InterObjectList_Free(ctx.otherCRLs);
    QRT_PVD_CertStore_Reset(&ctx.store);
    QRT_free(ctx.storePath);
    std::memset(&ctx, 0, sizeof ctx);
}

int init_ctx(ZQ_PVD_Context &ctx, const ZQ_PVD_CertPathRequest &req, const ZQ_PVD_VerifyParam &param) {
    // 1. the policy and name-constraint state
    if (int rc = QRT_PVD_StateVars_Init(&ctx.vars, req.initPolicies, req.initPolicyMappingInhibit,
                                        req.initExplicitPolicy, req.initAnyPolicyInhibit))
        return rc;
    // 2. the caller's objects, each decoded once
    if (int rc = QRT_PVD_InterObjectList_FromObjList(&ctx.trustCerts, req.trustCerts, PVD_TYPE_ROOT)) return rc;
    if (int rc = QRT_PVD_InterObjectList_FromObjList(&ctx.otherCerts, req.otherCerts, PVD_TYPE_CA)) return rc;
    if (int rc = QRT_PVD_InterObjectList_FromObjList(&ctx.otherCRLs, req.otherCRLs, PVD_TYPE_CRL)) return rc;
    // 3. options; the store callbacks come as a set of four or not at all
    const ZQ_PVD_VerifyCB &cb = param.vrfyCB;
    ctx.flags = param.flags;
    ctx.cacheDisable = param.cache.disable;
    ctx.storeDisable = param.store.disable;
    if (!ctx.storeDisable && cb.CB_Store_Start) {
        if (!cb.CB_Store_GetObject || !cb.CB_Store_AddObject || !cb.CB_Store_End) return QRT_PVD_INVALID_INPUT;
        ctx.useCBStore = 1;
    }
    // 4. the rest of the parameters
    if (param.store.storePath) ctx.storePath = dup_string(param.store.storePath);
    ctx.distrustRoot = param.store.distrustRoot;
    ctx.ldapDisable = param.ldap.disable;
    ctx.ldapInfon = param.ldap.ldapInfon < 0                  ? 0
                    : param.ldap.ldapInfon > PVD_MAX_LDAPINFO ? PVD_MAX_LDAPINFO
                                                              : param.ldap.ldapInfon;
    std::memcpy(ctx.ldapInfos, param.ldap.ldapInfos, sizeof ctx.ldapInfos);
    ctx.cb = cb;
    // 5. the callback store starts; its failure is the result
    if (ctx.useCBStore) {
        open_store_record(ctx);
        if (int rc = cb.CB_Store_Start(&ctx.store)) {
            ctx.useCBStore = 0;  // not started: no CB_Store_End
            return rc;
        }
    }
    return 0;
}

}  // namespace
}  // namespace ostrel::pvd

using namespace ostrel::pvd;

extern "C" {

// ---- object records ----

QRT_API ZQ_PVD_Object *QRT_PVD_Object_New(void) {
    return static_cast<ZQ_PVD_Object *>(QRT_calloc(1, sizeof(ZQ_PVD_Object)));
}

QRT_API void QRT_PVD_Object_Reset(ZQ_PVD_Object *obj) {
    if (obj) reset_object(*obj);
}

QRT_API void QRT_PVD_Object_Free(ZQ_PVD_Object *obj) {
    if (!obj) return;
    reset_object(*obj);
    QRT_free(obj);
}

QRT_API ZQ_PVD_ObjectList *QRT_PVD_ObjectList_New(void) {
    return static_cast<ZQ_PVD_ObjectList *>(QRT_calloc(1, sizeof(ZQ_PVD_ObjectList)));
}

// The following nodes are released one after another, so a long list cannot exhaust the stack.
QRT_API void QRT_PVD_ObjectList_Reset(ZQ_PVD_ObjectList *list) {
    if (!list) return;
    ZQ_PVD_ObjectList *p = list->next;
    while (p) {
        ZQ_PVD_ObjectList *next = p->next;
        reset_object(p->value);
        QRT_free(p);
        p = next;
    }
    reset_object(list->value);
    list->next = nullptr;
}

QRT_API void QRT_PVD_ObjectList_Free(ZQ_PVD_ObjectList *list) {
    if (!list) return;
    QRT_PVD_ObjectList_Reset(list);
    QRT_free(list);
}

QRT_API ZQ_PVD_CertPathResult *QRT_PVD_CertPathResult_New(void) {
    return static_cast<ZQ_PVD_CertPathResult *>(QRT_calloc(1, sizeof(ZQ_PVD_CertPathResult)));
}

QRT_API void QRT_PVD_CertPathResult_Reset(ZQ_PVD_CertPathResult *result) {
    if (!result) return;
    QRT_PVD_ObjectList_Free(result->certPath);
    QRT_PVD_ObjectList_Free(result->revInfos);
    result->certPath = nullptr;
    result->revInfos = nullptr;
    result->vrfyTime = 0;
}

QRT_API void QRT_PVD_CertPathResult_Free(ZQ_PVD_CertPathResult *result) {
    if (!result) return;
    QRT_PVD_CertPathResult_Reset(result);
    QRT_free(result);
}

// ---- strings ----

QRT_API char *QRT_PVD_strdup(const char *s) {
    if (!s) return nullptr;
    size_t n = std::strlen(s);
    auto *p = static_cast<char *>(QRT_malloc(n + 1));
    if (p) std::memcpy(p, s, n + 1);
    return p;
}

QRT_API char *QRT_strduplen(const char *s, int n) {
    if (!s) return nullptr;
    size_t len = n > 0 ? strnlen(s, static_cast<size_t>(n)) : 0;
    auto *p = static_cast<char *>(QRT_malloc(len + 1));
    if (!p) return nullptr;
    if (len) std::memcpy(p, s, len);
    p[len] = '\0';
    return p;
}

// ---- cursor ----

QRT_API void QRT_PVD_BuildCursor_NextStage(ZQ_PVD_BuildCursor *cursor) {
    if (!cursor) return;
    QRT_BIN_LIST_Free(cursor->candidates);
    cursor->candidates = nullptr;
    cursor->next = nullptr;
    cursor->fetched = 0;
    if (cursor->stage < PVD_STAGE_END) ++cursor->stage;
}

QRT_API void QRT_PVD_BuildCursor_Reset(ZQ_PVD_BuildCursor *cursor) {
    if (!cursor) return;
    QRT_BIN_LIST_Free(cursor->candidates);
    std::memset(cursor, 0, sizeof *cursor);
}

// ---- context ----

QRT_API int QRT_PVD_InitCTX(ZQ_PVD_Context *ctx, const ZQ_PVD_CertPathRequest *request,
                            const ZQ_PVD_VerifyParam *param) {
    if (!ctx || !request || !param) return PVD_FAIL(QRT_PVD_INVALID_INPUT);
    std::memset(ctx, 0, sizeof *ctx);
    int rc = contained([&] { return init_ctx(*ctx, *request, *param); });
    if (rc) {
        release(*ctx);
        return PVD_FAIL(rc);
    }
    return 0;
}

QRT_API int QRT_PVD_ResetCTX(ZQ_PVD_Context *ctx) {
    if (!ctx) return QRT_PVD_INVALID_INPUT;
    if (ctx->useCBStore && ctx->cb.CB_Store_End) ctx->cb.CB_Store_End(&ctx->store);
    ctx->useCBStore = 0;
    release(*ctx);
    return 0;
}

}  // extern "C"
