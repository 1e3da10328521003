#include "corvexmsgPayload.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

namespace
{

/* Shortest of 15 or 17 significant digits that reads back to the same value. */
void appendDouble (double v, std::string* out)
{
    char text[40];
    std::snprintf (text, sizeof text, "%.15g", v);
    if (std::strtod (text, nullptr) != v)
    {
        std::snprintf (text, sizeof text, "%.17g", v);
    }
    out->append (text);
}

} // namespace

void corvexMsgFormat_value (const CorvexMsgField* f, std::string* out)
{
    char text[40];
    switch (f->mType)
    {
    case MAMA_FIELD_TYPE_CHAR: out->push_back (static_cast<char> (f->mValue.mSigned)); return;
    case MAMA_FIELD_TYPE_I8:
    case MAMA_FIELD_TYPE_I16:
    case MAMA_FIELD_TYPE_I32:
    case MAMA_FIELD_TYPE_I64:
        std::snprintf (text, sizeof text, "%" PRId64, f->mValue.mSigned);
        break;
    case MAMA_FIELD_TYPE_BOOL:
    case MAMA_FIELD_TYPE_U8:
    case MAMA_FIELD_TYPE_U16:
    case MAMA_FIELD_TYPE_U32:
    case MAMA_FIELD_TYPE_U64:
        std::snprintf (text, sizeof text, "%" PRIu64, f->mValue.mUnsigned);
        break;
    case MAMA_FIELD_TYPE_F32:
        std::snprintf (text, sizeof text, "%.9g", static_cast<double> (f->mValue.mF32));
        break;
    case MAMA_FIELD_TYPE_F64: appendDouble (f->mValue.mF64, out); return;
    case MAMA_FIELD_TYPE_STRING: out->append (reinterpret_cast<const char*> (f->mData)); return;
    case MAMA_FIELD_TYPE_OPAQUE:
        std::snprintf (text, sizeof text, "<opaque %" PRIu32 " bytes>", f->mSize);
        break;
    default: std::snprintf (text, sizeof text, "<type %d>", static_cast<int> (f->mType)); break;
    }
    out->append (text);
}

const char* corvexMsgFormat_message (CorvexMsgPayload* msg)
{
    std::string& text = msg->mText;
    text.assign ("{");
    bool first = true;
    for (const CorvexMsgField& f : msg->mFields)
    {
        if (!first)
        {
            text.push_back (',');
        }
        first = false;
        if (f.mName != nullptr)
        {
            text.append (f.mName);
        }
        char fid[16];
        std::snprintf (fid, sizeof fid, "[%u]=", static_cast<unsigned> (f.mFid));
        text.append (fid);
        corvexMsgFormat_value (&f, &text);
    }
    text.push_back ('}');
    return text.c_str ();
}
