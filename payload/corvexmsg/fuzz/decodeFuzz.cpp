/* libFuzzer target for the corvexmsg decoder: each input is decoded in place,
 * as the bridge decodes a received buffer, and every field reached from the
 * message is read through the host's message API. Error statuses are fine; a
 * crash, a read outside the input, an unbounded allocation or a failed
 * `require` is a fault. */
#include <mama/mama.h>
#include <mama/msg.h>
#include <mama/msgfield.h>
#include <mama/integration/msg.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

/* Whether the last input decoded; the corpus replay checks it. */
bool gCorvexMsgFuzzDecoded = false;

namespace
{

constexpr char PAYLOAD_ID = '1';
constexpr int MAX_DEPTH = 32;

mamaDateTime gDateTime = nullptr;
mamaPrice gPrice = nullptr;
mamaMsg gEmpty = nullptr;
uint64_t gSink = 0;
/* Decodes every input over the one before, as a queue's reusable message
 * does, and borrows the bytes of the last it decoded. */
mamaMsg gReused = nullptr;
std::vector<uint8_t> gReusedBytes;

void require(bool ok, const char* what)
{
    if (!ok)
        std::fprintf(stderr, "corvexmsg fuzz: %s\n", what), std::abort();
}

/* Reads every byte, so that the sanitizer sees any outside its block. */
void touch(const void* p, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        gSink += static_cast<const unsigned char*>(p)[i];
}

void touchString(const char* s)
{
    if (s != nullptr)
        touch(s, std::strlen(s) + 1);
}

/* Decodes an exactly sized copy of data, which the message borrows and
 * `keep` holds; null when refused. */
mamaMsg decodeCopy(const void* data, size_t size, std::unique_ptr<uint8_t[]>* keep)
{
    keep->reset(new uint8_t[size]);
    std::memcpy(keep->get(), data, size);
    mamaMsg msg = nullptr;
    require(mamaMsgImpl_createForPayload(&msg, nullptr, nullptr, 0) == MAMA_STATUS_OK, "no msg");
    const uint32_t length = static_cast<uint32_t>(size);
    if (mamaMsgImpl_setMsgBuffer(msg, keep->get(), length, 0) != MAMA_STATUS_OK)
        return mamaMsg_destroy(msg), nullptr;
    mamaMsgImpl_setMessageOwner(msg, 1); /* so that destroy frees the decoded payload */
    return msg;
}

void walk(mamaMsg msg, int depth);

template <typename T>
void readVector(mama_status (*get)(const mamaMsgField, const T**, mama_size_t*), mamaMsgField f)
{
    const T* values = nullptr;
    mama_size_t n = 0;
    if (get(f, &values, &n) == MAMA_STATUS_OK)
        touch(values, n * sizeof(T));
}

#define CORVEXMSG_FUZZ_VECTOR(TYPE, Type)                                                          \
    case MAMA_FIELD_TYPE_VECTOR_##TYPE:                                                            \
        readVector(mamaMsgField_getVector##Type, field);                                           \
        break

void readField(mamaMsg msg, mamaMsgField field, int depth)
{
    const char* name = nullptr;
    mama_fid_t fid = 0;
    mamaFieldType type = MAMA_FIELD_TYPE_UNKNOWN;
    const char* s = nullptr;
    const void* opaque = nullptr;
    mama_size_t n = 0;
    char text[512];
    mamaMsgField_getType(field, &type);
    mamaMsgField_getFid(field, &fid);
    if (mamaMsgField_getName(field, &name) == MAMA_STATUS_OK)
        touchString(name);
    if (mamaMsgField_getAsString(field, text, sizeof text) == MAMA_STATUS_OK)
        touchString(text);
    if (mamaMsgField_getString(field, &s) == MAMA_STATUS_OK)
        touchString(s);
    if (mamaMsgField_getOpaque(field, &opaque, &n) == MAMA_STATUS_OK)
        touch(opaque, n);
    /* every field through every scalar getter: each converts or refuses */
    union
    {
        mama_bool_t b;
        char c;
        mama_i8_t i8;
        mama_u8_t u8;
        mama_i16_t i16;
        mama_u16_t u16;
        mama_i32_t i32;
        mama_u32_t u32;
        mama_i64_t i64;
        mama_u64_t u64;
        mama_f32_t f32;
        mama_f64_t f64;
    } v;
    mamaMsgField_getBool(field, &v.b), mamaMsgField_getChar(field, &v.c);
    mamaMsgField_getI8(field, &v.i8), mamaMsgField_getU8(field, &v.u8);
    mamaMsgField_getI16(field, &v.i16), mamaMsgField_getU16(field, &v.u16);
    mamaMsgField_getI32(field, &v.i32), mamaMsgField_getU32(field, &v.u32);
    mamaMsgField_getI64(field, &v.i64), mamaMsgField_getU64(field, &v.u64);
    mamaMsgField_getF32(field, &v.f32), mamaMsgField_getF64(field, &v.f64);
    mamaMsgField_getDateTime(field, gDateTime), mamaMsgField_getPrice(field, gPrice);

    /* the host calls the optional getters without checking that the payload
     * has them: only the one of the field's own type is called */
    mamaMsg sub = nullptr;
    const mamaMsg* msgs = nullptr;
    const char** strings = nullptr;
    const mamaDateTime* times = nullptr;
    const mamaPrice* prices = nullptr;
    double d = 0;
    n = 0;
    switch (type)
    {
    case MAMA_FIELD_TYPE_MSG:
        if (depth < MAX_DEPTH && mamaMsgField_getMsg(field, &sub) == MAMA_STATUS_OK)
            require(sub != nullptr, "getMsg succeeded without a message"), walk(sub, depth + 1);
        break;
        CORVEXMSG_FUZZ_VECTOR(BOOL, Bool);
        CORVEXMSG_FUZZ_VECTOR(CHAR, Char);
        CORVEXMSG_FUZZ_VECTOR(I8, I8);
        CORVEXMSG_FUZZ_VECTOR(U8, U8);
        CORVEXMSG_FUZZ_VECTOR(I16, I16);
        CORVEXMSG_FUZZ_VECTOR(U16, U16);
        CORVEXMSG_FUZZ_VECTOR(I32, I32);
        CORVEXMSG_FUZZ_VECTOR(U32, U32);
        CORVEXMSG_FUZZ_VECTOR(I64, I64);
        CORVEXMSG_FUZZ_VECTOR(U64, U64);
        CORVEXMSG_FUZZ_VECTOR(F32, F32);
        CORVEXMSG_FUZZ_VECTOR(F64, F64);
    case MAMA_FIELD_TYPE_VECTOR_STRING:
        if (mamaMsgField_getVectorString(field, &strings, &n) == MAMA_STATUS_OK)
            for (mama_size_t i = 0; i < n; ++i)
                touchString(strings[i]);
        break;
    case MAMA_FIELD_TYPE_VECTOR_MSG:
        if (depth < MAX_DEPTH && mamaMsgField_getVectorMsg(field, &msgs, &n) == MAMA_STATUS_OK)
            for (mama_size_t i = 0; i < n; ++i)
                walk(msgs[i], depth + 1);
        break;
    /* no field getters for these two in the host: found by name and fid */
    case MAMA_FIELD_TYPE_VECTOR_TIME:
        if (mamaMsg_getVectorDateTime(msg, name, fid, &times, &n) == MAMA_STATUS_OK)
            for (mama_size_t i = 0; i < n; ++i)
                mamaDateTime_getEpochTimeSeconds(times[i], &d);
        break;
    case MAMA_FIELD_TYPE_VECTOR_PRICE:
        if (mamaMsg_getVectorPrice(msg, name, fid, &prices, &n) == MAMA_STATUS_OK)
            for (mama_size_t i = 0; i < n; ++i)
                mamaPrice_getValue(prices[i], &d);
        break;
    default:
        break;
    }
}

struct Walk
{
    int mDepth;
    mama_size_t mSeen;
    mama_fid_t mFirstFid;
};

void MAMACALLTYPE onField(const mamaMsg msg, const mamaMsgField field, void* closure)
{
    Walk* w = static_cast<Walk*>(closure);
    if (w->mSeen++ == 0)
        mamaMsgField_getFid(field, &w->mFirstFid);
    readField(msg, field, w->mDepth);
}

/* The walk sees as many fields as the message counts; the first field is
 * found by its fid. */
void walk(mamaMsg msg, int depth)
{
    mama_size_t count = 0;
    Walk w = {depth, 0, 0};
    mamaMsgField found = nullptr;
    mama_fid_t fid = 0;
    char text[64];
    require(mamaMsg_getNumFields(msg, &count) == MAMA_STATUS_OK, "no field count");
    require(mamaMsg_iterateFields(msg, onField, nullptr, &w) == MAMA_STATUS_OK, "no iteration");
    require(w.mSeen == count, "iteration and field count disagree");
    const mama_fid_t first = w.mFirstFid;
    require(first == 0 || (mamaMsg_getField(msg, nullptr, first, &found) == MAMA_STATUS_OK &&
                           mamaMsgField_getFid(found, &fid) == MAMA_STATUS_OK && fid == first),
            "the first field is not found by its fid");
    mamaMsg_getFieldAsString(msg, nullptr, first, text, sizeof text);
    touchString(mamaMsg_toString(msg));
}

#define CORVEXMSG_FUZZ_FLIP(TYPE, Type, CType)                                                     \
    case MAMA_FIELD_TYPE_##TYPE:                                                                   \
    {                                                                                              \
        CType value = 0;                                                                           \
        if (mamaMsgField_get##Type(field, &value) == MAMA_STATUS_OK)                               \
            mamaMsgField_update##Type(field, static_cast<CType>(value FLIP));                      \
        break;                                                                                     \
    }

/* The fresh encoding of a copy of msg; empty when it cannot be copied. */
std::vector<uint8_t> copyBytes(mamaMsg msg)
{
    std::vector<uint8_t> bytes;
    mamaMsg copy = nullptr;
    if (mamaMsg_copy(msg, &copy) != MAMA_STATUS_OK)
        return bytes;
    const void* wire = nullptr;
    mama_size_t wireLen = 0;
    require(mamaMsg_getByteBuffer(copy, &wire, &wireLen) == MAMA_STATUS_OK,
            "no encoding of a copy");
    bytes.assign(static_cast<const uint8_t*>(wire), static_cast<const uint8_t*>(wire) + wireLen);
    mamaMsg_destroy(copy);
    return bytes;
}

/* The input decoded into the message that decoded the inputs before: it is
 * refused when a fresh message (`fresh`, null when refused) refuses it,
 * leaving the message as it was; else it reads as the fresh one. Inputs of
 * even size are then changed there, so that the next decode goes over fields
 * that copied what they had read in place. */
void redecode(const uint8_t* data, size_t size, mamaMsg fresh)
{
    std::vector<uint8_t> bytes(data, data + size);
    const std::string before = mamaMsg_toString(gReused);
    const bool decoded = mamaMsgImpl_setMsgBuffer(gReused, bytes.data(),
                                                  static_cast<uint32_t>(size), 0) == MAMA_STATUS_OK;
    require(decoded == (fresh != nullptr), "a decode over another decides otherwise");
    if (!decoded)
    {
        require(before == mamaMsg_toString(gReused), "refused bytes changed the message");
        return;
    }
    gReusedBytes.swap(bytes);
    require(std::string(mamaMsg_toString(fresh)) == mamaMsg_toString(gReused),
            "a decode over another reads otherwise than a fresh one");
    require(copyBytes(fresh) == copyBytes(gReused),
            "a copy of a decode over another encodes otherwise than one of a fresh one");
    if (size % 2 == 0)
    {
        mamaMsgImpl_setMessageOwner(gReused, 1);
        require(mamaMsg_addI32(gReused, "added", 1, 1) == MAMA_STATUS_OK, "cannot add a field");
    }
}

/* Each number field takes another value of its type, each price and
 * date-time its own again, through the field; each string one of the same
 * length, through the message (the host has no string update of a field). */
void MAMACALLTYPE changeValue(const mamaMsg msg, const mamaMsgField field, void*)
{
    mamaFieldType type = MAMA_FIELD_TYPE_UNKNOWN;
    const char* name = nullptr;
    mama_fid_t fid = 0;
    const char* s = nullptr;
    double d = 0;
    mamaMsgField_getType(field, &type);
    switch (type)
    {
#define FLIP ^1
        CORVEXMSG_FUZZ_FLIP(BOOL, Bool, mama_bool_t)
        CORVEXMSG_FUZZ_FLIP(CHAR, Char, char)
        CORVEXMSG_FUZZ_FLIP(I8, I8, mama_i8_t)
        CORVEXMSG_FUZZ_FLIP(U8, U8, mama_u8_t)
        CORVEXMSG_FUZZ_FLIP(I16, I16, mama_i16_t)
        CORVEXMSG_FUZZ_FLIP(U16, U16, mama_u16_t)
        CORVEXMSG_FUZZ_FLIP(I32, I32, mama_i32_t)
        CORVEXMSG_FUZZ_FLIP(U32, U32, mama_u32_t)
        CORVEXMSG_FUZZ_FLIP(I64, I64, mama_i64_t)
        CORVEXMSG_FUZZ_FLIP(U64, U64, mama_u64_t)
#undef FLIP
#define FLIP *-1
        CORVEXMSG_FUZZ_FLIP(F32, F32, mama_f32_t)
        CORVEXMSG_FUZZ_FLIP(F64, F64, mama_f64_t)
#undef FLIP
    case MAMA_FIELD_TYPE_STRING:
        if (mamaMsgField_getString(field, &s) == MAMA_STATUS_OK)
        {
            std::string other(s);
            if (!other.empty())
                other[0] = other[0] == 'a' ? 'b' : 'a';
            mamaMsgField_getName(field, &name), mamaMsgField_getFid(field, &fid);
            mamaMsg_updateString(msg, name, fid, other.c_str());
        }
        break;
    case MAMA_FIELD_TYPE_PRICE:
        if (mamaMsgField_getPrice(field, gPrice) == MAMA_STATUS_OK &&
            mamaPrice_getValue(gPrice, &d) == MAMA_STATUS_OK &&
            mamaPrice_setValue(gPrice, -d) == MAMA_STATUS_OK)
            mamaMsgField_updatePrice(field, gPrice);
        break;
    case MAMA_FIELD_TYPE_TIME:
        if (mamaMsgField_getDateTime(field, gDateTime) == MAMA_STATUS_OK)
            mamaMsgField_updateDateTime(field, gDateTime);
        break;
    default:
        break;
    }
}

/* The message's encoding is the one it has when encoded afresh: applying an
 * empty message changes no field but drops the encoding. */
void requireFreshEncoding(mamaMsg msg)
{
    const void* wire = nullptr;
    mama_size_t wireLen = 0;
    require(mamaMsg_getByteBuffer(msg, &wire, &wireLen) == MAMA_STATUS_OK, "no encoding");
    const uint8_t* b = static_cast<const uint8_t*>(wire);
    const std::vector<uint8_t> kept(b, b + wireLen);
    require(mamaMsg_applyMsg(msg, gEmpty) == MAMA_STATUS_OK, "cannot apply an empty message");
    require(mamaMsg_getByteBuffer(msg, &wire, &wireLen) == MAMA_STATUS_OK, "no encoding");
    require(wireLen == kept.size() && std::memcmp(wire, kept.data(), wireLen) == 0,
            "an encoding kept up to date in place is not a fresh one");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /* argc */, char*** /* argv */)
{
    mamaPayloadBridge bridge = nullptr;
    require(mama_loadPayloadBridge(&bridge, "corvexmsg") == MAMA_STATUS_OK &&
                mamaDateTime_create(&gDateTime) == MAMA_STATUS_OK &&
                mamaPrice_create(&gPrice) == MAMA_STATUS_OK &&
                mamaMsg_createForPayloadBridge(&gEmpty, bridge) == MAMA_STATUS_OK &&
                mamaMsgImpl_createForPayload(&gReused, nullptr, nullptr, 0) == MAMA_STATUS_OK &&
                mamaMsgImpl_setMsgBuffer(gReused, "1\2\0\0\0\0", 6, 0) == MAMA_STATUS_OK,
            "cannot load the corvexmsg payload");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    /* another first byte names another payload: the host never hands it here */
    gCorvexMsgFuzzDecoded = false;
    if (size == 0 || data[0] != PAYLOAD_ID || size > UINT32_MAX)
        return 0;
    std::unique_ptr<uint8_t[]> bytes, again;
    mamaMsg msg = decodeCopy(data, size, &bytes);
    redecode(data, size, msg);
    if (msg == nullptr)
        return 0;
    gCorvexMsgFuzzDecoded = true;
    walk(msg, 0);
    const void* wire = nullptr;
    mama_size_t wireLen = 0, before = 0, after = 0;
    require(mamaMsg_getByteBuffer(msg, &wire, &wireLen) == MAMA_STATUS_OK, "no encoding");
    touch(wire, wireLen);
    /* a copy owns its fields and is encoded afresh: that encoding decodes, to
     * as many fields */
    mamaMsg copy = nullptr;
    if (mamaMsg_copy(msg, &copy) == MAMA_STATUS_OK)
    {
        require(mamaMsg_getByteBuffer(copy, &wire, &wireLen) == MAMA_STATUS_OK && wireLen > 0,
                "no encoding of the copy");
        mamaMsg redecoded = decodeCopy(wire, wireLen, &again);
        require(redecoded != nullptr, "the encoding of a copy does not decode");
        mamaMsg_getNumFields(msg, &before), mamaMsg_getNumFields(redecoded, &after);
        require(before == after, "the encoding of a copy has another field count");
        mamaMsg_destroy(redecoded);
        mamaMsg_destroy(copy);
    }
    /* a change stops the message borrowing the buffer: it can go */
    require(mamaMsg_addI32(msg, "added", 1, 1) == MAMA_STATUS_OK, "cannot add a field");
    bytes.reset();
    walk(msg, 0);
    /* values changed through the fields of an encoded message: its encoding,
     * written where the values lie, is still the one it gets afresh */
    require(mamaMsg_getByteBuffer(msg, &wire, &wireLen) == MAMA_STATUS_OK, "no encoding");
    mamaMsg_iterateFields(msg, changeValue, nullptr, nullptr);
    requireFreshEncoding(msg);
    mamaMsg_destroy(msg);
    return 0;
}
