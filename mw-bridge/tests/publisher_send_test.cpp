/* MAMA publishers on the bridge: subjects from the naming triple, the bytes
 * and envelope a vendor-level subscriber receives, the subscription-request
 * suppression rule and the failures of the send path. */
#include <dlfcn.h>
#include <map>
#include <unistd.h>

#include <mutex>
#include <string>
#include <vector>

#include <corvexClientTest.h>
#include <bridge.h>
#include <mama/mama.h>
#include <mama/publisher.h>
#include <mama/reservedfields.h>
#include <mama/transport.h>

#include "bridgeTest.h"
#include "compat.h"
#include "corvexBridge.h"
#include "publisher.h"

namespace
{
/* The host keeps its publisher's bridge object private; the tests learn it by
 * wrapping the bridge's create entry in the host's function table. */
bridgeMamaPublisher_createByIndex sBridgeCreate = nullptr;
std::map<mamaPublisher, publisherBridge> sBridgePublishers;

mama_status recordingCreate(publisherBridge* result, mamaTransport tport, int index,
                            const char* topic, const char* source, const char* root,
                            mamaPublisher parent)
{
    mama_status status = sBridgeCreate(result, tport, index, topic, source, root, parent);
    if (status == MAMA_STATUS_OK)
    {
        sBridgePublishers[parent] = *result;
    }
    return status;
}

/* What a plain vendor client sees of one received message. */
struct VendorMsg
{
    std::string mTopic;
    std::vector<uint8_t> mContent;
    int32_t mDeliveryMode = -1;
    corvexClient_returnCode_t mReplyTo = CORVEXCLIENT_OK;
    bool mHasMap = false;
    std::string mUser, mHost, mSessionUser;
    int32_t mPid = 0;
};

std::string mapText(corvexClient_container_t map, const char* key)
{
    const char* value = nullptr;
    return corvexClient_container_getStringPtr(map, key, &value) == CORVEXCLIENT_OK ? value
                                                                                    : "<absent>";
}

/* A session of its own on the bridge's context and router, subscribed to one topic. */
class VendorSubscriber
{
  public:
    VendorSubscriber(corvexClient_context_t context, const char* topic) : mTopic(topic)
    {
        corvexClient_session_createFuncInfo_t callbacks;
        memset(&callbacks, 0, sizeof(callbacks));
        const char* properties[] = {nullptr};
        EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_session_create(properties, context, &mSession,
                                                               &callbacks, sizeof(callbacks)));
        EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_session_connect(mSession));
        mDispatch = {CORVEXCLIENT_DISPATCH_TYPE_CALLBACK, onMessage, this, nullptr};
        EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_session_topicSubscribeWithDispatch(
                                       mSession, CORVEXCLIENT_SUBSCRIBE_FLAGS_WAIT_FOR_CONFIRM,
                                       topic, &mDispatch, nullptr));
    }

    ~VendorSubscriber()
    {
        corvexClient_session_destroy(&mSession);
    }

    bool waitFor(size_t count)
    {
        std::unique_lock<std::mutex> guard(mLock);
        return mChanged.wait_for(guard, std::chrono::seconds(5),
                                 [&] { return mReceived.size() >= count; });
    }

    std::vector<VendorMsg> received()
    {
        std::lock_guard<std::mutex> guard(mLock);
        return mReceived;
    }

  private:
    static int onMessage(corvexClient_session_t, corvexClient_msg_t msg, void* user)
    {
        VendorMsg r;
        corvexClient_destination_t destination;
        if (corvexClient_msg_getDestination(msg, &destination, sizeof(destination)) ==
            CORVEXCLIENT_OK)
        {
            r.mTopic = destination.mTopic;
        }
        void* content = nullptr;
        uint32_t length = 0;
        if (corvexClient_msg_getBinaryAttachmentPtr(msg, &content, &length) == CORVEXCLIENT_OK)
        {
            r.mContent.assign(static_cast<uint8_t*>(content),
                              static_cast<uint8_t*>(content) + length);
        }
        corvexClient_msg_getDeliveryMode(msg, &r.mDeliveryMode);
        corvexClient_destination_t replyTo;
        r.mReplyTo = corvexClient_msg_getReplyTo(msg, &replyTo, sizeof(replyTo));
        corvexClient_container_t map = nullptr;
        if (corvexClient_msg_getUserPropertyMap(msg, &map) == CORVEXCLIENT_OK)
        {
            r.mHasMap = true;
            r.mUser = mapText(map, "U");
            r.mHost = mapText(map, "H");
            r.mSessionUser = mapText(map, "S");
            corvexClient_container_getInt32(map, "P", &r.mPid);
            corvexClient_container_closeMapStream(&map);
        }
        auto* self = static_cast<VendorSubscriber*>(user);
        std::lock_guard<std::mutex> guard(self->mLock);
        self->mReceived.push_back(r);
        self->mChanged.notify_all();
        return CORVEXCLIENT_CALLBACK_OK;
    }

    std::string mTopic;
    corvexClient_session_t mSession = nullptr;
    CorvexDispatchInfo mDispatch;
    std::mutex mLock;
    std::condition_variable mChanged;
    std::vector<VendorMsg> mReceived;
};

