/* The bridge as an application uses it: loaded by name and opened through
 * the host, a test transport "t1" on the embedded router, queues dispatched
 * on threads of their own, and the vendor calls the bridge made. */
#ifndef CORVEX_TESTSUPPORT_BRIDGETEST_H
#define CORVEX_TESTSUPPORT_BRIDGETEST_H

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <corvexClient.h>
#include <mama/mama.h>

#include "logCapture.h"
#include "waiting.h"

/* The bridge loaded by name (init and open run inside the load) and the host
 * opened; closed again at the end of each test. */
class BridgeTest : public ::testing::Test
{
  protected:
    void SetUp() override;
    /* Destroys the transport if the test left it, closes the bridge and
     * forgets the vendor calls recorded and the failures armed. */
    void TearDown() override;
    void closeBridge();

    /* Sets the properties the bridge and its vendor read at open (null
     * leaves one unset), opens the bridge and creates transport "t1" in
     * mTransport. */
    void openWithTransport(const char* queueMaxSize = nullptr,
                           const char* subscribeAsync = nullptr);
    /* The transport's bridge object (the host's native transport). */
    void* nativeTransport();
    /* OK when there is no transport (any more). */
    mama_status destroyTransport();

    mamaBridge mBridge = nullptr;
    bool mOpen = false;
    mamaTransport mTransport = nullptr;
};

/* Runs `dispatch` (by default mamaQueue_dispatch) on a thread of its own and
 * reports when it has returned. */
class DispatchThread
{
  public:
    explicit DispatchThread(mamaQueue queue);
    explicit DispatchThread(std::function<mama_status()> dispatch);
    ~DispatchThread();

    /* True when the dispatch call returned within `limit`; then joined. */
    bool waitReturned(std::chrono::milliseconds limit);
    /* Stops dispatching on `queues` until the call has returned: a stop
     * that comes before the dispatch loop has started is not seen by it, so
     * it is repeated, for a bounded time. */
    bool stop(const std::vector<mamaQueue>& queues);
    mama_status status() const;

  private:
    Signal mReturned;
    mama_status mStatus = MAMA_STATUS_OK;
    std::thread mThread;
};

/* Stops the client library's context thread, which every session shares,
 * between two of its callbacks until LogCapture::release(): a router notice
 * injected on `session` is logged there and held by the log capture. False
 * when the thread was not held in time. */
bool holdContextThread(corvexClient_session_t session);

/* The events waiting on `queue`. */
size_t queuedEvents(mamaQueue queue);

/* A queue event that raises the Signal it is given as closure. */
void MAMACALLTYPE raiseSignal(mamaQueue queue, void* closure);

/* The argument texts of the recorded calls of one vendor operation. */
std::vector<std::string> vendorCalls(const char* operation);
/* How many of `texts` contain `needle`. */
size_t countContaining(const std::vector<std::string>& texts, const std::string& needle);

#endif /* CORVEX_TESTSUPPORT_BRIDGETEST_H */
