#ifndef MAMA_MSG_H__
#define MAMA_MSG_H__

#include "mama/types.h"
#include "mama/status.h"
#include "mama/fielddesc.h"
#include "mama/msgfield.h"
#include "mama/msgstatus.h"
#include "mama/msgtype.h"

#if defined(__cplusplus)
extern "C" {
#endif

#ifndef MAMACALLTYPE
#define MAMACALLTYPE
#endif

/* No payload: setMsgBuffer then takes the id from the buffer's first byte. */
#define MAMA_PAYLOAD_ID_NULL '\0'

/* Identifier character of a payload library (deprecated as an enumeration;
 * any character may identify a payload). */
typedef enum mamaPayloadType_
{
    MAMA_PAYLOAD_QPID    = 'Q',
    MAMA_PAYLOAD_UNKNOWN = 'U'
} mamaPayloadType;

/* Called once per field by mamaMsg_iterateFields. */
typedef void (MAMACALLTYPE *mamaMsgIteratorCb) (const mamaMsg msg,
                                               const mamaMsgField field,
                                               void* closure);

/* Life cycle */
mama_status mamaMsg_create (mamaMsg* msg);
mama_status mamaMsg_createForPayload (mamaMsg* msg, const char id);
mama_status mamaMsg_createForPayloadBridge (mamaMsg* msg, mamaPayloadBridge payloadBridge);
mama_status mamaMsg_createFromByteBuffer (mamaMsg* msg, const void* buffer, mama_size_t bufferLength);
mama_status mamaMsg_setNewBuffer (mamaMsg msg, void* buffer, mama_size_t size);
mama_status mamaMsg_copy (mamaMsg src, mamaMsg* copy);
mama_status mamaMsg_clear (mamaMsg msg);
mama_status mamaMsg_applyMsg (mamaMsg dest, mamaMsg src);
mama_status mamaMsg_detach (mamaMsg msg);
mama_status mamaMsg_destroy (mamaMsg msg);

/* Whole message */
mama_status mamaMsg_getByteBuffer (const mamaMsg msg, const void** buffer, mama_size_t* bufferLength);
mama_status mamaMsg_getByteSize (const mamaMsg msg, mama_size_t* size);
mama_status mamaMsg_getNumFields (const mamaMsg msg, mama_size_t* numFields);
mama_status mamaMsg_getPayloadType (mamaMsg msg, mamaPayloadType* payloadType);
mama_status mamaMsg_getNativeMsg (mamaMsg msg, void** nativeMsg);
mama_status mamaMsg_getNativeHandle (const mamaMsg msg, void** result);
mama_status mamaMsg_getPlatformError (const mamaMsg msg, void** error);
mama_status mamaMsg_getSendSubject (const mamaMsg msg, const char** subject);
mama_status mamaMsg_getSeqNum (const mamaMsg msg, mama_seqnum_t* seqNum);
const char* mamaMsg_toString (const mamaMsg msg);
void mamaMsg_freeString (const mamaMsg msg, const char* msgString);
mama_status mamaMsg_iterateFields (const mamaMsg msg, mamaMsgIteratorCb callback,
                                   const mamaDictionary dict, void* closure);
mama_status mamaMsg_getField (const mamaMsg msg, const char* name, mama_fid_t fid, mamaMsgField* result);
mama_status mamaMsg_getFieldAsString (const mamaMsg msg, const char* fieldName, mama_fid_t fid,
                                      char* buf, mama_size_t length);

/* Inbox requests and replies */
int mamaMsg_isFromInbox (const mamaMsg msg);
mama_status mamaMsg_getReplyHandle (const mamaMsg msg, mamaMsgReply* replyHandle);
mama_status mamaMsg_copyReplyHandle (const mamaMsgReply src, mamaMsgReply* copy);
mama_status mamaMsg_destroyReplyHandle (mamaMsgReply replyHandle);
mama_status mamaMsg_setReplyHandle (mamaMsg msg, mamaMsgReply replyHandle);

/* Adding fields (duplicates allowed) */
mama_status mamaMsg_addBool   (mamaMsg msg, const char* name, mama_fid_t fid, mama_bool_t value);
mama_status mamaMsg_addChar   (mamaMsg msg, const char* name, mama_fid_t fid, char value);
mama_status mamaMsg_addI8     (mamaMsg msg, const char* name, mama_fid_t fid, mama_i8_t value);
mama_status mamaMsg_addU8     (mamaMsg msg, const char* name, mama_fid_t fid, mama_u8_t value);
mama_status mamaMsg_addI16    (mamaMsg msg, const char* name, mama_fid_t fid, mama_i16_t value);
mama_status mamaMsg_addU16    (mamaMsg msg, const char* name, mama_fid_t fid, mama_u16_t value);
mama_status mamaMsg_addI32    (mamaMsg msg, const char* name, mama_fid_t fid, mama_i32_t value);
mama_status mamaMsg_addU32    (mamaMsg msg, const char* name, mama_fid_t fid, mama_u32_t value);
mama_status mamaMsg_addI64    (mamaMsg msg, const char* name, mama_fid_t fid, mama_i64_t value);
mama_status mamaMsg_addU64    (mamaMsg msg, const char* name, mama_fid_t fid, mama_u64_t value);
mama_status mamaMsg_addF32    (mamaMsg msg, const char* name, mama_fid_t fid, mama_f32_t value);
mama_status mamaMsg_addF64    (mamaMsg msg, const char* name, mama_fid_t fid, mama_f64_t value);
mama_status mamaMsg_addString (mamaMsg msg, const char* name, mama_fid_t fid, const char* value);
mama_status mamaMsg_addOpaque (mamaMsg msg, const char* name, mama_fid_t fid, const void* value, mama_size_t size);
mama_status mamaMsg_addDateTime (mamaMsg msg, const char* name, mama_fid_t fid, const mamaDateTime value);
mama_status mamaMsg_addPrice  (mamaMsg msg, const char* name, mama_fid_t fid, const mamaPrice value);

/* Updating fields (add, or replace the value of the existing field) */
mama_status mamaMsg_updateBool   (mamaMsg msg, const char* name, mama_fid_t fid, mama_bool_t value);
mama_status mamaMsg_updateChar   (mamaMsg msg, const char* name, mama_fid_t fid, char value);
mama_status mamaMsg_updateI8     (mamaMsg msg, const char* name, mama_fid_t fid, mama_i8_t value);
mama_status mamaMsg_updateU8     (mamaMsg msg, const char* name, mama_fid_t fid, mama_u8_t value);
mama_status mamaMsg_updateI16    (mamaMsg msg, const char* name, mama_fid_t fid, mama_i16_t value);
mama_status mamaMsg_updateU16    (mamaMsg msg, const char* name, mama_fid_t fid, mama_u16_t value);
mama_status mamaMsg_updateI32    (mamaMsg msg, const char* name, mama_fid_t fid, mama_i32_t value);
mama_status mamaMsg_updateU32    (mamaMsg msg, const char* name, mama_fid_t fid, mama_u32_t value);
mama_status mamaMsg_updateI64    (mamaMsg msg, const char* name, mama_fid_t fid, mama_i64_t value);
mama_status mamaMsg_updateU64    (mamaMsg msg, const char* name, mama_fid_t fid, mama_u64_t value);
mama_status mamaMsg_updateF32    (mamaMsg msg, const char* name, mama_fid_t fid, mama_f32_t value);
mama_status mamaMsg_updateF64    (mamaMsg msg, const char* name, mama_fid_t fid, mama_f64_t value);
mama_status mamaMsg_updateString (mamaMsg msg, const char* name, mama_fid_t fid, const char* value);
mama_status mamaMsg_updateOpaque (mamaMsg msg, const char* name, mama_fid_t fid, const void* value, mama_size_t size);
mama_status mamaMsg_updateDateTime (mamaMsg msg, const char* name, mama_fid_t fid, const mamaDateTime value);
mama_status mamaMsg_updatePrice  (mamaMsg msg, const char* name, mama_fid_t fid, const mamaPrice value);

/* Reading fields. A field is found by fid when fid is not 0, else by name.
 * Strings and opaque values belong to the message. */
mama_status mamaMsg_getBool   (const mamaMsg msg, const char* name, mama_fid_t fid, mama_bool_t* result);
mama_status mamaMsg_getChar   (const mamaMsg msg, const char* name, mama_fid_t fid, char* result);
mama_status mamaMsg_getI8     (const mamaMsg msg, const char* name, mama_fid_t fid, mama_i8_t* result);
mama_status mamaMsg_getU8     (const mamaMsg msg, const char* name, mama_fid_t fid, mama_u8_t* result);
mama_status mamaMsg_getI16    (const mamaMsg msg, const char* name, mama_fid_t fid, mama_i16_t* result);
mama_status mamaMsg_getU16    (const mamaMsg msg, const char* name, mama_fid_t fid, mama_u16_t* result);
mama_status mamaMsg_getI32    (const mamaMsg msg, const char* name, mama_fid_t fid, mama_i32_t* result);
mama_status mamaMsg_getU32    (const mamaMsg msg, const char* name, mama_fid_t fid, mama_u32_t* result);
mama_status mamaMsg_getI64    (const mamaMsg msg, const char* name, mama_fid_t fid, mama_i64_t* result);
mama_status mamaMsg_getU64    (const mamaMsg msg, const char* name, mama_fid_t fid, mama_u64_t* result);
mama_status mamaMsg_getF32    (const mamaMsg msg, const char* name, mama_fid_t fid, mama_f32_t* result);
mama_status mamaMsg_getF64    (const mamaMsg msg, const char* name, mama_fid_t fid, mama_f64_t* result);
mama_status mamaMsg_getString (const mamaMsg msg, const char* name, mama_fid_t fid, const char** result);
mama_status mamaMsg_getOpaque (const mamaMsg msg, const char* name, mama_fid_t fid, const void** result, mama_size_t* size);
mama_status mamaMsg_getDateTime (const mamaMsg msg, const char* name, mama_fid_t fid, mamaDateTime result);
mama_status mamaMsg_getPrice  (const mamaMsg msg, const char* name, mama_fid_t fid, mamaPrice result);

#if defined(__cplusplus)
}
#endif

#endif /* MAMA_MSG_H__ */