class PublisherTest : public BridgeTest
{
  protected:
    void SetUp() override {}

    void start()
    {
        mama_setProperty("mama.corvex.transport.t1.allow_recover_gaps", "true");
        BridgeTest::SetUp();
        mamaBridgeImpl* table = reinterpret_cast<mamaBridgeImpl*>(mBridge);
        sBridgeCreate = table->bridgeMamaPublisherCreateByIndex;
        table->bridgeMamaPublisherCreateByIndex = recordingCreate;
        ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_allocate(&mTransport));
        ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_create(mTransport, "t1", mBridge));
        ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_create(&mMsg));
        ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addString(mMsg, "name", 100, "Berkshire"));
        ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addI32(mMsg, "price", 101, 512000));
        corvexClientTest_setRecording(1);
    }

    void TearDown() override
    {
        for (mamaPublisher publisher : mPublishers)
        {
            mamaPublisher_destroy(publisher);
        }
        if (mMsg != nullptr)
        {
            mamaMsg_destroy(mMsg);
        }
        destroyTransport();
        BridgeTest::TearDown();
    }

    mama_status publisher(const char* topic, const char* source, const char* root,
                          mamaPublisher* result)
    {
        mama_status status = mamaPublisher_create(result, mTransport, topic, source, root);
        if (status == MAMA_STATUS_OK)
        {
            mPublishers.push_back(*result);
        }
        return status;
    }

    static CorvexPublisherBridge* corvexPublisher(mamaPublisher publisher)
    {
        auto found = sBridgePublishers.find(publisher);
        return found == sBridgePublishers.end()
                   ? nullptr
                   : reinterpret_cast<CorvexPublisherBridge*>(found->second);
    }

    corvexClient_context_t context()
    {
        void* closure = nullptr;
        mamaBridgeImpl_getClosure(mBridge, &closure);
        return static_cast<CorvexBridge*>(closure)->mContext;
    }

    std::vector<uint8_t> serialised(mamaMsg msg)
    {
        const void* buffer = nullptr;
        mama_size_t length = 0;
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_getByteBuffer(msg, &buffer, &length));
        return std::vector<uint8_t>(static_cast<const uint8_t*>(buffer),
                                    static_cast<const uint8_t*>(buffer) + length);
    }

    uint32_t sends()
    {
        return corvexClientTest_callCount("corvexClient_session_sendMsg");
    }

    mamaMsg mMsg = nullptr;
    std::vector<mamaPublisher> mPublishers;
};

std::string lowerIdentity(int (*read)(char*, size_t))
{
    char buffer[260];
    return read(buffer, sizeof(buffer)) == 0 ? buffer : "Unknown";
}
} // namespace

TEST_F(PublisherTest, VendorSubscriberReceivesTheSerialisedMessage)
{
    start();
    VendorSubscriber subscriber(context(), "NYSE/BRK/A");
    mamaPublisher pub = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, publisher("BRK.A", "NYSE", nullptr, &pub));
    ASSERT_EQ(MAMA_STATUS_OK, mamaPublisher_send(pub, mMsg));
    ASSERT_TRUE(subscriber.waitFor(1));

    VendorMsg r = subscriber.received()[0];
    EXPECT_EQ("NYSE/BRK/A", r.mTopic);
    EXPECT_EQ(serialised(mMsg), r.mContent);
    EXPECT_EQ(0, r.mDeliveryMode);
    EXPECT_EQ(CORVEXCLIENT_NOT_FOUND, r.mReplyTo);
    ASSERT_TRUE(r.mHasMap);
    EXPECT_EQ(lowerIdentity(corvexCompat_getUserName), r.mUser);
    EXPECT_EQ(lowerIdentity(corvexCompat_getComputerName), r.mHost);
    EXPECT_EQ(getpid(), r.mPid);
    EXPECT_NE("<absent>", r.mSessionUser);
    EXPECT_NE("", r.mSessionUser);
    /* Every temporary vendor message is freed again. */
    EXPECT_EQ(corvexClientTest_callCount("corvexClient_msg_alloc"),
              corvexClientTest_callCount("corvexClient_msg_free"));
}

