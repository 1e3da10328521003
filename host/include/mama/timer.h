#ifndef MamaTimerH__
#define MamaTimerH__

#include "mama/types.h"

#if defined(__cplusplus)
extern "C" {
#endif

/* Used both for the repeating action and for the destroy notification. */
typedef void (MAMACALLTYPE *mamaTimerCb) (mamaTimer timer, void* closure);

/* interval in seconds; the timer repeats until destroyed. */
mama_status mamaTimer_create (mamaTimer* result, mamaQueue queue, mamaTimerCb action,
                              mama_f64_t interval, void* closure);
mama_status mamaTimer_create2 (mamaTimer* result, mamaQueue queue, mamaTimerCb action,
                               mamaTimerCb onTimerDestroyed, mama_f64_t interval, void* closure);
mama_status mamaTimer_allocate (mamaTimer* result, mamaQueue queue);
mama_status mamaTimer_allocate2 (mamaTimer* result, mamaQueue queue, mamaTimerCb onTimerDestroyed);
mama_status mamaTimer_start (mamaTimer timer, mamaTimerCb action, mama_f64_t interval, void* closure);
mama_status mamaTimer_destroy (mamaTimer timer);
mama_status mamaTimer_reset (mamaTimer timer);
mama_status mamaTimer_setInterval (mamaTimer timer, mama_f64_t interval);
mama_status mamaTimer_getInterval (const mamaTimer timer, mama_f64_t* interval);

#if defined(__cplusplus)
}
#endif

#endif
