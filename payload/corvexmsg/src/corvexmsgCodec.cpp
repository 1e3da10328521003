/* Wire form, little-endian:
 *   id '1', format version 1, u32 field count, then per field:
 *   u8 type, u16 fid, u16 name size (0 = no name; else including its NUL),
 *   the name, and the value: 1, 2, 4 or 8 bytes for scalars; u32 size and
 *   bytes for strings (NUL included, so they can be read in place) and
 *   opaque values. The buffer ends exactly after the last field. */
#include "corvexmsgPayload.h"

#include <cstring>

namespace
{

constexpr uint8_t FORMAT_VERSION = 1;
constexpr size_t HEADER_SIZE = 6;
constexpr size_t MIN_FIELD_SIZE = 6;

/* Takes the raw number: received bytes may hold values outside the enumeration. */
size_t scalarSize (uint64_t type)
{
    switch (type)
    {
    case MAMA_FIELD_TYPE_BOOL:
    case MAMA_FIELD_TYPE_CHAR:
    case MAMA_FIELD_TYPE_I8:
    case MAMA_FIELD_TYPE_U8: return 1;
    case MAMA_FIELD_TYPE_I16:
    case MAMA_FIELD_TYPE_U16: return 2;
    case MAMA_FIELD_TYPE_I32:
    case MAMA_FIELD_TYPE_U32:
    case MAMA_FIELD_TYPE_F32: return 4;
    case MAMA_FIELD_TYPE_I64:
    case MAMA_FIELD_TYPE_U64:
    case MAMA_FIELD_TYPE_F64: return 8;
    default: return 0;
    }
}

bool isWireType (uint64_t type)
{
    switch (type)
    {
    case MAMA_FIELD_TYPE_STRING:
    case MAMA_FIELD_TYPE_OPAQUE: return true;
    default: return scalarSize (type) != 0;
    }
}

uint64_t readLe (const uint8_t* p, size_t n)
{
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i)
    {
        v |= static_cast<uint64_t> (p[i]) << (8 * i);
    }
    return v;
}

void writeLe (std::vector<uint8_t>* out, uint64_t v, size_t n)
{
    for (size_t i = 0; i < n; ++i)
    {
        out->push_back (static_cast<uint8_t> (v >> (8 * i)));
    }
}

int64_t signExtend (uint64_t raw, size_t n)
{
    if (n == 8)
    {
        return static_cast<int64_t> (raw);
    }
    const uint64_t sign = uint64_t (1) << (8 * n - 1);
    return static_cast<int64_t> ((raw ^ sign) - sign);
}

/* Bounds-checked reader over the received bytes. */
struct Reader
{
    const uint8_t* mData;
    size_t mLen;
    size_t mPos;

    bool take (size_t n, const uint8_t** out)
    {
        if (n > mLen - mPos)
        {
            return false;
        }
        *out = mData + mPos;
        mPos += n;
        return true;
    }

    bool number (size_t n, uint64_t* out)
    {
        const uint8_t* p = nullptr;
        if (!take (n, &p))
        {
            return false;
        }
        *out = readLe (p, n);
        return true;
    }
};

bool decodeValue (Reader* in, CorvexMsgField* f)
{
    const size_t size = scalarSize (f->mType);
    uint64_t raw = 0;
    if (size != 0)
    {
        if (!in->number (size, &raw))
        {
            return false;
        }
        switch (f->mType)
        {
        case MAMA_FIELD_TYPE_F32:
        {
            uint32_t bits = static_cast<uint32_t> (raw);
            std::memcpy (&f->mValue.mF32, &bits, sizeof bits);
            break;
        }
        case MAMA_FIELD_TYPE_F64: std::memcpy (&f->mValue.mF64, &raw, sizeof raw); break;
        case MAMA_FIELD_TYPE_CHAR:
        case MAMA_FIELD_TYPE_I8:
        case MAMA_FIELD_TYPE_I16:
        case MAMA_FIELD_TYPE_I32:
        case MAMA_FIELD_TYPE_I64: f->mValue.mSigned = signExtend (raw, size); break;
        default: f->mValue.mUnsigned = raw; break;
        }
        return true;
    }
    uint64_t length = 0;
    const uint8_t* bytes = nullptr;
    if (!in->number (4, &length) || !in->take (static_cast<size_t> (length), &bytes))
    {
        return false;
    }
    if (f->mType == MAMA_FIELD_TYPE_STRING && (length == 0 || bytes[length - 1] != '\0'))
    {
        return false;
    }
    f->mData = bytes;
    f->mSize = static_cast<uint32_t> (length);
    return true;
}

