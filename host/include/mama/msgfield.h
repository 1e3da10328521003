#ifndef MAMA_MSG_FIELD_H__
#define MAMA_MSG_FIELD_H__

#include "mama/types.h"
#include "mama/status.h"
#include "mama/fielddesc.h"

#if defined(__cplusplus)
extern "C" {
#endif

/* A field handed out by mamaMsg_getField or during mamaMsg_iterateFields. It
 * belongs to its message and is valid until the message changes or the
 * callback returns. */

mama_status mamaMsgField_getName     (const mamaMsgField field, const char** result);
mama_status mamaMsgField_getFid      (const mamaMsgField field, uint16_t* result);
mama_status mamaMsgField_getType     (const mamaMsgField field, mamaFieldType* result);
mama_status mamaMsgField_getTypeName (const mamaMsgField field, const char** result);

mama_status mamaMsgField_getBool   (const mamaMsgField field, mama_bool_t* result);
mama_status mamaMsgField_getChar   (const mamaMsgField field, char* result);
mama_status mamaMsgField_getI8     (const mamaMsgField field, mama_i8_t* result);
mama_status mamaMsgField_getU8     (const mamaMsgField field, mama_u8_t* result);
mama_status mamaMsgField_getI16    (const mamaMsgField field, mama_i16_t* result);
mama_status mamaMsgField_getU16    (const mamaMsgField field, mama_u16_t* result);
mama_status mamaMsgField_getI32    (const mamaMsgField field, mama_i32_t* result);
mama_status mamaMsgField_getU32    (const mamaMsgField field, mama_u32_t* result);
mama_status mamaMsgField_getI64    (const mamaMsgField field, mama_i64_t* result);
mama_status mamaMsgField_getU64    (const mamaMsgField field, mama_u64_t* result);
mama_status mamaMsgField_getF32    (const mamaMsgField field, mama_f32_t* result);
mama_status mamaMsgField_getF64    (const mamaMsgField field, mama_f64_t* result);
mama_status mamaMsgField_getString (const mamaMsgField field, const char** result);
mama_status mamaMsgField_getOpaque (const mamaMsgField field, const void** result, mama_size_t* size);

/* The value as text, as mamaMsg_getFieldAsString would give it. */
mama_status mamaMsgField_getAsString (const mamaMsgField field, char* buf, mama_size_t len);

mama_status mamaMsgField_updateBool (mamaMsgField field, mama_bool_t value);
mama_status mamaMsgField_updateChar (mamaMsgField field, char value);
mama_status mamaMsgField_updateI8   (mamaMsgField field, mama_i8_t value);
mama_status mamaMsgField_updateU8   (mamaMsgField field, mama_u8_t value);
mama_status mamaMsgField_updateI16  (mamaMsgField field, mama_i16_t value);
mama_status mamaMsgField_updateU16  (mamaMsgField field, mama_u16_t value);
mama_status mamaMsgField_updateI32  (mamaMsgField field, mama_i32_t value);
mama_status mamaMsgField_updateU32  (mamaMsgField field, mama_u32_t value);
mama_status mamaMsgField_updateI64  (mamaMsgField field, mama_i64_t value);
mama_status mamaMsgField_updateU64  (mamaMsgField field, mama_u64_t value);
mama_status mamaMsgField_updateF32  (mamaMsgField field, mama_f32_t value);
mama_status mamaMsgField_updateF64  (mamaMsgField field, mama_f64_t value);

#if defined(__cplusplus)
}
#endif

#endif /* MAMA_MSG_FIELD_H__ */
