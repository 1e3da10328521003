/* Messages and map containers as a receiver sees them, dumps, texts, UUIDs
 * and the version record. */
#include <algorithm>
#include <cctype>
#include <set>

#include "clientTestSupport.h"

using namespace corvextest;

namespace
{
class MessageTest : public ClientTest
{
};

/* Keeps the first message it receives. */
corvexClient_msg_t gKept = nullptr;
std::mutex gKeptLock;
std::condition_variable gKeptChanged;

int keepFirst(corvexClient_session_t, corvexClient_msg_t msg, void*)
{
    std::lock_guard<std::mutex> guard(gKeptLock);
    if (gKept)
        return CORVEXCLIENT_CALLBACK_OK;
    gKept = msg;
    gKeptChanged.notify_all();
    return CORVEXCLIENT_CALLBACK_TAKE_MSG;
}

corvexClient_msg_t waitForKept()
{
    std::unique_lock<std::mutex> lock(gKeptLock);
    gKeptChanged.wait_for(lock, WAIT_LIMIT, [] { return gKept != nullptr; });
    return gKept;
}
} // namespace

TEST_F(MessageTest, AllocAndFreeClearTheHandle)
{
    corvexClient_msg_t msg = nullptr;
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_msg_alloc(&msg));
    ASSERT_NE(nullptr, msg);
    EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_msg_free(&msg));
    EXPECT_EQ(nullptr, msg);
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_msg_free(&msg));
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_msg_free(nullptr));
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_msg_alloc(nullptr));
}

TEST_F(MessageTest, FieldsTravelWithTheMessageAndTheSendersBuffersMayBeReusedAtOnce)
{
    corvexClient_session_t session = this->session();
    CorvexDispatchInfo dispatch{CORVEXCLIENT_DISPATCH_TYPE_CALLBACK, keepFirst, nullptr, nullptr};
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_topicSubscribeWithDispatch(session, 2, "m/x",
                                                                               &dispatch, nullptr));

    alignas(8) char mapBuffer[256];
    corvexClient_container_t map = nullptr;
    ASSERT_EQ(CORVEXCLIENT_OK,
              corvexClient_container_createMap(&map, mapBuffer, sizeof(mapBuffer)));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_container_addString(map, "alice", "U"));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_container_addInt32(map, 4242, "P"));

    char topic[] = "m/x";
    char content[] = {'\x01', '\x00', 'b', 'y', 't', 'e', 's'};
    char replyTo[] = "#P2P/v:embedded/me/inbox";
    corvexClient_msg_t msg = nullptr;
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_msg_alloc(&msg));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_msg_setTopicPtr(msg, topic));
    ASSERT_EQ(CORVEXCLIENT_OK,
              corvexClient_msg_setBinaryAttachmentPtr(msg, content, sizeof(content)));
    corvexClient_destination_t dest{CORVEXCLIENT_DEST_TOPIC, replyTo};
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_msg_setReplyTo(msg, &dest, sizeof(dest)));
    ASSERT_EQ(CORVEXCLIENT_OK,
              corvexClient_msg_setDeliveryMode(msg, CORVEXCLIENT_DELIVERY_MODE_PERSISTENT));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_msg_setUserPropertyMap(msg, map));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_sendMsg(session, msg));
    /* Everything was copied by the send. */
    std::memset(content, 0, sizeof(content));
    std::memset(replyTo, 0, sizeof(replyTo));
    std::memset(mapBuffer, 0, sizeof(mapBuffer));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_msg_free(&msg));

    corvexClient_msg_t received = waitForKept();
    ASSERT_NE(nullptr, received);
    corvexClient_destination_t got{};
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_msg_getDestination(received, &got, sizeof(got)));
    EXPECT_STREQ("m/x", got.mTopic);
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_msg_getReplyTo(received, &got, sizeof(got)));
    EXPECT_EQ(CORVEXCLIENT_DEST_TOPIC, got.mDestType);
    EXPECT_STREQ("#P2P/v:embedded/me/inbox", got.mTopic);
    void* bytes = nullptr;
    uint32_t size = 0;
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_msg_getBinaryAttachmentPtr(received, &bytes, &size));
    EXPECT_EQ(std::string("\x01\x00"
                          "bytes",
                          7),
              std::string(static_cast<char*>(bytes), size));
    int32_t mode = -1;
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_msg_getDeliveryMode(received, &mode));
    EXPECT_EQ(CORVEXCLIENT_DELIVERY_MODE_PERSISTENT, mode);

    corvexClient_container_t properties = nullptr;
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_msg_getUserPropertyMap(received, &properties));
    const char* user = nullptr;
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_container_getStringPtr(properties, "U", &user));
    EXPECT_STREQ("alice", user);
    int32_t pid = 0;
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_container_getInt32(properties, "P", &pid));
    EXPECT_EQ(4242, pid);
    EXPECT_EQ(CORVEXCLIENT_NOT_FOUND, corvexClient_container_getInt32(properties, "Z", &pid));
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_container_getInt32(properties, "U", &pid));
    EXPECT_EQ(CORVEXCLIENT_SUBCODE_TYPE_MISMATCH, corvexClient_getLastErrorInfo()->mSubCode);
    /* The received map is read-only. */
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_container_addInt32(properties, 1, "X"));
    EXPECT_EQ(CORVEXCLIENT_SUBCODE_CONTAINER_CLOSED, corvexClient_getLastErrorInfo()->mSubCode);

    char dump[2048];
    ASSERT_EQ(CORVEXCLIENT_OK,
              corvexClient_msg_dumpExt(received, dump, sizeof(dump), CORVEXCLIENT_MSGDUMP_FULL));
    EXPECT_NE(nullptr, std::strstr(dump, "Topic 'm/x'"));
    EXPECT_NE(nullptr,
              std::strstr(dump, "ReplyTo:                Topic '#P2P/v:embedded/me/inbox'"));
    EXPECT_NE(nullptr, std::strstr(dump, "PERSISTENT"));
    EXPECT_NE(nullptr, std::strstr(dump, "Key 'U' (string): 'alice'"));
    EXPECT_NE(nullptr, std::strstr(dump, "Key 'P' (int32): 4242"));
    EXPECT_NE(nullptr, std::strstr(dump, "len=7"));
    EXPECT_NE(nullptr, std::strstr(dump, "01 00 62 79 74 65 73"));
    /* A small buffer gets a cut, terminated dump. */
    char small[16];
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_msg_dumpExt(received, small, sizeof(small), 1));
    EXPECT_EQ(15u, std::strlen(small));
    EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_msg_free(&received));
}

