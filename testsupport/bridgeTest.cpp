#include "bridgeTest.h"

#include <algorithm>

#include <corvexClientTest.h>
#include <mama/transport.h>

void BridgeTest::SetUp()
{
    LogCapture::start(MAMA_LOG_LEVEL_FINEST);
    ASSERT_EQ(MAMA_STATUS_OK, mama_loadBridge(&mBridge, "corvex"));
    ASSERT_EQ(MAMA_STATUS_OK, mama_open()) << ::testing::PrintToString(LogCapture::lines());
    mOpen = true;
}

void BridgeTest::TearDown()
{
    destroyTransport();
    closeBridge();
    corvexClientTest_setRecording(0);
    corvexClientTest_clearCalls();
    corvexClientTest_clearFailures();
}

void BridgeTest::closeBridge()
{
    if (mOpen)
    {
        mOpen = false;
        EXPECT_EQ(MAMA_STATUS_OK, mama_close());
    }
}

void BridgeTest::openWithTransport(const char* queueMaxSize, const char* subscribeAsync)
{
    if (queueMaxSize != nullptr)
    {
        mama_setProperty("mama.corvex.transport.queue_max_size", queueMaxSize);
    }
    if (subscribeAsync != nullptr)
    {
        mama_setProperty("mama.corvex.transport.subscribe_async", subscribeAsync);
    }
    mama_setProperty("mama.corvex.transport.t1.allow_recover_gaps", "true");
    BridgeTest::SetUp();
    ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_allocate(&mTransport));
    ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_create(mTransport, "t1", mBridge));
}

void* BridgeTest::nativeTransport()
{
    void* native = nullptr;
    EXPECT_EQ(MAMA_STATUS_OK, mamaTransport_getNativeTransport(mTransport, 0, &native));
    return native;
}

mama_status BridgeTest::destroyTransport()
{
    mama_status status = MAMA_STATUS_OK;
    if (mTransport != nullptr)
    {
        status = mamaTransport_destroy(mTransport);
        mTransport = nullptr;
    }
    return status;
}

DispatchThread::DispatchThread(mamaQueue queue)
    : DispatchThread([queue] { return mamaQueue_dispatch(queue); })
{
}

DispatchThread::DispatchThread(std::function<mama_status()> dispatch)
    : mThread(
          [this, dispatch]
          {
              mStatus = dispatch();
              mReturned.raise();
          })
{
}

DispatchThread::~DispatchThread()
{
    if (mThread.joinable())
    {
        mThread.join();
    }
}

bool DispatchThread::waitReturned(std::chrono::milliseconds limit)
{
    if (!mReturned.wait(limit))
    {
        return false;
    }
    mThread.join();
    return true;
}

bool DispatchThread::stop(const std::vector<mamaQueue>& queues)
{
    for (int attempt = 0; attempt < 100; ++attempt)
    {
        for (mamaQueue queue : queues)
        {
            mamaQueue_stopDispatch(queue);
        }
        if (waitReturned(std::chrono::milliseconds(100)))
        {
            return true;
        }
    }
    return false;
}

mama_status DispatchThread::status() const
{
    return mStatus;
}

bool holdContextThread(corvexClient_session_t session)
{
    static const char* const HOLD_TEXT = "vendor thread held by the test";
    LogCapture::holdAt(std::string("reason=") + HOLD_TEXT);
    if (corvexClientTest_injectSessionEvent(session, CORVEXCLIENT_SESSION_EVENT_ROUTER_NOTICE,
                                            CORVEXCLIENT_SUBCODE_OK, 0, HOLD_TEXT,
                                            nullptr) != CORVEXCLIENT_OK)
    {
        LogCapture::release();
        return false;
    }
    return LogCapture::waitHeld();
}

size_t queuedEvents(mamaQueue queue)
{
    size_t count = 0;
    EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_getEventCount(queue, &count));
    return count;
}

void MAMACALLTYPE raiseSignal(mamaQueue, void* closure)
{
    static_cast<Signal*>(closure)->raise();
}

std::vector<std::string> vendorCalls(const char* operation)
{
    std::vector<std::string> calls;
    char text[1024];
    for (uint32_t i = 0;
         corvexClientTest_getCall(operation, i, text, sizeof(text)) == CORVEXCLIENT_OK; ++i)
    {
        calls.push_back(text);
    }
    return calls;
}

size_t countContaining(const std::vector<std::string>& texts, const std::string& needle)
{
    return std::count_if(texts.begin(), texts.end(),
                         [&](const std::string& text)
                         { return text.find(needle) != std::string::npos; });
}
