/* Starts the installed client library, runs a context (one thread) and ends
 * it again; prints the library's version. */
#include <corvexClient.h>

#include <stdio.h>

int main(void)
{
    const corvexClient_versionInfo_t* version = NULL;
    corvexClient_context_t context = NULL;
    int good = corvexClient_initialize(CORVEXCLIENT_LOG_WARNING, NULL) == CORVEXCLIENT_OK &&
               corvexClient_version_get(&version) == CORVEXCLIENT_OK &&
               corvexClient_context_create(NULL, &context, NULL, 0) == CORVEXCLIENT_OK &&
               corvexClient_context_destroy(&context) == CORVEXCLIENT_OK &&
               corvexClient_cleanup() == CORVEXCLIENT_OK;
    if (!good)
    {
        const corvexClient_errorInfo_t* error = corvexClient_getLastErrorInfo();
        fprintf(stderr, "client library call failed: %s\n",
                error != NULL ? corvexClient_subCodeToString(error->mSubCode) : "");
        return 1;
    }
    printf("corvexclient %s: context started and stopped\n", version->mVersion);
    return 0;
}
