/*
 * installed_bridge_check <lib directory>: a MAMA application that loads the
 * corvex bridge by name, sends one message to itself on transport "install"
 * (the embedded router) and exits 0 only when it arrived and the bridge, its
 * client library and the payload were each loaded from <lib directory>, once.
 * It has no runpath: the library path decides what it loads.
 */
#include <mama/mama.h>

#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#define CHECK_FIELD "installCheck"
#define CHECK_FID 10001
#define CHECK_VALUE 4242u

static pthread_mutex_t gLock = PTHREAD_MUTEX_INITIALIZER;
static mama_u32_t gReceived = 0;

static int ok(mama_status status, const char* what)
{
    if (status != MAMA_STATUS_OK)
        fprintf(stderr, "%s failed: %s\n", what, mamaStatus_stringForStatus(status));
    return status == MAMA_STATUS_OK;
}

static void MAMACALLTYPE onMsg(mamaSubscription sub, mamaMsg msg, void* closure, void* itemClosure)
{
    mama_u32_t value = 0;
    (void)sub;
    (void)closure;
    (void)itemClosure;
    if (mamaMsg_getU32(msg, CHECK_FIELD, CHECK_FID, &value) != MAMA_STATUS_OK)
        return;
    pthread_mutex_lock(&gLock);
    gReceived = value;
    pthread_mutex_unlock(&gLock);
}

static void MAMACALLTYPE onError(mamaSubscription sub, mama_status status, void* platformError,
                                 const char* subject, void* closure)
{
    (void)sub;
    (void)platformError;
    (void)closure;
    fprintf(stderr, "subscription to %s: %s\n", subject ? subject : "",
            mamaStatus_stringForStatus(status));
}

static mama_u32_t received(void)
{
    mama_u32_t value;
    pthread_mutex_lock(&gLock);
    value = gReceived;
    pthread_mutex_unlock(&gLock);
    return value;
}

/* The subscription becomes live asynchronously: the message is sent again
 * every 100 ms until it arrives, for at most 10 s. */
static int sendUntilReceived(mamaPublisher publisher)
{
    mamaMsg msg = NULL;
    int i;
    int sent = ok(mamaMsg_create(&msg), "mamaMsg_create") &&
               ok(mamaMsg_addU32(msg, CHECK_FIELD, CHECK_FID, CHECK_VALUE), "mamaMsg_addU32");
    for (i = 0; sent && i < 100 && received() != CHECK_VALUE; ++i)
    {
        struct timespec pause = {0, 100 * 1000 * 1000};
        sent = ok(mamaPublisher_send(publisher, msg), "mamaPublisher_send");
        nanosleep(&pause, NULL);
    }
    if (msg != NULL)
        mamaMsg_destroy(msg);
    return received() == CHECK_VALUE;
}

/* Every mapping of a file named `name`: each must lie in `directory`, and
 * there must be exactly one such file. */
static int loadedOnceFrom(const char* name, const char* directory)
{
    char line[4096];
    char found[4096] = "";
    int good = 1;
    FILE* maps = fopen("/proc/self/maps", "r");
    if (maps == NULL)
        return 0;
    while (fgets(line, sizeof(line), maps) != NULL)
    {
        char* path = strchr(line, '/');
        char* base;
        if (path == NULL)
            continue;
        path[strcspn(path, "\n")] = '\0';
        base = strrchr(path, '/') + 1;
        if (strcmp(base, name) != 0)
            continue;
        if (found[0] == '\0')
            snprintf(found, sizeof(found), "%s", path);
        else if (strcmp(found, path) != 0)
        {
            fprintf(stderr, "%s loaded twice: %s and %s\n", name, found, path);
            good = 0;
        }
    }
    fclose(maps);
    if (found[0] == '\0')
    {
        fprintf(stderr, "%s is not loaded\n", name);
        return 0;
    }
    printf("%s\n", found);
    if (strncmp(found, directory, strlen(directory)) != 0 || found[strlen(directory)] != '/' ||
        strchr(found + strlen(directory) + 1, '/') != NULL)
    {
        fprintf(stderr, "%s was loaded from %s, not from %s\n", name, found, directory);
        good = 0;
    }
    return good;
}

int main(int argc, char** argv)
{
    static const char* const libraries[] = {"libmamacorveximpl.so", "libcorvexclient.so",
                                            "libmamacorvexmsgimpl.so"};
    mamaBridge bridge = NULL;
    mamaTransport transport = NULL;
    mamaQueue queue = NULL;
    mamaDispatcher dispatcher = NULL;
    mamaSubscription subscription = NULL;
    mamaPublisher publisher = NULL;
    mamaMsgCallbacks callbacks;
    int good;
    size_t i;

    if (argc != 2)
    {
        fprintf(stderr, "usage: %s <lib directory>\n", argv[0]);
        return 2;
    }
    memset(&callbacks, 0, sizeof(callbacks));
    callbacks.onMsg = onMsg;
    callbacks.onError = onError;

    good =
        ok(mama_loadBridge(&bridge, "corvex"), "mama_loadBridge") && ok(mama_open(), "mama_open");
    if (!good)
        return 1;
    good = ok(mamaTransport_allocate(&transport), "mamaTransport_allocate") &&
           ok(mamaTransport_create(transport, "install", bridge), "mamaTransport_create") &&
           ok(mamaQueue_create(&queue, bridge), "mamaQueue_create") &&
           ok(mamaDispatcher_create(&dispatcher, queue), "mamaDispatcher_create") &&
           ok(mamaSubscription_allocate(&subscription), "mamaSubscription_allocate") &&
           ok(mamaSubscription_createBasic(subscription, transport, queue, &callbacks,
                                           "INSTALL.CHECK", NULL),
              "mamaSubscription_createBasic") &&
           ok(mamaPublisher_create(&publisher, transport, "INSTALL.CHECK", NULL, NULL),
              "mamaPublisher_create");
    if (good && !sendUntilReceived(publisher))
    {
        fprintf(stderr, "the message sent to INSTALL.CHECK did not arrive in 10 s\n");
        good = 0;
    }
    for (i = 0; good && i < sizeof(libraries) / sizeof(libraries[0]); ++i)
        good = loadedOnceFrom(libraries[i], argv[1]);

    if (publisher != NULL)
        mamaPublisher_destroy(publisher);
    if (subscription != NULL)
        mamaSubscription_destroy(subscription);
    if (dispatcher != NULL)
        mamaDispatcher_destroy(dispatcher);
    /* The final release of a subscription travels through its queue. */
    if (queue != NULL)
        mamaQueue_destroyWait(queue);
    if (subscription != NULL)
        mamaSubscription_deallocate(subscription);
    if (transport != NULL)
        mamaTransport_destroy(transport);
    mama_close();
    printf("%s\n", good ? "PASS" : "FAIL");
    return good ? 0 : 1;
}
