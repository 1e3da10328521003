/* Host messages: a payload (from a payload library) plus, for messages that
 * travel through a middleware, the bridge's part of the message. */
#include <cstdlib>
#include <new>

#include "mama/log.h"
#include "mama/msg.h"
#include "mamainternal.h"
#include "msgprivate.h"
#include "payloadregistry.h"
#include "queueimpl.h"
#include "wombat/property.h"
#include "wombat/strutils.h"

namespace
{

mamaPayloadBridgeImpl* asImpl (mamaPayloadBridge bridge)
{
    return reinterpret_cast<mamaPayloadBridgeImpl*> (bridge);
}

/* A payload library that mama_close unloaded cannot be called any more: its
 * payloads are then left alone (with a warning) rather than crash. */
void destroyPayload (mamaPayloadBridgeImpl* bridge, msgPayload payload)
{
    if (bridge == nullptr || payload == nullptr)
    {
        return;
    }
    if (!mamaPayloadRegistry_isLoaded (reinterpret_cast<mamaPayloadBridge> (bridge)))
    {
        mama_log (MAMA_LOG_LEVEL_WARN,
                  "mamaMsg: payload %p outlived its payload library; not destroyed", payload);
        return;
    }
    bridge->msgPayloadDestroy (payload);
}

/* Destroys the current payload if the message owns it. A payload that is
 * also cached leaves the cache, so it is destroyed once only. */
void releasePayload (mamaMsg msg)
{
    if (msg->mPayload != nullptr && msg->mMessageOwner)
    {
        for (auto it = msg->mCachedPayloads.begin (); it != msg->mCachedPayloads.end (); ++it)
        {
            if (it->mPayload == msg->mPayload)
            {
                msg->mCachedPayloads.erase (it);
                break;
            }
        }
        destroyPayload (msg->mPayloadBridge, msg->mPayload);
    }
    msg->mPayload = nullptr;
    msg->mMessageOwner = 0;
}

void setPayloadBridge (mamaMsg msg, mamaPayloadBridgeImpl* bridge)
{
    msg->mPayloadBridge = bridge;
    msg->mPayloadId = bridge != nullptr
                          ? mamaPayloadRegistry_getId (reinterpret_cast<mamaPayloadBridge> (bridge))
                          : MAMA_PAYLOAD_ID_NULL;
}

void adoptPayload (mamaMsg msg, msgPayload payload, short owns)
{
    msg->mPayload = payload;
    msg->mMessageOwner = owns;
    if (payload != nullptr && msg->mPayloadBridge != nullptr &&
        msg->mPayloadBridge->msgPayloadSetParent != nullptr)
    {
        msg->mPayloadBridge->msgPayloadSetParent (payload, msg);
    }
}

void destroyBridgeMsg (mamaMsg msg)
{
    if (msg->mBridgeMsg != nullptr && msg->mBridgeImpl->bridgeMamaMsgDestroy != nullptr)
    {
        msg->mBridgeImpl->bridgeMamaMsgDestroy (msg->mBridgeMsg, msg->mMessageOwner);
    }
    msg->mBridgeMsg = nullptr;
}

mamaMsgCachedPayload* findCached (mamaMsg msg, char id)
{
    for (mamaMsgCachedPayload& cached : msg->mCachedPayloads)
    {
        if (cached.mId == id)
        {
            return &cached;
        }
    }
    return nullptr;
}

bool modificationAllowed ()
{
    wproperty_t properties = mamaInternal_getProperties ();
    const char* value =
        properties != nullptr ? properties_Get (properties, "mama.message.allowmodify") : nullptr;
    return value == nullptr || strtobool (value);
}

} // namespace

