/* Every function the host's payload loader looks up by name in
 * libmamacorvexmsgimpl.so, declared once: each definition is compiled against
 * its declaration here, the export list is generated from these lines, and
 * check/hostSignatures.cpp compiles each against the host's own function type.
 * Declarations start a line with CORVEXMSG_EXPORT, one function each. */
#ifndef CORVEXMSG_EXPORTS_H
#define CORVEXMSG_EXPORTS_H

#include <stdint.h>

#include <mama/datetime.h>
#include <mama/integration/types.h>
#include <mama/mama.h>
#include <mama/price.h>

/* Marks a function the host looks up by name; everything else stays hidden. */
#define CORVEXMSG_EXPORT extern "C" __attribute__((visibility("default")))

/* Message life cycle (corvexmsgExports.cpp) */
CORVEXMSG_EXPORT mama_status corvexmsgPayload_init(mamaPayloadBridge bridge, char* identifier);
/* The host still looks this up by its deprecated type. */
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
CORVEXMSG_EXPORT mamaPayloadType corvexmsgPayload_getType(void);
#pragma GCC diagnostic pop
CORVEXMSG_EXPORT mama_status corvexmsgPayload_create(msgPayload* msg);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_destroy(msgPayload msg);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_copy(const msgPayload msg, msgPayload* copy);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_clear(msgPayload msg);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_setParent(msgPayload msg, const mamaMsg parent);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_apply(msgPayload dest, const msgPayload src);

