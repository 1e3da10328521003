/* Layout of the host's message and field objects, shared by the msg*.cpp
 * modules only. */
#ifndef MAMA_MSG_PRIVATE_H
#define MAMA_MSG_PRIVATE_H

#include <string>
#include <vector>

#include "bridge.h"
#include "msgimpl.h"
#include "payloadbridge.h"

/* A payload made by mamaMsgImpl_setMsgBuffer, kept for the next buffer of the
 * same payload id so that received messages reuse it. */
struct mamaMsgCachedPayload
{
    char mId;
    mamaPayloadBridgeImpl* mBridge;
    msgPayload mPayload;
};

struct mamaMsgFieldImpl_
{
    mamaPayloadBridgeImpl* mPayloadBridge;
    msgFieldPayload mPayload;
    mamaMsg mParent;
};

struct mamaMsgImpl_
{
    mamaPayloadBridgeImpl* mPayloadBridge = nullptr;
    char mPayloadId = MAMA_PAYLOAD_ID_NULL;
    msgPayload mPayload = nullptr;
    short mMessageOwner = 0; /* 1: the message destroys mPayload */
    std::vector<mamaMsgCachedPayload> mCachedPayloads;

    mamaBridgeImpl* mBridgeImpl = nullptr;
    msgBridge mBridgeMsg = nullptr;
    mamaQueue mQueue = nullptr;

    mamaMsgStatus mStatus = MAMA_MSG_STATUS_UNKNOWN;
    mamaMsgFieldImpl_ mField = {nullptr, nullptr, nullptr}; /* handed out by getField */

    std::string mSubject;
    std::string mSymbol;
    std::string mSource;
    std::string mRoot;
};

/* The payload bridge of a message that has a payload; NULL_ARG otherwise. */
mama_status mamaMsgInternal_readable (const mamaMsg msg, mamaPayloadBridgeImpl** bridge);

/* As readable, and NOT_MODIFIABLE when the message does not own its payload
 * and property mama.message.allowmodify is false. */
mama_status mamaMsgInternal_writable (mamaMsg msg, mamaPayloadBridgeImpl** bridge);

#endif
