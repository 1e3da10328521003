#include "corvexmsgPayload.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <mama/datetime.h>
#include <mama/price.h>

namespace
{

/* Shortest of 15 or 17 significant digits that reads back to the same value. */
void appendDouble(double v, std::string* out)
{
    char text[40];
    std::snprintf(text, sizeof text, "%.15g", v);
    if (std::strtod(text, nullptr) != v)
    {
        std::snprintf(text, sizeof text, "%.17g", v);
    }
    out->append(text);
}

void appendPrice(const CorvexMsgPrice& value, std::string* out)
{
    mamaPrice price = nullptr;
    char text[64] = "";
    if (mamaPrice_create(&price) == MAMA_STATUS_OK)
    {
        mamaPrice_setValue(price, value.mValue);
        mamaPrice_setHints(price, value.mHints);
        mamaPrice_getAsString(price, text, sizeof text);
        mamaPrice_destroy(price);
    }
    out->append(text);
}

void appendTime(const CorvexMsgTime& value, std::string* out)
{
    mamaDateTime time = nullptr;
    char text[64] = "";
    if (mamaDateTime_create(&time) == MAMA_STATUS_OK)
    {
        mamaDateTime_setEpochTimeExt(time, value.mSeconds, value.mNanoseconds);
        mamaDateTime_setPrecision(time, static_cast<mamaDateTimePrecision>(value.mPrecision));
        mamaDateTime_setHints(time, value.mHints);
        mamaDateTime_getAsString(time, text, sizeof text);
        mamaDateTime_destroy(time);
    }
    out->append(text);
}

/* "{a,b,c}" from the elements' wire form. */
void appendVector(const CorvexMsgField* f, std::string* out)
{
    char text[40];
    out->push_back('{');
    const size_t elementSize = corvexMsg_elementSize(f->mType);
    const uint8_t* p = f->mData;
    for (uint32_t i = 0; i < f->mCount; ++i)
    {
        if (i != 0)
        {
            out->push_back(',');
        }
        switch (f->mType)
        {
        case MAMA_FIELD_TYPE_VECTOR_STRING:
        {
            const size_t size = static_cast<size_t>(corvexMsg_readLe(p, 4));
            out->append(reinterpret_cast<const char*>(p + 4));
            p += 4 + size;
            continue;
        }
        case MAMA_FIELD_TYPE_VECTOR_MSG:
            corvexMsgFormat_fields(f->mMsgs[i].get(), out);
            continue;
        case MAMA_FIELD_TYPE_VECTOR_PRICE:
            appendPrice(corvexMsg_readPrice(p), out);
            break;
        case MAMA_FIELD_TYPE_VECTOR_TIME:
            appendTime(corvexMsg_readTime(p), out);
            break;
        case MAMA_FIELD_TYPE_VECTOR_F32:
        {
            const uint32_t bits = static_cast<uint32_t>(corvexMsg_readLe(p, 4));
            float v = 0;
            std::memcpy(&v, &bits, sizeof v);
            std::snprintf(text, sizeof text, "%.9g", static_cast<double>(v));
            out->append(text);
            break;
        }
        case MAMA_FIELD_TYPE_VECTOR_F64:
        {
            const uint64_t bits = corvexMsg_readLe(p, 8);
            double v = 0;
            std::memcpy(&v, &bits, sizeof v);
            appendDouble(v, out);
            break;
        }
        case MAMA_FIELD_TYPE_VECTOR_CHAR:
            out->push_back(static_cast<char>(*p));
            break;
        case MAMA_FIELD_TYPE_VECTOR_I8:
        case MAMA_FIELD_TYPE_VECTOR_I16:
        case MAMA_FIELD_TYPE_VECTOR_I32:
        case MAMA_FIELD_TYPE_VECTOR_I64:
        {
            const uint64_t raw = corvexMsg_readLe(p, elementSize);
            const uint64_t sign = uint64_t(1) << (8 * elementSize - 1);
            const int64_t v = elementSize == 8 ? static_cast<int64_t>(raw)
                                               : static_cast<int64_t>((raw ^ sign) - sign);
            std::snprintf(text, sizeof text, "%" PRId64, v);
            out->append(text);
            break;
        }
        default:
            std::snprintf(text, sizeof text, "%" PRIu64, corvexMsg_readLe(p, elementSize));
            out->append(text);
            break;
        }
        p += elementSize;
    }
    out->push_back('}');
}

} // namespace

void corvexMsgFormat_value(const CorvexMsgField* f, std::string* out)
{
    char text[40];
    switch (f->mType)
    {
    case MAMA_FIELD_TYPE_CHAR:
        out->push_back(static_cast<char>(f->mValue.mSigned));
        return;
    case MAMA_FIELD_TYPE_I8:
    case MAMA_FIELD_TYPE_I16:
    case MAMA_FIELD_TYPE_I32:
    case MAMA_FIELD_TYPE_I64:
        std::snprintf(text, sizeof text, "%" PRId64, f->mValue.mSigned);
        break;
    case MAMA_FIELD_TYPE_BOOL:
    case MAMA_FIELD_TYPE_U8:
    case MAMA_FIELD_TYPE_U16:
    case MAMA_FIELD_TYPE_U32:
    case MAMA_FIELD_TYPE_U64:
        std::snprintf(text, sizeof text, "%" PRIu64, f->mValue.mUnsigned);
        break;
    case MAMA_FIELD_TYPE_F32:
        std::snprintf(text, sizeof text, "%.9g", static_cast<double>(f->mValue.mF32));
        break;
    case MAMA_FIELD_TYPE_F64:
        appendDouble(f->mValue.mF64, out);
        return;
    case MAMA_FIELD_TYPE_STRING:
        out->append(reinterpret_cast<const char*>(f->mData));
        return;
    case MAMA_FIELD_TYPE_OPAQUE:
        std::snprintf(text, sizeof text, "<opaque %" PRIu32 " bytes>", f->mSize);
        break;
    case MAMA_FIELD_TYPE_PRICE:
        appendPrice(f->mPrice, out);
        return;
    case MAMA_FIELD_TYPE_TIME:
        appendTime(f->mTime, out);
        return;
    case MAMA_FIELD_TYPE_MSG:
        corvexMsgFormat_fields(f->mMsgs.front().get(), out);
        return;
    default:
        if (f->mType >= MAMA_FIELD_TYPE_VECTOR_BOOL && f->mType <= MAMA_FIELD_TYPE_VECTOR_PRICE)
        {
            appendVector(f, out);
            return;
        }
        std::snprintf(text, sizeof text, "<type %d>", static_cast<int>(f->mType));
        break;
    }
    out->append(text);
}

void corvexMsgFormat_fields(const CorvexMsgPayload* msg, std::string* text)
{
    text->push_back('{');
    bool first = true;
    for (const CorvexMsgField& f : msg->mFields)
    {
        if (!first)
        {
            text->push_back(',');
        }
        first = false;
        if (f.mName != nullptr)
        {
            text->append(f.mName);
        }
        char fid[16];
        std::snprintf(fid, sizeof fid, "[%u]=", static_cast<unsigned>(f.mFid));
        text->append(fid);
        corvexMsgFormat_value(&f, text);
    }
    text->push_back('}');
}

const char* corvexMsgFormat_message(CorvexMsgPayload* msg)
{
    msg->mText.clear();
    corvexMsgFormat_fields(msg, &msg->mText);
    return msg->mText.c_str();
}