/* A dump goes into log lines: the texts of a message that came from outside
 * (its topic, its property keys and texts, which travel as a NATS header)
 * are shown escaped. */
TEST_F(MessageTest, ADumpShowsOutsideTextsEscaped)
{
    corvexClient_session_t session = this->session();
    CorvexDispatchInfo dispatch{CORVEXCLIENT_DISPATCH_TYPE_CALLBACK, keepFirst, nullptr, nullptr};
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_topicSubscribeWithDispatch(
                                   session, 2, "m/\xc3\xa9", &dispatch, nullptr));
    alignas(8) char mapBuffer[256];
    corvexClient_container_t map = nullptr;
    ASSERT_EQ(CORVEXCLIENT_OK,
              corvexClient_container_createMap(&map, mapBuffer, sizeof(mapBuffer)));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_container_addString(map, "v\xff\x1b[2J", "k\x01y"));
    char topic[] = "m/\xc3\xa9";
    corvexClient_msg_t msg = nullptr;
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_msg_alloc(&msg));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_msg_setTopicPtr(msg, topic));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_msg_setBinaryAttachmentPtr(msg, topic, 2));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_msg_setUserPropertyMap(msg, map));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_sendMsg(session, msg));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_msg_free(&msg));
    corvexClient_msg_t received = waitForKept();
    ASSERT_NE(nullptr, received);
    char dump[2048];
    ASSERT_EQ(CORVEXCLIENT_OK,
              corvexClient_msg_dumpExt(received, dump, sizeof(dump), CORVEXCLIENT_MSGDUMP_FULL));
    const std::string text = dump;
    EXPECT_TRUE(std::all_of(text.begin(), text.end(),
                            [](char c)
                            {
                                const unsigned char byte = static_cast<unsigned char>(c);
                                return (byte >= ' ' && byte < 0x7f) || byte == '\n';
                            }))
        << ::testing::PrintToString(text);
    EXPECT_NE(std::string::npos, text.find("Topic 'm/\\xC3\\xA9'")) << text;
    EXPECT_NE(std::string::npos, text.find("Key 'k\\x01y' (string): 'v\\xFF\\x1B[2J'")) << text;
    EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_msg_free(&received));
}

