/*
 * mamamddemo: one process runs a market-data publisher and a market-data
 * listener on the same transport. The publisher answers initial requests
 * through OpenMAMA's data-quality publisher manager (onNewRequest creates
 * the symbol's publisher and replies with its image, onRequest replies to
 * later requests; a symbol-list request is answered with the list of its
 * symbols, a dictionary request with the fields of its messages) and then
 * publishes a run of numbered updates for every symbol. The listener
 * subscribes to <source>/<symbol> with full market-data subscriptions
 * (initial value, sequence checks) and prints a summary for each symbol; with
 * -v it also prints the INITIAL and each UPDATE field by field (each further
 * -v raises the MAMA log level), with -q only the summary of the run. The
 * publisher manager and the listener have event queues of their own, each
 * dispatched by its own thread.
 *
 * With -cache the initial value comes from the router's last-value cache
 * instead: before the listener subscribes, the publisher creates each
 * symbol's publisher itself and publishes the image (an INITIAL) and the
 * first half of the updates on the symbol's topic, where the router keeps the
 * last of them; the transport is set to use the cache (use_corvexcache on,
 * which leaves send_subreq off), so no request reaches the publisher manager.
 * The listener's INITIAL must then be the cached message, the last update
 * published (which the bridge presents as the INITIAL it waits for), and the
 * rest of the updates follow live. Without -cache the program sets
 * use_corvexcache off for its transport, so that the manager's reply is the
 * only initial value.
 *
 * Across processes (a router that joins them, such as NATS) each runs one
 * side: -role publisher answers requests and, once every symbol has had its
 * requests from as many listeners as it is told (-listeners, 1 by default),
 * publishes the updates at a bounded rate; -role listener subscribes and
 * checks. The listeners may be other MAMA applications too. The cache mode
 * needs both sides in one process.
 *
 * Exits 0 when every symbol got exactly one INITIAL followed by all its
 * updates in order, without gap (the publisher alone: when every symbol's
 * requests were answered and its updates sent); 1 on any failure (every
 * wait is bounded), 2 on a bad command line.
 *
 *   mamamddemo [-m middleware] [-tport name] [-S source] [-s symbol]...
 *              [-n updates] [-cache] [-role all|publisher|listener]
 *              [-listeners count] [-v]... [-q]
 */
#include <mama/mama.h>
#include <mama/dictionary.h>
#include <mama/dqpublisher.h>
#include <mama/dqpublishermanager.h>
#include <mama/msgstatus.h>
#include <mama/msgtype.h>
#include <mama/subscmsgtype.h>

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "demoSupport.h"

#define MAX_SYMBOLS 64

/* Updates published and not yet received, at most: well below the depth at
 * which the listener's queue suspends the transport's session (whose held
 * messages are bounded too), so that a long run loses nothing. */
#define MAX_IN_FLIGHT 10000

/* Fields of the demo's messages besides the ones MAMA adds. */
#define SYMBOL_FIELD "wIssueSymbol"
#define SYMBOL_FID 305
#define BID_FIELD "wBidPrice"
#define BID_FID 237
#define ASK_FIELD "wAskPrice"
#define ASK_FID 109
#define SIZE_FIELD "wBidSize"
#define SIZE_FID 238
#define UPDATE_NUM_FIELD "DemoUpdateNum"
#define UPDATE_NUM_FID 10001

/* One symbol, as both sides see it. Guarded by gLock. */
typedef struct Instrument
{
    const char* mSymbol;
    /* Publisher side (publisher dispatch thread). */
    mamaDQPublisher mPublisher;
    mamaMsg mImage;
    mama_u32_t mPublished; /* updates published so far */
    int mAnswered;         /* initial requests answered */
    int mPrimed;           /* image and first updates published for the cache */
    /* Listener side (listener dispatch thread). */
    mamaSubscription mSubscription;
    int mInitials;
    mama_u64_t mUpdates;
    mama_u64_t mGaps;
    mama_u64_t mErrors;
    mama_u32_t mExpected; /* next update number wanted */
    int mDestroyed;
} Instrument;

static Instrument gInstruments[MAX_SYMBOLS];
static int gInstrumentCount = 0;
static mama_u32_t gUpdates = 10;
static mama_u32_t gEarlyUpdates = 0; /* published before the listener subscribes */
static int gQuiet = 0;
static int gPrintFields = 0;
static int gUseCache = 0;
/* The sides this process runs. */
static int gPublishes = 1;
static int gListens = 1;
static int gListeners = 1;
static const char* gSource = "NYSE";
static pthread_mutex_t gLock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t gChanged = PTHREAD_COND_INITIALIZER;
static int gDefaultQueueLive = 0;
static int gDefaultQueueStopped = 0;
static int gManagerLive = 0;
static int gEarlyPublished = 0;
static int gPublishDone = 0;
static int gPublishStalled = 0;
static mama_u64_t gUpdatesSent = 0; /* publisher thread only */
static mama_u64_t gUpdatesReceived = 0;
static int gPublisherClosed = 0;

static void signalChange(void)
{
    pthread_cond_broadcast(&gChanged);
}

static void setFlag(int* flag)
{
    pthread_mutex_lock(&gLock);
    *flag = 1;
    signalChange();
    pthread_mutex_unlock(&gLock);
}

/* The default queue runs the transport's throttle, which places market-data
 * subscriptions: a thread of MAMA's dispatches it from start to stop. */
static void MAMACALLTYPE onDefaultQueueEvent(mamaQueue queue, void* closure)
{
    (void)queue;
    (void)closure;
    setFlag(&gDefaultQueueLive);
}

