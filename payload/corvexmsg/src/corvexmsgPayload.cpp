#include "corvexmsgPayload.h"

#include <cstring>

#include <mama/datetime.h>
#include <mama/price.h>

/* Built from a vector's wire form the first time the host reads it; the host
 * keeps the pointers it is given until the field changes or goes. */
struct CorvexMsgVectorView
{
    const void* mDirect = nullptr;       /* fixed-size elements, aligned */
    std::unique_ptr<uint64_t[]> mValues; /* their copy when the wire's are not */
    std::vector<const char*> mStrings;
    std::vector<mamaPrice> mPrices;
    std::vector<mamaDateTime> mTimes;
    std::vector<void*> mMsgs;

    ~CorvexMsgVectorView()
    {
        for (mamaPrice p : mPrices)
        {
            mamaPrice_destroy(p);
        }
        for (mamaDateTime t : mTimes)
        {
            mamaDateTime_destroy(t);
        }
    }
};

CorvexMsgField::CorvexMsgField() = default;
CorvexMsgField::~CorvexMsgField() = default;

namespace
{

bool hasName(const char* name)
{
    return name != nullptr && name[0] != '\0';
}

/* Forgets the field's previous value of whatever type, but for the bytes its
 * store holds (their memory is reused by the next value). */
void clearValueButStore(CorvexMsgField* field)
{
    field->mData = nullptr;
    field->mSize = 0;
    field->mCount = 0;
    field->mValue.mUnsigned = 0;
    field->mPrice = CorvexMsgPrice();
    field->mTime = CorvexMsgTime();
    field->mMsgs.clear();
    field->mView.reset();
}

void clearValue(CorvexMsgField* field)
{
    field->mDataStore.clear();
    clearValueButStore(field);
}

/* Gives a store's heap memory back, if it holds any. */
void release(std::string* store)
{
    if (corvexMsg_holdsMemory(*store))
    {
        std::string().swap(*store);
    }
}

void ownFields(CorvexMsgPayload* msg)
{
    for (CorvexMsgField& f : msg->mFields)
    {
        if (f.mName != nullptr && f.mName != f.mNameStore.c_str())
        {
            /* up to the first NUL: a received name may hold more after it */
            f.mNameStore.assign(f.mName);
            f.mName = f.mNameStore.c_str();
            f.mNameSize = static_cast<uint16_t>(f.mNameStore.size() + 1);
        }
        if (f.mData != nullptr && f.mData != reinterpret_cast<const uint8_t*>(f.mDataStore.data()))
        {
            f.mDataStore.assign(reinterpret_cast<const char*>(f.mData), f.mSize);
            f.mData = reinterpret_cast<const uint8_t*>(f.mDataStore.data());
            f.mView.reset();
        }
        for (std::unique_ptr<CorvexMsgPayload>& sub : f.mMsgs)
        {
            ownFields(sub.get());
        }
    }
    msg->mWire = nullptr;
    msg->mWireLen = 0;
}

} // namespace

uint8_t* corvexMsg_writePrice(uint8_t* out, const CorvexMsgPrice& price)
{
    out = corvexMsg_store(out, price.mValue);
    *out = price.mHints;
    return out + 1;
}

uint8_t* corvexMsg_writeTime(uint8_t* out, const CorvexMsgTime& time)
{
    out = corvexMsg_store(out, time.mSeconds);
    out = corvexMsg_store(out, time.mNanoseconds);
    out[0] = time.mPrecision;
    out[1] = time.mHints;
    return out + 2;
}

CorvexMsgPrice corvexMsg_readPrice(const uint8_t* in)
{
    CorvexMsgPrice price;
    price.mValue = corvexMsg_load<double>(in);
    price.mHints = in[8];
    return price;
}

CorvexMsgTime corvexMsg_readTime(const uint8_t* in)
{
    CorvexMsgTime time;
    time.mSeconds = corvexMsg_load<int64_t>(in);
    time.mNanoseconds = corvexMsg_load<uint32_t>(in + 8);
    time.mPrecision = in[12];
    time.mHints = in[13];
    return time;
}

CorvexMsgField* corvexMsgPayload_search(const CorvexMsgPayload* msg, const char* name,
                                        mama_fid_t fid)
{
    if (fid != 0)
    {
        size_t i = 0;
        for (CorvexMsgField& f : msg->mFields)
        {
            if (f.mFid == fid)
            {
                msg->mNextFind = i + 1;
                return &f;
            }
            ++i;
        }
    }
    if (hasName(name))
    {
        for (CorvexMsgField& f : msg->mFields)
        {
            if (f.mName != nullptr && std::strcmp(f.mName, name) == 0)
            {
                return &f;
            }
        }
    }
    return nullptr;
}

void corvexMsgPayload_own(CorvexMsgPayload* msg)
{
    if (msg->mWire != nullptr)
    {
        ownFields(msg);
    }
}