TEST_F(MessageTest, MessageWithoutOptionalFieldsAnswersNotFound)
{
    corvexClient_msg_t msg = nullptr;
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_msg_alloc(&msg));
    corvexClient_destination_t dest{};
    EXPECT_EQ(CORVEXCLIENT_NOT_FOUND, corvexClient_msg_getReplyTo(msg, &dest, sizeof(dest)));
    EXPECT_EQ(CORVEXCLIENT_NOT_FOUND, corvexClient_msg_getDestination(msg, &dest, sizeof(dest)));
    void* bytes = nullptr;
    uint32_t size = 0;
    EXPECT_EQ(CORVEXCLIENT_NOT_FOUND, corvexClient_msg_getBinaryAttachmentPtr(msg, &bytes, &size));
    corvexClient_container_t map = nullptr;
    EXPECT_EQ(CORVEXCLIENT_NOT_FOUND, corvexClient_msg_getUserPropertyMap(msg, &map));
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_msg_getReplyTo(msg, &dest, 8));
    EXPECT_EQ(CORVEXCLIENT_SUBCODE_BUFFER_TOO_SMALL, corvexClient_getLastErrorInfo()->mSubCode);
    corvexClient_destination_t reply{CORVEXCLIENT_DEST_TOPIC, "r/x"};
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_msg_setReplyTo(msg, &reply, sizeof(reply)));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_msg_deleteReplyTo(msg));
    EXPECT_EQ(CORVEXCLIENT_NOT_FOUND, corvexClient_msg_getReplyTo(msg, &dest, sizeof(dest)));
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_msg_setDeliveryMode(msg, 7));
    EXPECT_EQ(0, corvexClient_msg_isDiscardIndication(msg));
    EXPECT_EQ(CORVEXCLIENT_MSG_LIVE, corvexClient_msg_isCacheMsg(msg));
    EXPECT_EQ(CORVEXCLIENT_MSG_LIVE, corvexClient_msg_isCacheMsg(nullptr));
    corvexClient_session_t session = this->session();
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_session_sendMsg(session, msg));
    EXPECT_EQ(CORVEXCLIENT_SUBCODE_FIELD_MISSING, corvexClient_getLastErrorInfo()->mSubCode);
    corvexClient_msg_free(&msg);
}

TEST_F(MessageTest, MapRefusesWhatDoesNotFitAndKeepsWhatDid)
{
    alignas(8) char storage[65];
    /* Any alignment will do. */
    char* buffer = storage + 1;
    corvexClient_container_t map = nullptr;
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_container_createMap(&map, buffer, 8));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_container_createMap(&map, buffer, 64));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_container_addInt32(map, 1, "a"));
    EXPECT_EQ(CORVEXCLIENT_FAIL,
              corvexClient_container_addString(map, std::string(100, 'v').c_str(), "b"));
    EXPECT_EQ(CORVEXCLIENT_SUBCODE_CONTAINER_FULL, corvexClient_getLastErrorInfo()->mSubCode);
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_container_addString(map, nullptr, "c"));
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_container_addString(map, "v", nullptr));
    uint32_t count = 0;
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_container_getSize(map, &count));
    EXPECT_EQ(1u, count);
    int32_t value = 0;
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_container_getInt32(map, "a", &value));
    EXPECT_EQ(1, value);
    corvexClient_container_t alias = map;
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_container_closeMapStream(&map));
    EXPECT_EQ(nullptr, map);
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_container_addInt32(alias, 2, "b"));
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_container_closeMapStream(&map));
}

