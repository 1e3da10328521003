#include "corvexmsgPayload.h"

#include <cstring>
#include <limits>

namespace
{

bool hasName (const char* name)
{
    return name != nullptr && name[0] != '\0';
}

bool isSignedType (mamaFieldType type)
{
    switch (type)
    {
    case MAMA_FIELD_TYPE_CHAR:
    case MAMA_FIELD_TYPE_I8:
    case MAMA_FIELD_TYPE_I16:
    case MAMA_FIELD_TYPE_I32:
    case MAMA_FIELD_TYPE_I64: return true;
    default: return false;
    }
}

bool isUnsignedType (mamaFieldType type)
{
    switch (type)
    {
    case MAMA_FIELD_TYPE_BOOL:
    case MAMA_FIELD_TYPE_U8:
    case MAMA_FIELD_TYPE_U16:
    case MAMA_FIELD_TYPE_U32:
    case MAMA_FIELD_TYPE_U64: return true;
    default: return false;
    }
}

void clearBytes (CorvexMsgField* field)
{
    field->mDataStore.clear ();
    field->mData = nullptr;
    field->mSize = 0;
}

} // namespace

CorvexMsgField* corvexMsgPayload_find (const CorvexMsgPayload* msg, const char* name,
                                       mama_fid_t fid)
{
    CorvexMsgPayload* m = const_cast<CorvexMsgPayload*> (msg);
    if (fid != 0)
    {
        for (CorvexMsgField& f : m->mFields)
        {
            if (f.mFid == fid)
            {
                return &f;
            }
        }
    }
    if (hasName (name))
    {
        for (CorvexMsgField& f : m->mFields)
        {
            if (f.mName != nullptr && std::strcmp (f.mName, name) == 0)
            {
                return &f;
            }
        }
    }
    return nullptr;
}

void corvexMsgPayload_own (CorvexMsgPayload* msg)
{
    if (msg->mWire == nullptr)
    {
        return;
    }
    for (CorvexMsgField& f : msg->mFields)
    {
        if (f.mName != nullptr)
        {
            f.mNameStore.assign (f.mName);
            f.mName = f.mNameStore.c_str ();
        }
        if (f.mData != nullptr)
        {
            f.mDataStore.assign (reinterpret_cast<const char*> (f.mData), f.mSize);
            f.mData = reinterpret_cast<const uint8_t*> (f.mDataStore.data ());
        }
    }
    msg->mWire = nullptr;
    msg->mWireLen = 0;
}

void corvexMsgPayload_touch (CorvexMsgPayload* msg)
{
    corvexMsgPayload_own (msg);
    msg->mEncodedValid = false;
}

CorvexMsgField* corvexMsgPayload_append (CorvexMsgPayload* msg, const char* name, mama_fid_t fid)
{
    msg->mFields.emplace_back ();
    CorvexMsgField* f = &msg->mFields.back ();
    f->mMsg = msg;
    f->mFid = fid;
    if (hasName (name))
    {
        f->mNameStore.assign (name);
        f->mName = f->mNameStore.c_str ();
    }
    return f;
}

void corvexMsgField_setSigned (CorvexMsgField* field, mamaFieldType type, int64_t value)
{
    clearBytes (field);
    field->mType = type;
    field->mValue.mSigned = value;
}

void corvexMsgField_setUnsigned (CorvexMsgField* field, mamaFieldType type, uint64_t value)
{
    clearBytes (field);
    field->mType = type;
    field->mValue.mUnsigned = value;
}

void corvexMsgField_setF32 (CorvexMsgField* field, float value)
{
    clearBytes (field);
    field->mType = MAMA_FIELD_TYPE_F32;
    field->mValue.mF32 = value;
}

void corvexMsgField_setF64 (CorvexMsgField* field, double value)
{
    clearBytes (field);
    field->mType = MAMA_FIELD_TYPE_F64;
    field->mValue.mF64 = value;
}

void corvexMsgField_setBytes (CorvexMsgField* field, mamaFieldType type, const void* data,
                              size_t size)
{
    /* data may point into this field's own storage (a field updated from
     * itself), so build the new value before replacing the old one */
    std::string bytes (static_cast<const char*> (data), size);
    field->mDataStore.swap (bytes);
    field->mType = type;
    field->mData = reinterpret_cast<const uint8_t*> (field->mDataStore.data ());
    field->mSize = static_cast<uint32_t> (size);
    field->mValue.mUnsigned = 0;
}

void corvexMsgPayload_copyFields (CorvexMsgPayload* dest, const CorvexMsgPayload* src, bool update)
{
    for (const CorvexMsgField& s : src->mFields)
    {
        CorvexMsgField* d = update ? corvexMsgPayload_find (dest, s.mName, s.mFid) : nullptr;
        if (d == nullptr)
        {
            d = corvexMsgPayload_append (dest, s.mName, s.mFid);
        }
        if (s.mData != nullptr)
        {
            corvexMsgField_setBytes (d, s.mType, s.mData, s.mSize);
        }
        else
        {
            clearBytes (d);
            d->mType = s.mType;
            d->mValue = s.mValue;
        }
    }
}

mama_status corvexMsgField_getSigned (const CorvexMsgField* field, int64_t min, int64_t max,
                                      int64_t* result)
{
    int64_t v = 0;
    if (isSignedType (field->mType))
    {
        v = field->mValue.mSigned;
    }
    else if (isUnsignedType (field->mType))
    {
        if (field->mValue.mUnsigned > static_cast<uint64_t> (std::numeric_limits<int64_t>::max ()))
        {
            return MAMA_STATUS_WRONG_FIELD_TYPE;
        }
        v = static_cast<int64_t> (field->mValue.mUnsigned);
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

mama_status corvexMsgField_getUnsigned (const CorvexMsgField* field, uint64_t max, uint64_t* result)
{
    uint64_t v = 0;
    if (isUnsignedType (field->mType))
    {
        v = field->mValue.mUnsigned;
    }
    else if (isSignedType (field->mType))
    {
        if (field->mValue.mSigned < 0)
        {
            return MAMA_STATUS_WRONG_FIELD_TYPE;
        }
        v = static_cast<uint64_t> (field->mValue.mSigned);
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

mama_status corvexMsgField_getF64 (const CorvexMsgField* field, double* result)
{
    if (field->mType == MAMA_FIELD_TYPE_F64)
    {
        *result = field->mValue.mF64;
    }
    else if (field->mType == MAMA_FIELD_TYPE_F32)
    {
        *result = field->mValue.mF32;
    }
    else if (isSignedType (field->mType))
    {
        *result = static_cast<double> (field->mValue.mSigned);
    }
    else if (isUnsignedType (field->mType))
    {
        *result = static_cast<double> (field->mValue.mUnsigned);
    }
    else
    {
        return MAMA_STATUS_WRONG_FIELD_TYPE;
    }
    return MAMA_STATUS_OK;
}

mama_status corvexMsgField_getF32 (const CorvexMsgField* field, float* result)
{
    /* a double is not narrowed silently: F64 fields need getF64 */
    if (field->mType == MAMA_FIELD_TYPE_F64)
    {
        return MAMA_STATUS_WRONG_FIELD_TYPE;
    }
    double v = 0;
    mama_status status = corvexMsgField_getF64 (field, &v);
    if (status == MAMA_STATUS_OK)
    {
        *result = static_cast<float> (v);
    }
    return status;
}