void corvexMsgPayload_touch(CorvexMsgPayload* msg)
{
    /* a sub-message borrows its holder's buffer: the whole tree stops */
    CorvexMsgPayload* root = msg;
    while (root->mContainer != nullptr)
    {
        root = root->mContainer;
    }
    corvexMsgPayload_own(root);
    for (CorvexMsgPayload* m = msg; m != nullptr; m = m->mContainer)
    {
        m->mEncodedValid = false;
    }
}

void corvexMsgField_release(CorvexMsgField* field)
{
    field->mView.reset();
    release(&field->mNameStore);
    release(&field->mDataStore);
}

CorvexMsgField* corvexMsgPayload_append(CorvexMsgPayload* msg, const char* name, mama_fid_t fid)
{
    CorvexMsgField* f = &msg->mFields.add();
    f->mMsg = msg;
    f->mFid = fid;
    if (hasName(name))
    {
        f->mNameStore.assign(name);
        f->mName = f->mNameStore.c_str();
        f->mNameSize = static_cast<uint16_t>(f->mNameStore.size() + 1);
    }
    return f;
}

void corvexMsgField_retypeNumber(CorvexMsgField* field, mamaFieldType type)
{
    clearValue(field);
    field->mType = type;
}

void corvexMsgField_setBytes(CorvexMsgField* field, mamaFieldType type, const void* data,
                             size_t size)
{
    /* data may point into this field's own storage (a field updated from
     * itself): assign copes with that, and it comes before anything else
     * changes, so that a failure leaves the field as it was */
    field->mDataStore.assign(static_cast<const char*>(data), size);
    clearValueButStore(field);
    field->mType = type;
    field->mData = reinterpret_cast<const uint8_t*>(field->mDataStore.data());
    field->mSize = static_cast<uint32_t>(size);
}

void corvexMsgField_setPrice(CorvexMsgField* field, const CorvexMsgPrice& value)
{
    clearValue(field);
    field->mType = MAMA_FIELD_TYPE_PRICE;
    field->mPrice = value;
}

void corvexMsgField_setTime(CorvexMsgField* field, const CorvexMsgTime& value)
{
    clearValue(field);
    field->mType = MAMA_FIELD_TYPE_TIME;
    field->mTime = value;
}

void corvexMsgField_setVector(CorvexMsgField* field, mamaFieldType type, uint32_t count,
                              std::string elements)
{
    clearValue(field);
    field->mDataStore.swap(elements);
    field->mType = type;
    field->mCount = count;
    field->mData = reinterpret_cast<const uint8_t*>(field->mDataStore.data());
    field->mSize = static_cast<uint32_t>(field->mDataStore.size());
}

void corvexMsgField_setMsgs(CorvexMsgField* field, mamaFieldType type,
                            std::vector<std::unique_ptr<CorvexMsgPayload>> msgs)
{
    clearValue(field);
    field->mType = type;
    field->mMsgs.swap(msgs);
    for (std::unique_ptr<CorvexMsgPayload>& sub : field->mMsgs)
    {
        sub->mContainer = field->mMsg;
    }
    field->mCount = static_cast<uint32_t>(field->mMsgs.size());
}

std::unique_ptr<CorvexMsgPayload> corvexMsgPayload_clone(const CorvexMsgPayload* src)
{
    std::unique_ptr<CorvexMsgPayload> copy(new CorvexMsgPayload());
    corvexMsgPayload_copyFields(copy.get(), src, false);
    return copy;
}

void corvexMsgPayload_copyFields(CorvexMsgPayload* dest, const CorvexMsgPayload* src, bool update)
{
    for (const CorvexMsgField& s : src->mFields)
    {
        CorvexMsgField* d = update ? corvexMsgPayload_find(dest, s.mName, s.mFid) : nullptr;
        if (d == nullptr)
        {
            d = corvexMsgPayload_append(dest, s.mName, s.mFid);
        }
        if (s.mType == MAMA_FIELD_TYPE_MSG || s.mType == MAMA_FIELD_TYPE_VECTOR_MSG)
        {
            std::vector<std::unique_ptr<CorvexMsgPayload>> msgs;
            for (const std::unique_ptr<CorvexMsgPayload>& sub : s.mMsgs)
            {
                msgs.push_back(corvexMsgPayload_clone(sub.get()));
            }
            corvexMsgField_setMsgs(d, s.mType, std::move(msgs));
        }
        else if (s.mData != nullptr)
        {
            corvexMsgField_setBytes(d, s.mType, s.mData, s.mSize);
            d->mCount = s.mCount;
        }
        else
        {
            clearValue(d);
            d->mType = s.mType;
            d->mValue = s.mValue;
            d->mPrice = s.mPrice;
            d->mTime = s.mTime;
            d->mCount = s.mCount;
        }
    }
}