static void MAMACALLTYPE onDefaultQueueStopped(mama_status status)
{
    if (status != MAMA_STATUS_OK)
        fprintf(stderr, "default queue dispatch ended with %s\n",
                mamaStatus_stringForStatus(status));
    setFlag(&gDefaultQueueStopped);
}

static Instrument* findInstrument(const char* symbol)
{
    int i;
    for (i = 0; symbol != NULL && i < gInstrumentCount; ++i)
    {
        if (strcmp(gInstruments[i].mSymbol, symbol) == 0)
            return &gInstruments[i];
    }
    return NULL;
}

/* ---- Publisher side: the data-quality publisher manager ---------------- */

static void fillImage(Instrument* instrument)
{
    mama_u32_t n = instrument->mPublished;
    mamaMsg msg = instrument->mImage;
    check(mamaMsg_updateString(msg, SYMBOL_FIELD, SYMBOL_FID, instrument->mSymbol),
          "mamaMsg_updateString");
    check(mamaMsg_updateF64(msg, BID_FIELD, BID_FID, 100.0 + n * 0.01), "mamaMsg_updateF64");
    check(mamaMsg_updateF64(msg, ASK_FIELD, ASK_FID, 100.05 + n * 0.01), "mamaMsg_updateF64");
    check(mamaMsg_updateU32(msg, SIZE_FIELD, SIZE_FID, 100 + (n % 10) * 100), "mamaMsg_updateU32");
    check(mamaMsg_updateU32(msg, UPDATE_NUM_FIELD, UPDATE_NUM_FID, n), "mamaMsg_updateU32");
}

/* Answers an initial (or recap) request with the symbol's current image. */
static void sendImage(Instrument* instrument, short msgType, mamaMsg request)
{
    mama_status status;
    mamaMsgType replyType = (msgType == MAMA_SUBSC_SUBSCRIBE || msgType == MAMA_SUBSC_SNAPSHOT)
                                ? MAMA_MSG_TYPE_INITIAL
                                : MAMA_MSG_TYPE_RECAP;
    fillImage(instrument);
    check(mamaMsg_updateU8(instrument->mImage, MamaFieldMsgType.mName, MamaFieldMsgType.mFid,
                           (mama_u8_t)replyType),
          "mamaMsg_updateU8");
    if (mamaMsg_isFromInbox(request) == 1)
        status = mamaDQPublisher_sendReply(instrument->mPublisher, request, instrument->mImage);
    else
        status = mamaDQPublisher_send(instrument->mPublisher, instrument->mImage);
    if (status != MAMA_STATUS_OK)
    {
        fprintf(stderr, "publisher: answering the request for %s failed: %s\n", instrument->mSymbol,
                mamaStatus_stringForStatus(status));
        return;
    }
    pthread_mutex_lock(&gLock);
    ++instrument->mAnswered;
    signalChange();
    pthread_mutex_unlock(&gLock);
    if (!gQuiet)
        printf("publisher: sent %s for %s.%s\n", mamaMsgType_stringForType(replyType), gSource,
               instrument->mSymbol);
}

static void MAMACALLTYPE onManagerCreate(mamaDQPublisherManager manager)
{
    (void)manager;
}

/* The symbol-list publisher: its topic's cache is NULL, an instrument's never
 * is. Publisher dispatch thread only. */
static mamaDQPublisher gSymbolListPublisher = NULL;
static char gSymbolListSymbol[64];

/* Answers a symbol-list request (mamasymbollistsubscriberc): the symbols as
 * one comma-separated INITIAL, then END_OF_INITIALS, after which the
 * subscriber subscribes to each of them. */
static void sendSymbolList(mamaMsg request)
{
    char list[MAX_SYMBOLS * 64] = "";
    mamaMsg answer = NULL;
    size_t used = 0;
    int i;
    for (i = 0; i < gInstrumentCount; ++i)
        used += (size_t)snprintf(list + used, sizeof list - used, "%s%s", i ? "," : "",
                                 gInstruments[i].mSymbol);
    check(mamaMsg_create(&answer), "mamaMsg_create");
    check(
        mamaMsg_addU8(answer, MamaFieldMsgType.mName, MamaFieldMsgType.mFid, MAMA_MSG_TYPE_INITIAL),
        "mamaMsg_addU8");
    check(mamaMsg_addU8(answer, MamaFieldMsgStatus.mName, MamaFieldMsgStatus.mFid,
                        MAMA_MSG_STATUS_OK),
          "mamaMsg_addU8");
    check(mamaMsg_addString(answer, MamaFieldSymbolList.mName, MamaFieldSymbolList.mFid, list),
          "mamaMsg_addString");
    check(mamaDQPublisher_sendReply(gSymbolListPublisher, request, answer),
          "mamaDQPublisher_sendReply");
    check(mamaMsg_updateU8(answer, MamaFieldMsgType.mName, MamaFieldMsgType.mFid,
                           MAMA_MSG_TYPE_END_OF_INITIALS),
          "mamaMsg_updateU8");
    check(mamaDQPublisher_sendReply(gSymbolListPublisher, request, answer),
          "mamaDQPublisher_sendReply");
    mamaMsg_destroy(answer);
    if (!gQuiet)
        printf("publisher: sent the symbol list %s\n", list);
}

