/* Fields handed out by a message: a view of one field of its payload. */
#include "mama/msgfield.h"
#include "msgprivate.h"

namespace
{

mama_status fieldPayload (const mamaMsgField field, mamaPayloadBridgeImpl** bridge)
{
    if (field == nullptr || field->mPayload == nullptr || field->mPayloadBridge == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    *bridge = field->mPayloadBridge;
    return MAMA_STATUS_OK;
}

msgPayload parentPayload (const mamaMsgField field)
{
    return field->mParent != nullptr ? field->mParent->mPayload : nullptr;
}

} // namespace

mama_status mamaMsgFieldImpl_setPayload (mamaMsgField field, msgFieldPayload payload)
{
    if (field == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    field->mPayload = payload;
    return MAMA_STATUS_OK;
}

const char* mamaFieldTypeToString (mamaFieldType type)
{
    switch (type)
    {
    case MAMA_FIELD_TYPE_MSG: return "MSG";
    case MAMA_FIELD_TYPE_OPAQUE: return "OPAQUE";
    case MAMA_FIELD_TYPE_STRING: return "STRING";
    case MAMA_FIELD_TYPE_BOOL: return "BOOL";
    case MAMA_FIELD_TYPE_CHAR: return "CHAR";
    case MAMA_FIELD_TYPE_I8: return "I8";
    case MAMA_FIELD_TYPE_U8: return "U8";
    case MAMA_FIELD_TYPE_I16: return "I16";
    case MAMA_FIELD_TYPE_U16: return "U16";
    case MAMA_FIELD_TYPE_I32: return "I32";
    case MAMA_FIELD_TYPE_U32: return "U32";
    case MAMA_FIELD_TYPE_I64: return "I64";
    case MAMA_FIELD_TYPE_U64: return "U64";
    case MAMA_FIELD_TYPE_F32: return "F32";
    case MAMA_FIELD_TYPE_F64: return "F64";
    case MAMA_FIELD_TYPE_TIME: return "TIME";
    case MAMA_FIELD_TYPE_PRICE: return "PRICE";
    case MAMA_FIELD_TYPE_VECTOR_BOOL: return "VECTOR_BOOL";
    case MAMA_FIELD_TYPE_VECTOR_CHAR: return "VECTOR_CHAR";
    case MAMA_FIELD_TYPE_VECTOR_I8: return "VECTOR_I8";
    case MAMA_FIELD_TYPE_VECTOR_U8: return "VECTOR_U8";
    case MAMA_FIELD_TYPE_VECTOR_I16: return "VECTOR_I16";
    case MAMA_FIELD_TYPE_VECTOR_U16: return "VECTOR_U16";
    case MAMA_FIELD_TYPE_VECTOR_I32: return "VECTOR_I32";
    case MAMA_FIELD_TYPE_VECTOR_U32: return "VECTOR_U32";
    case MAMA_FIELD_TYPE_VECTOR_I64: return "VECTOR_I64";
    case MAMA_FIELD_TYPE_VECTOR_U64: return "VECTOR_U64";
    case MAMA_FIELD_TYPE_VECTOR_F32: return "VECTOR_F32";
    case MAMA_FIELD_TYPE_VECTOR_F64: return "VECTOR_F64";
    case MAMA_FIELD_TYPE_VECTOR_STRING: return "VECTOR_STRING";
    case MAMA_FIELD_TYPE_VECTOR_MSG: return "VECTOR_MSG";
    case MAMA_FIELD_TYPE_VECTOR_TIME: return "VECTOR_TIME";
    case MAMA_FIELD_TYPE_VECTOR_PRICE: return "VECTOR_PRICE";
    case MAMA_FIELD_TYPE_QUANTITY: return "QUANTITY";
    case MAMA_FIELD_TYPE_COLLECTION: return "COLLECTION";
    case MAMA_FIELD_TYPE_UNKNOWN: return "UNKNOWN";
    }
    return "UNKNOWN";
}

mama_status mamaMsgField_getName (const mamaMsgField field, const char** result)
{
    mamaPayloadBridgeImpl* bridge = nullptr;
    mama_status status = fieldPayload (field, &bridge);
    return status == MAMA_STATUS_OK
               ? bridge->msgFieldPayloadGetName (field->mPayload, nullptr, nullptr, result)
               : status;
}

mama_status mamaMsgField_getFid (const mamaMsgField field, uint16_t* result)
{
    mamaPayloadBridgeImpl* bridge = nullptr;
    mama_status status = fieldPayload (field, &bridge);
    return status == MAMA_STATUS_OK
               ? bridge->msgFieldPayloadGetFid (field->mPayload, nullptr, nullptr, result)
               : status;
}

mama_status mamaMsgField_getType (const mamaMsgField field, mamaFieldType* result)
{
    mamaPayloadBridgeImpl* bridge = nullptr;
    mama_status status = fieldPayload (field, &bridge);
    return status == MAMA_STATUS_OK ? bridge->msgFieldPayloadGetType (field->mPayload, result)
                                    : status;
}

mama_status mamaMsgField_getTypeName (const mamaMsgField field, const char** result)
{
    if (result == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    mamaFieldType type = MAMA_FIELD_TYPE_UNKNOWN;
    mama_status status = mamaMsgField_getType (field, &type);
    if (status == MAMA_STATUS_OK)
    {
        *result = mamaFieldTypeToString (type);
    }
    return status;
}

mama_status mamaMsgField_getAsString (const mamaMsgField field, char* buf, mama_size_t len)
{
    mamaPayloadBridgeImpl* bridge = nullptr;
    mama_status status = fieldPayload (field, &bridge);
    return status == MAMA_STATUS_OK ? bridge->msgFieldPayloadGetAsString (
                                          field->mPayload, parentPayload (field), buf, len)
                                    : status;
}

mama_status mamaMsgField_getString (const mamaMsgField field, const char** result)
{
    mamaPayloadBridgeImpl* bridge = nullptr;
    mama_status status = fieldPayload (field, &bridge);
    return status == MAMA_STATUS_OK ? bridge->msgFieldPayloadGetString (field->mPayload, result)
                                    : status;
}

mama_status mamaMsgField_getOpaque (const mamaMsgField field, const void** result,
                                    mama_size_t* size)
{
    mamaPayloadBridgeImpl* bridge = nullptr;
    mama_status status = fieldPayload (field, &bridge);
    return status == MAMA_STATUS_OK
               ? bridge->msgFieldPayloadGetOpaque (field->mPayload, result, size)
               : status;
}

#define MAMA_MSG_FIELD_SCALAR(Suffix, CType)                                                       \
    mama_status mamaMsgField_get##Suffix (const mamaMsgField field, CType* result)                 \
    {                                                                                              \
        mamaPayloadBridgeImpl* bridge = nullptr;                                                   \
        mama_status status = fieldPayload (field, &bridge);                                        \
        return status == MAMA_STATUS_OK                                                            \
                   ? bridge->msgFieldPayloadGet##Suffix (field->mPayload, result)                  \
                   : status;                                                                       \
    }                                                                                              \
    mama_status mamaMsgField_update##Suffix (mamaMsgField field, CType value)                      \
    {                                                                                              \
        mamaPayloadBridgeImpl* bridge = nullptr;                                                   \
        mama_status status = fieldPayload (field, &bridge);                                        \
        return status == MAMA_STATUS_OK ? bridge->msgFieldPayloadUpdate##Suffix (                  \
                                              field->mPayload, parentPayload (field), value)       \
                                        : status;                                                  \
    }

MAMA_MSG_FIELD_SCALAR (Bool, mama_bool_t)
MAMA_MSG_FIELD_SCALAR (Char, char)
MAMA_MSG_FIELD_SCALAR (I8, mama_i8_t)
MAMA_MSG_FIELD_SCALAR (U8, mama_u8_t)
MAMA_MSG_FIELD_SCALAR (I16, mama_i16_t)
MAMA_MSG_FIELD_SCALAR (U16, mama_u16_t)
MAMA_MSG_FIELD_SCALAR (I32, mama_i32_t)
MAMA_MSG_FIELD_SCALAR (U32, mama_u32_t)
MAMA_MSG_FIELD_SCALAR (I64, mama_i64_t)
MAMA_MSG_FIELD_SCALAR (U64, mama_u64_t)
MAMA_MSG_FIELD_SCALAR (F32, mama_f32_t)
MAMA_MSG_FIELD_SCALAR (F64, mama_f64_t)
