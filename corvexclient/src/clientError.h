/* The per-thread last-error record and the helpers every failing call uses
 * to fill it. */
#ifndef CORVEXCLIENT_CLIENT_ERROR_H
#define CORVEXCLIENT_CLIENT_ERROR_H

#include "corvexClient.h"

/* Fills the calling thread's record and returns code (so a failing call can
 * end with `return corvexError_set (...)`). */
corvexClient_returnCode_t corvexError_set(corvexClient_returnCode_t code,
                                          corvexClient_subCode_t subCode, int32_t responseCode,
                                          const char* format, ...)
    __attribute__((format(printf, 4, 5)));

/* The common case: CORVEXCLIENT_FAIL with the sub-code's description. */
corvexClient_returnCode_t corvexError_fail(corvexClient_subCode_t subCode);

/* Copies a record prepared elsewhere (events carry their reason this way). */
void corvexError_setRecord(const corvexClient_errorInfo_t* record);

/* Builds a record without touching the thread's own. */
void corvexError_makeRecord(corvexClient_errorInfo_t* record, corvexClient_subCode_t subCode,
                            int32_t responseCode, const char* text);

/* "(null)" for a null text, so records and logs never format a null. */
const char* corvexText_orNull(const char* text);

#endif