TEST_F(PublisherTest, RootTypeDecidesTheSubject)
{
    start();
    struct Case
    {
        const char* topic;
        const char* source;
        const char* root;
        uint32_t rootType;
        const char* subject;
    };
    const Case cases[] = {
        {"BRK.A", "NYSE", nullptr, 0, "NYSE/BRK/A"},
        {"DATA_DICT", "SRC", "_MDDD", 1, "_MDDD/SRC/DATA_DICT"},
        {"IBM", "NYSE", "_MD", 2, "_MD/NYSE"},
        {"DATA_DICT", "SRC", nullptr, 0, "#MDDD/SRC/DATA_DICT"},
    };
    for (const Case& c : cases)
    {
        mamaPublisher pub = nullptr;
        ASSERT_EQ(MAMA_STATUS_OK, publisher(c.topic, c.source, c.root, &pub)) << c.subject;
        CorvexPublisherBridge* bridgePublisher = corvexPublisher(pub);
        ASSERT_NE(nullptr, bridgePublisher);
        /* What the root type decides besides the subject is used only
         * inside the bridge. */
        EXPECT_EQ(c.rootType, bridgePublisher->mRootType) << c.subject;
        EXPECT_EQ(pub, bridgePublisher->mParent);
        ASSERT_EQ(MAMA_STATUS_OK, mamaPublisher_send(pub, mMsg)) << c.subject;
        std::vector<std::string> sent = vendorCalls("corvexClient_session_sendMsg");
        ASSERT_FALSE(sent.empty());
        EXPECT_EQ(0u, sent.back().find(std::string("topic=") + c.subject + " size="))
            << sent.back();
    }
}

TEST_F(PublisherTest, WildcardSubjectIsRefused)
{
    start();
    mamaPublisher pub = nullptr;
    EXPECT_EQ(MAMA_STATUS_INVALID_ARG, publisher("*", "NYSE", nullptr, &pub));
    /* The line says why. */
    EXPECT_EQ(1u, LogCapture::count("Error in generating subject from mRoot=(null) mSource=NYSE "
                                    "mTopic=*: STATUS_INVALID_ARG (a subject to publish on holds "
                                    "no wildcard: '*' anywhere or a last '>')"));
    EXPECT_EQ(MAMA_STATUS_INVALID_ARG, publisher("IBM>", "NYSE", nullptr, &pub));
}

struct SuppressionCase
{
    const char* mName;
    const char* mUseCache;   /* nullptr: not set */
    const char* mSendSubReq; /* nullptr: not set */
    const char* mRoot;
    int mSubscMsgType; /* -1: field absent */
    bool mSent;
};

void PrintTo(const SuppressionCase& c, std::ostream* os)
{
    *os << c.mName;
}

class SuppressionTest : public PublisherTest, public ::testing::WithParamInterface<SuppressionCase>
{
};

TEST_P(SuppressionTest, InitialRequestsOfMarketDataPublishers)
{
    const SuppressionCase& c = GetParam();
    if (c.mUseCache != nullptr)
    {
        mama_setProperty("mama.corvex.transport.t1.use_corvexcache", c.mUseCache);
    }
    if (c.mSendSubReq != nullptr)
    {
        mama_setProperty("mama.corvex.transport.t1.send_subreq", c.mSendSubReq);
    }
    start();
    if (c.mSubscMsgType >= 0)
    {
        ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addI32(mMsg, MamaFieldSubscMsgType.mName,
                                                 MamaFieldSubscMsgType.mFid, c.mSubscMsgType));
    }
    mamaPublisher pub = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, publisher("IBM", "NYSE", c.mRoot, &pub));
    EXPECT_EQ(MAMA_STATUS_OK, mamaPublisher_send(pub, mMsg));
    EXPECT_EQ(c.mSent ? 1u : 0u, sends());
}

INSTANTIATE_TEST_SUITE_P(
    Rules, SuppressionTest,
    ::testing::Values(SuppressionCase{"InitialRequestDropped", nullptr, nullptr, "_MD", 0, false},
                      SuppressionCase{"OtherRequestTypeSent", nullptr, nullptr, "_MD", 1, true},
                      SuppressionCase{"NoRequestFieldSent", nullptr, nullptr, "_MD", -1, true},
                      SuppressionCase{"NoRootSent", nullptr, nullptr, nullptr, 0, true},
                      SuppressionCase{"DictionaryRootSent", nullptr, nullptr, "_MDDD", 0, true},
                      SuppressionCase{"SendSubReqOnSent", nullptr, "true", "_MD", 0, true},
                      SuppressionCase{"CacheOffSent", "false", nullptr, "_MD", 0, true}),
    [](const ::testing::TestParamInfo<SuppressionCase>& info) { return info.param.mName; });

