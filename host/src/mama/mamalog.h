/* Logging hooks used by open and close. */
#ifndef MAMA_LOG_INTERNAL_H
#define MAMA_LOG_INTERNAL_H

#if defined(__cplusplus)
extern "C"
{
#endif

    /* Closes a log file opened by mama_logToFile (output returns to stderr). */
    void mamaLog_closeFile(void);

#if defined(__cplusplus)
}
#endif

#endif
