// The cluster session: transport configuration, login, logout, per-request reset and the
// envelope check every cluster answer goes through.
#include "CWqString.h"
#include "KrvnCommonUtils.h"
#include "KrvnTextsCluster.h"
#include "ZYSnapRESTAPI.h"
#include "ZYSnapRESTTexts.h"

namespace ZYKorvanCommon {

int KrvnCommonUtils::rest_initializeClient() {
    if (!ctx->restClient) {
        ctx->restClient = new ZYSnapRESTAPI();
        ctx->restClient->setLogger(ctx->logger);
    }
    const KrvnArrayDetails& details = ctx->arrayDetails;
    std::string server = details.controlHostName;
    if (details.arrayConfigs.serverPort > 0)
        server += ZY_KRVN_SERVER_PORT_SEP + std::to_string(details.arrayConfigs.serverPort);

    ZYSnapRESTAPI* client = ctx->restClient;
    client->reset();
    client->setRelativeBasePath(ZY_KRVN_REST_API_BASE_EP);
    client->setContentType(ZY_KRVN_REST_HDR_CONTENT_TYPE);
    client->setUserAgentHeader(ZY_KRVN_REST_USER_AGENT);
    client->setProtocolType(details.arrayConfigs.useHttps ? ZY_KRVN_REST_CONNECTION_HTTPS
                                                          : ZY_KRVN_REST_CONNECTION_HTTP);
    client->setServer(server);
    client->setUserName(details.userName);
    client->setUserPswd(details.userPswd);
    client->setLogging(details.arrayConfigs.restLogging >= 1);
    return 0;
}

int KrvnCommonUtils::rest_connectToArray() {
    int rc = rest_initializeClient();
    if (rc != 0) return rc;
    const KrvnArrayDetails& details = ctx->arrayDetails;
    ctx->log(ZY_KRVN_LOGLVL_SNAP_OP_START, ZY_KRVN_LOG_CONNECTING, details.arrayId.c_str());

    rest_resetCtx();
    if (buildReqBodyForKorvanConnect(ctx->restRequest) != 0) return ctx->errorCode;
    if (!ctx->restClient->connect(ctx->restApi, ctx->restRequest, ctx->restResponse)) {
        ctx->logRESTDetails();
        // The cluster's refusal or the transport's reason (refused, timed out, TLS) is what
        // tells a wrong password from a wrong port: it goes with the final text.
        ctx->extractRESTErrorMsgs();
        return ctx->fail(ZY_KRVN_ERR_OPERATION_FAILED,
                         CWqString::Format(ZY_KRVN_ERR_CONNECT, {details.arrayId, details.controlHostName}),
                         {ZY_KRVN_LOG_CLUSTER_OP_FAILED_REST, KrvnLogArgs::CodeTextClusterErrors});
    }
    rc = processConnectResp();
    if (rc != 0) return ctx->errorCode;
    sessionOpen_ = true;
    ctx->log(ZY_KRVN_LOGLVL_SNAP_OP_END, ZY_KRVN_LOG_CONNECTING_DONE, details.arrayId.c_str());
    return 0;
}

int KrvnCommonUtils::processConnectResp() {
    JsonDocument doc;
    if (!parseRestResp(doc, ZY_KRVN_LOG_CONNECT_STATUS_UNKNOWN)) return ctx->errorCode;
    const JsonValue response = doc.root();
    int rc = processCommonResp(response, ZY_KRVN_REST_CMN_VALUE_TYPE_LOGIN, ZY_KRVN_CHECK_RESULT_FIELD_OBJECT);
    if (rc != 0) return rc;

    const JsonValue result = response.member(ZY_KRVN_REST_CMN_FIELD_RESULT);
    const std::string sessionId = jsonText(result, ZY_KRVN_REST_LOGIN_FIELD_SSN_ID);
    const std::string userName = jsonText(result, ZY_KRVN_REST_LOGIN_FIELD_USERNAME);
    if (sessionId.empty()) {
        ctx->logRESTDetails();
        return ctx->fail(ZY_KRVN_ERR_REST_CONTENT,
                         CWqString::Format(ZY_KRVN_ERR_INVALID_LOGIN, {ZY_KRVN_REST_LOGIN_FIELD_SSN_ID}),
                         KrvnFailLog::about(ctx->arrayDetails.arrayId, ZY_KRVN_LOG_CONNECT_FAILED));
    }
    const std::string primaryTenant = jsonText(result, ZY_KRVN_REST_LOGIN_FIELD_PRIM_TENANT);
    std::string roles;
    JsonValue rolesObject;
    if (result.getObject(ZY_KRVN_REST_LOGIN_FIELD_ROLES, rolesObject)) {
        int number = 0;
        rolesObject.forEachMemberSorted([&](const std::string& key, const JsonValue& value) {
            std::string role;
            value.asString(role);
            roles +=
                CWqString::Format(ZY_KRVN_USER_DETAILS_LOG, {CWqString(++number), CWqString(key), CWqString(role)});
        });
        if (!roles.empty()) roles.resize(roles.size() - ZY_KRVN_USER_DETAILS_TRAILER_LEN);
    }
    ctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_LOG_USER_DETAILS, userName.c_str(), roles.c_str(), primaryTenant.c_str());
    ctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_LOG_USER_ROLES_HINT, userName.c_str());
    ctx->arrayDetails.sessionId = sessionId;
    ctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_LOG_CONNECTED, ctx->arrayDetails.arrayId.c_str(), userName.c_str());
    return 0;
}