TEST_F(PublisherTest, RefusedSendIsAWarningAndFreesTheMessage)
{
    start();
    mamaPublisher pub = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, publisher("IBM", "NYSE", nullptr, &pub));
    corvexClientTest_failNext("corvexClient_session_sendMsg", CORVEXCLIENT_FAIL,
                              CORVEXCLIENT_SUBCODE_NOT_CONNECTED, "injected");
    EXPECT_EQ(MAMA_STATUS_PLATFORM, mamaPublisher_send(pub, mMsg));
    auto lines = LogCapture::matching("Error sending message");
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(0u, lines[0].find("Warn CORVEX-MW-Bridge: (publisher:"));
    EXPECT_EQ(1u, corvexClientTest_callCount("corvexClient_msg_free"));
}

TEST_F(PublisherTest, FailedPublisherInformationStillSends)
{
    start();
    VendorSubscriber subscriber(context(), "NYSE/IBM");
    mamaPublisher pub = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, publisher("IBM", "NYSE", nullptr, &pub));
    corvexClientTest_failNext("corvexClient_msg_setUserPropertyMap", CORVEXCLIENT_FAIL,
                              CORVEXCLIENT_SUBCODE_CONTAINER_CLOSED, "injected");
    EXPECT_EQ(MAMA_STATUS_OK, mamaPublisher_send(pub, mMsg));
    ASSERT_TRUE(subscriber.waitFor(1));
    EXPECT_FALSE(subscriber.received()[0].mHasMap);
    EXPECT_EQ(1u, LogCapture::count("Error in corvexClient_msg_setUserPropertyMap"));
}

TEST_F(PublisherTest, FailedEnvelopeStepIsAPlatformError)
{
    start();
    mamaPublisher pub = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, publisher("IBM", "NYSE", nullptr, &pub));
    corvexClientTest_failNext("corvexClient_msg_setTopicPtr", CORVEXCLIENT_FAIL,
                              CORVEXCLIENT_SUBCODE_BAD_TOPIC, "injected");
    EXPECT_EQ(MAMA_STATUS_PLATFORM, mamaPublisher_send(pub, mMsg));
    EXPECT_EQ(1u, LogCapture::count("Error setting message topic"));
    EXPECT_EQ(0u, sends());
    EXPECT_EQ(1u, corvexClientTest_callCount("corvexClient_msg_free"));

    corvexClientTest_failNext("corvexClient_msg_alloc", CORVEXCLIENT_FAIL,
                              CORVEXCLIENT_SUBCODE_NO_MEMORY, "injected");
    EXPECT_EQ(MAMA_STATUS_NOMEM, mamaPublisher_send(pub, mMsg));
    EXPECT_EQ(1u, LogCapture::count("Unable to allocate temporary message for inbox"));
}

TEST_F(PublisherTest, SendChecksItsArguments)
{
    start();
    void* library = dlopen("libmamacorveximpl.so", RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(nullptr, library);
    auto send = reinterpret_cast<mama_status (*)(CorvexPublisherBridge*, mamaMsg)>(
        dlsym(library, "corvexBridgeMamaPublisher_send"));
    dlclose(library);
    ASSERT_NE(nullptr, send);

    mamaPublisher pub = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, publisher("IBM", "NYSE", nullptr, &pub));
    size_t linesBefore = LogCapture::lines().size();
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, send(corvexPublisher(pub), nullptr));
    EXPECT_EQ(linesBefore, LogCapture::lines().size());
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, send(nullptr, mMsg));
    EXPECT_EQ(1u, LogCapture::count("No publisher."));
}

namespace
{
struct DestroyRecord
{
    int mCalls = 0;
    mamaPublisher mPublisher = nullptr;
    void* mClosure = nullptr;
};

void MAMACALLTYPE onPublisherDestroy(mamaPublisher publisher, void* closure)
{
    auto* record = static_cast<DestroyRecord*>(closure);
    ++record->mCalls;
    record->mPublisher = publisher;
    record->mClosure = closure;
}
} // namespace

TEST_F(PublisherTest, DestroyCallsTheDestroyCallbackOnce)
{
    start();
    mamaPublisherCallbacks* callbacks = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaPublisherCallbacks_allocate(&callbacks));
    callbacks->onDestroy = onPublisherDestroy;
    DestroyRecord record;
    mamaPublisher pub = nullptr;
    mamaQueue queue = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mama_getDefaultEventQueue(mBridge, &queue));
    ASSERT_EQ(MAMA_STATUS_OK,
              mamaPublisher_createWithCallbacks(&pub, mTransport, queue, "IBM", "NYSE", nullptr,
                                                callbacks, &record));
    /* The bridge copied the record: the application may free its own at once. */
    mamaPublisherCallbacks_deallocate(callbacks);
    ASSERT_EQ(MAMA_STATUS_OK, mamaPublisher_destroy(pub));
    EXPECT_EQ(1, record.mCalls);
    EXPECT_EQ(pub, record.mPublisher);
    EXPECT_EQ(&record, record.mClosure);
}