mama_status mamaMsgInternal_readable (const mamaMsg msg, mamaPayloadBridgeImpl** bridge)
{
    if (msg == nullptr || msg->mPayloadBridge == nullptr || msg->mPayload == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    *bridge = msg->mPayloadBridge;
    return MAMA_STATUS_OK;
}

mama_status mamaMsgInternal_writable (mamaMsg msg, mamaPayloadBridgeImpl** bridge)
{
    mama_status status = mamaMsgInternal_readable (msg, bridge);
    if (status == MAMA_STATUS_OK && !msg->mMessageOwner && !modificationAllowed ())
    {
        return MAMA_STATUS_NOT_MODIFIABLE;
    }
    return status;
}

/* Creation and destruction */

mama_status mamaMsgImpl_createForPayload (mamaMsg* msg, msgPayload payload,
                                          mamaPayloadBridge payloadBridge, short noDeletePayload)
{
    if (msg == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    mamaMsg created = new (std::nothrow) mamaMsgImpl_ ();
    if (created == nullptr)
    {
        return MAMA_STATUS_NOMEM;
    }
    setPayloadBridge (created, asImpl (payloadBridge));
    /* despite its name, 1 makes the message the payload's owner */
    adoptPayload (created, payload, noDeletePayload);
    *msg = created;
    return MAMA_STATUS_OK;
}

mama_status mamaMsg_createForPayloadBridge (mamaMsg* msg, mamaPayloadBridge payloadBridge)
{
    if (msg == nullptr || payloadBridge == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    msgPayload payload = nullptr;
    mama_status status = asImpl (payloadBridge)->msgPayloadCreate (&payload);
    if (status != MAMA_STATUS_OK)
    {
        return status;
    }
    status = mamaMsgImpl_createForPayload (msg, payload, payloadBridge, 1);
    if (status != MAMA_STATUS_OK)
    {
        asImpl (payloadBridge)->msgPayloadDestroy (payload);
    }
    return status;
}

mama_status mamaMsg_create (mamaMsg* msg)
{
    if (msg == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    mamaPayloadBridge payloadBridge = mamaInternal_getDefaultPayload ();
    if (payloadBridge == nullptr)
    {
        return mamaMsgImpl_createForPayload (msg, nullptr, nullptr, 0);
    }
    return mamaMsg_createForPayloadBridge (msg, payloadBridge);
}

mama_status mamaMsg_createForPayload (mamaMsg* msg, const char id)
{
    if (msg == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    mamaPayloadBridge payloadBridge = mamaInternal_findPayload (id);
    if (payloadBridge == nullptr)
    {
        return MAMA_STATUS_NO_BRIDGE_IMPL;
    }
    return mamaMsg_createForPayloadBridge (msg, payloadBridge);
}

mama_status mamaMsg_createFromByteBuffer (mamaMsg* msg, const void* buffer,
                                          mama_size_t bufferLength)
{
    if (msg == nullptr || buffer == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    if (bufferLength == 0 || bufferLength > UINT32_MAX)
    {
        return MAMA_STATUS_INVALID_ARG;
    }
    mamaMsg created = nullptr;
    mama_status status = mamaMsgImpl_createForPayload (&created, nullptr, nullptr, 0);
    if (status != MAMA_STATUS_OK)
    {
        return status;
    }
    status = mamaMsgImpl_setMsgBuffer (created, buffer, static_cast<uint32_t> (bufferLength),
                                       MAMA_PAYLOAD_ID_NULL);
    if (status != MAMA_STATUS_OK)
    {
        mamaMsg_destroy (created);
        return status;
    }
    *msg = created;
    return MAMA_STATUS_OK;
}

mama_status mamaMsg_destroy (mamaMsg msg)
{
    if (msg == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    releasePayload (msg);
    for (const mamaMsgCachedPayload& cached : msg->mCachedPayloads)
    {
        destroyPayload (cached.mBridge, cached.mPayload);
    }
    if (msg->mBridgeImpl != nullptr)
    {
        destroyBridgeMsg (msg);
    }
    delete msg;
    return MAMA_STATUS_OK;
}

mama_status mamaMsg_copy (mamaMsg src, mamaMsg* copy)
{
    if (src == nullptr || copy == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    if (*copy == src)
    {
        return MAMA_STATUS_INVALID_ARG;
    }
    mamaPayloadBridgeImpl* bridge = nullptr;
    mama_status status = mamaMsgInternal_readable (src, &bridge);
    if (status != MAMA_STATUS_OK)
    {
        return status;
    }
    msgPayload payload = nullptr;
    status = bridge->msgPayloadCopy (src->mPayload, &payload);
    if (status != MAMA_STATUS_OK)
    {
        return status;
    }
    mamaMsg target = *copy;
    if (target == nullptr)
    {
        status = mamaMsgImpl_createForPayload (&target, payload,
                                               reinterpret_cast<mamaPayloadBridge> (bridge), 1);
        if (status != MAMA_STATUS_OK)
        {
            bridge->msgPayloadDestroy (payload);
            return status;
        }
    }
    else
    {
        releasePayload (target);
        setPayloadBridge (target, bridge);
        adoptPayload (target, payload, 1);
    }
    try
    {
        target->mSubject = src->mSubject;
        target->mSymbol = src->mSymbol;
        target->mSource = src->mSource;
        target->mRoot = src->mRoot;
    }
    catch (const std::bad_alloc&)
    {
        /* the fields were copied; only the subject texts are missing */
        status = MAMA_STATUS_NOMEM;
    }
    *copy = target;
    return status;
}

mama_status mamaMsg_clear (mamaMsg msg)
{
    mamaPayloadBridgeImpl* bridge = nullptr;
    mama_status status = mamaMsgInternal_writable (msg, &bridge);
    return status == MAMA_STATUS_OK ? bridge->msgPayloadClear (msg->mPayload) : status;
}

mama_status mamaMsg_applyMsg (mamaMsg dest, mamaMsg src)
{
    mamaPayloadBridgeImpl* bridge = nullptr;
    mamaPayloadBridgeImpl* srcBridge = nullptr;
    mama_status status = mamaMsgInternal_writable (dest, &bridge);
    if (status == MAMA_STATUS_OK)
    {
        status = mamaMsgInternal_readable (src, &srcBridge);
    }
    if (status != MAMA_STATUS_OK)
    {
        return status;
    }
    if (bridge != srcBridge)
    {
        /* a payload only understands its own kind of message */
        return MAMA_STATUS_INVALID_ARG;
    }
    return bridge->msgPayloadApply (dest->mPayload, src->mPayload);
}

mama_status mamaMsg_detach (mamaMsg msg)
{
    if (msg == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    if (msg->mQueue == nullptr)
    {
        mama_log (MAMA_LOG_LEVEL_ERROR, "mamaMsg_detach(): message %p was not received on a queue",
                  msg);
        return MAMA_STATUS_INVALID_QUEUE;
    }
    mama_status status = mamaQueueImpl_detachMsg (msg->mQueue, msg);
    if (status != MAMA_STATUS_OK)
    {
        return status;
    }
    msg->mQueue = nullptr;
    if (msg->mBridgeMsg != nullptr && msg->mBridgeImpl->bridgeMamaMsgDetach != nullptr)
    {
        status = msg->mBridgeImpl->bridgeMamaMsgDetach (msg->mBridgeMsg);
        if (status != MAMA_STATUS_OK)
        {
            return status;
        }
    }
    /* a received payload may read the middleware's buffer in place: the
     * detached message gets a copy of its own */
    if (msg->mPayload != nullptr && !msg->mMessageOwner)
    {
        msgPayload copy = nullptr;
        status = msg->mPayloadBridge->msgPayloadCopy (msg->mPayload, &copy);
        if (status != MAMA_STATUS_OK)
        {
            return status;
        }
        adoptPayload (msg, copy, 1);
    }
    return MAMA_STATUS_OK;
}

/* Received buffers */

mama_status mamaMsgImpl_setMsgBuffer (mamaMsg msg, const void* data, uint32_t len, char id)
{
    if (msg == nullptr || data == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    if (len == 0)
    {
        return MAMA_STATUS_INVALID_ARG;
    }
    if (id == MAMA_PAYLOAD_ID_NULL)
    {
        id = static_cast<const char*> (data)[0];
    }
    if (msg->mMessageOwner && msg->mBridgeMsg != nullptr &&
        msg->mBridgeImpl->bridgeMamaMsgDestroyMiddlewareMsg != nullptr)
    {
        msg->mBridgeImpl->bridgeMamaMsgDestroyMiddlewareMsg (msg->mBridgeMsg);
    }
    releasePayload (msg);

    mamaPayloadBridgeImpl* bridge = asImpl (mamaInternal_findPayload (id));
    if (bridge == nullptr)
    {
        return MAMA_STATUS_NO_BRIDGE_IMPL;
    }
    mamaMsgCachedPayload* cached = findCached (msg, id);
    if (cached != nullptr && cached->mBridge != bridge)
    {
        /* its library was unloaded and another took the id: nothing can free it */
        msg->mCachedPayloads.erase (msg->mCachedPayloads.begin () +
                                    (cached - msg->mCachedPayloads.data ()));
        cached = nullptr;
    }
    mama_status status = MAMA_STATUS_OK;
    msgPayload payload = nullptr;
    if (cached != nullptr)
    {
        payload = cached->mPayload;
        status = bridge->msgPayloadSetByteBuffer (
            payload, reinterpret_cast<mamaPayloadBridge> (bridge), data, len);
    }
    else
    {
        status = bridge->msgPayloadCreateFromByteBuffer (
            &payload, reinterpret_cast<mamaPayloadBridge> (bridge), data, len);
        if (status == MAMA_STATUS_OK)
        {
            try
            {
                msg->mCachedPayloads.push_back ({id, bridge, payload});
            }
            catch (const std::bad_alloc&)
            {
                bridge->msgPayloadDestroy (payload);
                return MAMA_STATUS_NOMEM;
            }
        }
    }
    if (status != MAMA_STATUS_OK)
    {
        return status;
    }
    msg->mPayloadBridge = bridge;
    msg->mPayloadId = id;
    adoptPayload (msg, payload, 0);
    return MAMA_STATUS_OK;
}

mama_status mamaMsg_setNewBuffer (mamaMsg msg, void* buffer, mama_size_t size)
{
    if (msg == nullptr || buffer == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    if (size == 0)
    {
        return MAMA_STATUS_INVALID_ARG;
    }
    mamaPayloadBridgeImpl* bridge =
        asImpl (mamaInternal_findPayload (static_cast<const char*> (buffer)[0]));
    if (bridge == nullptr)
    {
        return MAMA_STATUS_NO_BRIDGE_IMPL;
    }
    if (msg->mPayloadBridge != bridge || msg->mPayload == nullptr || !msg->mMessageOwner)
    {
        msgPayload payload = nullptr;
        mama_status status = bridge->msgPayloadCreate (&payload);
        if (status != MAMA_STATUS_OK)
        {
            return status;
        }
        releasePayload (msg);
        setPayloadBridge (msg, bridge);
        adoptPayload (msg, payload, 1);
    }
    if (bridge->msgPayloadDeserialize != nullptr)
    {
        return bridge->msgPayloadDeserialize (reinterpret_cast<mamaPayloadBridge> (bridge),
                                              msg->mPayload, buffer, size);
    }
    return bridge->msgPayloadUnSerialize (msg->mPayload, buffer, size);
}

mama_status mamaMsg_getByteBuffer (const mamaMsg msg, const void** buffer,
                                   mama_size_t* bufferLength)
{
    mamaPayloadBridgeImpl* bridge = nullptr;
    mama_status status = mamaMsgInternal_readable (msg, &bridge);
    if (status == MAMA_STATUS_OK && (buffer == nullptr || bufferLength == nullptr))
    {
        status = MAMA_STATUS_NULL_ARG;
    }
    return status == MAMA_STATUS_OK
               ? bridge->msgPayloadSerialize (msg->mPayload, buffer, bufferLength)
               : status;
}

mama_status mamaMsgImpl_getPayloadBuffer (const mamaMsg msg, const void** buffer,
                                          mama_size_t* bufferLength)
{
    mamaPayloadBridgeImpl* bridge = nullptr;
    mama_status status = mamaMsgInternal_readable (msg, &bridge);
    if (status == MAMA_STATUS_OK && (buffer == nullptr || bufferLength == nullptr))
    {
        status = MAMA_STATUS_NULL_ARG;
    }
    return status == MAMA_STATUS_OK
               ? bridge->msgPayloadGetByteBuffer (msg->mPayload, buffer, bufferLength)
               : status;
}

/* Payload bookkeeping */

mama_status mamaMsgImpl_setPayload (mamaMsg msg, msgPayload payload, short ownsPayload)
{
    if (msg == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    if (payload != msg->mPayload)
    {
        releasePayload (msg);
    }
    adoptPayload (msg, payload, ownsPayload);
    return MAMA_STATUS_OK;
}

mama_status mamaMsgImpl_getPayload (const mamaMsg msg, msgPayload* payload)
{
    if (msg == nullptr || payload == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    *payload = msg->mPayload;
    return MAMA_STATUS_OK;
}

mama_status mamaMsgImpl_setPayloadBridge (mamaMsg msg, mamaPayloadBridge payloadBridge)
{
    if (msg == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    setPayloadBridge (msg, asImpl (payloadBridge));
    return MAMA_STATUS_OK;
}

mama_status mamaMsgImpl_getPayloadId (mamaMsg msg, char* id)
{
    if (msg == nullptr || id == nullptr || msg->mPayloadBridge == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    *id = msg->mPayloadId;
    return MAMA_STATUS_OK;
}

mama_status mamaMsg_getPayloadType (mamaMsg msg, mamaPayloadType* payloadType)
{
    if (msg == nullptr || payloadType == nullptr || msg->mPayloadBridge == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    *payloadType = static_cast<mamaPayloadType> (msg->mPayloadId);
    return MAMA_STATUS_OK;
}

mama_status mamaMsgImpl_setMessageOwner (mamaMsg msg, short owner)
{
    if (msg == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    msg->mMessageOwner = owner;
    return MAMA_STATUS_OK;
}

mama_status mamaMsgImpl_getMessageOwner (mamaMsg msg, short* owner)
{
    if (msg == nullptr || owner == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    *owner = msg->mMessageOwner;
    return MAMA_STATUS_OK;
}

mama_status mamaMsgImpl_setStatus (mamaMsg msg, mamaMsgStatus status)
{
    if (msg == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    msg->mStatus = status;
    return MAMA_STATUS_OK;
}

mama_status mamaMsgImpl_getStatus (mamaMsg msg, mamaMsgStatus* status)
{
    if (msg == nullptr || status == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    *status = msg->mStatus;
    return MAMA_STATUS_OK;
}

mama_status mamaMsgImpl_setQueue (mamaMsg msg, mamaQueue queue)
{
    if (msg == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    msg->mQueue = queue;
    return MAMA_STATUS_OK;
}

mama_status mamaMsgImpl_getQueue (mamaMsg msg, mamaQueue* queue)
{
    if (msg == nullptr || queue == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    *queue = msg->mQueue;
    return MAMA_STATUS_OK;
}
