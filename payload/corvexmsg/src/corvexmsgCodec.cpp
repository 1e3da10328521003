/* Wire form, little-endian; payload/corvexmsg/README.md describes it. Every
 * size is checked against what is left of the buffer before it is used, so a
 * damaged buffer is refused without reading outside it or allocating more
 * than it could describe. */
#include "corvexmsgPayload.h"

#include <cstring>

#include <mama/datetime.h>

namespace
{

/* Version 2 added prices, date-times, sub-messages and vectors; version 1
 * buffers (scalars, strings and opaque values only) still decode. */
constexpr uint8_t FORMAT_VERSION = 2;
constexpr size_t HEADER_SIZE = 6;
/* type, fid, name size */
constexpr size_t FIELD_HEADER_SIZE = 5;
constexpr size_t MIN_FIELD_SIZE = 6;
/* Sub-messages nest at most this deep: the decoder recurses per level. */
constexpr int MAX_DEPTH = 32;

/* What a field's value holds besides its number (mValue), by type: the
 * members a decode into the field resets. A field's members that its type
 * does not use are at their defaults (every change of type clears them), so a
 * number holds none of these. */
constexpr uint8_t HOLDS_BYTES = 1; /* mData, mSize, mCount: every value but a number */
constexpr uint8_t HOLDS_PRICE = 2;
constexpr uint8_t HOLDS_TIME = 4;
constexpr uint8_t HOLDS_VIEW = 8;
constexpr uint8_t HOLDS_MSGS = 16;
constexpr uint8_t HOLDS_ANY = HOLDS_BYTES | HOLDS_PRICE | HOLDS_TIME | HOLDS_VIEW | HOLDS_MSGS;

/* The format version of a type byte that has no wire type. */
constexpr uint8_t NO_VERSION = 0xff;

/* What the decoder needs to know of a type byte, looked up once per field
 * (eight bytes, so that the look-up is a shift). */
struct alignas(8) WireType
{
    uint8_t mSince = NO_VERSION; /* the format version that brought it */
    uint8_t mScalarSize = 0;     /* BOOL .. F64: the value's size */
    uint8_t mFixedSize = 0;      /* numbers, prices and date-times: the value's size */
    /* CHAR, I8 .. I64: the shift that sign-extends the value; 0 for others */
    uint8_t mSignShift = 0;
    uint8_t mHolds = HOLDS_ANY; /* a type that is no wire type: anything */
};

constexpr WireType wireType(uint64_t type)
{
    WireType wire;
    wire.mScalarSize = static_cast<uint8_t>(corvexMsg_scalarSize(type));
    wire.mFixedSize = wire.mScalarSize;
    if (corvexMsg_isSignedType(type))
    {
        wire.mSignShift = static_cast<uint8_t>(64 - 8 * wire.mScalarSize);
    }
    switch (type)
    {
    case MAMA_FIELD_TYPE_STRING:
    case MAMA_FIELD_TYPE_OPAQUE:
        wire.mSince = 1;
        wire.mHolds = HOLDS_BYTES;
        break;
    case MAMA_FIELD_TYPE_PRICE:
        wire.mSince = 2;
        wire.mFixedSize = CORVEXMSG_PRICE_SIZE;
        wire.mHolds = HOLDS_BYTES | HOLDS_PRICE;
        break;
    case MAMA_FIELD_TYPE_TIME:
        wire.mSince = 2;
        wire.mFixedSize = CORVEXMSG_TIME_SIZE;
        wire.mHolds = HOLDS_BYTES | HOLDS_TIME;
        break;
    case MAMA_FIELD_TYPE_MSG:
        wire.mSince = 2;
        wire.mHolds = HOLDS_BYTES | HOLDS_MSGS;
        break;
    case MAMA_FIELD_TYPE_VECTOR_STRING:
        wire.mSince = 2;
        wire.mHolds = HOLDS_BYTES | HOLDS_VIEW;
        break;
    case MAMA_FIELD_TYPE_VECTOR_MSG:
        wire.mSince = 2;
        wire.mHolds = HOLDS_BYTES | HOLDS_VIEW | HOLDS_MSGS;
        break;
    default:
        if (wire.mScalarSize != 0)
        {
            wire.mSince = 1;
            wire.mHolds = 0;
        }
        else if (corvexMsg_elementSize(type) != 0)
        {
            wire.mSince = 2;
            wire.mHolds = HOLDS_BYTES | HOLDS_VIEW;
        }
        break;
    }
    return wire;
}

/* Every value of a type byte. */
struct WireTypes
{
    WireType mTypes[256];
};

constexpr WireTypes wireTypes()
{
    WireTypes table;
    for (unsigned type = 0; type < 256; ++type)
    {
        table.mTypes[type] = wireType(type);
    }
    return table;
}

constexpr WireTypes WIRE_TYPES = wireTypes();

/* Bounds-checked reader over the received bytes. */
struct Reader
{
    const uint8_t* mAt;
    const uint8_t* mEnd;