bool decodeField (Reader* in, CorvexMsgField* f)
{
    uint64_t type = 0;
    uint64_t fid = 0;
    uint64_t nameSize = 0;
    if (!in->number (1, &type) || !in->number (2, &fid) || !in->number (2, &nameSize))
    {
        return false;
    }
    /* checked as a number first: an unknown value is no mamaFieldType */
    if (!isWireType (type))
    {
        return false;
    }
    f->mType = static_cast<mamaFieldType> (type);
    f->mFid = static_cast<mama_fid_t> (fid);
    if (nameSize != 0)
    {
        const uint8_t* name = nullptr;
        if (!in->take (static_cast<size_t> (nameSize), &name) || name[nameSize - 1] != '\0')
        {
            return false;
        }
        f->mName = reinterpret_cast<const char*> (name);
    }
    return decodeValue (in, f);
}

void encodeField (std::vector<uint8_t>* out, const CorvexMsgField& f)
{
    out->push_back (static_cast<uint8_t> (f.mType));
    writeLe (out, f.mFid, 2);
    const size_t nameSize = f.mName != nullptr ? std::strlen (f.mName) + 1 : 0;
    writeLe (out, nameSize, 2);
    out->insert (out->end (), f.mName, f.mName + nameSize);

    const size_t size = scalarSize (f.mType);
    if (size == 0)
    {
        writeLe (out, f.mSize, 4);
        out->insert (out->end (), f.mData, f.mData + f.mSize);
        return;
    }
    uint64_t raw = f.mValue.mUnsigned;
    if (f.mType == MAMA_FIELD_TYPE_F32)
    {
        uint32_t bits = 0;
        std::memcpy (&bits, &f.mValue.mF32, sizeof bits);
        raw = bits;
    }
    writeLe (out, raw, size);
}

} // namespace

mama_status corvexMsgCodec_decode (CorvexMsgPayload* msg, const void* buffer, size_t length)
{
    const uint8_t* bytes = static_cast<const uint8_t*> (buffer);
    if (length < HEADER_SIZE || bytes[0] != static_cast<uint8_t> (CORVEXMSG_PAYLOAD_ID) ||
        bytes[1] != FORMAT_VERSION)
    {
        return MAMA_STATUS_PLATFORM;
    }
    const uint64_t count = readLe (bytes + 2, 4);
    /* refuse counts the buffer cannot hold before allocating anything */
    if (count > (length - HEADER_SIZE) / MIN_FIELD_SIZE)
    {
        return MAMA_STATUS_PLATFORM;
    }
    Reader in = {bytes, length, HEADER_SIZE};
    std::deque<CorvexMsgField> fields;
    for (uint64_t i = 0; i < count; ++i)
    {
        fields.emplace_back ();
        fields.back ().mMsg = msg;
        if (!decodeField (&in, &fields.back ()))
        {
            return MAMA_STATUS_PLATFORM;
        }
    }
    if (in.mPos != length)
    {
        return MAMA_STATUS_PLATFORM;
    }
    msg->mFields.swap (fields);
    msg->mWire = bytes;
    msg->mWireLen = length;
    msg->mEncodedValid = false;
    return MAMA_STATUS_OK;
}

mama_status corvexMsgCodec_encode (CorvexMsgPayload* msg, const void** buffer, size_t* length)
{
    if (msg->mWire != nullptr)
    {
        /* unchanged since decoding: the received bytes are the encoding */
        *buffer = msg->mWire;
        *length = msg->mWireLen;
        return MAMA_STATUS_OK;
    }
    if (!msg->mEncodedValid)
    {
        std::vector<uint8_t>& out = msg->mEncoded;
        out.clear ();
        out.push_back (static_cast<uint8_t> (CORVEXMSG_PAYLOAD_ID));
        out.push_back (FORMAT_VERSION);
        writeLe (&out, msg->mFields.size (), 4);
        for (const CorvexMsgField& f : msg->mFields)
        {
            encodeField (&out, f);
        }
        msg->mEncodedValid = true;
    }
    *buffer = msg->mEncoded.data ();
    *length = msg->mEncoded.size ();
    return MAMA_STATUS_OK;
}