static void MAMACALLTYPE onNewRequest(mamaDQPublisherManager manager, const char* symbol,
                                      short subType, short msgType, mamaMsg msg)
{
    Instrument* instrument = findInstrument(symbol);
    if (subType >= MAMA_SUBSC_TYPE_SYMBOL_LIST && subType <= MAMA_SUBSC_TYPE_SYMBOL_LIST_BOOK)
    {
        snprintf(gSymbolListSymbol, sizeof gSymbolListSymbol, "%s", symbol ? symbol : "");
        check(mamaDQPublisherManager_createPublisher(manager, gSymbolListSymbol, NULL,
                                                     &gSymbolListPublisher),
              "mamaDQPublisherManager_createPublisher");
        sendSymbolList(msg);
        return;
    }
    if (instrument == NULL)
    {
        fprintf(stderr, "publisher: request for unknown symbol %s\n", symbol ? symbol : "");
        return;
    }
    check(mamaDQPublisherManager_createPublisher(manager, symbol, instrument,
                                                 &instrument->mPublisher),
          "mamaDQPublisherManager_createPublisher");
    sendImage(instrument, msgType, msg);
}

static void MAMACALLTYPE onRequest(mamaDQPublisherManager manager, mamaPublishTopic* info,
                                   short subType, short msgType, mamaMsg msg)
{
    (void)manager;
    (void)subType;
    if (info->cache == NULL)
        sendSymbolList(msg);
    else
        sendImage((Instrument*)info->cache, msgType, msg);
}

static void MAMACALLTYPE onRefresh(mamaDQPublisherManager manager, mamaPublishTopic* info,
                                   short subType, short msgType, mamaMsg msg)
{
    (void)manager;
    (void)info;
    (void)subType;
    (void)msgType;
    (void)msg;
}

static void MAMACALLTYPE onManagerError(mamaDQPublisherManager manager, mama_status status,
                                        const char* errortxt, mamaMsg msg)
{
    (void)manager;
    (void)msg;
    fprintf(stderr, "publisher: %s: %s\n", errortxt ? errortxt : "",
            mamaStatus_stringForStatus(status));
}

/* Messages on the request subject that are not requests: the warm-up probes. */
static void MAMACALLTYPE onManagerMsg(mamaDQPublisherManager manager, mamaMsg msg)
{
    (void)manager;
    (void)msg;
    setFlag(&gManagerLive);
}

static void sendUpdate(Instrument* instrument)
{
    ++instrument->mPublished;
    fillImage(instrument);
    check(mamaMsg_updateU8(instrument->mImage, MamaFieldMsgType.mName, MamaFieldMsgType.mFid,
                           MAMA_MSG_TYPE_UPDATE),
          "mamaMsg_updateU8");
    check(mamaDQPublisher_send(instrument->mPublisher, instrument->mImage), "mamaDQPublisher_send");
}

/* With -cache, before anyone subscribes: the publisher creates each symbol's
 * publisher itself and publishes the image and the early updates on the
 * symbol's topic. A send reaches the embedded router before it returns, so
 * once this event has run the router's cache holds the last of them. */
static void MAMACALLTYPE publishEarly(mamaQueue queue, void* closure)
{
    mamaDQPublisherManager manager = (mamaDQPublisherManager)closure;
    mama_u32_t n;
    int i;
    (void)queue;
    for (i = 0; i < gInstrumentCount; ++i)
    {
        Instrument* instrument = &gInstruments[i];
        check(mamaDQPublisherManager_createPublisher(manager, instrument->mSymbol, instrument,
                                                     &instrument->mPublisher),
              "mamaDQPublisherManager_createPublisher");
        fillImage(instrument);
        check(mamaMsg_updateU8(instrument->mImage, MamaFieldMsgType.mName, MamaFieldMsgType.mFid,
                               MAMA_MSG_TYPE_INITIAL),
              "mamaMsg_updateU8");
        check(mamaDQPublisher_send(instrument->mPublisher, instrument->mImage),
              "mamaDQPublisher_send");
        for (n = 0; n < gEarlyUpdates; ++n)
            sendUpdate(instrument);
        pthread_mutex_lock(&gLock);
        instrument->mPrimed = 1;
        pthread_mutex_unlock(&gLock);
        if (!gQuiet)
            printf("publisher: published INITIAL and %u updates for %s.%s\n",
                   (unsigned)gEarlyUpdates, gSource, instrument->mSymbol);
    }
    setFlag(&gEarlyPublished);
}

/* The listener has taken enough of what was published (gLock held); a
 * listener in another process is not seen, the publisher's rate bounds
 * what it is sent instead. */
static int caughtUp(void)
{
    return !gListens ||
           gUpdatesSent - gUpdatesReceived <= MAX_IN_FLIGHT - (mama_u64_t)gInstrumentCount;
}

/* Runs on the publisher's dispatch thread, like every other use of the
 * manager and its publishers. */
static void MAMACALLTYPE publishUpdates(mamaQueue queue, void* closure)
{
    mama_u32_t n;
    int i;
    (void)queue;
    (void)closure;
    for (n = gEarlyUpdates; n < gUpdates; ++n)
    {
        if (!await(&gLock, &gChanged, caughtUp, 10.0))
        {
            fprintf(
                stderr,
                "publisher: the listener stayed %d updates behind for 10 s; stopping after %llu\n",
                MAX_IN_FLIGHT, (unsigned long long)gUpdatesSent);
            setFlag(&gPublishStalled);
            break;
        }
        for (i = 0; i < gInstrumentCount; ++i)
        {
            sendUpdate(&gInstruments[i]);
            ++gUpdatesSent;
        }
        /* At most some 100,000 rounds a second for listeners elsewhere. */
        if (!gListens && n % 100 == 99)
            usleep(1000);
    }
    setFlag(&gPublishDone);
}

/* ---- Publisher side: the data dictionary --------------------------------- */

/* OpenMAMA's tools (mamalistenc without -B, mamasymbollistsubscriberc) ask
 * for the data dictionary on _MDDD.WOMBAT.DATA_DICT before they subscribe:
 * the publisher answers with the fields of its messages. Publisher dispatch
 * thread only, once created. */
