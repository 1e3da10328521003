#ifndef MAMA_FIELD_DESC_H__
#define MAMA_FIELD_DESC_H__

#include "mama/types.h"

#if defined(__cplusplus)
extern "C" {
#endif

/* Wire type of a message field. */
typedef enum mamaFieldType_
{
    MAMA_FIELD_TYPE_MSG           = 1,
    MAMA_FIELD_TYPE_OPAQUE        = 7,
    MAMA_FIELD_TYPE_STRING        = 8,
    MAMA_FIELD_TYPE_BOOL          = 9,
    MAMA_FIELD_TYPE_CHAR          = 10,
    MAMA_FIELD_TYPE_I8            = 14,
    MAMA_FIELD_TYPE_U8            = 15,
    MAMA_FIELD_TYPE_I16           = 16,
    MAMA_FIELD_TYPE_U16           = 17,
    MAMA_FIELD_TYPE_I32           = 18,
    MAMA_FIELD_TYPE_U32           = 19,
    MAMA_FIELD_TYPE_I64           = 20,
    MAMA_FIELD_TYPE_U64           = 21,
    MAMA_FIELD_TYPE_F32           = 24,
    MAMA_FIELD_TYPE_F64           = 25,
    MAMA_FIELD_TYPE_TIME          = 26,
    MAMA_FIELD_TYPE_PRICE         = 27,
    MAMA_FIELD_TYPE_VECTOR_BOOL   = 29,
    MAMA_FIELD_TYPE_VECTOR_CHAR   = 30,
    MAMA_FIELD_TYPE_VECTOR_I8     = 34,
    MAMA_FIELD_TYPE_VECTOR_U8     = 35,
    MAMA_FIELD_TYPE_VECTOR_I16    = 36,
    MAMA_FIELD_TYPE_VECTOR_U16    = 37,
    MAMA_FIELD_TYPE_VECTOR_I32    = 38,
    MAMA_FIELD_TYPE_VECTOR_U32    = 39,
    MAMA_FIELD_TYPE_VECTOR_I64    = 40,
    MAMA_FIELD_TYPE_VECTOR_U64    = 41,
    MAMA_FIELD_TYPE_VECTOR_F32    = 44,
    MAMA_FIELD_TYPE_VECTOR_F64    = 45,
    MAMA_FIELD_TYPE_VECTOR_STRING = 46,
    MAMA_FIELD_TYPE_VECTOR_MSG    = 47,
    MAMA_FIELD_TYPE_VECTOR_TIME   = 48,
    MAMA_FIELD_TYPE_VECTOR_PRICE  = 49,
    MAMA_FIELD_TYPE_QUANTITY      = 50,
    MAMA_FIELD_TYPE_COLLECTION    = 99,
    MAMA_FIELD_TYPE_UNKNOWN       = 100
} mamaFieldType;

/* Upper-case name of a field type, e.g. "I32"; "UNKNOWN" for other values. */
const char* mamaFieldTypeToString (mamaFieldType type);

#if defined(__cplusplus)
}
#endif

#endif /* MAMA_FIELD_DESC_H__ */