    size_t left() const
    {
        return static_cast<size_t>(mEnd - mAt);
    }

    bool take(size_t n, const uint8_t** out)
    {
        if (n > left())
        {
            return false;
        }
        *out = mAt;
        mAt += n;
        return true;
    }

    bool size(uint32_t* out)
    {
        const uint8_t* p = nullptr;
        if (!take(4, &p))
        {
            return false;
        }
        *out = corvexMsg_load<uint32_t>(p);
        return true;
    }
};

bool decodeMessage(const uint8_t* bytes, size_t length, int depth, CorvexMsgPayload* msg);

/* A date-time the host can hold: nanoseconds within the second, a precision
 * within the host's four bits. */
bool isValidTime(const uint8_t* bytes)
{
    const CorvexMsgTime time = corvexMsg_readTime(bytes);
    return time.mNanoseconds < 1000000000u && time.mPrecision <= MAMA_DATE_TIME_PREC_UNKNOWN;
}

/* The value's bytes (size of them at p) are its number's, widened: F32 and
 * F64 bits land where the union keeps them (little-endian), signed types are
 * sign-extended. */
void decodeScalar(const uint8_t* p, CorvexMsgField* f, const WireType& wire)
{
    const uint64_t raw = corvexMsg_readLe(p, wire.mScalarSize);
    const unsigned shift = wire.mSignShift;
    f->mValue.mSigned = static_cast<int64_t>(raw << shift) >> shift;
}

/* A u32 size and that many bytes. */
bool takeSized(Reader* in, const uint8_t** bytes, uint32_t* size)
{
    return in->size(size) && in->take(*size, bytes);
}

bool isTerminatedString(const uint8_t* bytes, uint32_t size)
{
    return size != 0 && bytes[size - 1] == '\0';
}

/* Sized sub-message number `index` of the field, decoded into the payload an
 * earlier decode left there when there is one. */
bool decodeSubMessage(Reader* in, CorvexMsgField* f, size_t index, int depth)
{
    const uint8_t* bytes = nullptr;
    uint32_t size = 0;
    if (depth >= MAX_DEPTH || !takeSized(in, &bytes, &size))
    {
        return false;
    }
    if (index == f->mMsgs.size())
    {
        f->mMsgs.push_back(std::make_unique<CorvexMsgPayload>());
    }
    CorvexMsgPayload* sub = f->mMsgs[index].get();
    sub->mContainer = f->mMsg;
    return decodeMessage(bytes, size, depth + 1, sub);
}

/* The field's sub-messages: count of them, from the first. */
bool decodeSubMessages(Reader* in, CorvexMsgField* f, size_t count, int depth)
{
    for (size_t i = 0; i < count; ++i)
    {
        if (!decodeSubMessage(in, f, i, depth))
        {
            return false;
        }
    }
    f->mMsgs.resize(count);
    f->mCount = static_cast<uint32_t>(count);
    return true;
}

bool decodeVector(Reader* in, CorvexMsgField* f, int depth)
{
    uint32_t count = 0;
    if (!in->size(&count))
    {
        return false;
    }
    const uint8_t* const start = in->mAt;
    const size_t elementSize = corvexMsg_elementSize(f->mType);
    if (elementSize != 0)
    {
        const uint8_t* bytes = nullptr;
        if (count > in->left() / elementSize || !in->take(count * elementSize, &bytes))
        {
            return false;
        }
        for (uint32_t i = 0; f->mType == MAMA_FIELD_TYPE_VECTOR_TIME && i < count; ++i)
        {
            if (!isValidTime(bytes + i * elementSize))
            {
                return false;
            }
        }
    }
    else if (f->mType == MAMA_FIELD_TYPE_VECTOR_STRING)
    {
        /* each element is at least a size and its terminator */
        if (count > in->left() / 5)
        {
            return false;
        }
        for (uint32_t i = 0; i < count; ++i)
        {
            const uint8_t* bytes = nullptr;
            uint32_t size = 0;
            if (!takeSized(in, &bytes, &size) || !isTerminatedString(bytes, size))
            {
                return false;
            }
        }
    }
    else
    {
        return count <= in->left() / (4 + HEADER_SIZE) && decodeSubMessages(in, f, count, depth);
    }
    f->mCount = count;
    f->mData = start;
    f->mSize = static_cast<uint32_t>(in->mAt - start);
    return true;
}

/* A sub-message or a vector: out of the path of the other values. */
__attribute__((noinline)) bool decodeValue(Reader* in, CorvexMsgField* f, int depth)
{
    if (f->mType == MAMA_FIELD_TYPE_MSG)
    {
        return decodeSubMessages(in, f, 1, depth);
    }
    return decodeVector(in, f, depth);
}

bool isMessageType(mamaFieldType type)
{
    return type == MAMA_FIELD_TYPE_MSG || type == MAMA_FIELD_TYPE_VECTOR_MSG;
}

/* What a field of the type holds besides its number. */
uint8_t heldBy(mamaFieldType type)
{
    const unsigned index = static_cast<unsigned>(type);
    return index < 256 ? WIRE_TYPES.mTypes[index].mHolds : HOLDS_ANY;
}

/* resetField's part for a field whose last type holds more than a number,
 * a string or an opaque value. */
__attribute__((noinline)) void resetComposite(CorvexMsgField* f, uint8_t held, mamaFieldType next)
{
    if ((held & HOLDS_PRICE) != 0)
    {
        f->mPrice = CorvexMsgPrice();
    }
    if ((held & HOLDS_TIME) != 0)
    {
        f->mTime = CorvexMsgTime();
    }
    if ((held & HOLDS_VIEW) != 0 && f->mView != nullptr)
    {
        corvexMsgField_release(f);
    }
    /* sub-messages an earlier decode left are decoded into again */
    if ((held & HOLDS_MSGS) != 0 && !isMessageType(next))
    {
        f->mMsgs.clear();
    }
}

/* A field of a message decoded before, for the decoder to fill with a value
 * of type `next`: nothing of its last value, no memory of its own but for its
 * sub-messages, which the decoder decodes into again. Only what its last type
 * uses is reset, the rest being at its defaults already; a value of the type
 * it had writes over all of that but a vector's view. */
void resetField(CorvexMsgField* f, mamaFieldType next)
{
    if (f->mType == next)
    {
        if (f->mView != nullptr)
        {
            corvexMsgField_release(f);
        }
        return;
    }
    const uint8_t held = heldBy(f->mType);
    if (held != 0)
    {
        f->mData = nullptr;
        f->mSize = 0;
        f->mCount = 0;
        if (held != HOLDS_BYTES)
        {
            resetComposite(f, held, next);
        }
    }
}

/* Gives back the copies of names and values fields hold, memory of their own. */
void releaseCopies(const CorvexMsgFieldList& fields)
{
    for (CorvexMsgField& f : fields)
    {
        if (corvexMsg_holdsMemory(f.mNameStore) || corvexMsg_holdsMemory(f.mDataStore))
        {
            corvexMsgField_release(&f);
        }
    }
}

/* A string or opaque value: a u32 size and that many bytes, a string's
 * ending in its terminator. */
bool decodeBytes(Reader* in, CorvexMsgField* f)
{
    const uint8_t* bytes = nullptr;
    uint32_t size = 0;
    if (!takeSized(in, &bytes, &size) ||
        (f->mType == MAMA_FIELD_TYPE_STRING && !isTerminatedString(bytes, size)))
    {
        return false;
    }
    f->mData = bytes;
    f->mSize = size;
    return true;
}

bool decodeField(Reader* in, CorvexMsgField* f, uint8_t version, int depth)
{
    const uint8_t* const header = in->mAt;
    if (in->left() < FIELD_HEADER_SIZE)
    {
        return false;
    }
    /* checked as a number first: an unknown value is no mamaFieldType */
    const WireType& wire = WIRE_TYPES.mTypes[header[0]];
    if (wire.mSince > version)
    {
        return false;
    }
    const uint16_t nameSize = corvexMsg_load<uint16_t>(header + 3);
    /* the header, the name and a value of fixed size, with one bounds check */
    const size_t fixedSize = FIELD_HEADER_SIZE + nameSize + wire.mFixedSize;
    if (in->left() < fixedSize)
    {
        return false;
    }
    const uint8_t* const name = header + FIELD_HEADER_SIZE;
    if (nameSize != 0 && name[nameSize - 1] != '\0')
    {
        return false;
    }
    const mamaFieldType type = static_cast<mamaFieldType>(header[0]);
    resetField(f, type);
    f->mType = type;
    f->mFid = corvexMsg_load<uint16_t>(header + 1);
    f->mName = nameSize != 0 ? reinterpret_cast<const char*>(name) : nullptr;
    f->mNameSize = nameSize;
    in->mAt = header + fixedSize;
    const uint8_t* const value = name + nameSize;
    if (wire.mScalarSize != 0)
    {
        decodeScalar(value, f, wire);
        return true;
    }
    /* any other value has no number */
    f->mValue.mUnsigned = 0;
    if (type == MAMA_FIELD_TYPE_STRING || type == MAMA_FIELD_TYPE_OPAQUE)
    {
        return decodeBytes(in, f);
    }
    if (type == MAMA_FIELD_TYPE_PRICE)
    {
        f->mPrice = corvexMsg_readPrice(value);
        return true;
    }
    if (type == MAMA_FIELD_TYPE_TIME)
    {
        if (!isValidTime(value))
        {
            return false;
        }
        f->mTime = corvexMsg_readTime(value);
        return true;
    }
    /* on a copy of the reader: the one of the path of numbers stays out of
     * memory */
    Reader rest = *in;
    if (!decodeValue(&rest, f, depth))
    {
        return false;
    }
    *in = rest;
    return true;
}

/* Fields past those of the decode before: added to fields, count of them. */
__attribute__((noinline)) bool decodeAdded(Reader* in, CorvexMsgPayload* msg,
                                           CorvexMsgFieldList* fields, size_t count,
                                           uint8_t version, int depth)
{
    for (size_t i = 0; i < count; ++i)
    {
        CorvexMsgField& f = fields->add();
        f.mMsg = msg;
        if (!decodeField(in, &f, version, depth))
        {
            return false;
        }
    }
    return true;
}

bool decodeMessage(const uint8_t* bytes, size_t length, int depth, CorvexMsgPayload* msg)
{
    if (length < HEADER_SIZE || bytes[0] != static_cast<uint8_t>(CORVEXMSG_PAYLOAD_ID) ||
        bytes[1] == 0 || bytes[1] > FORMAT_VERSION)
    {
        return false;
    }
    const uint8_t version = bytes[1];
    const size_t count = corvexMsg_load<uint32_t>(bytes + 2);
    /* refuse counts the buffer cannot hold before allocating anything (a
     * count is 32 bits: the product cannot overflow) */
    if (count * MIN_FIELD_SIZE > length - HEADER_SIZE)
    {
        return false;
    }
    Reader in = {bytes + HEADER_SIZE, bytes + length};
    /* refused bytes leave mFields as they were; the fields decoded into are
     * those of the decode before, kept with their memory, then new ones */
    CorvexMsgFieldList& fields = msg->mDecoding;
    if (msg->mDecodingHolds)
    {
        releaseCopies(fields);
        msg->mDecodingHolds = false;
    }
    const size_t reused = count < fields.size() ? count : fields.size();
    CorvexMsgFieldList::Iterator at = fields.begin();
    for (size_t i = 0; i < reused; ++i, ++at)
    {
        if (!decodeField(&in, &*at, version, depth))
        {
            return false;
        }
    }
    if (reused < count)
    {
        /* on a copy of the reader: the loop's stays out of memory */
        Reader rest = in;
        if (!decodeAdded(&rest, msg, &fields, count - reused, version, depth))
        {
            return false;
        }
        in = rest;
    }
    if (in.left() != 0)
    {
        return false;
    }
    fields.truncate(count);
    /* the fields replaced may hold copies once they stopped reading in place */
    msg->mDecodingHolds = msg->mWire == nullptr;
    msg->mFields.swap(fields);
    msg->mWire = bytes;
    msg->mWireLen = length;
    msg->mEncodedValid = false;
    msg->mNextFind = 0;
    return true;
}

/* Wire size of a field's value; sub-messages count as last measured. */
size_t valueSize(const CorvexMsgField& f)
{
    const size_t size = corvexMsg_scalarSize(f.mType);
    if (size != 0)
    {
        return size;
    }
    switch (f.mType)
    {
    case MAMA_FIELD_TYPE_PRICE:
        return CORVEXMSG_PRICE_SIZE;
    case MAMA_FIELD_TYPE_TIME:
        return CORVEXMSG_TIME_SIZE;
    case MAMA_FIELD_TYPE_MSG:
        return 4 + f.mMsgs.front()->mMeasured;
    case MAMA_FIELD_TYPE_VECTOR_MSG:
    {
        size_t total = 4;
        for (const std::unique_ptr<CorvexMsgPayload>& sub : f.mMsgs)
        {
            total += 4 + sub->mMeasured;
        }
        return total;
    }
    default:
        /* a size or count, then the bytes */
        return 4 + f.mSize;
    }
}

/* The wire size of msg and, in their mMeasured, of msg and every message in it. */
size_t measureMessage(CorvexMsgPayload* msg)
{
    if (msg->mWire != nullptr)
    {
        return msg->mMeasured = msg->mWireLen;
    }
    size_t total = HEADER_SIZE;
    for (CorvexMsgField& f : msg->mFields)
    {
        for (std::unique_ptr<CorvexMsgPayload>& sub : f.mMsgs)
        {
            measureMessage(sub.get());
        }
        total += FIELD_HEADER_SIZE + f.mNameSize + valueSize(f);
    }
    return msg->mMeasured = total;
}

uint8_t* writeMessage(uint8_t* out, CorvexMsgPayload* msg, bool note);

uint8_t* writeSized(uint8_t* out, CorvexMsgPayload* sub)
{
    out = corvexMsg_store(out, static_cast<uint32_t>(sub->mMeasured));
    return writeMessage(out, sub, false);
}

uint8_t* writeBytes(uint8_t* out, const void* bytes, size_t size)
{
    /* no value may still mean no pointer */
    if (size != 0)
    {
        std::memcpy(out, bytes, size);
    }
    return out + size;
}

uint8_t* writeValue(uint8_t* out, const CorvexMsgField& f)
{
    const size_t size = corvexMsg_scalarSize(f.mType);
    if (size != 0)
    {
        return corvexMsg_writeLe(out, f.mValue.mUnsigned, size);
    }
    switch (f.mType)
    {
    case MAMA_FIELD_TYPE_PRICE:
        return corvexMsg_writePrice(out, f.mPrice);
    case MAMA_FIELD_TYPE_TIME:
        return corvexMsg_writeTime(out, f.mTime);
    case MAMA_FIELD_TYPE_MSG:
        return writeSized(out, f.mMsgs.front().get());
    case MAMA_FIELD_TYPE_VECTOR_MSG:
        out = corvexMsg_store(out, static_cast<uint32_t>(f.mMsgs.size()));
        for (const std::unique_ptr<CorvexMsgPayload>& sub : f.mMsgs)
        {
            out = writeSized(out, sub.get());
        }
        return out;
    case MAMA_FIELD_TYPE_STRING:
    case MAMA_FIELD_TYPE_OPAQUE:
        out = corvexMsg_store(out, f.mSize);
        return writeBytes(out, f.mData, f.mSize);
    default:
        out = corvexMsg_store(out, f.mCount);
        return writeBytes(out, f.mData, f.mSize);
    }
}

uint8_t* writeFieldHeader(uint8_t* out, const CorvexMsgField& f)
{
    *out++ = static_cast<uint8_t>(f.mType);
    out = corvexMsg_store(out, f.mFid);
    out = corvexMsg_store(out, f.mNameSize);
    return writeBytes(out, f.mName, f.mNameSize);
}

/* Every size in it as measureMessage left it. With `note`, each field of msg
 * notes where its value lies, from the start of msg. */
uint8_t* writeMessage(uint8_t* out, CorvexMsgPayload* msg, bool note)
{
    if (msg->mWire != nullptr)
    {
        /* unchanged since decoding: the received bytes are the encoding */
        return writeBytes(out, msg->mWire, msg->mWireLen);
    }
    uint8_t* const start = out;
    const uint64_t encoding = note ? ++msg->mEncodings : 0;
    *out++ = static_cast<uint8_t>(CORVEXMSG_PAYLOAD_ID);
    *out++ = FORMAT_VERSION;
    out = corvexMsg_store(out, static_cast<uint32_t>(msg->mFields.size()));
    for (CorvexMsgField& f : msg->mFields)
    {
        out = writeFieldHeader(out, f);
        if (note)
        {
            f.mEncodedAt = static_cast<size_t>(out - start);
            f.mEncodedIn = encoding;
        }
        out = writeValue(out, f);
    }
    return out;
}

} // namespace

mama_status corvexMsgCodec_decode(CorvexMsgPayload* msg, const void* buffer, size_t length)
{
    return decodeMessage(static_cast<const uint8_t*>(buffer), length, 0, msg)
               ? MAMA_STATUS_OK
               : MAMA_STATUS_PLATFORM;
}

void corvexMsgCodec_encodeAgain(CorvexMsgPayload* msg)
{
    /* sized once, then written straight into the buffer */
    const size_t size = measureMessage(msg);
    if (msg->mEncoded.size() < size)
    {
        msg->mEncoded.resize(size);
    }
    writeMessage(msg->mEncoded.data(), msg, true);
    msg->mEncodedSize = size;
    msg->mEncodedValid = true;
}

bool corvexMsgCodec_patchValue(CorvexMsgPayload* msg, const CorvexMsgField* field)
{
    if (isMessageType(field->mType))
    {
        return false;
    }
    writeValue(msg->mEncoded.data() + field->mEncodedAt, *field);
    return true;
}