#define DICTIONARY_SUBJECT "_MDDD.WOMBAT.DATA_DICT"
static mamaSubscription gDictionarySubscription = NULL;
static mamaPublisher gDictionaryPublisher = NULL;
static mamaMsg gDictionaryMsg = NULL;

static void MAMACALLTYPE onDictionaryRequest(mamaSubscription subscription, mamaMsg request,
                                             void* closure, void* itemClosure)
{
    mama_status status;
    (void)subscription;
    (void)closure;
    (void)itemClosure;
    if (mamaMsg_isFromInbox(request) != 1)
        return;
    status = mamaPublisher_sendReplyToInbox(gDictionaryPublisher, request, gDictionaryMsg);
    if (status != MAMA_STATUS_OK)
        fprintf(stderr, "publisher: answering a dictionary request failed: %s\n",
                mamaStatus_stringForStatus(status));
    else if (!gQuiet)
        printf("publisher: sent the data dictionary\n");
}

static void MAMACALLTYPE onDictionaryError(mamaSubscription subscription, mama_status status,
                                           void* platformError, const char* subject, void* closure)
{
    (void)subscription;
    (void)platformError;
    (void)closure;
    fprintf(stderr, "publisher: the dictionary subscription on %s failed: %s\n",
            subject ? subject : DICTIONARY_SUBJECT, mamaStatus_stringForStatus(status));
}

static void serveDictionary(mamaTransport transport, mamaQueue queue)
{
    mamaMsgCallbacks callbacks;
    mamaDictionary dictionary = NULL;
    check(mamaDictionary_create(&dictionary), "mamaDictionary_create");
    check(mamaDictionary_createFieldDescriptor(dictionary, SYMBOL_FID, SYMBOL_FIELD,
                                               MAMA_FIELD_TYPE_STRING, NULL),
          "mamaDictionary_createFieldDescriptor");
    check(mamaDictionary_createFieldDescriptor(dictionary, BID_FID, BID_FIELD, MAMA_FIELD_TYPE_F64,
                                               NULL),
          "mamaDictionary_createFieldDescriptor");
    check(mamaDictionary_createFieldDescriptor(dictionary, ASK_FID, ASK_FIELD, MAMA_FIELD_TYPE_F64,
                                               NULL),
          "mamaDictionary_createFieldDescriptor");
    check(mamaDictionary_createFieldDescriptor(dictionary, SIZE_FID, SIZE_FIELD,
                                               MAMA_FIELD_TYPE_U32, NULL),
          "mamaDictionary_createFieldDescriptor");
    check(mamaDictionary_createFieldDescriptor(dictionary, UPDATE_NUM_FID, UPDATE_NUM_FIELD,
                                               MAMA_FIELD_TYPE_U32, NULL),
          "mamaDictionary_createFieldDescriptor");
    check(mamaDictionary_getDictionaryMessage(dictionary, &gDictionaryMsg),
          "mamaDictionary_getDictionaryMessage");
    check(mamaDictionary_destroy(dictionary), "mamaDictionary_destroy");
    /* The subscription that asked takes only an answer with a type and a
     * status. */
    check(mamaMsg_addU8(gDictionaryMsg, MamaFieldMsgType.mName, MamaFieldMsgType.mFid,
                        MAMA_MSG_TYPE_INITIAL),
          "mamaMsg_addU8");
    check(mamaMsg_addU8(gDictionaryMsg, MamaFieldMsgStatus.mName, MamaFieldMsgStatus.mFid,
                        MAMA_MSG_STATUS_OK),
          "mamaMsg_addU8");
    check(mamaPublisher_create(&gDictionaryPublisher, transport, DICTIONARY_SUBJECT, NULL, NULL),
          "mamaPublisher_create");
    memset(&callbacks, 0, sizeof(callbacks));
    callbacks.onMsg = onDictionaryRequest;
    callbacks.onError = onDictionaryError;
    check(mamaSubscription_allocate(&gDictionarySubscription), "mamaSubscription_allocate");
    check(mamaSubscription_createBasic(gDictionarySubscription, transport, queue, &callbacks,
                                       DICTIONARY_SUBJECT, NULL),
          "mamaSubscription_createBasic");
}

static void MAMACALLTYPE closePublisher(mamaQueue queue, void* closure)
{
    mamaDQPublisherManager manager = (mamaDQPublisherManager)closure;
    int i;
    (void)queue;
    for (i = 0; i < gInstrumentCount; ++i)
    {
        if (gInstruments[i].mPublisher != NULL)
        {
            mamaDQPublisherManager_destroyPublisher(manager, gInstruments[i].mSymbol);
            gInstruments[i].mPublisher = NULL;
        }
    }
    mamaSubscription_destroy(gDictionarySubscription);
    mamaSubscription_deallocate(gDictionarySubscription);
    mamaPublisher_destroy(gDictionaryPublisher);
    mamaMsg_destroy(gDictionaryMsg);
    if (gSymbolListPublisher != NULL)
    {
        mamaDQPublisherManager_destroyPublisher(manager, gSymbolListSymbol);
        gSymbolListPublisher = NULL;
    }
    mamaDQPublisherManager_destroy(manager);
    setFlag(&gPublisherClosed);
}

/* ---- Listener side ------------------------------------------------------ */

