/* In-memory form of a "corvexmsg" message. A message decoded from a buffer
 * borrows that buffer: names, strings and opaque values point into it until
 * the first modification, which copies them into the fields' own storage. */
#ifndef CORVEXMSG_PAYLOAD_H
#define CORVEXMSG_PAYLOAD_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <mama/mama.h>
#include <mama/fielddesc.h>
#include <mama/msg.h>

/* Identifier character of this payload; the first byte of every buffer. */
constexpr char CORVEXMSG_PAYLOAD_ID = '1';

struct CorvexMsgPayload;

/* A price: its value and the host's hints (precision and display). */
struct CorvexMsgPrice
{
    double mValue = 0;
    uint8_t mHints = 0;
};

/* A date-time as the host keeps it: seconds since the epoch, nanoseconds,
 * precision and hints. */
struct CorvexMsgTime
{
    int64_t mSeconds = 0;
    uint32_t mNanoseconds = 0;
    uint8_t mPrecision = 0;
    uint8_t mHints = 0;
};

/* What reading a vector builds: its elements in the form the host reads them
 * (aligned values, string pointers, price and date-time objects, payloads). */
struct CorvexMsgVectorView;

/* A field of a message never moves: the host keeps pointers to it. The
 * members of the value that its type does not use are at their defaults:
 * every change of type clears them (the decoder resets only what the last
 * type used). */
struct CorvexMsgField
{
    CorvexMsgField();
    CorvexMsgField(const CorvexMsgField&) = delete;
    CorvexMsgField& operator=(const CorvexMsgField&) = delete;
    ~CorvexMsgField();

    CorvexMsgPayload* mMsg = nullptr; /* null for a field made by FieldPayload_create */
    mamaFieldType mType = MAMA_FIELD_TYPE_UNKNOWN;
    mama_fid_t mFid = 0;
    /* the name's wire size: its length and NUL (as received, until the field
     * owns its name), 0 without one */
    uint16_t mNameSize = 0;
    const char* mName = nullptr; /* null when the field has no name */
    /* string (NUL included in mSize), opaque bytes, or the elements of a
     * vector of anything but messages in their wire form */
    const uint8_t* mData = nullptr;
    uint32_t mSize = 0;
    uint32_t mCount = 0; /* elements of a vector */
    /* Where the value starts in the message's encoding number mEncodedIn
     * (CorvexMsgPayload::mEncodings): an update that keeps the value's size
     * writes it there instead of having the whole message encoded again. */
    size_t mEncodedAt = 0;
    uint64_t mEncodedIn = 0;
    union
    {
        int64_t mSigned;    /* CHAR, I8 .. I64 */
        uint64_t mUnsigned; /* BOOL, U8 .. U64 */
        float mF32;
        double mF64;
    } mValue = {0};
    CorvexMsgPrice mPrice;
    CorvexMsgTime mTime;
    /* MSG: the one sub-message; VECTOR_MSG: each element */
    std::vector<std::unique_ptr<CorvexMsgPayload>> mMsgs;
    std::unique_ptr<CorvexMsgVectorView> mView; /* built by the first vector read */
    std::string mNameStore;
    std::string mDataStore;
};

/* A message's fields in order, each allocated on its own: a field keeps its
 * address while fields are added after it. */
class CorvexMsgFieldList
{
  public:
    class Iterator
    {
      public:
        explicit Iterator(const std::unique_ptr<CorvexMsgField>* at) : mAt(at) {}
        CorvexMsgField& operator*() const
        {
            return **mAt;
        }
        Iterator& operator++()
        {
            ++mAt;
            return *this;
        }
        bool operator!=(const Iterator& other) const
        {
            return mAt != other.mAt;
        }

      private:
        const std::unique_ptr<CorvexMsgField>* mAt;
    };

    size_t size() const
    {
        return mFields.size();
    }
    bool empty() const
    {
        return mFields.empty();
    }
    CorvexMsgField& operator[](size_t i) const
    {
        return *mFields[i];
    }
    Iterator begin() const
    {
        return Iterator(mFields.data());
    }
    Iterator end() const
    {
        return Iterator(mFields.data() + mFields.size());
    }
    /* A new field with nothing in it, at the end. */
    CorvexMsgField& add()
    {
        mFields.push_back(std::make_unique<CorvexMsgField>());
        return *mFields.back();
    }
    /* Drops the fields from the count-th on. */
    void truncate(size_t count)
    {
        mFields.erase(mFields.begin() + static_cast<std::ptrdiff_t>(count), mFields.end());
    }
    void clear()
    {
        mFields.clear();
    }
    void swap(CorvexMsgFieldList& other)
    {
        mFields.swap(other.mFields);
    }

