#define CORVEX_LOG_MODULE "msg"

#include "msg.h"

#include <stdlib.h>
#include <string.h>

#include <mama/mama.h>
#include <mama/integration/msg.h>
#include <mama/reservedfields.h>

#include "corvexBridge.h"
#include "logging.h"

namespace
{
/* The topic of a 16-byte vendor destination record, or NULL. */
corvexClient_returnCode_t queryTopic(corvexClient_returnCode_t (*query)(corvexClient_msg_t,
                                                                        corvexClient_destination_t*,
                                                                        size_t),
                                     corvexClient_msg_t msg, const char** topic)
{
    corvexClient_destination_t dest;
    memset(&dest, 0, sizeof(dest));
    corvexClient_returnCode_t rc = query(msg, &dest, sizeof(dest));
    *topic = rc == CORVEXCLIENT_OK ? dest.mTopic : NULL;
    return rc;
}

bool isEmpty(const char* text)
{
    return text == NULL || text[0] == '\0';
}

void warnNoReplyTopic(CorvexBridgeMsg* msg, corvexClient_returnCode_t replyRc)
{
    const char* codeText = corvexClient_returnCodeToString(replyRc);
    const char* topic = NULL;
    if (queryTopic(corvexClient_msg_getDestination, msg->mCorvexMsg, &topic) == CORVEXCLIENT_OK &&
        !isEmpty(topic))
    {
        CORVEX_LOG(CORVEX_LOG_WARN,
                   "Warning failed getting reply topic from msg, CorvexReturnCode=%s, topic=%s",
                   codeText, topic);
        return;
    }
    const char* symbol = NULL;
    if (msg->mMamaMsg != NULL)
    {
        mamaMsg_getString(msg->mMamaMsg, MamaFieldSubscSymbol.mName, MamaFieldSubscSymbol.mFid,
                          &symbol);
    }
    CORVEX_LOG(
        CORVEX_LOG_WARN,
        "Warning failed getting reply topic, and topic from msg, CorvexReturnCode=%s, symbol=%s",
        codeText, isEmpty(symbol) ? "NO SYMBOL" : symbol);
}
} // namespace

