/* What the payload's C entry points share: handle conversions, the guard
 * that keeps allocation failures from crossing the C boundary, and the
 * find-or-add of a field by name and fid. */
#ifndef CORVEXMSG_ENTRY_H
#define CORVEXMSG_ENTRY_H

#include <cstring>
#include <new>

#include "corvexmsgExports.h"
#include "corvexmsgPayload.h"
#include <payloadbridge.h>

inline CorvexMsgPayload* asMsg(msgPayload msg)
{
    return static_cast<CorvexMsgPayload*>(msg);
}

inline CorvexMsgField* asField(msgFieldPayload field)
{
    return static_cast<CorvexMsgField*>(field);
}

/* Allocation failures must not cross the C boundary. */
template <typename F> mama_status guarded(F&& body) noexcept
{
    try
    {
        return body();
    }
    catch (const std::bad_alloc&)
    {
        return MAMA_STATUS_NOMEM;
    }
    catch (...)
    {
        return MAMA_STATUS_PLATFORM;
    }
}

inline bool hasName(const char* name)
{
    return name != nullptr && name[0] != '\0';
}

/* Changes a field (of a message, or standalone) with `set`. A field of a
 * message whose last encoding holds it takes its new value there too when the
 * value keeps its type and wire size, and the encoding stays valid; any other
 * change marks the message, and every message holding it, changed (before
 * `set` runs: a message reading received bytes in place copies them first).
 * With Number, the type of number `set` stores, a field that already is a
 * number of that type in its message's last encoding takes the new value
 * there with no further checks: the type fixes the value's size. */
template <mamaFieldType Number = MAMA_FIELD_TYPE_UNKNOWN, typename Set>
void changeField(CorvexMsgField* f, Set&& set)
{
    CorvexMsgPayload* m = f->mMsg;
    if constexpr (corvexMsg_scalarSize(Number) != 0)
    {
        if (f->mType == Number && m != nullptr && corvexMsgCodec_canPatch(m) &&
            f->mEncodedIn == m->mEncodings)
        {
            set(f);
            corvexMsg_writeLe(m->mEncoded.data() + f->mEncodedAt, f->mValue.mUnsigned,
                              corvexMsg_scalarSize(Number));
            return;
        }
    }
    if (m == nullptr)
    {
        set(f);
        return;
    }
    if (!corvexMsgCodec_canPatch(m))
    {
        corvexMsgPayload_touch(m);
        set(f);
        return;
    }
    const mamaFieldType oldType = f->mType;
    const uint32_t oldSize = f->mSize;
    set(f);
    if (!corvexMsgCodec_patch(m, f, oldType, oldSize))
    {
        corvexMsgPayload_touch(m);
    }
}

/* Adds a field, or with `update` replaces the value of the field found by
 * name/fid (adding it when absent), changing it as changeField<Number> does. */
template <mamaFieldType Number = MAMA_FIELD_TYPE_UNKNOWN, typename Set>
mama_status storeField(msgPayload msg, const char* name, mama_fid_t fid, bool update, Set&& set)
{
    if (msg == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    /* a field needs a name or a fid to be found again */
    if (!hasName(name) && fid == 0)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    if (name != nullptr && std::strlen(name) >= UINT16_MAX)
    {
        return MAMA_STATUS_INVALID_ARG;
    }
    return guarded(
        [&]
        {
            CorvexMsgPayload* m = asMsg(msg);
            CorvexMsgField* f = update ? corvexMsgPayload_find(m, name, fid) : nullptr;
            if (f != nullptr)
            {
                changeField<Number>(f, set);
                return MAMA_STATUS_OK;
            }
            corvexMsgPayload_touch(m);
            set(corvexMsgPayload_append(m, name, fid));
            return MAMA_STATUS_OK;
        });
}

inline mama_status findField(const msgPayload msg, const char* name, mama_fid_t fid,
                             const void* result, CorvexMsgField** field)
{
    if (msg == nullptr || result == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    /* nothing to look a field up by */
    if (fid == 0 && !hasName(name))
    {
        return MAMA_STATUS_INVALID_ARG;
    }
    *field = corvexMsgPayload_find(asMsg(msg), name, fid);
    return *field != nullptr ? MAMA_STATUS_OK : MAMA_STATUS_NOT_FOUND;
}

/* A field made by FieldPayload_create holds nothing until the host points it
 * at a message's field: reading it is invalid, updating it has no value to
 * replace. An update keeps the field's type. */
inline mama_status checkFieldRead(const CorvexMsgField* f)
{
    return f->mType == MAMA_FIELD_TYPE_UNKNOWN ? MAMA_STATUS_INVALID_ARG : MAMA_STATUS_OK;
}

inline mama_status checkFieldUpdate(const CorvexMsgField* f, mamaFieldType type)
{
    if (f->mType == MAMA_FIELD_TYPE_UNKNOWN)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    return f->mType == type ? MAMA_STATUS_OK : MAMA_STATUS_WRONG_FIELD_TYPE;
}

/* A field-level update: the field must already hold `type`; it changes as
 * changeField<Number> has it. */
template <mamaFieldType Number = MAMA_FIELD_TYPE_UNKNOWN, typename Set>
mama_status updateField(CorvexMsgField* f, mamaFieldType type, Set&& set)
{
    mama_status status = checkFieldUpdate(f, type);
    if (status != MAMA_STATUS_OK)
    {
        return status;
    }
    return guarded(
        [&]
        {
            changeField<Number>(f, set);
            return MAMA_STATUS_OK;
        });
}

#endif
