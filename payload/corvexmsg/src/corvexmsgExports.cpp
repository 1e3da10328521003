/* The C entry points the host's payload loader looks up by name. */
#include <climits>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

#include "corvexmsgEntry.h"
#include <mama/dictionary.h>
#include <mama/reservedfields.h>
#include <mama/version.h>
#include <payloadbridge.h>
#include <mama/integration/msgfield.h>

namespace
{

mama_status copyText(const std::string& text, char* buffer, mama_size_t len)
{
    if (buffer == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    if (len == 0)
    {
        return MAMA_STATUS_INVALID_ARG;
    }
    const size_t n = text.size() < len - 1 ? text.size() : len - 1;
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return MAMA_STATUS_OK;
}

mama_status fieldAsString(const CorvexMsgField* f, char* buffer, mama_size_t len)
{
    return guarded(
        [&]
        {
            std::string text;
            corvexMsgFormat_value(f, &text);
            return copyText(text, buffer, len);
        });
}

/* Strings travel with a 32-bit size that includes their terminator. */
bool fitsWire(const char* value)
{
    return std::strlen(value) < UINT32_MAX;
}

mama_status setStringValue(CorvexMsgField* f, const char* value)
{
    corvexMsgField_setBytes(f, MAMA_FIELD_TYPE_STRING, value, std::strlen(value) + 1);
    return MAMA_STATUS_OK;
}

/* Per-type readers shared by the message and the field getters. */
mama_status readBool(const CorvexMsgField* f, mama_bool_t* result)
{
    uint64_t v = 0;
    mama_status status = corvexMsgField_getUnsigned(f, UINT64_MAX, &v);
    if (status == MAMA_STATUS_OK)
    {
        *result = v != 0 ? 1 : 0;
    }
    return status;
}

mama_status readChar(const CorvexMsgField* f, char* result)
{
    if (f->mType == MAMA_FIELD_TYPE_CHAR || f->mType == MAMA_FIELD_TYPE_I8)
    {
        *result = static_cast<char>(f->mValue.mSigned);
        return MAMA_STATUS_OK;
    }
    if (f->mType == MAMA_FIELD_TYPE_U8)
    {
        *result = static_cast<char>(f->mValue.mUnsigned);
        return MAMA_STATUS_OK;
    }
    return MAMA_STATUS_WRONG_FIELD_TYPE;
}

template <typename T> mama_status readSigned(const CorvexMsgField* f, T* result)
{
    int64_t v = 0;
    mama_status status = corvexMsgField_getSigned(f, std::numeric_limits<T>::min(),
                                                  std::numeric_limits<T>::max(), &v);
    if (status == MAMA_STATUS_OK)
    {
        *result = static_cast<T>(v);
    }
    return status;
}

template <typename T> mama_status readUnsigned(const CorvexMsgField* f, T* result)
{
    uint64_t v = 0;
    mama_status status = corvexMsgField_getUnsigned(f, std::numeric_limits<T>::max(), &v);
    if (status == MAMA_STATUS_OK)
    {
        *result = static_cast<T>(v);
    }
    return status;
}

mama_status readF32(const CorvexMsgField* f, mama_f32_t* result)
{
    return corvexMsgField_getF32(f, result);
}

mama_status readF64(const CorvexMsgField* f, mama_f64_t* result)
{
    return corvexMsgField_getF64(f, result);
}

mama_status readString(const CorvexMsgField* f, const char** result)
{
    if (f->mType != MAMA_FIELD_TYPE_STRING)
    {
        return MAMA_STATUS_WRONG_FIELD_TYPE;
    }
    *result = reinterpret_cast<const char*>(f->mData);
    return MAMA_STATUS_OK;
}

mama_status readOpaque(const CorvexMsgField* f, const void** result, mama_size_t* size)
{
    if (f->mType != MAMA_FIELD_TYPE_OPAQUE)
    {
        return MAMA_STATUS_WRONG_FIELD_TYPE;
    }
    *result = f->mData;
    *size = f->mSize;
    return MAMA_STATUS_OK;
}

/* Writers: the value each typed add/update stores. */
void writeBool(CorvexMsgField* f, mama_bool_t v)
{
    corvexMsgField_setUnsigned(f, MAMA_FIELD_TYPE_BOOL, v != 0 ? 1 : 0);
}
void writeChar(CorvexMsgField* f, char v)
{
    corvexMsgField_setSigned(f, MAMA_FIELD_TYPE_CHAR, static_cast<signed char>(v));
}
void writeI8(CorvexMsgField* f, mama_i8_t v)
{
    corvexMsgField_setSigned(f, MAMA_FIELD_TYPE_I8, v);
}
void writeU8(CorvexMsgField* f, mama_u8_t v)
{
    corvexMsgField_setUnsigned(f, MAMA_FIELD_TYPE_U8, v);
}
void writeI16(CorvexMsgField* f, mama_i16_t v)
{
    corvexMsgField_setSigned(f, MAMA_FIELD_TYPE_I16, v);
}
void writeU16(CorvexMsgField* f, mama_u16_t v)
{
    corvexMsgField_setUnsigned(f, MAMA_FIELD_TYPE_U16, v);
}
void writeI32(CorvexMsgField* f, mama_i32_t v)
{
    corvexMsgField_setSigned(f, MAMA_FIELD_TYPE_I32, v);
}
void writeU32(CorvexMsgField* f, mama_u32_t v)
{
    corvexMsgField_setUnsigned(f, MAMA_FIELD_TYPE_U32, v);
}
void writeI64(CorvexMsgField* f, mama_i64_t v)
{
    corvexMsgField_setSigned(f, MAMA_FIELD_TYPE_I64, v);
}
void writeU64(CorvexMsgField* f, mama_u64_t v)
{
    corvexMsgField_setUnsigned(f, MAMA_FIELD_TYPE_U64, v);
}
void writeF32(CorvexMsgField* f, mama_f32_t v)
{
    corvexMsgField_setF32(f, v);
}
void writeF64(CorvexMsgField* f, mama_f64_t v)
{
    corvexMsgField_setF64(f, v);
}

} // namespace

#define CORVEXMSG_SCALAR(Suffix, CType, read, FieldType)                                           \
    CORVEXMSG_EXPORT mama_status corvexmsgPayload_add##Suffix(msgPayload msg, const char* name,    \
                                                              mama_fid_t fid, CType value)         \
    {                                                                                              \
        return storeField(msg, name, fid, false,                                                   \
                          [&](CorvexMsgField* f) { write##Suffix(f, value); });                    \
    }                                                                                              \
    CORVEXMSG_EXPORT mama_status corvexmsgPayload_update##Suffix(msgPayload msg, const char* name, \
                                                                 mama_fid_t fid, CType value)      \
    {                                                                                              \
        return storeField<FieldType>(msg, name, fid, true,                                         \
                                     [&](CorvexMsgField* f) { write##Suffix(f, value); });         \
    }                                                                                              \
    CORVEXMSG_EXPORT mama_status corvexmsgPayload_get##Suffix(                                     \
        const msgPayload msg, const char* name, mama_fid_t fid, CType* result)                     \
    {                                                                                              \
        CorvexMsgField* f = nullptr;                                                               \
        mama_status status = findField(msg, name, fid, result, &f);                                \
        return status == MAMA_STATUS_OK ? read(f, result) : status;                                \
    }                                                                                              \
    CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_update##Suffix(                             \
        msgFieldPayload field, msgPayload /* msg */, CType value)                                  \
    {                                                                                              \
        if (field == nullptr)                                                                      \
        {                                                                                          \
            return MAMA_STATUS_NULL_ARG;                                                           \
        }                                                                                          \
        return updateField<FieldType>(asField(field), FieldType,                                   \
                                      [&](CorvexMsgField* f) { write##Suffix(f, value); });        \
    }                                                                                              \
    CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_get##Suffix(const msgFieldPayload field,    \
                                                                   CType* result)                  \
    {                                                                                              \
        if (field == nullptr || result == nullptr)                                                 \
        {                                                                                          \
            return MAMA_STATUS_NULL_ARG;                                                           \
        }                                                                                          \
        mama_status status = checkFieldRead(asField(field));                                       \
        return status == MAMA_STATUS_OK ? read(asField(field), result) : status;                   \
    }

CORVEXMSG_SCALAR(Bool, mama_bool_t, readBool, MAMA_FIELD_TYPE_BOOL)
CORVEXMSG_SCALAR(Char, char, readChar, MAMA_FIELD_TYPE_CHAR)
CORVEXMSG_SCALAR(I8, mama_i8_t, readSigned, MAMA_FIELD_TYPE_I8)
CORVEXMSG_SCALAR(U8, mama_u8_t, readUnsigned, MAMA_FIELD_TYPE_U8)
CORVEXMSG_SCALAR(I16, mama_i16_t, readSigned, MAMA_FIELD_TYPE_I16)
CORVEXMSG_SCALAR(U16, mama_u16_t, readUnsigned, MAMA_FIELD_TYPE_U16)
CORVEXMSG_SCALAR(I32, mama_i32_t, readSigned, MAMA_FIELD_TYPE_I32)
CORVEXMSG_SCALAR(U32, mama_u32_t, readUnsigned, MAMA_FIELD_TYPE_U32)
CORVEXMSG_SCALAR(I64, mama_i64_t, readSigned, MAMA_FIELD_TYPE_I64)
CORVEXMSG_SCALAR(U64, mama_u64_t, readUnsigned, MAMA_FIELD_TYPE_U64)
CORVEXMSG_SCALAR(F32, mama_f32_t, readF32, MAMA_FIELD_TYPE_F32)
CORVEXMSG_SCALAR(F64, mama_f64_t, readF64, MAMA_FIELD_TYPE_F64)

/* Message life cycle */

CORVEXMSG_EXPORT mama_status corvexmsgPayload_init(mamaPayloadBridge /* bridge */, char* identifier)
{
    if (identifier == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    *identifier = CORVEXMSG_PAYLOAD_ID;
    /* write-once: a reload after mama_close finds it already set, which is fine */
    MAMA_SET_BRIDGE_COMPILE_TIME_VERSION("corvexmsg");
    return MAMA_STATUS_OK;
}

/* The host still looks this up by its deprecated type. */
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
CORVEXMSG_EXPORT mamaPayloadType corvexmsgPayload_getType(void)
{
    return static_cast<mamaPayloadType>(CORVEXMSG_PAYLOAD_ID);
}
#pragma GCC diagnostic pop

CORVEXMSG_EXPORT mama_status corvexmsgPayload_create(msgPayload* msg)
{
    if (msg == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    CorvexMsgPayload* m = new (std::nothrow) CorvexMsgPayload();
    if (m == nullptr)
    {
        return MAMA_STATUS_NOMEM;
    }
    *msg = m;
    return MAMA_STATUS_OK;
}

CORVEXMSG_EXPORT mama_status corvexmsgPayload_destroy(msgPayload msg)
{
    if (msg == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    delete asMsg(msg);
    return MAMA_STATUS_OK;
}

CORVEXMSG_EXPORT mama_status corvexmsgPayload_copy(const msgPayload msg, msgPayload* copy)
{
    if (msg == nullptr || copy == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    if (*copy == msg)
    {
        return MAMA_STATUS_INVALID_ARG;
    }
    return guarded(
        [&]
        {
            CorvexMsgPayload* target = *copy != nullptr ? asMsg(*copy) : new CorvexMsgPayload();
            if (*copy != nullptr)
            {
                corvexMsgPayload_touch(target);
                target->mFields.clear();
            }
            try
            {
                corvexMsgPayload_copyFields(target, asMsg(msg), false);
            }
            catch (...)
            {
                if (*copy == nullptr)
                {
                    delete target;
                }
                throw;
            }
            *copy = target;
            return MAMA_STATUS_OK;
        });
}

CORVEXMSG_EXPORT mama_status corvexmsgPayload_clear(msgPayload msg)
{
    if (msg == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    return guarded(
        [&]
        {
            CorvexMsgPayload* m = asMsg(msg);
            if (m->mContainer != nullptr)
            {
                /* a sub-message: the messages holding it change with it */
                corvexMsgPayload_touch(m);
            }
            m->mWire = nullptr;
            m->mWireLen = 0;
            m->mEncodedValid = false;
            m->mFields.clear();
            return MAMA_STATUS_OK;
        });
}

CORVEXMSG_EXPORT mama_status corvexmsgPayload_setParent(msgPayload msg, const mamaMsg parent)
{
    if (msg == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    asMsg(msg)->mParent = parent;
    return MAMA_STATUS_OK;
}

CORVEXMSG_EXPORT mama_status corvexmsgPayload_apply(msgPayload dest, const msgPayload src)
{
    if (dest == nullptr || src == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    if (dest == src)
    {
        return MAMA_STATUS_OK;
    }
    return guarded(
        [&]
        {
            corvexMsgPayload_touch(asMsg(dest));
            corvexMsgPayload_copyFields(asMsg(dest), asMsg(src), true);
            return MAMA_STATUS_OK;
        });
}

/* Whole message */

CORVEXMSG_EXPORT mama_status corvexmsgPayload_serialize(const msgPayload msg, const void** buffer,
                                                        mama_size_t* bufferLength)
{
    if (msg == nullptr || buffer == nullptr || bufferLength == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    return guarded([&] { return corvexMsgCodec_encode(asMsg(msg), buffer, bufferLength); });
}

CORVEXMSG_EXPORT mama_status corvexmsgPayload_getByteBuffer(const msgPayload msg,
                                                            const void** buffer,
                                                            mama_size_t* bufferLength)
{
    return corvexmsgPayload_serialize(msg, buffer, bufferLength);
}

CORVEXMSG_EXPORT mama_status corvexmsgPayload_getByteSize(msgPayload msg, mama_size_t* size)
{
    const void* buffer = nullptr;
    return corvexmsgPayload_serialize(msg, &buffer, size);
}

/* Copies the bytes: the caller of unSerialize keeps its buffer. */
CORVEXMSG_EXPORT mama_status corvexmsgPayload_unSerialize(const msgPayload msg, const void* buffer,
                                                          mama_size_t bufferLength)
{
    if (msg == nullptr || buffer == nullptr || bufferLength == 0)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    return guarded(
        [&]
        {
            mama_status status = corvexMsgCodec_decode(asMsg(msg), buffer, bufferLength);
            if (status == MAMA_STATUS_OK)
            {
                corvexMsgPayload_own(asMsg(msg));
            }
            return status;
        });
}

/* Reads the bytes in place: they must outlive the message or its next change. */
CORVEXMSG_EXPORT mama_status corvexmsgPayload_setByteBuffer(const msgPayload msg,
                                                            mamaPayloadBridge /* bridge */,
                                                            const void* buffer,
                                                            mama_size_t bufferLength)
{
    if (msg == nullptr || buffer == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    return guarded([&] { return corvexMsgCodec_decode(asMsg(msg), buffer, bufferLength); });
}

CORVEXMSG_EXPORT mama_status corvexmsgPayload_createFromByteBuffer(msgPayload* msg,
                                                                   mamaPayloadBridge bridge,
                                                                   const void* buffer,
                                                                   mama_size_t bufferLength)
{
    if (msg == nullptr || buffer == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    if (bufferLength == 0)
    {
        return MAMA_STATUS_INVALID_ARG;
    }
    msgPayload created = nullptr;
    mama_status status = corvexmsgPayload_create(&created);
    if (status != MAMA_STATUS_OK)
    {
        return status;
    }
    status = corvexmsgPayload_setByteBuffer(created, bridge, buffer, bufferLength);
    if (status != MAMA_STATUS_OK)
    {
        corvexmsgPayload_destroy(created);
        return status;
    }
    *msg = created;
    return MAMA_STATUS_OK;
}

CORVEXMSG_EXPORT mama_status corvexmsgPayload_getNumFields(const msgPayload msg,
                                                           mama_size_t* numFields)
{
    if (msg == nullptr || numFields == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    *numFields = asMsg(msg)->mFields.size();
    return MAMA_STATUS_OK;
}

CORVEXMSG_EXPORT mama_status corvexmsgPayload_getSendSubject(const msgPayload msg,
                                                             const char** subject)
{
    CorvexMsgField* f = nullptr;
    mama_status status =
        findField(msg, MamaFieldSubscSymbol.mName, MamaFieldSubscSymbol.mFid, subject, &f);
    return status == MAMA_STATUS_OK ? readString(f, subject) : status;
}

CORVEXMSG_EXPORT mama_status corvexmsgPayload_getNativeMsg(const msgPayload msg, void** nativeMsg)
{
    if (msg == nullptr || nativeMsg == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    *nativeMsg = msg;
    return MAMA_STATUS_OK;
}

CORVEXMSG_EXPORT const char* corvexmsgPayload_toString(const msgPayload msg)
{
    if (msg == nullptr)
    {
        return nullptr;
    }
    try
    {
        return corvexMsgFormat_message(asMsg(msg));
    }
    catch (...)
    {
        return nullptr;
    }
}

CORVEXMSG_EXPORT mama_status corvexmsgPayload_getFieldAsString(const msgPayload msg,
                                                               const char* name, mama_fid_t fid,
                                                               char* buffer, mama_size_t len)
{
    CorvexMsgField* f = nullptr;
    mama_status status = findField(msg, name, fid, buffer, &f);
    return status == MAMA_STATUS_OK ? fieldAsString(f, buffer, len) : status;
}

CORVEXMSG_EXPORT mama_status corvexmsgPayload_iterateFields(const msgPayload msg,
                                                            const mamaMsg parent,
                                                            mamaMsgField field,
                                                            mamaMsgIteratorCb cb, void* closure)
{
    if (msg == nullptr || field == nullptr || cb == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    CorvexMsgPayload* m = asMsg(msg);
    /* by index: a callback that adds fields must not invalidate the walk */
    for (size_t i = 0; i < m->mFields.size(); ++i)
    {
        mamaMsgFieldImpl_setPayload(field, &m->mFields[i]);
        cb(parent, field, closure);
    }
    return MAMA_STATUS_OK;
}

CORVEXMSG_EXPORT mama_status corvexmsgPayload_getField(const msgPayload msg, const char* name,
                                                       mama_fid_t fid, msgFieldPayload* result)
{
    CorvexMsgField* f = nullptr;
    mama_status status = findField(msg, name, fid, result, &f);
    if (status == MAMA_STATUS_OK)
    {
        *result = f;
    }
    return status;
}

/* Strings and opaque values */

CORVEXMSG_EXPORT mama_status corvexmsgPayload_addString(msgPayload msg, const char* name,
                                                        mama_fid_t fid, const char* value)
{
    if (value == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    if (!fitsWire(value))
    {
        return MAMA_STATUS_INVALID_ARG;
    }
    return storeField(msg, name, fid, false, [&](CorvexMsgField* f) { setStringValue(f, value); });
}

CORVEXMSG_EXPORT mama_status corvexmsgPayload_updateString(msgPayload msg, const char* name,
                                                           mama_fid_t fid, const char* value)
{
    if (value == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    if (!fitsWire(value))
    {
        return MAMA_STATUS_INVALID_ARG;
    }
    return storeField(msg, name, fid, true, [&](CorvexMsgField* f) { setStringValue(f, value); });
}

CORVEXMSG_EXPORT mama_status corvexmsgPayload_getString(const msgPayload msg, const char* name,
                                                        mama_fid_t fid, const char** result)
{
    CorvexMsgField* f = nullptr;
    mama_status status = findField(msg, name, fid, result, &f);
    return status == MAMA_STATUS_OK ? readString(f, result) : status;
}

static mama_status storeOpaque(msgPayload msg, const char* name, mama_fid_t fid, const void* value,
                               mama_size_t size, bool update)
{
    if (value == nullptr && size != 0)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    if (size > UINT32_MAX)
    {
        return MAMA_STATUS_INVALID_ARG;
    }
    return storeField(msg, name, fid, update,
                      [&](CorvexMsgField* f)
                      { corvexMsgField_setBytes(f, MAMA_FIELD_TYPE_OPAQUE, value, size); });
}

CORVEXMSG_EXPORT mama_status corvexmsgPayload_addOpaque(msgPayload msg, const char* name,
                                                        mama_fid_t fid, const void* value,
                                                        mama_size_t size)
{
    return storeOpaque(msg, name, fid, value, size, false);
}

CORVEXMSG_EXPORT mama_status corvexmsgPayload_updateOpaque(msgPayload msg, const char* name,
                                                           mama_fid_t fid, const void* value,
                                                           mama_size_t size)
{
    return storeOpaque(msg, name, fid, value, size, true);
}

CORVEXMSG_EXPORT mama_status corvexmsgPayload_getOpaque(const msgPayload msg, const char* name,
                                                        mama_fid_t fid, const void** result,
                                                        mama_size_t* size)
{
    if (size == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    CorvexMsgField* f = nullptr;
    mama_status status = findField(msg, name, fid, result, &f);
    return status == MAMA_STATUS_OK ? readOpaque(f, result, size) : status;
}

/* Field iterator */

CORVEXMSG_EXPORT mama_status corvexmsgPayloadIter_create(msgPayloadIter* iter, msgPayload msg)
{
    if (iter == nullptr || msg == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    CorvexMsgIter* it = new (std::nothrow) CorvexMsgIter();
    if (it == nullptr)
    {
        return MAMA_STATUS_NOMEM;
    }
    it->mMsg = asMsg(msg);
    *iter = it;
    return MAMA_STATUS_OK;
}

/* next hands out the field at the position and moves on; begin goes back to
 * the first field without moving, so the next next hands it out again. */
CORVEXMSG_EXPORT msgFieldPayload corvexmsgPayloadIter_next(msgPayloadIter iter,
                                                           msgFieldPayload /* field */,
                                                           msgPayload msg)
{
    CorvexMsgIter* it = static_cast<CorvexMsgIter*>(iter);
    if (it == nullptr || msg == nullptr || it->mMsg == nullptr ||
        it->mNext >= it->mMsg->mFields.size())
    {
        return nullptr;
    }
    return &it->mMsg->mFields[it->mNext++];
}

CORVEXMSG_EXPORT mama_bool_t corvexmsgPayloadIter_hasNext(msgPayloadIter iter, msgPayload msg)
{
    CorvexMsgIter* it = static_cast<CorvexMsgIter*>(iter);
    return it != nullptr && msg != nullptr && it->mMsg != nullptr &&
                   it->mNext < it->mMsg->mFields.size()
               ? 1
               : 0;
}

CORVEXMSG_EXPORT msgFieldPayload corvexmsgPayloadIter_begin(msgPayloadIter iter,
                                                            msgFieldPayload /* field */,
                                                            msgPayload msg)
{
    CorvexMsgIter* it = static_cast<CorvexMsgIter*>(iter);
    if (it == nullptr || msg == nullptr || it->mMsg == nullptr || it->mMsg->mFields.empty())
    {
        return nullptr;
    }
    it->mNext = 0;
    return &it->mMsg->mFields[0];
}

CORVEXMSG_EXPORT msgFieldPayload corvexmsgPayloadIter_end(msgPayloadIter /* iter */,
                                                          msgPayload /* msg */)
{
    return nullptr;
}

CORVEXMSG_EXPORT mama_status corvexmsgPayloadIter_associate(msgPayloadIter iter, msgPayload msg)
{
    if (iter == nullptr || msg == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    CorvexMsgIter* it = static_cast<CorvexMsgIter*>(iter);
    it->mMsg = asMsg(msg);
    it->mNext = 0;
    return MAMA_STATUS_OK;
}

CORVEXMSG_EXPORT mama_status corvexmsgPayloadIter_destroy(msgPayloadIter iter)
{
    if (iter == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    delete static_cast<CorvexMsgIter*>(iter);
    return MAMA_STATUS_OK;
}

/* Fields */

CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_create(msgFieldPayload* field)
{
    if (field == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    CorvexMsgField* f = new (std::nothrow) CorvexMsgField();
    if (f == nullptr)
    {
        return MAMA_STATUS_NOMEM;
    }
    *field = f;
    return MAMA_STATUS_OK;
}

/* Fields inside a message belong to it; only standalone ones are freed here. */
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_destroy(msgFieldPayload field)
{
    if (field == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    if (asField(field)->mMsg == nullptr)
    {
        delete asField(field);
    }
    return MAMA_STATUS_OK;
}

CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getName(msgFieldPayload field,
                                                           mamaDictionary /* dict */,
                                                           mamaFieldDescriptor /* desc */,
                                                           const char** result)
{
    if (field == nullptr || result == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    *result = asField(field)->mName;
    return MAMA_STATUS_OK;
}

CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getFid(const msgFieldPayload field,
                                                          mamaDictionary /* dict */,
                                                          mamaFieldDescriptor /* desc */,
                                                          uint16_t* result)
{
    if (field == nullptr || result == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    *result = asField(field)->mFid;
    return MAMA_STATUS_OK;
}

/* Fields carry their own names and fids; a descriptor is the dictionary's. */
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getDescriptor(const msgFieldPayload field,
                                                                 mamaDictionary dict,
                                                                 mamaFieldDescriptor* result)
{
    if (field == nullptr || dict == nullptr || result == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    const CorvexMsgField* f = asField(field);
    *result = nullptr;
    if (f->mFid != 0)
    {
        mamaDictionary_getFieldDescriptorByFid(dict, result, f->mFid);
    }
    if (*result == nullptr && f->mName != nullptr)
    {
        mamaDictionary_getFieldDescriptorByName(dict, result, f->mName);
    }
    return *result != nullptr ? MAMA_STATUS_OK : MAMA_STATUS_NOT_FOUND;
}

CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getType(const msgFieldPayload field,
                                                           mamaFieldType* result)
{
    if (field == nullptr || result == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    *result = asField(field)->mType;
    return MAMA_STATUS_OK;
}

CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_updateString(msgFieldPayload field,
                                                                msgPayload /* msg */,
                                                                const char* value)
{
    if (field == nullptr || value == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    if (!fitsWire(value))
    {
        return MAMA_STATUS_INVALID_ARG;
    }
    return updateField(asField(field), MAMA_FIELD_TYPE_STRING,
                       [&](CorvexMsgField* f) { setStringValue(f, value); });
}

CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getString(const msgFieldPayload field,
                                                             const char** result)
{
    if (field == nullptr || result == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    mama_status status = checkFieldRead(asField(field));
    return status == MAMA_STATUS_OK ? readString(asField(field), result) : status;
}

CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getOpaque(const msgFieldPayload field,
                                                             const void** result, mama_size_t* size)
{
    if (field == nullptr || result == nullptr || size == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    mama_status status = checkFieldRead(asField(field));
    return status == MAMA_STATUS_OK ? readOpaque(asField(field), result, size) : status;
}

CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getAsString(const msgFieldPayload field,
                                                               const msgPayload /* msg */,
                                                               char* buffer, mama_size_t len)
{
    if (field == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    return fieldAsString(asField(field), buffer, len);
}