static void printField(const mamaMsg msg, const mamaMsgField field, void* closure)
{
    const char* name = NULL;
    const char* typeName = NULL;
    mama_fid_t fid = 0;
    char value[256];
    (void)msg;
    (void)closure;
    mamaMsgField_getName(field, &name);
    mamaMsgField_getFid(field, &fid);
    mamaMsgField_getTypeName(field, &typeName);
    if (mamaMsgField_getAsString(field, value, sizeof(value)) != MAMA_STATUS_OK)
        snprintf(value, sizeof(value), "?");
    printf("  %-20s | %5u | %-8s | %s\n", name ? name : "", (unsigned)fid, typeName ? typeName : "",
           value);
}

static void MAMACALLTYPE onFieldCb(const mamaMsg msg, const mamaMsgField field, void* closure)
{
    printField(msg, field, closure);
}

static void MAMACALLTYPE onListenerCreate(mamaSubscription sub, void* closure)
{
    (void)sub;
    (void)closure;
}

static void MAMACALLTYPE onListenerError(mamaSubscription sub, mama_status status,
                                         void* platformError, const char* subject, void* closure)
{
    Instrument* instrument = (Instrument*)closure;
    (void)sub;
    (void)platformError;
    fprintf(stderr, "listener: %s.%s: error %s (%s)\n", gSource, instrument->mSymbol,
            mamaStatus_stringForStatus(status), subject ? subject : "");
    pthread_mutex_lock(&gLock);
    ++instrument->mErrors;
    signalChange();
    pthread_mutex_unlock(&gLock);
}

static void MAMACALLTYPE onListenerMsg(mamaSubscription sub, mamaMsg msg, void* closure,
                                       void* itemClosure)
{
    Instrument* instrument = (Instrument*)closure;
    mamaMsgType type = mamaMsgType_typeForMsg(msg);
    mama_u32_t number = 0;
    int numbered = mamaMsg_getU32(msg, UPDATE_NUM_FIELD, UPDATE_NUM_FID, &number) == MAMA_STATUS_OK;
    (void)sub;
    (void)itemClosure;

    if (gPrintFields)
    {
        printf("%s.%s Type: %s Status %s\n", gSource, instrument->mSymbol,
               mamaMsgType_stringForType(type),
               mamaMsgStatus_stringForStatus(mamaMsgStatus_statusForMsg(msg)));
        mamaMsg_iterateFields(msg, onFieldCb, NULL, NULL);
    }

    pthread_mutex_lock(&gLock);
    switch (type)
    {
    case MAMA_MSG_TYPE_INITIAL:
    case MAMA_MSG_TYPE_RECAP:
        /* The initial value is the state after the early updates. */
        if (!numbered || instrument->mInitials > 0 || type != MAMA_MSG_TYPE_INITIAL ||
            number != gEarlyUpdates)
        {
            if (instrument->mErrors++ < 5)
                fprintf(stderr,
                        "listener: %s.%s: unexpected %s (at update %u, wanted one INITIAL at %u)\n",
                        gSource, instrument->mSymbol, mamaMsgType_stringForType(type),
                        (unsigned)number, (unsigned)gEarlyUpdates);
        }
        ++instrument->mInitials;
        instrument->mExpected = number + 1;
        break;
    case MAMA_MSG_TYPE_UPDATE:
        if (instrument->mInitials == 0 || !numbered || number != instrument->mExpected)
        {
            if (instrument->mErrors++ < 5)
                fprintf(stderr, "listener: %s.%s: got update %u, wanted %u%s\n", gSource,
                        instrument->mSymbol, (unsigned)number, (unsigned)instrument->mExpected,
                        instrument->mInitials == 0 ? " (before the INITIAL)" : "");
        }
        instrument->mExpected = number + 1;
        ++instrument->mUpdates;
        ++gUpdatesReceived;
        break;
    default:
        break;
    }
    signalChange();
    pthread_mutex_unlock(&gLock);
}

static void MAMACALLTYPE onListenerQuality(mamaSubscription sub, mamaQuality quality,
                                           const char* symbol, short cause,
                                           const void* platformInfo, void* closure)
{
    (void)sub;
    (void)cause;
    (void)platformInfo;
    (void)closure;
    if (!gQuiet)
        printf("listener: quality of %s is now %s\n", symbol ? symbol : "",
               mamaQuality_convertToString(quality));
}

static void MAMACALLTYPE onListenerGap(mamaSubscription sub, void* closure)
{
    Instrument* instrument = (Instrument*)closure;
    (void)sub;
    fprintf(stderr, "listener: %s.%s: sequence gap\n", gSource, instrument->mSymbol);
    pthread_mutex_lock(&gLock);
    ++instrument->mGaps;
    signalChange();
    pthread_mutex_unlock(&gLock);
}

static void MAMACALLTYPE onListenerDestroy(mamaSubscription sub, void* closure)
{
    Instrument* instrument = (Instrument*)closure;
    (void)sub;
    pthread_mutex_lock(&gLock);
    ++instrument->mDestroyed;
    signalChange();
    pthread_mutex_unlock(&gLock);
}

/* ---- Conditions the main thread waits for (gLock held) ------------------ */

static int defaultQueueLive(void)
{
    return gDefaultQueueLive;
}

static int defaultQueueStopped(void)
{
    return gDefaultQueueStopped;
}

static int managerLive(void)
{
    return gManagerLive;
}

static int earlyPublished(void)
{
    return gEarlyPublished;
}

/* Every symbol's requests, one per listener, have been answered. */
static int allAnswered(void)
{
    int i;
    for (i = 0; i < gInstrumentCount; ++i)
    {
        if (gInstruments[i].mAnswered < gListeners)
            return 0;
    }
    return 1;
}

static int publishDone(void)
{
    return gPublishDone || gPublishStalled;
}