  private:
    std::vector<std::unique_ptr<CorvexMsgField>> mFields;
};

struct CorvexMsgPayload
{
    CorvexMsgFieldList mFields;
    /* Where received bytes are decoded before they replace mFields: holds the
     * fields they replaced, reused by the next decode, so that a message
     * decoded again and again keeps its storage. */
    CorvexMsgFieldList mDecoding;
    /* Whether the fields in mDecoding may hold copies of names or values
     * (memory the next decode gives back): not when they were replaced while
     * still reading their decode in place. */
    bool mDecodingHolds = false;
    const uint8_t* mWire = nullptr; /* borrowed buffer the fields point into */
    size_t mWireLen = 0;
    /* The last encoding: its first mEncodedSize bytes. The buffer only grows,
     * so that encoding again writes over the same bytes. */
    std::vector<uint8_t> mEncoded;
    size_t mEncodedSize = 0;
    bool mEncodedValid = false;
    uint64_t mEncodings = 0; /* full encodings made, numbering the last one */
    size_t mMeasured = 0;    /* wire size, as the encoder last measured it */
    std::string mText;
    mamaMsg mParent = nullptr;
    /* the message holding this one as a sub-message, or null */
    CorvexMsgPayload* mContainer = nullptr;
    /* the field a lookup by fid tries first: after the last found */
    mutable size_t mNextFind = 0;
};

/* Wire sizes of a price and of a date-time. */
constexpr size_t CORVEXMSG_PRICE_SIZE = 9;
constexpr size_t CORVEXMSG_TIME_SIZE = 14;

/* The integer types whose values are sign-extended (CHAR included). */
constexpr bool corvexMsg_isSignedType(uint64_t type)
{
    return type == MAMA_FIELD_TYPE_CHAR || type == MAMA_FIELD_TYPE_I8 ||
           type == MAMA_FIELD_TYPE_I16 || type == MAMA_FIELD_TYPE_I32 ||
           type == MAMA_FIELD_TYPE_I64;
}

/* The unsigned integer types (BOOL included). */
constexpr bool corvexMsg_isUnsignedType(uint64_t type)
{
    return type == MAMA_FIELD_TYPE_BOOL || type == MAMA_FIELD_TYPE_U8 ||
           type == MAMA_FIELD_TYPE_U16 || type == MAMA_FIELD_TYPE_U32 ||
           type == MAMA_FIELD_TYPE_U64;
}

/* Wire sizes of the number types (0 for other types). Takes the raw number:
 * received bytes may hold values outside the enumeration. */
constexpr size_t corvexMsg_scalarSize(uint64_t type)
{
    switch (type)
    {
    case MAMA_FIELD_TYPE_BOOL:
    case MAMA_FIELD_TYPE_CHAR:
    case MAMA_FIELD_TYPE_I8:
    case MAMA_FIELD_TYPE_U8:
        return 1;
    case MAMA_FIELD_TYPE_I16:
    case MAMA_FIELD_TYPE_U16:
        return 2;
    case MAMA_FIELD_TYPE_I32:
    case MAMA_FIELD_TYPE_U32:
    case MAMA_FIELD_TYPE_F32:
        return 4;
    case MAMA_FIELD_TYPE_I64:
    case MAMA_FIELD_TYPE_U64:
    case MAMA_FIELD_TYPE_F64:
        return 8;
    default:
        return 0;
    }
}

/* Element sizes of the fixed-size vectors in their wire form (0 for vectors
 * of strings and messages, and for other types). Takes the raw number:
 * received bytes may hold values outside the enumeration. */
