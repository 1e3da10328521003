/* The middleware's part of a message: created through the loaded bridge's
 * Msg_* functions, and the reply handles it makes. */
#include <new>

#include "mama/log.h"
#include "mama/msg.h"
#include "msgprivate.h"

namespace
{

/* The bridge part of msg, or why there is none. */
mama_status bridgePart (const mamaMsg msg, mamaBridgeImpl** bridge)
{
    if (msg == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    if (msg->mBridgeImpl == nullptr || msg->mBridgeMsg == nullptr)
    {
        return MAMA_STATUS_NO_BRIDGE_IMPL;
    }
    *bridge = msg->mBridgeImpl;
    return MAMA_STATUS_OK;
}

mama_status newReply (mamaBridgeImpl* bridge, void* handle, mamaMsgReply* result)
{
    mamaMsgReplyImpl* reply = new (std::nothrow) mamaMsgReplyImpl ();
    if (reply == nullptr)
    {
        if (bridge->bridgeMamaMsgDestroyReplyHandle != nullptr)
        {
            bridge->bridgeMamaMsgDestroyReplyHandle (handle);
        }
        return MAMA_STATUS_NOMEM;
    }
    reply->mBridgeImpl = bridge;
    reply->replyHandle = handle;
    *result = reply;
    return MAMA_STATUS_OK;
}

} // namespace

mama_status mamaMsgImpl_setBridgeImpl (mamaMsg msg, mamaBridge bridgeImpl)
{
    if (msg == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    if (bridgeImpl == nullptr)
    {
        return MAMA_STATUS_NO_BRIDGE_IMPL;
    }
    /* a second call replaces the bridge part; the old one must not leak */
    if (msg->mBridgeMsg != nullptr && msg->mBridgeImpl->bridgeMamaMsgDestroy != nullptr)
    {
        msg->mBridgeImpl->bridgeMamaMsgDestroy (msg->mBridgeMsg, 0);
    }
    msg->mBridgeMsg = nullptr;
    msg->mBridgeImpl = bridgeImpl;
    if (bridgeImpl->bridgeMamaMsgCreate == nullptr)
    {
        return MAMA_STATUS_OK;
    }
    msgBridge created = nullptr;
    mama_status status = bridgeImpl->bridgeMamaMsgCreate (&created, msg);
    if (status == MAMA_STATUS_OK)
    {
        msg->mBridgeMsg = created;
    }
    return status;
}

mama_status mamaMsgImpl_getBridgeImpl (mamaMsg msg, mamaBridge* bridgeImpl)
{
    if (msg == nullptr || bridgeImpl == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    *bridgeImpl = msg->mBridgeImpl;
    return MAMA_STATUS_OK;
}

mama_status mamaMsgImpl_getBridgeMsg (mamaMsg msg, msgBridge* bridgeMsg)
{
    if (msg == nullptr || bridgeMsg == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    if (msg->mBridgeMsg == nullptr)
    {
        return MAMA_STATUS_INVALID_ARG;
    }
    *bridgeMsg = msg->mBridgeMsg;
    return MAMA_STATUS_OK;
}

mama_status mamaMsgImpl_useBridgePayload (mamaMsg msg, mamaBridge bridgeImpl)
{
    if (msg == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    if (msg->mBridgeMsg != nullptr && msg->mBridgeImpl == bridgeImpl)
    {
        return MAMA_STATUS_OK;
    }
    return mamaMsgImpl_setBridgeImpl (msg, bridgeImpl);
}

mama_status mamaMsgImpl_setSubscInfo (mamaMsg msg, const char* root, const char* source,
                                      const char* symbol, int modifyMessage)
{
    if (msg == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    try
    {
        msg->mRoot = root != nullptr ? root : "";
        msg->mSource = source != nullptr ? source : "";
        msg->mSymbol = symbol != nullptr ? symbol : "";
        if (root != nullptr && source != nullptr)
        {
            msg->mSubject = msg->mRoot + "." + msg->mSource;
        }
        else if (source != nullptr && symbol != nullptr)
        {
            msg->mSubject = msg->mSource + "." + msg->mSymbol;
        }
        else
        {
            msg->mSubject = msg->mSymbol;
        }
    }
    catch (const std::bad_alloc&)
    {
        return MAMA_STATUS_NOMEM;
    }
    if (modifyMessage && msg->mBridgeMsg != nullptr &&
        msg->mBridgeImpl->bridgeMamaMsgSetSendSubject != nullptr)
    {
        return msg->mBridgeImpl->bridgeMamaMsgSetSendSubject (msg->mBridgeMsg, symbol,
                                                              msg->mSubject.c_str ());
    }
    return MAMA_STATUS_OK;
}

mama_status mamaMsgImpl_getSubject (const mamaMsg msg, const char** result)
{
    if (msg == nullptr || result == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    *result = msg->mSubject.c_str ();
    return MAMA_STATUS_OK;
}

int mamaMsg_isFromInbox (const mamaMsg msg)
{
    mamaBridgeImpl* bridge = nullptr;
    if (bridgePart (msg, &bridge) != MAMA_STATUS_OK || bridge->bridgeMamaMsgIsFromInbox == nullptr)
    {
        return 0;
    }
    return bridge->bridgeMamaMsgIsFromInbox (msg->mBridgeMsg);
}

mama_status mamaMsg_getNativeHandle (const mamaMsg msg, void** result)
{
    mamaBridgeImpl* bridge = nullptr;
    mama_status status = bridgePart (msg, &bridge);
    if (status != MAMA_STATUS_OK)
    {
        return status;
    }
    if (result == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    if (bridge->bridgeMamaMsgGetNativeHandle == nullptr)
    {
        return MAMA_STATUS_NOT_IMPLEMENTED;
    }
    return bridge->bridgeMamaMsgGetNativeHandle (msg->mBridgeMsg, result);
}

mama_status mamaMsg_getPlatformError (const mamaMsg msg, void** error)
{
    mamaBridgeImpl* bridge = nullptr;
    mama_status status = bridgePart (msg, &bridge);
    if (status != MAMA_STATUS_OK)
    {
        return status;
    }
    if (error == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    if (bridge->bridgeMamaMsgGetPlatformError == nullptr)
    {
        return MAMA_STATUS_NOT_IMPLEMENTED;
    }
    return bridge->bridgeMamaMsgGetPlatformError (msg->mBridgeMsg, error);
}

/* Reply handles */

mama_status mamaMsg_getReplyHandle (const mamaMsg msg, mamaMsgReply* replyHandle)
{
    if (replyHandle == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    mamaBridgeImpl* bridge = nullptr;
    mama_status status = bridgePart (msg, &bridge);
    if (status != MAMA_STATUS_OK)
    {
        return status;
    }
    if (bridge->bridgeMamaMsgDuplicateReplyHandle == nullptr)
    {
        return MAMA_STATUS_NOT_IMPLEMENTED;
    }
    void* handle = nullptr;
    status = bridge->bridgeMamaMsgDuplicateReplyHandle (msg->mBridgeMsg, &handle);
    return status == MAMA_STATUS_OK ? newReply (bridge, handle, replyHandle) : status;
}

mama_status mamaMsg_copyReplyHandle (const mamaMsgReply src, mamaMsgReply* copy)
{
    if (src == nullptr || copy == nullptr || src->mBridgeImpl == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    mamaBridgeImpl* bridge = src->mBridgeImpl;
    if (bridge->bridgeMamaMsgCopyReplyHandle == nullptr)
    {
        return MAMA_STATUS_NOT_IMPLEMENTED;
    }
    void* handle = nullptr;
    mama_status status = bridge->bridgeMamaMsgCopyReplyHandle (src->replyHandle, &handle);
    return status == MAMA_STATUS_OK ? newReply (bridge, handle, copy) : status;
}

mama_status mamaMsg_destroyReplyHandle (mamaMsgReply replyHandle)
{
    if (replyHandle == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    mama_status status = MAMA_STATUS_OK;
    mamaBridgeImpl* bridge = replyHandle->mBridgeImpl;
    if (bridge != nullptr && bridge->bridgeMamaMsgDestroyReplyHandle != nullptr &&
        replyHandle->replyHandle != nullptr)
    {
        status = bridge->bridgeMamaMsgDestroyReplyHandle (replyHandle->replyHandle);
    }
    delete replyHandle;
    return status;
}

mama_status mamaMsg_setReplyHandle (mamaMsg msg, mamaMsgReply replyHandle)
{
    if (msg == nullptr || replyHandle == nullptr || replyHandle->mBridgeImpl == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    if (msg->mBridgeMsg == nullptr)
    {
        mama_status status = mamaMsgImpl_setBridgeImpl (msg, replyHandle->mBridgeImpl);
        if (status != MAMA_STATUS_OK)
        {
            return status;
        }
    }
    mamaBridgeImpl* bridge = msg->mBridgeImpl;
    if (msg->mBridgeMsg == nullptr ||
        bridge->bridgeMamaMsgImplSetReplyHandleAndIncrement == nullptr)
    {
        return MAMA_STATUS_NOT_IMPLEMENTED;
    }
    return bridge->bridgeMamaMsgImplSetReplyHandleAndIncrement (msg->mBridgeMsg,
                                                                replyHandle->replyHandle);
}