/* Every symbol has its initial value, or one failed already. */
static int allInitials(void)
{
    int complete = 1;
    int i;
    for (i = 0; i < gInstrumentCount; ++i)
    {
        if (gInstruments[i].mErrors > 0 || gInstruments[i].mGaps > 0)
            return 1;
        complete = complete && gInstruments[i].mInitials > 0;
    }
    return complete;
}

/* Every update arrived, or a symbol failed already. */
static int allReceived(void)
{
    int i;
    if (gPublishStalled)
        return 1;
    if (!gPublishDone)
        return 0;
    for (i = 0; i < gInstrumentCount; ++i)
    {
        if (gInstruments[i].mUpdates < gUpdates - gEarlyUpdates && gInstruments[i].mErrors == 0 &&
            gInstruments[i].mGaps == 0)
            return 0;
    }
    return 1;
}

/* Waits for the run as long as it makes progress: fails once 10 s pass
 * without an update. */
static int awaitRun(void)
{
    mama_u64_t seen;
    int done;
    pthread_mutex_lock(&gLock);
    do
    {
        seen = gUpdatesReceived;
        done = awaitLocked(&gLock, &gChanged, allReceived, 10.0);
    } while (!done && gUpdatesReceived != seen);
    pthread_mutex_unlock(&gLock);
    return done;
}

static int allDestroyed(void)
{
    int i;
    for (i = 0; i < gInstrumentCount; ++i)
    {
        if (gInstruments[i].mSubscription != NULL && gInstruments[i].mDestroyed == 0)
            return 0;
    }
    return 1;
}

static int publisherClosed(void)
{
    return gPublisherClosed;
}

static void usage(const char* program)
{
    fprintf(stderr,
            "usage: %s [-m middleware] [-tport name] [-S source] [-s symbol]... [-n updates] "
            "[-cache] [-role all|publisher|listener] [-listeners count] [-v]... [-q]\n",
            program);
    exit(2);
}

/* Sets a transport property; with keep, a value from mama.properties stays. */
static void setTransportProperty(const char* middleware, const char* tportName, const char* key,
                                 const char* value, int keep)
{
    char property[512];
    snprintf(property, sizeof(property), "mama.%s.transport.%s.%s", middleware, tportName, key);
    if (!keep || mama_getProperty(property) == NULL)
        check(mama_setProperty(property, value), "mama_setProperty");
}

/* A decimal count; anything else is refused. */
static int parseCount(const char* text, mama_u32_t* count)
{
    char* end = NULL;
    unsigned long value = strtoul(text, &end, 10);
    if (text[0] < '0' || text[0] > '9' || *end != '\0' || value > 0xffffffffUL)
        return 0;
    *count = (mama_u32_t)value;
    return 1;
}

