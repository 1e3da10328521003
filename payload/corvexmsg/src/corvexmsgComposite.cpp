/* The C entry points for prices, date-times, sub-messages and vectors. */
#include <cstdint>
#include <cstring>
#include <utility>

#include "corvexmsgEntry.h"
#include <mama/datetime.h>
#include <mama/price.h>
#include <mama/integration/msg.h>

namespace
{

CorvexMsgPrice priceFromHost(const mamaPrice price)
{
    CorvexMsgPrice value;
    mamaPriceHints hints = 0;
    mamaPrice_getValue(price, &value.mValue);
    mamaPrice_getHints(price, &hints);
    value.mHints = hints;
    return value;
}

void priceToHost(const CorvexMsgPrice& value, mamaPrice price)
{
    mamaPrice_setValue(price, value.mValue);
    mamaPrice_setHints(price, value.mHints);
}

CorvexMsgTime timeFromHost(const mamaDateTime time)
{
    CorvexMsgTime value;
    mamaDateTimePrecision precision = MAMA_DATE_TIME_PREC_UNKNOWN;
    mamaDateTimeHints hints = 0;
    mamaDateTime_getEpochTimeExt(time, &value.mSeconds, &value.mNanoseconds);
    mamaDateTime_getPrecision(time, &precision);
    mamaDateTime_getHints(time, &hints);
    value.mPrecision = static_cast<uint8_t>(precision);
    value.mHints = hints;
    return value;
}

void timeToHost(const CorvexMsgTime& value, mamaDateTime time)
{
    mamaDateTime_setEpochTimeExt(time, value.mSeconds, value.mNanoseconds);
    mamaDateTime_setPrecision(time, static_cast<mamaDateTimePrecision>(value.mPrecision));
    mamaDateTime_setHints(time, value.mHints);
}

/* A price may also be read from a number. */
mama_status readPrice(const CorvexMsgField* f, mamaPrice result)
{
    double value = 0;
    switch (f->mType)
    {
    case MAMA_FIELD_TYPE_PRICE:
        priceToHost(f->mPrice, result);
        return MAMA_STATUS_OK;
    case MAMA_FIELD_TYPE_CHAR:
    case MAMA_FIELD_TYPE_BOOL:
        return MAMA_STATUS_WRONG_FIELD_TYPE;
    default:
        if (corvexMsgField_getF64(f, &value) != MAMA_STATUS_OK)
        {
            return MAMA_STATUS_WRONG_FIELD_TYPE;
        }
        mamaPrice_clear(result);
        mamaPrice_setValue(result, value);
        return MAMA_STATUS_OK;
    }
}

/* A date-time may also be read from its text, from seconds since the epoch
 * (F32/F64) or from microseconds since the epoch (I64/U64). */
mama_status readTime(const CorvexMsgField* f, mamaDateTime result)
{
    switch (f->mType)
    {
    case MAMA_FIELD_TYPE_TIME:
        timeToHost(f->mTime, result);
        return MAMA_STATUS_OK;
    case MAMA_FIELD_TYPE_STRING:
        return mamaDateTime_setFromString(result, reinterpret_cast<const char*>(f->mData)) ==
                       MAMA_STATUS_OK
                   ? MAMA_STATUS_OK
                   : MAMA_STATUS_WRONG_FIELD_TYPE;
    case MAMA_FIELD_TYPE_F32:
    case MAMA_FIELD_TYPE_F64:
    {
        double seconds = 0;
        corvexMsgField_getF64(f, &seconds);
        return mamaDateTime_setEpochTimeF64(result, seconds);
    }
    case MAMA_FIELD_TYPE_I64:
    case MAMA_FIELD_TYPE_U64:
    {
        uint64_t micros = 0;
        if (corvexMsgField_getUnsigned(f, UINT64_MAX, &micros) != MAMA_STATUS_OK)
        {
            return MAMA_STATUS_WRONG_FIELD_TYPE;
        }
        return mamaDateTime_setEpochTimeMicroseconds(result, micros);
    }
    default:
        return MAMA_STATUS_WRONG_FIELD_TYPE;
    }
}

/* A field found by name/fid and checked to hold `type`. */
mama_status findTyped(const msgPayload msg, const char* name, mama_fid_t fid, const void* result,
                      mamaFieldType type, CorvexMsgField** field)
{
    mama_status status = findField(msg, name, fid, result, field);
    if (status == MAMA_STATUS_OK && (*field)->mType != type)
    {
        status = MAMA_STATUS_WRONG_FIELD_TYPE;
    }
    return status;
}

/* The payload of a host message, as a copy this payload can keep. */
mama_status payloadOf(const mamaMsg msg, std::unique_ptr<CorvexMsgPayload>* copy)
{
    if (msg == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    msgPayload payload = nullptr;
    char id = 0;
    if (mamaMsgImpl_getPayloadId(msg, &id) != MAMA_STATUS_OK || id != CORVEXMSG_PAYLOAD_ID ||
        mamaMsgImpl_getPayload(msg, &payload) != MAMA_STATUS_OK || payload == nullptr)
    {
        return MAMA_STATUS_WRONG_FIELD_TYPE;
    }
    return guarded(
        [&]
        {
            *copy = corvexMsgPayload_clone(asMsg(payload));
            return MAMA_STATUS_OK;
        });
}

mama_status storeMsgs(msgPayload msg, const char* name, mama_fid_t fid, bool update,
                      mamaFieldType type, const mamaMsg* values, mama_size_t size)
{
    if (values == nullptr && (size != 0 || type == MAMA_FIELD_TYPE_MSG))
    {
        return MAMA_STATUS_NULL_ARG;
    }
    if (size > UINT32_MAX)
    {
        return MAMA_STATUS_INVALID_ARG;
    }
    /* copied first: a message may be added to itself */
    std::vector<std::unique_ptr<CorvexMsgPayload>> msgs;
    for (mama_size_t i = 0; i < size; ++i)
    {
        std::unique_ptr<CorvexMsgPayload> copy;
        mama_status status = payloadOf(values[i], &copy);
        if (status != MAMA_STATUS_OK)
        {
            return status;
        }
        msgs.push_back(std::move(copy));
    }
    return storeField(msg, name, fid, update,
                      [&](CorvexMsgField* f) { corvexMsgField_setMsgs(f, type, std::move(msgs)); });
}

/* The elements come as a copy made before anything changes: they may lie in
 * the message itself (a vector read from it), where a change could free them. */
mama_status storeVector(msgPayload msg, const char* name, mama_fid_t fid, bool update,
                        mamaFieldType type, mama_size_t count, std::string elements)
{
    return storeField(
        msg, name, fid, update,
        [&](CorvexMsgField* f)
        { corvexMsgField_setVector(f, type, static_cast<uint32_t>(count), std::move(elements)); });
}

/* The wire form of fixed-size host values: their own bytes (little-endian). */
template <typename T>
mama_status storeValues(msgPayload msg, const char* name, mama_fid_t fid, bool update,
                        mamaFieldType type, const T* values, mama_size_t size)
{
    if (values == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    if (size > UINT32_MAX / sizeof(T))
    {
        return MAMA_STATUS_INVALID_ARG;
    }
    return guarded(
        [&]
        {
            std::string elements(reinterpret_cast<const char*>(values), size * sizeof(T));
            return storeVector(msg, name, fid, update, type, size, std::move(elements));
        });
}

mama_status storeStrings(msgPayload msg, const char* name, mama_fid_t fid, bool update,
                         const char** values, mama_size_t size)
{
    if (values == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    return guarded(
        [&]
        {
            std::string elements;
            for (mama_size_t i = 0; i < size; ++i)
            {
                if (values[i] == nullptr)
                {
                    return MAMA_STATUS_NULL_ARG;
                }
                const size_t length = std::strlen(values[i]) + 1;
                if (length > UINT32_MAX - elements.size() - 4)
                {
                    return MAMA_STATUS_INVALID_ARG;
                }
                uint8_t prefix[4];
                corvexMsg_store(prefix, static_cast<uint32_t>(length));
                elements.append(reinterpret_cast<const char*>(prefix), sizeof prefix);
                elements.append(values[i], length);
            }
            return storeVector(msg, name, fid, update, MAMA_FIELD_TYPE_VECTOR_STRING, size,
                               std::move(elements));
        });
}

template <typename Handle, typename Write>
mama_status storeHandles(msgPayload msg, const char* name, mama_fid_t fid, bool update,
                         mamaFieldType type, const Handle* values, mama_size_t size, Write&& write)
{
    if (values == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    if (size > UINT32_MAX / CORVEXMSG_TIME_SIZE)
    {
        return MAMA_STATUS_INVALID_ARG;
    }
    return guarded(
        [&]
        {
            std::string elements(size * corvexMsg_elementSize(type), '\0');
            uint8_t* out = reinterpret_cast<uint8_t*>(&elements[0]);
            for (mama_size_t i = 0; i < size; ++i)
            {
                if (values[i] == nullptr)
                {
                    return MAMA_STATUS_NULL_ARG;
                }
                out = write(out, values[i]);
            }
            return storeVector(msg, name, fid, update, type, size, std::move(elements));
        });
}

/* Every vector read goes through the field's view. */
template <typename Result, typename Pick>
mama_status readVector(CorvexMsgField* f, mamaFieldType type, Result* result, mama_size_t* size,
                       Pick&& pick)
{
    if (f->mType == MAMA_FIELD_TYPE_UNKNOWN)
    {
        return MAMA_STATUS_INVALID_ARG;
    }
    if (f->mType != type)
    {
        return MAMA_STATUS_WRONG_FIELD_TYPE;
    }
    return guarded(
        [&]
        {
            CorvexMsgVectorView* view = corvexMsgField_view(f);
            if (view == nullptr)
            {
                return MAMA_STATUS_NOMEM;
            }
            *result = pick(view);
            *size = f->mCount;
            return MAMA_STATUS_OK;
        });
}

/* A vector of a message, found by name/fid. */
template <typename Result, typename Pick>
mama_status getVector(const msgPayload msg, const char* name, mama_fid_t fid, mamaFieldType type,
                      Result* result, mama_size_t* size, Pick&& pick)
{
    if (size == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    CorvexMsgField* f = nullptr;
    mama_status status = findField(msg, name, fid, result, &f);
    return status != MAMA_STATUS_OK ? status : readVector(f, type, result, size, pick);
}

/* A vector of a field the host hands over. */
template <typename Result, typename Pick>
mama_status getFieldVector(const msgFieldPayload field, mamaFieldType type, Result* result,
                           mama_size_t* size, Pick&& pick)
{
    if (field == nullptr || result == nullptr || size == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    return readVector(asField(field), type, result, size, pick);
}

/* For vectors of prices and date-times the host passes the address of its
 * array pointer under the element's handle type. */
template <typename Handle> const Handle** handleArrayOut(const Handle* result)
{
    return static_cast<const Handle**>(static_cast<void*>(const_cast<Handle*>(result)));
}

} // namespace

/* Prices and date-times: the host hands both over as handles, and their
 * entry points differ only in the field type and in how a value is taken
 * from the handle and given back. */

namespace
{
struct PriceKind
{
    using Handle = mamaPrice;
    static constexpr mamaFieldType kType = MAMA_FIELD_TYPE_PRICE;
    static void set(CorvexMsgField* f, const mamaPrice value)
    {
        corvexMsgField_setPrice(f, priceFromHost(value));
    }
    static mama_status read(const CorvexMsgField* f, mamaPrice result)
    {
        return readPrice(f, result);
    }
};

struct TimeKind
{
    using Handle = mamaDateTime;
    static constexpr mamaFieldType kType = MAMA_FIELD_TYPE_TIME;
    static void set(CorvexMsgField* f, const mamaDateTime value)
    {
        corvexMsgField_setTime(f, timeFromHost(value));
    }
    static mama_status read(const CorvexMsgField* f, mamaDateTime result)
    {
        return readTime(f, result);
    }
};

template <typename Kind>
mama_status storeHandle(msgPayload msg, const char* name, mama_fid_t fid, bool update,
                        const typename Kind::Handle value)
{
    if (value == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    return storeField(msg, name, fid, update, [&](CorvexMsgField* f) { Kind::set(f, value); });
}

template <typename Kind>
mama_status getHandle(const msgPayload msg, const char* name, mama_fid_t fid,
                      typename Kind::Handle result)
{
    CorvexMsgField* f = nullptr;
    mama_status status = findField(msg, name, fid, result, &f);
    return status == MAMA_STATUS_OK ? Kind::read(f, result) : status;
}

template <typename Kind>
mama_status updateFieldHandle(msgFieldPayload field, const typename Kind::Handle value)
{
    if (field == nullptr || value == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    return updateField(asField(field), Kind::kType,
                       [&](CorvexMsgField* f) { Kind::set(f, value); });
}

template <typename Kind>
mama_status getFieldHandle(const msgFieldPayload field, typename Kind::Handle result)
{
    if (field == nullptr || result == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    mama_status status = checkFieldRead(asField(field));
    return status == MAMA_STATUS_OK ? Kind::read(asField(field), result) : status;
}
} // namespace

CORVEXMSG_EXPORT mama_status corvexmsgPayload_addPrice(msgPayload msg, const char* name,
                                                       mama_fid_t fid, const mamaPrice value)
{
    return storeHandle<PriceKind>(msg, name, fid, false, value);
}

CORVEXMSG_EXPORT mama_status corvexmsgPayload_updatePrice(msgPayload msg, const char* name,
                                                          mama_fid_t fid, const mamaPrice value)
{
    return storeHandle<PriceKind>(msg, name, fid, true, value);
}

CORVEXMSG_EXPORT mama_status corvexmsgPayload_getPrice(const msgPayload msg, const char* name,
                                                       mama_fid_t fid, mamaPrice result)
{
    return getHandle<PriceKind>(msg, name, fid, result);
}

CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_updatePrice(msgFieldPayload field,
                                                               msgPayload /* msg */,
                                                               const mamaPrice value)
{
    return updateFieldHandle<PriceKind>(field, value);
}

CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getPrice(const msgFieldPayload field,
                                                            mamaPrice result)
{
    return getFieldHandle<PriceKind>(field, result);
}

CORVEXMSG_EXPORT mama_status corvexmsgPayload_addDateTime(msgPayload msg, const char* name,
                                                          mama_fid_t fid, const mamaDateTime value)
{
    return storeHandle<TimeKind>(msg, name, fid, false, value);
}

CORVEXMSG_EXPORT mama_status corvexmsgPayload_updateDateTime(msgPayload msg, const char* name,
                                                             mama_fid_t fid,
                                                             const mamaDateTime value)
{
    return storeHandle<TimeKind>(msg, name, fid, true, value);
}

CORVEXMSG_EXPORT mama_status corvexmsgPayload_getDateTime(const msgPayload msg, const char* name,
                                                          mama_fid_t fid, mamaDateTime result)
{
    return getHandle<TimeKind>(msg, name, fid, result);
}

CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_updateDateTime(msgFieldPayload field,
                                                                  msgPayload /* msg */,
                                                                  const mamaDateTime value)
{
    return updateFieldHandle<TimeKind>(field, value);
}

CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getDateTime(const msgFieldPayload field,
                                                               mamaDateTime result)
{
    return getFieldHandle<TimeKind>(field, result);
}

/* Sub-messages: the payload keeps a copy of what it is given. */

CORVEXMSG_EXPORT mama_status corvexmsgPayload_addMsg(msgPayload msg, const char* name,
                                                     mama_fid_t fid, mamaMsg value)
{
    return storeMsgs(msg, name, fid, false, MAMA_FIELD_TYPE_MSG, &value, 1);
}

CORVEXMSG_EXPORT mama_status corvexmsgPayload_updateSubMsg(msgPayload msg, const char* name,
                                                           mama_fid_t fid, const mamaMsg subMsg)
{
    return storeMsgs(msg, name, fid, true, MAMA_FIELD_TYPE_MSG, &subMsg, 1);
}

CORVEXMSG_EXPORT mama_status corvexmsgPayload_getMsg(const msgPayload msg, const char* name,
                                                     mama_fid_t fid, msgPayload* result)
{
    CorvexMsgField* f = nullptr;
    mama_status status = findTyped(msg, name, fid, result, MAMA_FIELD_TYPE_MSG, &f);
    if (status == MAMA_STATUS_OK)
    {
        *result = f->mMsgs.front().get();
    }
    return status;
}

CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_updateSubMsg(msgFieldPayload field,
                                                                msgPayload /* msg */,
                                                                const msgPayload subMsg)
{
    if (field == nullptr || subMsg == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    return guarded(
        [&]
        {
            std::vector<std::unique_ptr<CorvexMsgPayload>> msgs;
            msgs.push_back(corvexMsgPayload_clone(asMsg(subMsg)));
            return updateField(asField(field), MAMA_FIELD_TYPE_MSG,
                               [&](CorvexMsgField* f) {
                                   corvexMsgField_setMsgs(f, MAMA_FIELD_TYPE_MSG, std::move(msgs));
                               });
        });
}

CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getMsg(const msgFieldPayload field,
                                                          msgPayload* result)
{
    if (field == nullptr || result == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    CorvexMsgField* f = asField(field);
    mama_status status = checkFieldRead(f);
    if (status != MAMA_STATUS_OK)
    {
        return status;
    }
    if (f->mType != MAMA_FIELD_TYPE_MSG)
    {
        return MAMA_STATUS_WRONG_FIELD_TYPE;
    }
    *result = f->mMsgs.front().get();
    return MAMA_STATUS_OK;
}

CORVEXMSG_EXPORT mama_status corvexmsgPayload_addVectorMsg(msgPayload msg, const char* name,
                                                           mama_fid_t fid, const mamaMsg value[],
                                                           mama_size_t size)
{
    return storeMsgs(msg, name, fid, false, MAMA_FIELD_TYPE_VECTOR_MSG, value, size);
}

CORVEXMSG_EXPORT mama_status corvexmsgPayload_updateVectorMsg(msgPayload msg, const char* name,
                                                              mama_fid_t fid, const mamaMsg value[],
                                                              mama_size_t size)
{
    return storeMsgs(msg, name, fid, true, MAMA_FIELD_TYPE_VECTOR_MSG, value, size);
}

CORVEXMSG_EXPORT mama_status corvexmsgPayload_getVectorMsg(const msgPayload msg, const char* name,
                                                           mama_fid_t fid,
                                                           const msgPayload** result,
                                                           mama_size_t* size)
{
    return getVector(msg, name, fid, MAMA_FIELD_TYPE_VECTOR_MSG, result, size,
                     [](CorvexMsgVectorView* v) { return corvexMsgVectorView_msgs(v); });
}

CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getVectorMsg(const msgFieldPayload field,
                                                                const msgPayload** result,
                                                                mama_size_t* size)
{
    return getFieldVector(field, MAMA_FIELD_TYPE_VECTOR_MSG, result, size,
                          [](CorvexMsgVectorView* v) { return corvexMsgVectorView_msgs(v); });
}

/* Vectors of fixed-size values */

#define CORVEXMSG_VECTOR(Suffix, CType, FieldType)                                                 \
    CORVEXMSG_EXPORT mama_status corvexmsgPayload_addVector##Suffix(                               \
        msgPayload msg, const char* name, mama_fid_t fid, const CType value[], mama_size_t size)   \
    {                                                                                              \
        return storeValues(msg, name, fid, false, FieldType, value, size);                         \
    }                                                                                              \
    CORVEXMSG_EXPORT mama_status corvexmsgPayload_updateVector##Suffix(                            \
        msgPayload msg, const char* name, mama_fid_t fid, const CType value[], mama_size_t size)   \
    {                                                                                              \
        return storeValues(msg, name, fid, true, FieldType, value, size);                          \
    }                                                                                              \
    CORVEXMSG_EXPORT mama_status corvexmsgPayload_getVector##Suffix(                               \
        const msgPayload msg, const char* name, mama_fid_t fid, const CType** result,              \
        mama_size_t* size)                                                                         \
    {                                                                                              \
        return getVector(msg, name, fid, FieldType, result, size,                                  \
                         [](CorvexMsgVectorView* v)                                                \
                         { return static_cast<const CType*>(corvexMsgVectorView_values(v)); });    \
    }                                                                                              \
    CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getVector##Suffix(                          \
        const msgFieldPayload field, const CType** result, mama_size_t* size)                      \
    {                                                                                              \
        return getFieldVector(field, FieldType, result, size,                                      \
                              [](CorvexMsgVectorView* v) {                                         \
                                  return static_cast<const CType*>(corvexMsgVectorView_values(v)); \
                              });                                                                  \
    }

CORVEXMSG_VECTOR(Bool, mama_bool_t, MAMA_FIELD_TYPE_VECTOR_BOOL)
CORVEXMSG_VECTOR(Char, char, MAMA_FIELD_TYPE_VECTOR_CHAR)
CORVEXMSG_VECTOR(I8, mama_i8_t, MAMA_FIELD_TYPE_VECTOR_I8)
CORVEXMSG_VECTOR(U8, mama_u8_t, MAMA_FIELD_TYPE_VECTOR_U8)
CORVEXMSG_VECTOR(I16, mama_i16_t, MAMA_FIELD_TYPE_VECTOR_I16)
CORVEXMSG_VECTOR(U16, mama_u16_t, MAMA_FIELD_TYPE_VECTOR_U16)
CORVEXMSG_VECTOR(I32, mama_i32_t, MAMA_FIELD_TYPE_VECTOR_I32)
CORVEXMSG_VECTOR(U32, mama_u32_t, MAMA_FIELD_TYPE_VECTOR_U32)
CORVEXMSG_VECTOR(I64, mama_i64_t, MAMA_FIELD_TYPE_VECTOR_I64)
CORVEXMSG_VECTOR(U64, mama_u64_t, MAMA_FIELD_TYPE_VECTOR_U64)
CORVEXMSG_VECTOR(F32, mama_f32_t, MAMA_FIELD_TYPE_VECTOR_F32)
CORVEXMSG_VECTOR(F64, mama_f64_t, MAMA_FIELD_TYPE_VECTOR_F64)

/* Vectors of strings, prices and date-times */

CORVEXMSG_EXPORT mama_status corvexmsgPayload_addVectorString(msgPayload msg, const char* name,
                                                              mama_fid_t fid, const char* value[],
                                                              mama_size_t size)
{
    return storeStrings(msg, name, fid, false, value, size);
}

CORVEXMSG_EXPORT mama_status corvexmsgPayload_updateVectorString(msgPayload msg, const char* name,
                                                                 mama_fid_t fid,
                                                                 const char* value[],
                                                                 mama_size_t size)
{
    return storeStrings(msg, name, fid, true, value, size);
}

CORVEXMSG_EXPORT mama_status corvexmsgPayload_getVectorString(const msgPayload msg,
                                                              const char* name, mama_fid_t fid,
                                                              const char*** result,
                                                              mama_size_t* size)
{
    return getVector(msg, name, fid, MAMA_FIELD_TYPE_VECTOR_STRING, result, size,
                     corvexMsgVectorView_strings);
}

CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getVectorString(const msgFieldPayload field,
                                                                   const char*** result,
                                                                   mama_size_t* size)
{
    return getFieldVector(field, MAMA_FIELD_TYPE_VECTOR_STRING, result, size,
                          corvexMsgVectorView_strings);
}

namespace
{
uint8_t* writeHostPrice(uint8_t* out, const mamaPrice price)
{
    return corvexMsg_writePrice(out, priceFromHost(price));
}

uint8_t* writeHostTime(uint8_t* out, const mamaDateTime time)
{
    return corvexMsg_writeTime(out, timeFromHost(time));
}
} // namespace

CORVEXMSG_EXPORT mama_status corvexmsgPayload_addVectorPrice(msgPayload msg, const char* name,
                                                             mama_fid_t fid,
                                                             const mamaPrice value[],
                                                             mama_size_t size)
{
    return storeHandles(msg, name, fid, false, MAMA_FIELD_TYPE_VECTOR_PRICE, value, size,
                        writeHostPrice);
}

CORVEXMSG_EXPORT mama_status corvexmsgPayload_updateVectorPrice(msgPayload msg, const char* name,
                                                                mama_fid_t fid,
                                                                const mamaPrice value[],
                                                                mama_size_t size)
{
    return storeHandles(msg, name, fid, true, MAMA_FIELD_TYPE_VECTOR_PRICE, value, size,
                        writeHostPrice);
}

CORVEXMSG_EXPORT mama_status corvexmsgPayload_getVectorPrice(const msgPayload msg, const char* name,
                                                             mama_fid_t fid,
                                                             const mamaPrice** result,
                                                             mama_size_t* size)
{
    return getVector(msg, name, fid, MAMA_FIELD_TYPE_VECTOR_PRICE, result, size,
                     corvexMsgVectorView_prices);
}

CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getVectorPrice(const msgFieldPayload field,
                                                                  const mamaPrice* result,
                                                                  mama_size_t* size)
{
    return getFieldVector(field, MAMA_FIELD_TYPE_VECTOR_PRICE, handleArrayOut(result), size,
                          corvexMsgVectorView_prices);
}

CORVEXMSG_EXPORT mama_status corvexmsgPayload_addVectorDateTime(msgPayload msg, const char* name,
                                                                mama_fid_t fid,
                                                                const mamaDateTime value[],
                                                                mama_size_t size)
{
    return storeHandles(msg, name, fid, false, MAMA_FIELD_TYPE_VECTOR_TIME, value, size,
                        writeHostTime);
}

CORVEXMSG_EXPORT mama_status corvexmsgPayload_updateVectorTime(msgPayload msg, const char* name,
                                                               mama_fid_t fid,
                                                               const mamaDateTime value[],
                                                               mama_size_t size)
{
    return storeHandles(msg, name, fid, true, MAMA_FIELD_TYPE_VECTOR_TIME, value, size,
                        writeHostTime);
}

CORVEXMSG_EXPORT mama_status corvexmsgPayload_getVectorDateTime(const msgPayload msg,
                                                                const char* name, mama_fid_t fid,
                                                                const mamaDateTime** result,
                                                                mama_size_t* size)
{
    return getVector(msg, name, fid, MAMA_FIELD_TYPE_VECTOR_TIME, result, size,
                     corvexMsgVectorView_times);
}

CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getVectorDateTime(const msgFieldPayload field,
                                                                     const mamaDateTime* result,
                                                                     mama_size_t* size)
{
    return getFieldVector(field, MAMA_FIELD_TYPE_VECTOR_TIME, handleArrayOut(result), size,
                          corvexMsgVectorView_times);
}

/* Templates are a feature of other encodings. */
CORVEXMSG_EXPORT mama_status corvexmsgPayload_createForTemplate(msgPayload* msg,
                                                                mamaPayloadBridge /* bridge */,
                                                                mama_u32_t /* templateId */)
{
    if (msg == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    return MAMA_STATUS_NOT_IMPLEMENTED;
}
