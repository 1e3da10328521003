/* Field access on a message: each call goes to the message's payload. */
#include "mama/msg.h"
#include "mama/reservedfields.h"
#include "msgprivate.h"

#define MAMA_MSG_WRITE(function, slot, ValueType)                                                  \
    mama_status function (mamaMsg msg, const char* name, mama_fid_t fid, ValueType value)          \
    {                                                                                              \
        mamaPayloadBridgeImpl* bridge = nullptr;                                                   \
        mama_status status = mamaMsgInternal_writable (msg, &bridge);                              \
        return status == MAMA_STATUS_OK ? bridge->slot (msg->mPayload, name, fid, value) : status; \
    }

#define MAMA_MSG_READ(function, slot, ResultType)                                                  \
    mama_status function (const mamaMsg msg, const char* name, mama_fid_t fid, ResultType result)  \
    {                                                                                              \
        mamaPayloadBridgeImpl* bridge = nullptr;                                                   \
        mama_status status = mamaMsgInternal_readable (msg, &bridge);                              \
        return status == MAMA_STATUS_OK ? bridge->slot (msg->mPayload, name, fid, result)          \
                                        : status;                                                  \
    }

#define MAMA_MSG_SCALAR(Suffix, CType)                                                             \
    MAMA_MSG_WRITE (mamaMsg_add##Suffix, msgPayloadAdd##Suffix, CType)                             \
    MAMA_MSG_WRITE (mamaMsg_update##Suffix, msgPayloadUpdate##Suffix, CType)                       \
    MAMA_MSG_READ (mamaMsg_get##Suffix, msgPayloadGet##Suffix, CType*)

MAMA_MSG_SCALAR (Bool, mama_bool_t)
MAMA_MSG_SCALAR (Char, char)
MAMA_MSG_SCALAR (I8, mama_i8_t)
MAMA_MSG_SCALAR (U8, mama_u8_t)
MAMA_MSG_SCALAR (I16, mama_i16_t)
MAMA_MSG_SCALAR (U16, mama_u16_t)
MAMA_MSG_SCALAR (I32, mama_i32_t)
MAMA_MSG_SCALAR (U32, mama_u32_t)
MAMA_MSG_SCALAR (I64, mama_i64_t)
MAMA_MSG_SCALAR (U64, mama_u64_t)
MAMA_MSG_SCALAR (F32, mama_f32_t)
MAMA_MSG_SCALAR (F64, mama_f64_t)

MAMA_MSG_WRITE (mamaMsg_addString, msgPayloadAddString, const char*)
MAMA_MSG_WRITE (mamaMsg_updateString, msgPayloadUpdateString, const char*)
MAMA_MSG_READ (mamaMsg_getString, msgPayloadGetString, const char**)

MAMA_MSG_WRITE (mamaMsg_addDateTime, msgPayloadAddDateTime, const mamaDateTime)
MAMA_MSG_WRITE (mamaMsg_updateDateTime, msgPayloadUpdateDateTime, const mamaDateTime)
MAMA_MSG_READ (mamaMsg_getDateTime, msgPayloadGetDateTime, mamaDateTime)

MAMA_MSG_WRITE (mamaMsg_addPrice, msgPayloadAddPrice, const mamaPrice)
MAMA_MSG_WRITE (mamaMsg_updatePrice, msgPayloadUpdatePrice, const mamaPrice)
MAMA_MSG_READ (mamaMsg_getPrice, msgPayloadGetPrice, mamaPrice)

mama_status mamaMsg_addOpaque (mamaMsg msg, const char* name, mama_fid_t fid, const void* value,
                               mama_size_t size)
{
    mamaPayloadBridgeImpl* bridge = nullptr;
    mama_status status = mamaMsgInternal_writable (msg, &bridge);
    return status == MAMA_STATUS_OK
               ? bridge->msgPayloadAddOpaque (msg->mPayload, name, fid, value, size)
               : status;
}

mama_status mamaMsg_updateOpaque (mamaMsg msg, const char* name, mama_fid_t fid, const void* value,
                                  mama_size_t size)
{
    mamaPayloadBridgeImpl* bridge = nullptr;
    mama_status status = mamaMsgInternal_writable (msg, &bridge);
    return status == MAMA_STATUS_OK
               ? bridge->msgPayloadUpdateOpaque (msg->mPayload, name, fid, value, size)
               : status;
}

mama_status mamaMsg_getOpaque (const mamaMsg msg, const char* name, mama_fid_t fid,
                               const void** result, mama_size_t* size)
{
    mamaPayloadBridgeImpl* bridge = nullptr;
    mama_status status = mamaMsgInternal_readable (msg, &bridge);
    return status == MAMA_STATUS_OK
               ? bridge->msgPayloadGetOpaque (msg->mPayload, name, fid, result, size)
               : status;
}

mama_status mamaMsg_getFieldAsString (const mamaMsg msg, const char* fieldName, mama_fid_t fid,
                                      char* buf, mama_size_t length)
{
    mamaPayloadBridgeImpl* bridge = nullptr;
    mama_status status = mamaMsgInternal_readable (msg, &bridge);
    return status == MAMA_STATUS_OK
               ? bridge->msgPayloadGetFieldAsString (msg->mPayload, fieldName, fid, buf, length)
               : status;
}

mama_status mamaMsg_getField (const mamaMsg msg, const char* name, mama_fid_t fid,
                              mamaMsgField* result)
{
    mamaPayloadBridgeImpl* bridge = nullptr;
    mama_status status = mamaMsgInternal_readable (msg, &bridge);
    if (status == MAMA_STATUS_OK && result == nullptr)
    {
        status = MAMA_STATUS_NULL_ARG;
    }
    msgFieldPayload field = nullptr;
    if (status == MAMA_STATUS_OK)
    {
        status = bridge->msgPayloadGetField (msg->mPayload, name, fid, &field);
    }
    if (status != MAMA_STATUS_OK)
    {
        return status;
    }
    msg->mField = {bridge, field, msg};
    *result = &msg->mField;
    return MAMA_STATUS_OK;
}

mama_status mamaMsg_iterateFields (const mamaMsg msg, mamaMsgIteratorCb callback,
                                   const mamaDictionary /* dict */, void* closure)
{
    mamaPayloadBridgeImpl* bridge = nullptr;
    mama_status status = mamaMsgInternal_readable (msg, &bridge);
    if (status == MAMA_STATUS_OK && callback == nullptr)
    {
        status = MAMA_STATUS_NULL_ARG;
    }
    if (status != MAMA_STATUS_OK)
    {
        return status;
    }
    /* its own field object: a callback may still use mamaMsg_getField */
    mamaMsgFieldImpl_ field = {bridge, nullptr, msg};
    return bridge->msgPayloadIterateFields (msg->mPayload, msg, &field, callback, closure);
}

mama_status mamaMsg_getNumFields (const mamaMsg msg, mama_size_t* numFields)
{
    mamaPayloadBridgeImpl* bridge = nullptr;
    mama_status status = mamaMsgInternal_readable (msg, &bridge);
    return status == MAMA_STATUS_OK ? bridge->msgPayloadGetNumFields (msg->mPayload, numFields)
                                    : status;
}

mama_status mamaMsg_getByteSize (const mamaMsg msg, mama_size_t* size)
{
    mamaPayloadBridgeImpl* bridge = nullptr;
    mama_status status = mamaMsgInternal_readable (msg, &bridge);
    if (status != MAMA_STATUS_OK)
    {
        return status;
    }
    if (bridge->msgPayloadGetByteSize != nullptr)
    {
        return bridge->msgPayloadGetByteSize (msg->mPayload, size);
    }
    const void* buffer = nullptr;
    return mamaMsg_getByteBuffer (msg, &buffer, size);
}

const char* mamaMsg_toString (const mamaMsg msg)
{
    mamaPayloadBridgeImpl* bridge = nullptr;
    return mamaMsgInternal_readable (msg, &bridge) == MAMA_STATUS_OK
               ? bridge->msgPayloadToString (msg->mPayload)
               : nullptr;
}

/* The text belongs to the payload, which frees it with the message. */
void mamaMsg_freeString (const mamaMsg /* msg */, const char* /* msgString */) {}

mama_status mamaMsg_getNativeMsg (mamaMsg msg, void** nativeMsg)
{
    mamaPayloadBridgeImpl* bridge = nullptr;
    mama_status status = mamaMsgInternal_readable (msg, &bridge);
    if (status != MAMA_STATUS_OK)
    {
        return status;
    }
    if (bridge->msgPayloadGetNativeMsg == nullptr)
    {
        return MAMA_STATUS_NOT_IMPLEMENTED;
    }
    return bridge->msgPayloadGetNativeMsg (msg->mPayload, nativeMsg);
}

mama_status mamaMsg_getSendSubject (const mamaMsg msg, const char** subject)
{
    mamaPayloadBridgeImpl* bridge = nullptr;
    mama_status status = mamaMsgInternal_readable (msg, &bridge);
    if (status != MAMA_STATUS_OK)
    {
        return status;
    }
    if (bridge->msgPayloadGetSendSubject == nullptr)
    {
        return MAMA_STATUS_NOT_IMPLEMENTED;
    }
    return bridge->msgPayloadGetSendSubject (msg->mPayload, subject);
}

mama_status mamaMsg_getSeqNum (const mamaMsg msg, mama_seqnum_t* seqNum)
{
    return mamaMsg_getU32 (msg, MamaFieldSeqNum.mName, MamaFieldSeqNum.mFid, seqNum);
}