int main(int argc, char** argv)
{
    const char* middleware = "corvex";
    const char* tportName = "md";
    const char* role = "all";
    mama_u32_t listeners = 1;
    MamaLogLevel logLevel = MAMA_LOG_LEVEL_WARN;
    mamaBridge bridge = NULL;
    mamaQueue defaultQueue = NULL;
    mamaTransport transport = NULL;
    mamaQueue pubQueue = NULL;
    mamaQueue subQueue = NULL;
    mamaDispatcher pubDispatcher = NULL;
    mamaDispatcher subDispatcher = NULL;
    mamaDQPublisherManager manager = NULL;
    mamaDQPublisherManagerCallbacks managerCallbacks;
    mamaMsgCallbacks callbacks;
    mamaSource source = NULL;
    mamaPublisher probe = NULL;
    mamaMsg probeMsg = NULL;
    char requestSubject[256];
    double started;
    int subscribed = 0;
    int i;
    int ok = 1;

    for (i = 1; i < argc; ++i)
    {
        if (i + 1 < argc && strcmp(argv[i], "-m") == 0)
            middleware = argv[++i];
        else if (i + 1 < argc && strcmp(argv[i], "-tport") == 0)
            tportName = argv[++i];
        else if (i + 1 < argc && strcmp(argv[i], "-S") == 0)
            gSource = argv[++i];
        else if (i + 1 < argc && strcmp(argv[i], "-s") == 0)
        {
            if (gInstrumentCount == MAX_SYMBOLS)
            {
                fprintf(stderr, "at most %d symbols\n", MAX_SYMBOLS);
                return 2;
            }
            gInstruments[gInstrumentCount++].mSymbol = argv[++i];
        }
        else if (i + 1 < argc && strcmp(argv[i], "-n") == 0)
        {
            if (!parseCount(argv[++i], &gUpdates))
                usage(argv[0]);
        }
        else if (strcmp(argv[i], "-cache") == 0)
            gUseCache = 1;
        else if (i + 1 < argc && strcmp(argv[i], "-role") == 0)
            role = argv[++i];
        else if (i + 1 < argc && strcmp(argv[i], "-listeners") == 0)
        {
            if (!parseCount(argv[++i], &listeners) || listeners == 0 || listeners > 1000)
                usage(argv[0]);
        }
        else if (strcmp(argv[i], "-v") == 0)
        {
            if (!gPrintFields)
                gPrintFields = 1;
            else if (logLevel < MAMA_LOG_LEVEL_FINEST)
                logLevel = (MamaLogLevel)(logLevel + 1);
        }
        else if (strcmp(argv[i], "-q") == 0)
            gQuiet = 1;
        else
            usage(argv[0]);
    }
    gPublishes = strcmp(role, "listener") != 0;
    gListens = strcmp(role, "publisher") != 0;
    gListeners = (int)listeners;
    if ((!gPublishes && !gListens) || (gUseCache && !(gPublishes && gListens)) ||
        (strcmp(role, "all") != 0 && strcmp(role, "publisher") != 0 &&
         strcmp(role, "listener") != 0))
        usage(argv[0]);
    if (!gPublishes)
        gPublishDone = 1; /* elsewhere: the listener waits as long as updates come */
    if (gInstrumentCount == 0)
        gInstruments[gInstrumentCount++].mSymbol = "IBM";
    for (i = 0; i < gInstrumentCount; ++i)
    {
        if (findInstrument(gInstruments[i].mSymbol) != &gInstruments[i])
        {
            fprintf(stderr, "symbol %s given twice\n", gInstruments[i].mSymbol);
            return 2;
        }
    }

    mama_enableLogging(stderr, logLevel);
    check(mama_loadBridge(&bridge, middleware), "mama_loadBridge");
    setTransportProperty(middleware, tportName, "allow_recover_gaps", "false", 1);
    /* Where the initial value comes from is what the run checks: the mode
     * decides, whatever mama.properties says. */
    setTransportProperty(middleware, tportName, "use_corvexcache", gUseCache ? "true" : "false", 0);
    check(mama_open(), "mama_open");
    check(mama_startBackground(bridge, onDefaultQueueStopped), "mama_startBackground");
    /* Once an event has gone through the default queue, its dispatch has
     * begun and the mama_stop at the end will end it. */
    check(mama_getDefaultEventQueue(bridge, &defaultQueue), "mama_getDefaultEventQueue");
    check(mamaQueue_enqueueEvent(defaultQueue, onDefaultQueueEvent, NULL),
          "mamaQueue_enqueueEvent");
    if (!await(&gLock, &gChanged, defaultQueueLive, 10.0))
    {
        fprintf(stderr, "the default queue is not dispatched\n");
        return 1;
    }

    check(mamaTransport_allocate(&transport), "mamaTransport_allocate");
    check(mamaTransport_create(transport, tportName, bridge), "mamaTransport_create");
    check(mamaQueue_create(&pubQueue, bridge), "mamaQueue_create");
    check(mamaQueue_create(&subQueue, bridge), "mamaQueue_create");
    check(mamaDispatcher_create(&pubDispatcher, pubQueue), "mamaDispatcher_create");
    check(mamaDispatcher_create(&subDispatcher, subQueue), "mamaDispatcher_create");
    check(mamaSource_create(&source), "mamaSource_create");
    check(mamaSource_setSymbolNamespace(source, gSource), "mamaSource_setSymbolNamespace");
    check(mamaSource_setTransport(source, transport), "mamaSource_setTransport");

    /* The publisher: a manager answering requests on _MD.<source>. */
    for (i = 0; i < gInstrumentCount; ++i)
        check(mamaMsg_create(&gInstruments[i].mImage), "mamaMsg_create");
    if (gPublishes)
    {
        memset(&managerCallbacks, 0, sizeof(managerCallbacks));
        managerCallbacks.onCreate = onManagerCreate;
        managerCallbacks.onNewRequest = onNewRequest;
        managerCallbacks.onRequest = onRequest;
        managerCallbacks.onRefresh = onRefresh;
        managerCallbacks.onError = onManagerError;
        managerCallbacks.onMsg = onManagerMsg;
        check(mamaDQPublisherManager_allocate(&manager), "mamaDQPublisherManager_allocate");
        check(mamaDQPublisherManager_create(manager, transport, pubQueue, &managerCallbacks,
                                            gSource, "_MD", NULL),
              "mamaDQPublisherManager_create");
        serveDictionary(transport, pubQueue);

        /* Its subscription is placed asynchronously: probe until it is live. */
        snprintf(requestSubject, sizeof(requestSubject), "_MD.%s", gSource);
        check(mamaPublisher_create(&probe, transport, requestSubject, NULL, NULL),
              "mamaPublisher_create");
        check(mamaMsg_create(&probeMsg), "mamaMsg_create");
        check(mamaMsg_addU32(probeMsg, UPDATE_NUM_FIELD, UPDATE_NUM_FID, 0), "mamaMsg_addU32");
        for (i = 0; !await(&gLock, &gChanged, managerLive, 0.01); ++i)
        {
            if (i == 500)
            {
                fprintf(stderr, "the publisher manager's subscription did not become live\n");
                ok = 0;
                break;
            }
            check(mamaPublisher_send(probe, probeMsg), "mamaPublisher_send");
        }
        check(mamaMsg_destroy(probeMsg), "mamaMsg_destroy");
        check(mamaPublisher_destroy(probe), "mamaPublisher_destroy");
    }

    if (ok && gUseCache)
    {
        gEarlyUpdates = gUpdates / 2;
        check(mamaQueue_enqueueEvent(pubQueue, publishEarly, manager), "mamaQueue_enqueueEvent");
        if (!await(&gLock, &gChanged, earlyPublished, 30.0))
        {
            fprintf(stderr, "the publisher did not publish its images\n");
            ok = 0;
        }
    }

    started = now();
    if (ok && !gListens)
    {
        /* Updates flow once every listener has had every initial value. */
        if (!await(&gLock, &gChanged, allAnswered, 60.0))
        {
            fprintf(stderr, "publisher: not every symbol was requested by %d listener(s)\n",
                    gListeners);
            ok = 0;
        }
        else
        {
            /* A listener's connection may hand it the reply (on its inbox)
             * and the first updates (on the symbol's topic) through
             * subscriptions delivered by threads of their own, in either
             * order; updates taken before the initial value are dropped,
             * beyond a few. A pause lets the replies be taken first. */
            usleep(500 * 1000);
            check(mamaQueue_enqueueEvent(pubQueue, publishUpdates, NULL), "mamaQueue_enqueueEvent");
            ok = await(&gLock, &gChanged, publishDone, 120.0) && !gPublishStalled;
            /* The last updates leave before the transport closes. */
            sleep(1);
        }
        pthread_mutex_lock(&gLock);
        for (i = 0; i < gInstrumentCount; ++i)
            printf("publisher: %s.%s: %d request(s) answered, %u updates published\n", gSource,
                   gInstruments[i].mSymbol, gInstruments[i].mAnswered,
                   (unsigned)gInstruments[i].mPublished);
        pthread_mutex_unlock(&gLock);
    }
    else if (ok)
    {
        /* The listener: one market-data subscription per symbol. */
        memset(&callbacks, 0, sizeof(callbacks));
        callbacks.onCreate = onListenerCreate;
        callbacks.onError = onListenerError;
        callbacks.onMsg = onListenerMsg;
        callbacks.onQuality = onListenerQuality;
        callbacks.onGap = onListenerGap;
        callbacks.onDestroy = onListenerDestroy;
        for (i = 0; i < gInstrumentCount; ++i)
        {
            check(mamaSubscription_allocate(&gInstruments[i].mSubscription),
                  "mamaSubscription_allocate");
            check(mamaSubscription_setTimeout(gInstruments[i].mSubscription, 5.0),
                  "mamaSubscription_setTimeout");
            check(mamaSubscription_create(gInstruments[i].mSubscription, subQueue, &callbacks,
                                          source, gInstruments[i].mSymbol, &gInstruments[i]),
                  "mamaSubscription_create");
        }
        subscribed = 1;

        /* Updates flow once every symbol has had its initial value. */
        if (!await(&gLock, &gChanged, allInitials, 30.0))
        {
            fprintf(stderr, "not every symbol got its initial value\n");
            ok = 0;
        }
        else
        {
            if (gPublishes)
                check(mamaQueue_enqueueEvent(pubQueue, publishUpdates, NULL),
                      "mamaQueue_enqueueEvent");
            if (!awaitRun())
            {
                fprintf(stderr, "not every update arrived\n");
                ok = 0;
            }
        }
    }

    /* The initial value must come from where the mode says: the manager's
     * reply, or else the cache with no request answered. */
    pthread_mutex_lock(&gLock);
    for (i = 0; subscribed && i < gInstrumentCount; ++i)
    {
        const Instrument* instrument = &gInstruments[i];
        /* A publisher in another process answered: without the cache
         * nothing else could have. */
        int sourced = gUseCache ? instrument->mPrimed && instrument->mAnswered == 0
                                : !gPublishes || instrument->mAnswered > 0;
        int good = sourced && instrument->mInitials == 1 &&
                   instrument->mUpdates == gUpdates - gEarlyUpdates && instrument->mGaps == 0 &&
                   instrument->mErrors == 0;
        printf("%s.%s: %d initial at update %u (%d request(s) answered), %llu of %u live updates, "
               "%llu gaps, "
               "%llu errors: %s\n",
               gSource, instrument->mSymbol, instrument->mInitials, (unsigned)gEarlyUpdates,
               instrument->mAnswered, (unsigned long long)instrument->mUpdates,
               (unsigned)(gUpdates - gEarlyUpdates), (unsigned long long)instrument->mGaps,
               (unsigned long long)instrument->mErrors, good ? "ok" : "FAILED");
        ok = ok && good;
    }
    pthread_mutex_unlock(&gLock);
    if (subscribed)
        printf("%d symbols, initial values from the %s, %u updates each (%u before subscribing), "
               "in %.3f s\n",
               gInstrumentCount, gUseCache ? "router's cache" : "publisher manager",
               (unsigned)gUpdates, (unsigned)gEarlyUpdates, now() - started);

    /* Shut down: subscriptions first (their destroy callbacks run on the
     * listener's dispatch thread), then the publisher on its own thread. */
    for (i = 0; subscribed && i < gInstrumentCount; ++i)
        check(mamaSubscription_destroy(gInstruments[i].mSubscription), "mamaSubscription_destroy");
    if (!await(&gLock, &gChanged, allDestroyed, 10.0))
    {
        fprintf(stderr, "not every subscription reported its destroy\n");
        ok = 0;
    }
    if (gPublishes)
    {
        check(mamaQueue_enqueueEvent(pubQueue, closePublisher, manager), "mamaQueue_enqueueEvent");
        if (!await(&gLock, &gChanged, publisherClosed, 10.0))
        {
            fprintf(stderr, "the publisher did not close\n");
            return 1;
        }
    }
    check(mamaDispatcher_destroy(subDispatcher), "mamaDispatcher_destroy");
    check(mamaDispatcher_destroy(pubDispatcher), "mamaDispatcher_destroy");
    /* The final release of a subscription travels through its queue. */
    check(mamaQueue_destroyWait(subQueue), "mamaQueue_destroyWait");
    check(mamaQueue_destroyWait(pubQueue), "mamaQueue_destroyWait");
    for (i = 0; i < gInstrumentCount; ++i)
    {
        if (subscribed)
            check(mamaSubscription_deallocate(gInstruments[i].mSubscription),
                  "mamaSubscription_deallocate");
        check(mamaMsg_destroy(gInstruments[i].mImage), "mamaMsg_destroy");
    }
    check(mamaSource_destroy(source), "mamaSource_destroy");
    check(mamaTransport_destroy(transport), "mamaTransport_destroy");
    check(mama_stop(bridge), "mama_stop");
    if (!await(&gLock, &gChanged, defaultQueueStopped, 10.0))
    {
        fprintf(stderr, "the default queue's dispatch did not stop\n");
        return 1;
    }
    check(mama_close(), "mama_close");
    printf("%s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