constexpr size_t corvexMsg_elementSize(uint64_t type)
{
    switch (type)
    {
    case MAMA_FIELD_TYPE_VECTOR_BOOL:
    case MAMA_FIELD_TYPE_VECTOR_CHAR:
    case MAMA_FIELD_TYPE_VECTOR_I8:
    case MAMA_FIELD_TYPE_VECTOR_U8:
        return 1;
    case MAMA_FIELD_TYPE_VECTOR_I16:
    case MAMA_FIELD_TYPE_VECTOR_U16:
        return 2;
    case MAMA_FIELD_TYPE_VECTOR_I32:
    case MAMA_FIELD_TYPE_VECTOR_U32:
    case MAMA_FIELD_TYPE_VECTOR_F32:
        return 4;
    case MAMA_FIELD_TYPE_VECTOR_I64:
    case MAMA_FIELD_TYPE_VECTOR_U64:
    case MAMA_FIELD_TYPE_VECTOR_F64:
        return 8;
    case MAMA_FIELD_TYPE_VECTOR_PRICE:
        return CORVEXMSG_PRICE_SIZE;
    case MAMA_FIELD_TYPE_VECTOR_TIME:
        return CORVEXMSG_TIME_SIZE;
    default:
        return 0;
    }
}

struct CorvexMsgIter
{
    CorvexMsgPayload* mMsg = nullptr;
    size_t mNext = 0;
};

/* Fields are found by fid when fid is not 0 (the first with it, falling back
 * to the name), else by name (the first with it). */
CorvexMsgField* corvexMsgPayload_search(const CorvexMsgPayload* msg, const char* name,
                                        mama_fid_t fid);

/* As corvexMsgPayload_search, but the field after the last found by fid is
 * taken when it has the fid, and else the first field when it has it:
 * readers and updaters mostly go through the fields in order, and a
 * publisher goes through them again for each message it sends. */
inline CorvexMsgField* corvexMsgPayload_find(const CorvexMsgPayload* msg, const char* name,
                                             mama_fid_t fid)
{
    if (fid != 0)
    {
        const CorvexMsgFieldList& fields = msg->mFields;
        const size_t next = msg->mNextFind;
        const size_t at = next < fields.size() && fields[next].mFid == fid ? next : 0;
        if (at < fields.size() && fields[at].mFid == fid)
        {
            msg->mNextFind = at + 1;
            return &fields[at];
        }
    }
    return corvexMsgPayload_search(msg, name, fid);
}

/* Stops borrowing: copies what the fields point at into their own storage. */
void corvexMsgPayload_own(CorvexMsgPayload* msg);

/* Called before any change: the message and every message holding it stop
 * borrowing and drop their cached encodings. */
void corvexMsgPayload_touch(CorvexMsgPayload* msg);

/* Whether a store holds memory of its own (more than a string holds in itself). */
inline bool corvexMsg_holdsMemory(const std::string& store)
{
    return store.capacity() > std::string().capacity();
}

/* Gives back the memory a field holds for a value it no longer reads in
 * place: the view of a vector and the copies of its name and value. */
void corvexMsgField_release(CorvexMsgField* field);

/* Appends a new, owned field with a name copy and no value. */
CorvexMsgField* corvexMsgPayload_append(CorvexMsgPayload* msg, const char* name, mama_fid_t fid);

/* Makes the field a number of another type, with no value yet: clears what
 * its previous type used. */
void corvexMsgField_retypeNumber(CorvexMsgField* field, mamaFieldType type);

/* Value setters for an owned field; they also set the field's type. A field
 * that already is a number of the type holds nothing but its number (every
 * other change clears the rest): a publisher updating the same number before
 * each send only stores it. */
inline void corvexMsgField_setSigned(CorvexMsgField* field, mamaFieldType type, int64_t value)
{
    if (field->mType != type)
    {
        corvexMsgField_retypeNumber(field, type);
    }
    field->mValue.mSigned = value;
}

inline void corvexMsgField_setUnsigned(CorvexMsgField* field, mamaFieldType type, uint64_t value)
{
    if (field->mType != type)
    {
        corvexMsgField_retypeNumber(field, type);
    }
    field->mValue.mUnsigned = value;
}

inline void corvexMsgField_setF32(CorvexMsgField* field, float value)
{
    if (field->mType != MAMA_FIELD_TYPE_F32)
    {
        corvexMsgField_retypeNumber(field, MAMA_FIELD_TYPE_F32);
    }
    field->mValue.mF32 = value;
}

inline void corvexMsgField_setF64(CorvexMsgField* field, double value)
{
    if (field->mType != MAMA_FIELD_TYPE_F64)
    {
        corvexMsgField_retypeNumber(field, MAMA_FIELD_TYPE_F64);
    }
    field->mValue.mF64 = value;
}

/* A string or opaque value (or a copied field's bytes): the field copies size
 * bytes from data, which may lie in its own storage. */