TEST_F(MessageTest, TextsNameEveryCodeAndEvent)
{
    EXPECT_STREQ("CORVEXCLIENT_OK", corvexClient_returnCodeToString(0));
    EXPECT_STREQ("CORVEXCLIENT_INCOMPLETE", corvexClient_returnCodeToString(7));
    EXPECT_STREQ("CORVEXCLIENT_IN_PROGRESS", corvexClient_returnCodeToString(2));
    EXPECT_STREQ("CORVEXCLIENT_FAIL", corvexClient_returnCodeToString(-1));
    EXPECT_STREQ("Unknown return code", corvexClient_returnCodeToString(99));
    EXPECT_STREQ("CORVEXCLIENT_SUBCODE_SUBSCRIBE_NOT_PERMITTED", corvexClient_subCodeToString(68));
    EXPECT_STREQ("CORVEXCLIENT_SUBCODE_PUBLISH_NOT_PERMITTED", corvexClient_subCodeToString(69));
    EXPECT_STREQ("CORVEXCLIENT_SUBCODE_CACHE_NO_DATA", corvexClient_subCodeToString(51));
    EXPECT_STREQ("Unknown sub-code", corvexClient_subCodeToString(9999));
    for (corvexClient_subCode_t code : {19u, 45u, 46u, 47u, 48u, 67u, 103u, 104u, 105u, 106u, 123u})
    {
        EXPECT_NE(nullptr, std::strstr(corvexClient_subCodeToString(code), "LOGIN")) << code;
    }
    std::set<std::string> names;
    for (int event = 0; event <= 17; ++event)
        names.insert(corvexClient_session_eventToString(event));
    EXPECT_EQ(18u, names.size());
    EXPECT_STREQ("CORVEXCLIENT_SESSION_EVENT_SUBSCRIBE_CONFIRMED",
                 corvexClient_session_eventToString(16));
    EXPECT_STREQ("Unknown session event", corvexClient_session_eventToString(18));
    EXPECT_STREQ("Unknown session event", corvexClient_session_eventToString(-1));
    EXPECT_STREQ("CORVEXCACHE_EVENT_REQUEST_COMPLETED_NOTICE",
                 corvexClient_cacheSession_eventToString(0));
    EXPECT_STREQ("Unknown cache event", corvexClient_cacheSession_eventToString(1));
}

TEST_F(MessageTest, UuidsAreWellFormedAndDistinct)
{
    /* 8-4-4-4-12 lower-case hex digits, version 4, RFC 4122 variant. */
    const auto wellFormed = [](const char* uuid)
    {
        for (int i = 0; i < 36; ++i)
        {
            const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
            if (dash ? uuid[i] != '-'
                     : !std::isxdigit(static_cast<unsigned char>(uuid[i])) || std::isupper(uuid[i]))
                return false;
        }
        return uuid[14] == '4' && std::strchr("89ab", uuid[19]) != nullptr;
    };
    std::set<std::string> seen;
    for (int i = 0; i < 1000; ++i)
    {
        char uuid[CORVEXCLIENT_UUID_STRING_SIZE];
        ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_generateUUIDString(uuid, sizeof(uuid)));
        ASSERT_EQ(36u, std::strlen(uuid));
        ASSERT_TRUE(wellFormed(uuid)) << uuid;
        seen.insert(uuid);
    }
    EXPECT_EQ(1000u, seen.size());
    char small[36];
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_generateUUIDString(small, sizeof(small)));
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_generateUUIDString(nullptr, 37));
}

TEST_F(MessageTest, VersionCanBeReplacedForTheProcess)
{
    const corvexClient_versionInfo_t* original = nullptr;
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_version_get(&original));
    ASSERT_NE(nullptr, original);
    EXPECT_GT(std::strlen(original->mVersion), 0u);
    std::string version("Wrapper v2 with client v");
    version += original->mVersion;
    corvexClient_versionInfo_t mine{version.c_str(), "Jan  1 2030 00:00:00", "TEST_VARIANT"};
    ASSERT_EQ(CORVEXCLIENT_OK, _corvexClient_version_set(&mine));
    version.assign("changed afterwards");
    const corvexClient_versionInfo_t* now = nullptr;
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_version_get(&now));
    EXPECT_EQ(0, std::strncmp(now->mVersion, "Wrapper v2 with client v", 24));
    EXPECT_STREQ("TEST_VARIANT", now->mVariant);
    EXPECT_STREQ("Jan  1 2030 00:00:00", now->mDateTime);
    EXPECT_EQ(CORVEXCLIENT_FAIL, _corvexClient_version_set(nullptr));
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_version_get(nullptr));
}