int KrvnCommonUtils::processCommonResp(const JsonValue& response, const std::string& expectedType, int checkResult) {
    const std::string status = jsonText(response, ZY_KRVN_REST_CMN_FIELD_STATUS);
    const std::string type = jsonText(response, ZY_KRVN_REST_CMN_FIELD_TYPE);
    const std::string requestId = jsonText(response, ZY_KRVN_REST_CMN_FIELD_REQ_ID);
    (void)requestId;  // read for completeness; nothing depends on it

    if (status != ZY_KRVN_REST_CMN_VALUE_STATUS_OK) {
        ctx->logRESTDetails();
        ctx->extractRESTErrorMsgs();
        return ctx->fail(
            ZY_KRVN_ERR_REST_CONTENT,
            CWqString::Format(ZY_KRVN_ERR_REQUEST_FAILED, {expectedType, ctx->restErrors.str()}),
            KrvnFailLog::about(ctx->arrayDetails.arrayId, maskedForError(status), ZY_KRVN_LOG_CLUSTER_STATUS_FAILED));
    }
    if (type != expectedType) {
        ctx->logRESTDetails();
        return ctx->fail(ZY_KRVN_ERR_REST_CONTENT,
                         CWqString::Format(ZY_KRVN_ERR_WRONG_TYPE, {maskedForError(type), expectedType}),
                         KrvnFailLog::about(ctx->arrayDetails.arrayId, ZY_KRVN_LOG_CLUSTER_OP_ERROR));
    }
    if (checkResult == ZY_KRVN_CHECK_RESULT_FIELD_NONE) return 0;
    const JsonValue result = response.member(ZY_KRVN_REST_CMN_FIELD_RESULT);
    if ((checkResult == ZY_KRVN_CHECK_RESULT_FIELD_OBJECT && result.isObject()) ||
        (checkResult == ZY_KRVN_CHECK_RESULT_FIELD_ARRAY && result.isArray()))
        return 0;
    ctx->logRESTDetails();
    return ctx->fail(ZY_KRVN_ERR_REST_CONTENT,
                     CWqString::Format(ZY_KRVN_ERR_NO_RESULT, {expectedType, ZY_KRVN_REST_CMN_FIELD_RESULT}),
                     KrvnFailLog::about(ctx->arrayDetails.arrayId, ZY_KRVN_LOG_CLUSTER_OP_ERROR));
}

int KrvnCommonUtils::rest_disconnectArray() {
    sessionOpen_ = false;  // one attempt: a refused logout is not sent again
    const char* cluster = ctx->arrayDetails.arrayId.c_str();
    ctx->restRequest.clear();
    ctx->restResponse.clear();
    // A failed logout must not change what the host is told about the operation, so a
    // refused session id leaves the error state exactly as it was.
    const KrvnErrorState before = ctx->errorState();
    if (buildReqBodyForKorvanDisconnect(ctx->restRequest) != 0) {
        ctx->restoreErrorState(before);
        ctx->log(ZY_KRVN_LOGLVL_ERROR, ZY_KRVN_LOG_LOGOUT_FAILED, cluster);
        return 1;
    }
    if (!ctx->restClient || !ctx->restClient->post(ctx->restApi, ctx->restRequest, ctx->restResponse)) {
        ctx->logRESTDetails();
        ctx->log(ZY_KRVN_LOGLVL_ERROR, ZY_KRVN_LOG_LOGOUT_FAILED, cluster);
        return 1;
    }
    if (processLogout() != 0) return 1;
    ctx->log(ZY_KRVN_LOGLVL_DETAIL, ZY_KRVN_LOG_LOGOUT_DONE, cluster);
    return 0;
}

int KrvnCommonUtils::processLogout() {
    JsonDocument doc;
    if (!doc.parseObject(ctx->restResponse)) {
        ctx->log(ZY_KRVN_LOGLVL_ERROR, ZY_KRVN_LOG_LOGOUT_PARSE_FAILED, maskedForError(ctx->restResponse).c_str());
        return 1;
    }
    const JsonValue response = doc.root();
    const std::string status = jsonText(response, ZY_KRVN_REST_CMN_FIELD_STATUS);
    const std::string type = jsonText(response, ZY_KRVN_REST_CMN_FIELD_TYPE);
    const std::string message = jsonText(response, ZY_KRVN_REST_CMN_FIELD_MSG);
    if (status != ZY_KRVN_REST_CMN_VALUE_STATUS_OK) {
        ctx->logRESTDetails();
        ctx->log(ZY_KRVN_LOGLVL_ERROR, ZY_KRVN_LOG_LOGOUT_STATUS_FAILED, ctx->arrayDetails.arrayId.c_str(),
                 status.c_str(), message.c_str());
        return 1;
    }
    if (type != ZY_KRVN_REST_CMN_VALUE_TYPE_LOGOUT) {
        ctx->logRESTDetails();
        ctx->log(ZY_KRVN_LOGLVL_ERROR, ZY_KRVN_LOG_LOGOUT_WRONG_TYPE, type.c_str(), ZY_KRVN_REST_CMN_VALUE_TYPE_LOGOUT);
        return 1;
    }
    return 0;
}

void KrvnCommonUtils::rest_resetCtx() {
    ctx->restApi.clear();
    ctx->restRequest.clear();
    ctx->restResponse.clear();
    ctx->errorText.str("");
    ctx->errorText.clear();
}

}  // namespace ZYKorvanCommon