void corvexMsgField_setBytes(CorvexMsgField* field, mamaFieldType type, const void* data,
                             size_t size);
void corvexMsgField_setPrice(CorvexMsgField* field, const CorvexMsgPrice& value);
void corvexMsgField_setTime(CorvexMsgField* field, const CorvexMsgTime& value);
/* A vector of anything but messages, from the wire form of its elements. */
void corvexMsgField_setVector(CorvexMsgField* field, mamaFieldType type, uint32_t count,
                              std::string elements);
/* MSG (one payload) or VECTOR_MSG: the field takes the payloads. */
void corvexMsgField_setMsgs(CorvexMsgField* field, mamaFieldType type,
                            std::vector<std::unique_ptr<CorvexMsgPayload>> msgs);

/* A new payload with copies of the fields of src. */
std::unique_ptr<CorvexMsgPayload> corvexMsgPayload_clone(const CorvexMsgPayload* src);

/* Copies every field of src into dest as owned fields (update when `update`,
 * else append). */
void corvexMsgPayload_copyFields(CorvexMsgPayload* dest, const CorvexMsgPayload* src, bool update);

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "numbers and vector elements are kept in their little-endian wire form as they are");

/* A number of type T at p, which need not be aligned. */
template <typename T> inline T corvexMsg_load(const uint8_t* p)
{
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

/* Writes a number of type T at p; returns the end of what it wrote. */
template <typename T> inline uint8_t* corvexMsg_store(uint8_t* p, T value)
{
    std::memcpy(p, &value, sizeof value);
    return p + sizeof value;
}

/* An unsigned number of n (1, 2, 4 or 8) bytes; the widest are tried first,
 * as most numbers take 8 or 4. */
inline uint64_t corvexMsg_readLe(const uint8_t* p, size_t n)
{
    if (n == 8)
    {
        return corvexMsg_load<uint64_t>(p);
    }
    if (n == 4)
    {
        return corvexMsg_load<uint32_t>(p);
    }
    if (n == 2)
    {
        return corvexMsg_load<uint16_t>(p);
    }
    return *p;
}

/* Writes the n (1, 2, 4 or 8) low bytes of value; returns the end of what
 * it wrote. A number's wire form: its value as the field keeps it (F32 bits
 * in the low four bytes, signed types sign-extended). */
inline uint8_t* corvexMsg_writeLe(uint8_t* p, uint64_t value, size_t n)
{
    switch (n)
    {
    case 1:
        *p = static_cast<uint8_t>(value);
        return p + 1;
    case 2:
        return corvexMsg_store(p, static_cast<uint16_t>(value));
    case 4:
        return corvexMsg_store(p, static_cast<uint32_t>(value));
    default:
        return corvexMsg_store(p, value);
    }
}

/* Wire forms of the fixed-size elements; the writers return the end of what
 * they wrote. */
uint8_t* corvexMsg_writePrice(uint8_t* out, const CorvexMsgPrice& price);
uint8_t* corvexMsg_writeTime(uint8_t* out, const CorvexMsgTime& time);
CorvexMsgPrice corvexMsg_readPrice(const uint8_t* in);
CorvexMsgTime corvexMsg_readTime(const uint8_t* in);

/* The view of a vector field, built on first use; null when memory is short. */
CorvexMsgVectorView* corvexMsgField_view(CorvexMsgField* field);
/* Elements of a fixed-size scalar vector, aligned for T. */
const void* corvexMsgVectorView_values(const CorvexMsgVectorView* view);
const char** corvexMsgVectorView_strings(CorvexMsgVectorView* view);
const mamaPrice* corvexMsgVectorView_prices(CorvexMsgVectorView* view);
const mamaDateTime* corvexMsgVectorView_times(CorvexMsgVectorView* view);
void* const* corvexMsgVectorView_msgs(CorvexMsgVectorView* view);

/* Readers with the widening the host relies on (e.g. a U8 read as I32); the
 * integer ones inline, as every typed getter goes through them. */
inline mama_status corvexMsgField_getSigned(const CorvexMsgField* field, int64_t min, int64_t max,
                                            int64_t* result)
{
    int64_t v = 0;
    if (corvexMsg_isSignedType(field->mType))
    {
        v = field->mValue.mSigned;
    }
    else if (corvexMsg_isUnsignedType(field->mType))
    {
        if (field->mValue.mUnsigned > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
        {
            return MAMA_STATUS_WRONG_FIELD_TYPE;
        }
        v = static_cast<int64_t>(field->mValue.mUnsigned);
    }
    else
    {
        return MAMA_STATUS_WRONG_FIELD_TYPE;
    }
    if (v < min || v > max)
    {
        return MAMA_STATUS_WRONG_FIELD_TYPE;
    }
    *result = v;
    return MAMA_STATUS_OK;
}

inline mama_status corvexMsgField_getUnsigned(const CorvexMsgField* field, uint64_t max,
                                              uint64_t* result)
{
    uint64_t v = 0;
    if (corvexMsg_isUnsignedType(field->mType))
    {
        v = field->mValue.mUnsigned;
    }
    else if (corvexMsg_isSignedType(field->mType))
    {
        if (field->mValue.mSigned < 0)
        {
            return MAMA_STATUS_WRONG_FIELD_TYPE;
        }
        v = static_cast<uint64_t>(field->mValue.mSigned);
    }
    else
    {
        return MAMA_STATUS_WRONG_FIELD_TYPE;
    }
    if (v > max)
    {
        return MAMA_STATUS_WRONG_FIELD_TYPE;
    }
    *result = v;
    return MAMA_STATUS_OK;
}

mama_status corvexMsgField_getF64(const CorvexMsgField* field, double* result);
mama_status corvexMsgField_getF32(const CorvexMsgField* field, float* result);

/* Wire form. decode validates the whole buffer before touching msg; on
 * failure msg is unchanged and the result is MAMA_STATUS_PLATFORM. A decoded
 * message and its sub-messages borrow the buffer. */
mama_status corvexMsgCodec_decode(CorvexMsgPayload* msg, const void* buffer, size_t length);
/* Encodes msg again into its buffer (mEncoded) and makes that encoding valid. */
void corvexMsgCodec_encodeAgain(CorvexMsgPayload* msg);

/* The encoding of msg: the received bytes while it borrows them, else its last
 * encoding, made again first when something changed that it could not take. */
inline mama_status corvexMsgCodec_encode(CorvexMsgPayload* msg, const void** buffer, size_t* length)
{
    if (msg->mWire != nullptr)
    {
        *buffer = msg->mWire;
        *length = msg->mWireLen;
        return MAMA_STATUS_OK;
    }
    if (!msg->mEncodedValid)
    {
        corvexMsgCodec_encodeAgain(msg);
    }
    *buffer = msg->mEncoded.data();
    *length = msg->mEncodedSize;
    return MAMA_STATUS_OK;
}

/* Whether msg's last encoding is valid and may take a changed value in place:
 * msg is no sub-message (its holder has an encoding of its own). */
inline bool corvexMsgCodec_canPatch(const CorvexMsgPayload* msg)
{
    return msg->mEncodedValid && msg->mContainer == nullptr;
}

/* corvexMsgCodec_patch's writing of a value that is no number. */
bool corvexMsgCodec_patchValue(CorvexMsgPayload* msg, const CorvexMsgField* field);

/* After a change to a field of a message that corvexMsgCodec_canPatch allowed:
 * writes the field's value into the last encoding when it keeps the type and
 * byte size (mSize) it had there, oldType and oldSize, so that it takes the
 * same bytes (sub-messages never do); false, with the encoding left as it
 * was, when it cannot. */
inline bool corvexMsgCodec_patch(CorvexMsgPayload* msg, const CorvexMsgField* field,
                                 mamaFieldType oldType, uint32_t oldSize)
{
    /* a field the last encoding holds (not one added since, nor one of
     * another decode) whose value takes the same bytes there: the type fixes
     * the size of the rest */
    if (field->mEncodedIn != msg->mEncodings || field->mType != oldType || field->mSize != oldSize)
    {
        return false;
    }
    /* a number is kept as its wire form, widened (little-endian) */
    const size_t size = corvexMsg_scalarSize(oldType);
    if (size != 0)
    {
        corvexMsg_writeLe(msg->mEncoded.data() + field->mEncodedAt, field->mValue.mUnsigned, size);
        return true;
    }
    return corvexMsgCodec_patchValue(msg, field);
}

/* Text forms. */
void corvexMsgFormat_value(const CorvexMsgField* field, std::string* out);
void corvexMsgFormat_fields(const CorvexMsgPayload* msg, std::string* out);
const char* corvexMsgFormat_message(CorvexMsgPayload* msg);

#endif