/* Whole message (corvexmsgExports.cpp) */
CORVEXMSG_EXPORT mama_status corvexmsgPayload_serialize(const msgPayload msg, const void** buffer,
                                                        mama_size_t* bufferLength);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_getByteBuffer(const msgPayload msg,
                                                            const void** buffer,
                                                            mama_size_t* bufferLength);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_getByteSize(msgPayload msg, mama_size_t* size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_unSerialize(const msgPayload msg, const void* buffer,
                                                          mama_size_t bufferLength);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_setByteBuffer(const msgPayload msg,
                                                            mamaPayloadBridge bridge,
                                                            const void* buffer,
                                                            mama_size_t bufferLength);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_createFromByteBuffer(msgPayload* msg,
                                                                   mamaPayloadBridge bridge,
                                                                   const void* buffer,
                                                                   mama_size_t bufferLength);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_getNumFields(const msgPayload msg,
                                                           mama_size_t* numFields);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_getSendSubject(const msgPayload msg,
                                                             const char** subject);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_getNativeMsg(const msgPayload msg, void** nativeMsg);
CORVEXMSG_EXPORT const char* corvexmsgPayload_toString(const msgPayload msg);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_getFieldAsString(const msgPayload msg,
                                                               const char* name, mama_fid_t fid,
                                                               char* buffer, mama_size_t len);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_iterateFields(const msgPayload msg,
                                                            const mamaMsg parent,
                                                            mamaMsgField field,
                                                            mamaMsgIteratorCb cb, void* closure);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_getField(const msgPayload msg, const char* name,
                                                       mama_fid_t fid, msgFieldPayload* result);

/* Scalars (corvexmsgExports.cpp) */
CORVEXMSG_EXPORT mama_status corvexmsgPayload_addBool(msgPayload msg, const char* name,
                                                      mama_fid_t fid, mama_bool_t value);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_updateBool(msgPayload msg, const char* name,
                                                         mama_fid_t fid, mama_bool_t value);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_getBool(const msgPayload msg, const char* name,
                                                      mama_fid_t fid, mama_bool_t* result);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_updateBool(msgFieldPayload field, msgPayload msg,
                                                              mama_bool_t value);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getBool(const msgFieldPayload field,
                                                           mama_bool_t* result);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_addChar(msgPayload msg, const char* name,
                                                      mama_fid_t fid, char value);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_updateChar(msgPayload msg, const char* name,
                                                         mama_fid_t fid, char value);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_getChar(const msgPayload msg, const char* name,
                                                      mama_fid_t fid, char* result);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_updateChar(msgFieldPayload field, msgPayload msg,
                                                              char value);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getChar(const msgFieldPayload field,
                                                           char* result);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_addI8(msgPayload msg, const char* name,
                                                    mama_fid_t fid, mama_i8_t value);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_updateI8(msgPayload msg, const char* name,
                                                       mama_fid_t fid, mama_i8_t value);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_getI8(const msgPayload msg, const char* name,
                                                    mama_fid_t fid, mama_i8_t* result);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_updateI8(msgFieldPayload field, msgPayload msg,
                                                            mama_i8_t value);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getI8(const msgFieldPayload field,
                                                         mama_i8_t* result);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_addU8(msgPayload msg, const char* name,
                                                    mama_fid_t fid, mama_u8_t value);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_updateU8(msgPayload msg, const char* name,
                                                       mama_fid_t fid, mama_u8_t value);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_getU8(const msgPayload msg, const char* name,
                                                    mama_fid_t fid, mama_u8_t* result);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_updateU8(msgFieldPayload field, msgPayload msg,
                                                            mama_u8_t value);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getU8(const msgFieldPayload field,
                                                         mama_u8_t* result);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_addI16(msgPayload msg, const char* name,
                                                     mama_fid_t fid, mama_i16_t value);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_updateI16(msgPayload msg, const char* name,
                                                        mama_fid_t fid, mama_i16_t value);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_getI16(const msgPayload msg, const char* name,
                                                     mama_fid_t fid, mama_i16_t* result);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_updateI16(msgFieldPayload field, msgPayload msg,
                                                             mama_i16_t value);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getI16(const msgFieldPayload field,
                                                          mama_i16_t* result);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_addU16(msgPayload msg, const char* name,
                                                     mama_fid_t fid, mama_u16_t value);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_updateU16(msgPayload msg, const char* name,
                                                        mama_fid_t fid, mama_u16_t value);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_getU16(const msgPayload msg, const char* name,
                                                     mama_fid_t fid, mama_u16_t* result);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_updateU16(msgFieldPayload field, msgPayload msg,
                                                             mama_u16_t value);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getU16(const msgFieldPayload field,
                                                          mama_u16_t* result);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_addI32(msgPayload msg, const char* name,
                                                     mama_fid_t fid, mama_i32_t value);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_updateI32(msgPayload msg, const char* name,
                                                        mama_fid_t fid, mama_i32_t value);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_getI32(const msgPayload msg, const char* name,
                                                     mama_fid_t fid, mama_i32_t* result);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_updateI32(msgFieldPayload field, msgPayload msg,
                                                             mama_i32_t value);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getI32(const msgFieldPayload field,
                                                          mama_i32_t* result);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_addU32(msgPayload msg, const char* name,
                                                     mama_fid_t fid, mama_u32_t value);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_updateU32(msgPayload msg, const char* name,
                                                        mama_fid_t fid, mama_u32_t value);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_getU32(const msgPayload msg, const char* name,
                                                     mama_fid_t fid, mama_u32_t* result);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_updateU32(msgFieldPayload field, msgPayload msg,
                                                             mama_u32_t value);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getU32(const msgFieldPayload field,
                                                          mama_u32_t* result);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_addI64(msgPayload msg, const char* name,
                                                     mama_fid_t fid, mama_i64_t value);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_updateI64(msgPayload msg, const char* name,
                                                        mama_fid_t fid, mama_i64_t value);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_getI64(const msgPayload msg, const char* name,
                                                     mama_fid_t fid, mama_i64_t* result);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_updateI64(msgFieldPayload field, msgPayload msg,
                                                             mama_i64_t value);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getI64(const msgFieldPayload field,
                                                          mama_i64_t* result);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_addU64(msgPayload msg, const char* name,
                                                     mama_fid_t fid, mama_u64_t value);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_updateU64(msgPayload msg, const char* name,
                                                        mama_fid_t fid, mama_u64_t value);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_getU64(const msgPayload msg, const char* name,
                                                     mama_fid_t fid, mama_u64_t* result);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_updateU64(msgFieldPayload field, msgPayload msg,
                                                             mama_u64_t value);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getU64(const msgFieldPayload field,
                                                          mama_u64_t* result);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_addF32(msgPayload msg, const char* name,
                                                     mama_fid_t fid, mama_f32_t value);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_updateF32(msgPayload msg, const char* name,
                                                        mama_fid_t fid, mama_f32_t value);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_getF32(const msgPayload msg, const char* name,
                                                     mama_fid_t fid, mama_f32_t* result);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_updateF32(msgFieldPayload field, msgPayload msg,
                                                             mama_f32_t value);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getF32(const msgFieldPayload field,
                                                          mama_f32_t* result);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_addF64(msgPayload msg, const char* name,
                                                     mama_fid_t fid, mama_f64_t value);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_updateF64(msgPayload msg, const char* name,
                                                        mama_fid_t fid, mama_f64_t value);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_getF64(const msgPayload msg, const char* name,
                                                     mama_fid_t fid, mama_f64_t* result);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_updateF64(msgFieldPayload field, msgPayload msg,
                                                             mama_f64_t value);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getF64(const msgFieldPayload field,
                                                          mama_f64_t* result);

/* Strings and opaque values (corvexmsgExports.cpp) */
CORVEXMSG_EXPORT mama_status corvexmsgPayload_addString(msgPayload msg, const char* name,
                                                        mama_fid_t fid, const char* value);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_updateString(msgPayload msg, const char* name,
                                                           mama_fid_t fid, const char* value);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_getString(const msgPayload msg, const char* name,
                                                        mama_fid_t fid, const char** result);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_addOpaque(msgPayload msg, const char* name,
                                                        mama_fid_t fid, const void* value,
                                                        mama_size_t size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_updateOpaque(msgPayload msg, const char* name,
                                                           mama_fid_t fid, const void* value,
                                                           mama_size_t size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_getOpaque(const msgPayload msg, const char* name,
                                                        mama_fid_t fid, const void** result,
                                                        mama_size_t* size);

/* Field iterator (corvexmsgExports.cpp) */
CORVEXMSG_EXPORT mama_status corvexmsgPayloadIter_create(msgPayloadIter* iter, msgPayload msg);
CORVEXMSG_EXPORT msgFieldPayload corvexmsgPayloadIter_next(msgPayloadIter iter,
                                                           msgFieldPayload field, msgPayload msg);
CORVEXMSG_EXPORT mama_bool_t corvexmsgPayloadIter_hasNext(msgPayloadIter iter, msgPayload msg);
CORVEXMSG_EXPORT msgFieldPayload corvexmsgPayloadIter_begin(msgPayloadIter iter,
                                                            msgFieldPayload field, msgPayload msg);
CORVEXMSG_EXPORT msgFieldPayload corvexmsgPayloadIter_end(msgPayloadIter iter, msgPayload msg);
CORVEXMSG_EXPORT mama_status corvexmsgPayloadIter_associate(msgPayloadIter iter, msgPayload msg);
CORVEXMSG_EXPORT mama_status corvexmsgPayloadIter_destroy(msgPayloadIter iter);

/* Fields (corvexmsgExports.cpp) */
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_create(msgFieldPayload* field);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_destroy(msgFieldPayload field);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getName(msgFieldPayload field,
                                                           mamaDictionary dict,
                                                           mamaFieldDescriptor descriptor,
                                                           const char** result);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getFid(const msgFieldPayload field,
                                                          mamaDictionary dict,
                                                          mamaFieldDescriptor descriptor,
                                                          uint16_t* result);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getDescriptor(const msgFieldPayload field,
                                                                 mamaDictionary dict,
                                                                 mamaFieldDescriptor* result);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getType(const msgFieldPayload field,
                                                           mamaFieldType* result);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_updateString(msgFieldPayload field,
                                                                msgPayload msg, const char* value);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getString(const msgFieldPayload field,
                                                             const char** result);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getOpaque(const msgFieldPayload field,
                                                             const void** result,
                                                             mama_size_t* size);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getAsString(const msgFieldPayload field,
                                                               const msgPayload msg, char* buffer,
                                                               mama_size_t len);

/* Prices and date-times (corvexmsgComposite.cpp) */
CORVEXMSG_EXPORT mama_status corvexmsgPayload_addPrice(msgPayload msg, const char* name,
                                                       mama_fid_t fid, const mamaPrice value);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_updatePrice(msgPayload msg, const char* name,
                                                          mama_fid_t fid, const mamaPrice value);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_getPrice(const msgPayload msg, const char* name,
                                                       mama_fid_t fid, mamaPrice result);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_updatePrice(msgFieldPayload field,
                                                               msgPayload msg,
                                                               const mamaPrice value);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getPrice(const msgFieldPayload field,
                                                            mamaPrice result);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_addDateTime(msgPayload msg, const char* name,
                                                          mama_fid_t fid, const mamaDateTime value);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_updateDateTime(msgPayload msg, const char* name,
                                                             mama_fid_t fid,
                                                             const mamaDateTime value);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_getDateTime(const msgPayload msg, const char* name,
                                                          mama_fid_t fid, mamaDateTime result);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_updateDateTime(msgFieldPayload field,
                                                                  msgPayload msg,
                                                                  const mamaDateTime value);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getDateTime(const msgFieldPayload field,
                                                               mamaDateTime result);

/* Sub-messages (corvexmsgComposite.cpp) */
CORVEXMSG_EXPORT mama_status corvexmsgPayload_addMsg(msgPayload msg, const char* name,
                                                     mama_fid_t fid, mamaMsg value);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_updateSubMsg(msgPayload msg, const char* name,
                                                           mama_fid_t fid, const mamaMsg subMsg);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_getMsg(const msgPayload msg, const char* name,
                                                     mama_fid_t fid, msgPayload* result);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_updateSubMsg(msgFieldPayload field,
                                                                msgPayload msg,
                                                                const msgPayload subMsg);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getMsg(const msgFieldPayload field,
                                                          msgPayload* result);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_addVectorMsg(msgPayload msg, const char* name,
                                                           mama_fid_t fid, const mamaMsg value[],
                                                           mama_size_t size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_updateVectorMsg(msgPayload msg, const char* name,
                                                              mama_fid_t fid, const mamaMsg value[],
                                                              mama_size_t size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_getVectorMsg(const msgPayload msg, const char* name,
                                                           mama_fid_t fid,
                                                           const msgPayload** result,
                                                           mama_size_t* size);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getVectorMsg(const msgFieldPayload field,
                                                                const msgPayload** result,
                                                                mama_size_t* size);

/* Vectors of fixed-size values (corvexmsgComposite.cpp) */
CORVEXMSG_EXPORT mama_status corvexmsgPayload_addVectorBool(msgPayload msg, const char* name,
                                                            mama_fid_t fid,
                                                            const mama_bool_t value[],
                                                            mama_size_t size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_updateVectorBool(msgPayload msg, const char* name,
                                                               mama_fid_t fid,
                                                               const mama_bool_t value[],
                                                               mama_size_t size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_getVectorBool(const msgPayload msg, const char* name,
                                                            mama_fid_t fid,
                                                            const mama_bool_t** result,
                                                            mama_size_t* size);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getVectorBool(const msgFieldPayload field,
                                                                 const mama_bool_t** result,
                                                                 mama_size_t* size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_addVectorChar(msgPayload msg, const char* name,
                                                            mama_fid_t fid, const char value[],
                                                            mama_size_t size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_updateVectorChar(msgPayload msg, const char* name,
                                                               mama_fid_t fid, const char value[],
                                                               mama_size_t size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_getVectorChar(const msgPayload msg, const char* name,
                                                            mama_fid_t fid, const char** result,
                                                            mama_size_t* size);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getVectorChar(const msgFieldPayload field,
                                                                 const char** result,
                                                                 mama_size_t* size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_addVectorI8(msgPayload msg, const char* name,
                                                          mama_fid_t fid, const mama_i8_t value[],
                                                          mama_size_t size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_updateVectorI8(msgPayload msg, const char* name,
                                                             mama_fid_t fid,
                                                             const mama_i8_t value[],
                                                             mama_size_t size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_getVectorI8(const msgPayload msg, const char* name,
                                                          mama_fid_t fid, const mama_i8_t** result,
                                                          mama_size_t* size);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getVectorI8(const msgFieldPayload field,
                                                               const mama_i8_t** result,
                                                               mama_size_t* size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_addVectorU8(msgPayload msg, const char* name,
                                                          mama_fid_t fid, const mama_u8_t value[],
                                                          mama_size_t size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_updateVectorU8(msgPayload msg, const char* name,
                                                             mama_fid_t fid,
                                                             const mama_u8_t value[],
                                                             mama_size_t size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_getVectorU8(const msgPayload msg, const char* name,
                                                          mama_fid_t fid, const mama_u8_t** result,
                                                          mama_size_t* size);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getVectorU8(const msgFieldPayload field,
                                                               const mama_u8_t** result,
                                                               mama_size_t* size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_addVectorI16(msgPayload msg, const char* name,
                                                           mama_fid_t fid, const mama_i16_t value[],
                                                           mama_size_t size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_updateVectorI16(msgPayload msg, const char* name,
                                                              mama_fid_t fid,
                                                              const mama_i16_t value[],
                                                              mama_size_t size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_getVectorI16(const msgPayload msg, const char* name,
                                                           mama_fid_t fid,
                                                           const mama_i16_t** result,
                                                           mama_size_t* size);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getVectorI16(const msgFieldPayload field,
                                                                const mama_i16_t** result,
                                                                mama_size_t* size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_addVectorU16(msgPayload msg, const char* name,
                                                           mama_fid_t fid, const mama_u16_t value[],
                                                           mama_size_t size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_updateVectorU16(msgPayload msg, const char* name,
                                                              mama_fid_t fid,
                                                              const mama_u16_t value[],
                                                              mama_size_t size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_getVectorU16(const msgPayload msg, const char* name,
                                                           mama_fid_t fid,
                                                           const mama_u16_t** result,
                                                           mama_size_t* size);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getVectorU16(const msgFieldPayload field,
                                                                const mama_u16_t** result,
                                                                mama_size_t* size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_addVectorI32(msgPayload msg, const char* name,
                                                           mama_fid_t fid, const mama_i32_t value[],
                                                           mama_size_t size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_updateVectorI32(msgPayload msg, const char* name,
                                                              mama_fid_t fid,
                                                              const mama_i32_t value[],
                                                              mama_size_t size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_getVectorI32(const msgPayload msg, const char* name,
                                                           mama_fid_t fid,
                                                           const mama_i32_t** result,
                                                           mama_size_t* size);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getVectorI32(const msgFieldPayload field,
                                                                const mama_i32_t** result,
                                                                mama_size_t* size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_addVectorU32(msgPayload msg, const char* name,
                                                           mama_fid_t fid, const mama_u32_t value[],
                                                           mama_size_t size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_updateVectorU32(msgPayload msg, const char* name,
                                                              mama_fid_t fid,
                                                              const mama_u32_t value[],
                                                              mama_size_t size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_getVectorU32(const msgPayload msg, const char* name,
                                                           mama_fid_t fid,
                                                           const mama_u32_t** result,
                                                           mama_size_t* size);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getVectorU32(const msgFieldPayload field,
                                                                const mama_u32_t** result,
                                                                mama_size_t* size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_addVectorI64(msgPayload msg, const char* name,
                                                           mama_fid_t fid, const mama_i64_t value[],
                                                           mama_size_t size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_updateVectorI64(msgPayload msg, const char* name,
                                                              mama_fid_t fid,
                                                              const mama_i64_t value[],
                                                              mama_size_t size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_getVectorI64(const msgPayload msg, const char* name,
                                                           mama_fid_t fid,
                                                           const mama_i64_t** result,
                                                           mama_size_t* size);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getVectorI64(const msgFieldPayload field,
                                                                const mama_i64_t** result,
                                                                mama_size_t* size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_addVectorU64(msgPayload msg, const char* name,
                                                           mama_fid_t fid, const mama_u64_t value[],
                                                           mama_size_t size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_updateVectorU64(msgPayload msg, const char* name,
                                                              mama_fid_t fid,
                                                              const mama_u64_t value[],
                                                              mama_size_t size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_getVectorU64(const msgPayload msg, const char* name,
                                                           mama_fid_t fid,
                                                           const mama_u64_t** result,
                                                           mama_size_t* size);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getVectorU64(const msgFieldPayload field,
                                                                const mama_u64_t** result,
                                                                mama_size_t* size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_addVectorF32(msgPayload msg, const char* name,
                                                           mama_fid_t fid, const mama_f32_t value[],
                                                           mama_size_t size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_updateVectorF32(msgPayload msg, const char* name,
                                                              mama_fid_t fid,
                                                              const mama_f32_t value[],
                                                              mama_size_t size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_getVectorF32(const msgPayload msg, const char* name,
                                                           mama_fid_t fid,
                                                           const mama_f32_t** result,
                                                           mama_size_t* size);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getVectorF32(const msgFieldPayload field,
                                                                const mama_f32_t** result,
                                                                mama_size_t* size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_addVectorF64(msgPayload msg, const char* name,
                                                           mama_fid_t fid, const mama_f64_t value[],
                                                           mama_size_t size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_updateVectorF64(msgPayload msg, const char* name,
                                                              mama_fid_t fid,
                                                              const mama_f64_t value[],
                                                              mama_size_t size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_getVectorF64(const msgPayload msg, const char* name,
                                                           mama_fid_t fid,
                                                           const mama_f64_t** result,
                                                           mama_size_t* size);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getVectorF64(const msgFieldPayload field,
                                                                const mama_f64_t** result,
                                                                mama_size_t* size);

/* Vectors of strings, prices and date-times (corvexmsgComposite.cpp) */
CORVEXMSG_EXPORT mama_status corvexmsgPayload_addVectorString(msgPayload msg, const char* name,
                                                              mama_fid_t fid, const char* value[],
                                                              mama_size_t size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_updateVectorString(msgPayload msg, const char* name,
                                                                 mama_fid_t fid,
                                                                 const char* value[],
                                                                 mama_size_t size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_getVectorString(const msgPayload msg,
                                                              const char* name, mama_fid_t fid,
                                                              const char*** result,
                                                              mama_size_t* size);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getVectorString(const msgFieldPayload field,
                                                                   const char*** result,
                                                                   mama_size_t* size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_addVectorPrice(msgPayload msg, const char* name,
                                                             mama_fid_t fid,
                                                             const mamaPrice value[],
                                                             mama_size_t size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_updateVectorPrice(msgPayload msg, const char* name,
                                                                mama_fid_t fid,
                                                                const mamaPrice value[],
                                                                mama_size_t size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_getVectorPrice(const msgPayload msg, const char* name,
                                                             mama_fid_t fid,
                                                             const mamaPrice** result,
                                                             mama_size_t* size);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getVectorPrice(const msgFieldPayload field,
                                                                  const mamaPrice* result,
                                                                  mama_size_t* size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_addVectorDateTime(msgPayload msg, const char* name,
                                                                mama_fid_t fid,
                                                                const mamaDateTime value[],
                                                                mama_size_t size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_updateVectorTime(msgPayload msg, const char* name,
                                                               mama_fid_t fid,
                                                               const mamaDateTime value[],
                                                               mama_size_t size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_getVectorDateTime(const msgPayload msg,
                                                                const char* name, mama_fid_t fid,
                                                                const mamaDateTime** result,
                                                                mama_size_t* size);
CORVEXMSG_EXPORT mama_status corvexmsgFieldPayload_getVectorDateTime(const msgFieldPayload field,
                                                                     const mamaDateTime* result,
                                                                     mama_size_t* size);
CORVEXMSG_EXPORT mama_status corvexmsgPayload_createForTemplate(msgPayload* msg,
                                                                mamaPayloadBridge bridge,
                                                                mama_u32_t templateId);

#endif