CorvexMsgVectorView* corvexMsgField_view(CorvexMsgField* field)
{
    if (field->mView)
    {
        return field->mView.get();
    }
    std::unique_ptr<CorvexMsgVectorView> view(new CorvexMsgVectorView());
    const size_t elementSize = corvexMsg_elementSize(field->mType);
    const uint8_t* p = field->mData;
    switch (field->mType)
    {
    case MAMA_FIELD_TYPE_VECTOR_STRING:
        view->mStrings.reserve(field->mCount);
        for (uint32_t i = 0; i < field->mCount; ++i)
        {
            const size_t size = static_cast<size_t>(corvexMsg_readLe(p, 4));
            view->mStrings.push_back(reinterpret_cast<const char*>(p + 4));
            p += 4 + size;
        }
        break;
    case MAMA_FIELD_TYPE_VECTOR_MSG:
        for (const std::unique_ptr<CorvexMsgPayload>& sub : field->mMsgs)
        {
            view->mMsgs.push_back(sub.get());
        }
        break;
    case MAMA_FIELD_TYPE_VECTOR_PRICE:
        for (uint32_t i = 0; i < field->mCount; ++i, p += elementSize)
        {
            const CorvexMsgPrice price = corvexMsg_readPrice(p);
            mamaPrice handle = nullptr;
            if (mamaPrice_create(&handle) != MAMA_STATUS_OK)
            {
                return nullptr;
            }
            view->mPrices.push_back(handle);
            mamaPrice_setValue(handle, price.mValue);
            mamaPrice_setHints(handle, price.mHints);
        }
        break;
    case MAMA_FIELD_TYPE_VECTOR_TIME:
        for (uint32_t i = 0; i < field->mCount; ++i, p += elementSize)
        {
            const CorvexMsgTime time = corvexMsg_readTime(p);
            mamaDateTime handle = nullptr;
            if (mamaDateTime_create(&handle) != MAMA_STATUS_OK)
            {
                return nullptr;
            }
            view->mTimes.push_back(handle);
            mamaDateTime_setEpochTimeExt(handle, time.mSeconds, time.mNanoseconds);
            mamaDateTime_setPrecision(handle, static_cast<mamaDateTimePrecision>(time.mPrecision));
            mamaDateTime_setHints(handle, time.mHints);
        }
        break;
    default:
    {
        /* little-endian on the wire and here: elements that lie aligned are
         * read where they are, others are copied into aligned storage */
        if (reinterpret_cast<uintptr_t>(field->mData) % elementSize == 0)
        {
            view->mDirect = field->mData;
            break;
        }
        const size_t bytes = elementSize * field->mCount;
        view->mValues.reset(new uint64_t[(bytes + 7) / 8 + 1]);
        std::memcpy(view->mValues.get(), field->mData, bytes);
        view->mDirect = view->mValues.get();
        break;
    }
    }
    field->mView = std::move(view);
    return field->mView.get();
}

const void* corvexMsgVectorView_values(const CorvexMsgVectorView* view)
{
    return view->mDirect;
}

const char** corvexMsgVectorView_strings(CorvexMsgVectorView* view)
{
    return view->mStrings.data();
}

const mamaPrice* corvexMsgVectorView_prices(CorvexMsgVectorView* view)
{
    return view->mPrices.data();
}

const mamaDateTime* corvexMsgVectorView_times(CorvexMsgVectorView* view)
{
    return view->mTimes.data();
}

void* const* corvexMsgVectorView_msgs(CorvexMsgVectorView* view)
{
    return view->mMsgs.data();
}

mama_status corvexMsgField_getF64(const CorvexMsgField* field, double* result)
{
    if (field->mType == MAMA_FIELD_TYPE_F64)
    {
        *result = field->mValue.mF64;
    }
    else if (field->mType == MAMA_FIELD_TYPE_F32)
    {
        *result = field->mValue.mF32;
    }
    else if (corvexMsg_isSignedType(field->mType))
    {
        *result = static_cast<double>(field->mValue.mSigned);
    }
    else if (corvexMsg_isUnsignedType(field->mType))
    {
        *result = static_cast<double>(field->mValue.mUnsigned);
    }
    else
    {
        return MAMA_STATUS_WRONG_FIELD_TYPE;
    }
    return MAMA_STATUS_OK;
}

mama_status corvexMsgField_getF32(const CorvexMsgField* field, float* result)
{
    /* a double is not narrowed silently: F64 fields need getF64 */
    if (field->mType == MAMA_FIELD_TYPE_F64)
    {
        return MAMA_STATUS_WRONG_FIELD_TYPE;
    }
    double v = 0;
    mama_status status = corvexMsgField_getF64(field, &v);
    if (status == MAMA_STATUS_OK)
    {
        *result = static_cast<float>(v);
    }
    return status;
}