CORVEX_EXPORT mama_status corvexBridgeMamaMsg_create(CorvexBridgeMsg** msg, mamaMsg parent)
{
    if (msg == NULL || parent == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    *msg = NULL;
    CorvexBridgeMsg* impl = (CorvexBridgeMsg*)calloc(1, sizeof(CorvexBridgeMsg));
    if (impl == NULL)
    {
        return MAMA_STATUS_NOMEM;
    }
    mamaMsg_getNativeMsg(parent, &impl->mNativeHandle);
    impl->mMamaMsg = parent;
    *msg = impl;
    return MAMA_STATUS_OK;
}

CORVEX_EXPORT mama_status corvexBridgeMamaMsg_destroyMiddlewareMsg(CorvexBridgeMsg* msg)
{
    if (msg == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    /* Before a detach the receive path owns the vendor message. */
    if (msg->mIsDetached && msg->mCorvexMsg != NULL)
    {
        corvexClient_msg_free(&msg->mCorvexMsg);
        msg->mCorvexMsg = NULL;
    }
    if (msg->mIsDetached && msg->mBufferOwner != NULL)
    {
        mamaMsg owned = msg->mBufferOwner;
        msg->mBufferOwner = NULL;
        mamaMsg_destroy(owned);
    }
    return MAMA_STATUS_OK;
}

CORVEX_EXPORT mama_status corvexBridgeMamaMsg_destroy(CorvexBridgeMsg* msg, int)
{
    if (msg == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    corvexBridgeMamaMsg_destroyMiddlewareMsg(msg);
    free(msg);
    return MAMA_STATUS_OK;
}

CORVEX_EXPORT mama_status corvexBridgeMamaMsg_detach(CorvexBridgeMsg* msg)
{
    if (msg == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    if (msg->mCorvexMsg != NULL || msg->mBufferOwner != NULL)
    {
        msg->mIsDetached = 1;
        /* The payload reads the bytes this object now keeps for as long as
         * the message lives: the message owns that payload from here on.
         * Not owning it, the host would replace it with a copy and leave the
         * original to nobody. */
        if (msg->mMamaMsg != NULL)
        {
            mamaMsgImpl_setMessageOwner(msg->mMamaMsg, 1);
        }
        if (msg->mDelivery != NULL)
        {
            msg->mDelivery->mDetached = 1;
            msg->mDelivery = NULL;
        }
    }
    return MAMA_STATUS_OK;
}

CORVEX_EXPORT mama_status corvexBridgeMamaMsg_getNativeHandle(CorvexBridgeMsg* msg, void** result)
{
    if (msg == NULL || result == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    *result = msg->mNativeHandle;
    return MAMA_STATUS_OK;
}

CORVEX_EXPORT int corvexBridgeMamaMsg_isFromInbox(CorvexBridgeMsg* msg)
{
    if (msg == NULL)
    {
        return -1;
    }
    if (msg->mCorvexMsg == NULL)
    {
        return 0;
    }
    const char* topic = NULL;
    return queryTopic(corvexClient_msg_getReplyTo, msg->mCorvexMsg, &topic) == CORVEXCLIENT_OK ? 1
                                                                                               : 0;
}

CORVEX_EXPORT mama_status corvexBridgeMamaMsg_setSendSubject(CorvexBridgeMsg* msg,
                                                             const char* symbol, const char*)
{
    if (msg == NULL || symbol == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    return mamaMsg_updateString(msg->mMamaMsg, MamaFieldSubscSymbol.mName,
                                MamaFieldSubscSymbol.mFid, symbol);
}

CORVEX_EXPORT mama_status corvexBridgeMamaMsg_getPlatformError(CorvexBridgeMsg*, void** error)
{
    if (error != NULL)
    {
        *error = NULL;
    }
    CORVEX_LOG(CORVEX_LOG_ERROR, "Not implemented");
    return MAMA_STATUS_NOT_IMPLEMENTED;
}

CORVEX_EXPORT mama_status corvexBridgeMamaMsg_duplicateReplyHandle(CorvexBridgeMsg* msg,
                                                                   void** result)
{
    if (msg == NULL || result == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    if (msg->mCorvexMsg == NULL)
    {
        *result = NULL;
        return MAMA_STATUS_OK;
    }

    const char* replyTopic = NULL;
    corvexClient_returnCode_t rc =
        queryTopic(corvexClient_msg_getReplyTo, msg->mCorvexMsg, &replyTopic);
    if (rc == CORVEXCLIENT_OK && !isEmpty(replyTopic))
    {
        char* copy = strdup(replyTopic);
        if (copy == NULL)
        {
            return MAMA_STATUS_NOMEM;
        }
        *result = copy;
        return MAMA_STATUS_OK;
    }

    warnNoReplyTopic(msg, rc);
    if (rc == CORVEXCLIENT_OK)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR,
                   "Error getting replyTopic in message; replyTopic: %p (%s); len: %d",
                   (const void*)replyTopic, replyTopic != NULL ? replyTopic : "",
                   replyTopic != NULL ? (int)strlen(replyTopic) : 0);
    }
    return MAMA_STATUS_INVALID_ARG;
}

CORVEX_EXPORT mama_status corvexBridgeMamaMsg_copyReplyHandle(void* src, void** dest)
{
    if (src == NULL || dest == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    char* copy = strdup((const char*)src);
    if (copy == NULL)
    {
        return MAMA_STATUS_NOMEM;
    }
    *dest = copy;
    return MAMA_STATUS_OK;
}

CORVEX_EXPORT mama_status corvexBridgeMamaMsg_destroyReplyHandle(void* handle)
{
    if (handle == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    free(handle);
    return MAMA_STATUS_OK;
}

CORVEX_EXPORT mama_status corvexBridgeMamaMsgImpl_setReplyHandle(CorvexBridgeMsg* msg, void* handle)
{
    if (msg == NULL || handle == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    CORVEX_LOG(CORVEX_LOG_ERROR, "Not implemented");
    return MAMA_STATUS_NOT_IMPLEMENTED;
}

CORVEX_EXPORT mama_status corvexBridgeMamaMsgImpl_setReplyHandleAndIncrement(CorvexBridgeMsg* msg,
                                                                             void* handle)
{
    return corvexBridgeMamaMsgImpl_setReplyHandle(msg, handle);
}
