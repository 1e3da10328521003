/* In-memory form of a "corvexmsg" message. A message decoded from a buffer
 * borrows that buffer: names, strings and opaque values point into it until
 * the first modification, which copies them into the fields' own storage. */
#ifndef CORVEXMSG_PAYLOAD_H
#define CORVEXMSG_PAYLOAD_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include <mama/mama.h>
#include <mama/fielddesc.h>
#include <mama/msg.h>

/* Identifier character of this payload; the first byte of every buffer. */
constexpr char CORVEXMSG_PAYLOAD_ID = '1';

struct CorvexMsgPayload;

struct CorvexMsgField
{
    CorvexMsgPayload* mMsg = nullptr; /* null for a field made by FieldPayload_create */
    mamaFieldType mType = MAMA_FIELD_TYPE_UNKNOWN;
    mama_fid_t mFid = 0;
    const char* mName = nullptr;    /* null when the field has no name */
    const uint8_t* mData = nullptr; /* string (NUL included in mSize) or opaque bytes */
    uint32_t mSize = 0;
    union
    {
        int64_t mSigned;    /* CHAR, I8 .. I64 */
        uint64_t mUnsigned; /* BOOL, U8 .. U64 */
        float mF32;
        double mF64;
    } mValue = {0};
    std::string mNameStore;
    std::string mDataStore;
};

struct CorvexMsgPayload
{
    /* deque: fields never move, so pointers handed out stay valid while the
     * message only grows */
    std::deque<CorvexMsgField> mFields;
    const uint8_t* mWire = nullptr; /* borrowed buffer the fields point into */
    size_t mWireLen = 0;
    std::vector<uint8_t> mEncoded;
    bool mEncodedValid = false;
    std::string mText;
    mamaMsg mParent = nullptr;
};

struct CorvexMsgIter
{
    CorvexMsgPayload* mMsg = nullptr;
    size_t mNext = 0;
};

/* Fields are found by fid when fid is not 0 (falling back to the name), else
 * by name. */
CorvexMsgField* corvexMsgPayload_find (const CorvexMsgPayload* msg, const char* name,
                                       mama_fid_t fid);

/* Stops borrowing: copies what the fields point at into their own storage. */
void corvexMsgPayload_own (CorvexMsgPayload* msg);

/* Called before any change: stops borrowing and drops cached encodings. */
void corvexMsgPayload_touch (CorvexMsgPayload* msg);

/* Appends a new, owned field with a name copy and no value. */
CorvexMsgField* corvexMsgPayload_append (CorvexMsgPayload* msg, const char* name, mama_fid_t fid);

/* Value setters for an owned field; they also set the field's type. */
void corvexMsgField_setSigned (CorvexMsgField* field, mamaFieldType type, int64_t value);
void corvexMsgField_setUnsigned (CorvexMsgField* field, mamaFieldType type, uint64_t value);
void corvexMsgField_setF32 (CorvexMsgField* field, float value);
void corvexMsgField_setF64 (CorvexMsgField* field, double value);
void corvexMsgField_setBytes (CorvexMsgField* field, mamaFieldType type, const void* data,
                              size_t size);

/* Copies every field of src into dest as owned fields (update when `update`,
 * else append). */
void corvexMsgPayload_copyFields (CorvexMsgPayload* dest, const CorvexMsgPayload* src, bool update);

/* Readers with the widening the host relies on (e.g. a U8 read as I32). */
mama_status corvexMsgField_getSigned (const CorvexMsgField* field, int64_t min, int64_t max,
                                      int64_t* result);
mama_status corvexMsgField_getUnsigned (const CorvexMsgField* field, uint64_t max,
                                        uint64_t* result);
mama_status corvexMsgField_getF64 (const CorvexMsgField* field, double* result);
mama_status corvexMsgField_getF32 (const CorvexMsgField* field, float* result);

/* Wire form. decode validates the whole buffer before touching msg; on
 * failure msg is unchanged and the result is MAMA_STATUS_PLATFORM. */
mama_status corvexMsgCodec_decode (CorvexMsgPayload* msg, const void* buffer, size_t length);
mama_status corvexMsgCodec_encode (CorvexMsgPayload* msg, const void** buffer, size_t* length);

/* Text forms. */
void corvexMsgFormat_value (const CorvexMsgField* field, std::string* out);
const char* corvexMsgFormat_message (CorvexMsgPayload* msg);

#endif
