/* The NATS router's security: TLS with the server's authority (and with
 * another one), mutual TLS, the server name check, a token and an NKey,
 * against nats-servers the tests start with certificates and keys openssl
 * makes at test time. A wrong setting fails connect with a text a user can
 * act on, and no connection; secrets appear in no log line and no error
 * text. */

#include <nats/nats.h>

#include "clientTestSupport.h"
#include "natsServer.h"

using namespace corvextest;

namespace
{
class NatsSecurityTest : public ClientTest
{
  protected:
    void SetUp() override
    {
        ClientTest::SetUp();
        if (!NatsServer::path())
            GTEST_SKIP() << "nats-server is not installed (scripts/setup.sh installs it)";
    }

    void TearDown() override
    {
        corvexClient_log_unsetCallback();
        ClientTest::TearDown();
    }

    /* A server with a TLS listener of the certificates. */
    void startTlsServer(bool verifyClients, const std::string& more = "")
    {
        ASSERT_TRUE(mCertificates.make()) << "openssl did not make the certificates";
        ASSERT_TRUE(mServer.startWithConfig(
            NatsServer::freePort(), NatsServer::tlsConfig(mCertificates, verifyClients) + more))
            << "nats-server did not start";
    }

    std::string tlsUrl() const
    {
        return "tls://127.0.0.1:" + std::to_string(mServer.mPort);
    }

    /* A session on the router of selector, not connected. */
    corvexClient_session_t natsSession(const std::string& selector, const char* clientName,
                                       std::vector<const char*> more = {})
    {
        std::vector<const char*> properties = {"SESSION_ROUTER", selector.c_str(),
                                               "SESSION_CLIENT_NAME", clientName};
        properties.insert(properties.end(), more.begin(), more.end());
        return session(properties, false);
    }

    /* Connect fails without a connection: the sub-code and the error text,
     * which the test prints for whoever reads its output. */
    std::string refusedConnect(corvexClient_session_t session, corvexClient_subCode_t subCode)
    {
        EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_session_connect(session));
        const corvexClient_errorInfo_t* error = corvexClient_getLastErrorInfo();
        EXPECT_EQ(subCode, error->mSubCode) << error->mErrorText;
        std::cout << "    refused: " << error->mErrorText << std::endl;
        return error->mErrorText;
    }

    /* Traffic flows between a subscriber and a publisher of these settings. */
    void expectTraffic(std::vector<const char*> settings)
    {
        corvexClient_session_t subscriber = natsSession(mSelector, "subscriber", settings);
        corvexClient_session_t publisher = natsSession(mSelector, "publisher", settings);
        ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_connect(subscriber))
            << corvexClient_getLastErrorInfo()->mErrorText;
        ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_connect(publisher))
            << corvexClient_getLastErrorInfo()->mErrorText;
        ClientRecorder received;
        Tagged tagged{&received, 1};
        ASSERT_EQ(CORVEXCLIENT_OK, subscribe(subscriber, "secured/>", tagged));
        ASSERT_EQ(CORVEXCLIENT_OK, send(publisher, "secured/quote", "over the wire"));
        ASSERT_TRUE(received.waitForMessages(1));
        EXPECT_EQ("over the wire",
                  received.read<std::string>([&] { return received.mMessages[0].mContent; }));
        for (corvexClient_session_t* made : {&mSessions[mSessions.size() - 2], &mSessions.back()})
        {
            EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_session_destroy(made));
        }
    }

    NatsServer mServer;
    NatsCertificates mCertificates;
    std::string mSelector;
};

TEST_F(NatsSecurityTest, TlsServerIsReachedWithItsAuthorityAndRefusedWithAnother)
{
    ASSERT_NO_FATAL_FAILURE(startTlsServer(false));
    mSelector = tlsUrl();
    char name[128] = {};
    corvexClient_session_t named = natsSession(mSelector, "named");
    ASSERT_EQ(CORVEXCLIENT_OK,
              corvexClient_session_getProperty(named, "SESSION_ROUTER_NAME", name, sizeof(name)));
    EXPECT_EQ("tls:127.0.0.1:" + std::to_string(mServer.mPort), std::string(name));

    const char* ca = mCertificates.mCa.c_str();
    expectTraffic({"SESSION_NATS_TLS_CA_FILE", ca});
    /* The name check passes for the host of the URL and for another name
     * of the certificate. */
    expectTraffic({"SESSION_NATS_TLS_CA_FILE", ca, "SESSION_NATS_TLS_SERVER_NAME", "localhost"});

    EXPECT_NE(std::string::npos, refusedConnect(natsSession(mSelector, "wrongCa",
                                                            {"SESSION_NATS_TLS_CA_FILE",
                                                             mCertificates.mOtherCa.c_str()}),
                                                CORVEXCLIENT_SUBCODE_CONNECT_REFUSED)
                                     .find("unable to get local issuer certificate"));
    /* Without an authority of its own, the system's does not know the
     * server's either; a "nats://" URL is taken to TLS as the server asks. */
    const std::string plainScheme = "nats://127.0.0.1:" + std::to_string(mServer.mPort);
    EXPECT_NE(std::string::npos,
              refusedConnect(natsSession(plainScheme, "noCa"), CORVEXCLIENT_SUBCODE_CONNECT_REFUSED)
                  .find("unable to get local issuer certificate"));
    EXPECT_NE(std::string::npos,
              refusedConnect(natsSession(mSelector, "otherName",
                                         {"SESSION_NATS_TLS_CA_FILE", ca,
                                          "SESSION_NATS_TLS_SERVER_NAME", "quotes.example"}),
                             CORVEXCLIENT_SUBCODE_CONNECT_REFUSED)
                  .find("hostname mismatch"));
    expectTraffic({"SESSION_NATS_TLS_CA_FILE", ca, "SESSION_NATS_TLS_SERVER_NAME", "quotes.example",
                   "SESSION_NATS_TLS_VERIFY_SERVER_NAME", "0"});

    /* Asking for TLS, a session does not settle for a server without it. */
    NatsServer plain;
    ASSERT_TRUE(plain.start(NatsServer::freePort()));
    refusedConnect(natsSession(plain.url(), "clear", {"SESSION_NATS_TLS_CA_FILE", ca}),
                   CORVEXCLIENT_SUBCODE_CONNECT_REFUSED);
    refusedConnect(natsSession("tls://127.0.0.1:" + std::to_string(plain.mPort), "clearTls"),
                   CORVEXCLIENT_SUBCODE_CONNECT_REFUSED);
}

TEST_F(NatsSecurityTest, MutualTlsNeedsTheClientsCertificate)
{
    ASSERT_NO_FATAL_FAILURE(startTlsServer(true));
    mSelector = tlsUrl();
    const char* ca = mCertificates.mCa.c_str();
    expectTraffic({"SESSION_NATS_TLS_CA_FILE", ca, "SESSION_NATS_TLS_CERT_FILE",
                   mCertificates.mClientCert.c_str(), "SESSION_NATS_TLS_KEY_FILE",
                   mCertificates.mClientKey.c_str()});
    const std::string refused =
        refusedConnect(natsSession(mSelector, "anonymous", {"SESSION_NATS_TLS_CA_FILE", ca}),
                       CORVEXCLIENT_SUBCODE_CONNECT_REFUSED);
    EXPECT_NE(std::string::npos, refused.find("SESSION_NATS_TLS_CERT_FILE")) << refused;
    /* The server's certificate is no client's. */
    const std::string impostor =
        refusedConnect(natsSession(mSelector, "impostor",
                                   {"SESSION_NATS_TLS_CA_FILE", ca, "SESSION_NATS_TLS_CERT_FILE",
                                    mCertificates.mServerCert.c_str(), "SESSION_NATS_TLS_KEY_FILE",
                                    mCertificates.mServerKey.c_str()}),
                       CORVEXCLIENT_SUBCODE_CONNECT_REFUSED);
    EXPECT_NE(std::string::npos, impostor.find("may not accept the client certificate"))
        << impostor;
}

TEST_F(NatsSecurityTest, TokenLogsInAndIsNeverShown)
{
    ClientLogLines lines;
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_log_setCallback(ClientLogLines::onLog, &lines));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_log_setFilterLevel(CORVEXCLIENT_LOG_CATEGORY_ALL,
                                                               CORVEXCLIENT_LOG_DEBUG));
    const char* token = "t0ken-Of-The-Desk";
    ASSERT_TRUE(mServer.start(NatsServer::freePort(), {"--auth", token}));
    mSelector = mServer.url();
    expectTraffic({"SESSION_NATS_TOKEN", token});
    corvexClient_session_t bad = natsSession(mSelector, "bad", {"SESSION_NATS_TOKEN", "guess"});
    EXPECT_NE(std::string::npos,
              refusedConnect(bad, CORVEXCLIENT_SUBCODE_LOGIN_REFUSED).find("Authorization"));
    refusedConnect(natsSession(mSelector, "none"), CORVEXCLIENT_SUBCODE_LOGIN_REFUSED);

    char value[64] = {};
    EXPECT_EQ(CORVEXCLIENT_FAIL,
              corvexClient_session_getProperty(bad, "SESSION_NATS_TOKEN", value, sizeof(value)));
    EXPECT_EQ(CORVEXCLIENT_SUBCODE_UNKNOWN_PROPERTY, corvexClient_getLastErrorInfo()->mSubCode);
    const std::string logged = lines.text();
    EXPECT_EQ(std::string::npos, logged.find(token)) << logged;
    EXPECT_EQ(std::string::npos, logged.find("guess")) << logged;
}

/* A session presents a user name and password only when they were
 * configured as such: not the operating-system user it names itself after
 * when none is given, nor values its application marks as stand-ins. A
 * server that admits clients without a login as "guest" (and knows no other
 * user by the names the session would otherwise make up) tells them apart. */
TEST_F(NatsSecurityTest, OnlyConfiguredCredentialsArePresentedAtLogin)
{
    ASSERT_TRUE(mServer.startWithConfig(
        NatsServer::freePort(),
        "authorization { users = [ {user: a, password: b}, {user: guest, password: \"\"} ] }\n"
        "no_auth_user: guest"));
    mSelector = mServer.url();
    expectTraffic({});
    expectTraffic({"SESSION_USERNAME", "a", "SESSION_PASSWORD", "b"});
    expectTraffic({"SESSION_USERNAME", "desk-user", "SESSION_PASSWORD", "desk-host",
                   "SESSION_USERNAME_IS_DEFAULT", "1", "SESSION_PASSWORD_IS_DEFAULT", "1"});
    refusedConnect(
        natsSession(mSelector, "wrong", {"SESSION_USERNAME", "a", "SESSION_PASSWORD", "wrong"}),
        CORVEXCLIENT_SUBCODE_LOGIN_REFUSED);

    /* The session still goes by the name it was given. */
    corvexClient_session_t named = natsSession(
        mSelector, "named", {"SESSION_USERNAME", "desk-user", "SESSION_USERNAME_IS_DEFAULT", "1"});
    char value[64] = {};
    ASSERT_EQ(CORVEXCLIENT_OK,
              corvexClient_session_getProperty(named, "SESSION_USERNAME", value, sizeof(value)));
    EXPECT_STREQ("desk-user", value);
}

TEST_F(NatsSecurityTest, NKeySignsTheServersChallenge)
{
    NatsUserNKey user;
    NatsUserNKey stranger;
    ASSERT_TRUE(user.make() && stranger.make()) << "openssl did not make the keys";
    ASSERT_TRUE(mServer.startWithConfig(NatsServer::freePort(),
                                        "authorization { users = [ { nkey: " + user.mPublicKey +
                                            " } ] }\n"));
    mSelector = mServer.url();
    expectTraffic({"SESSION_NATS_NKEY", user.mPublicKey.c_str(), "SESSION_NATS_NKEY_SEED_FILE",
                   user.mSeedFile.c_str()});
    /* Another key, and the right public key signed with another seed. */
    refusedConnect(natsSession(mSelector, "stranger",
                               {"SESSION_NATS_NKEY", stranger.mPublicKey.c_str(),
                                "SESSION_NATS_NKEY_SEED_FILE", stranger.mSeedFile.c_str()}),
                   CORVEXCLIENT_SUBCODE_LOGIN_REFUSED);
    refusedConnect(natsSession(mSelector, "forger",
                               {"SESSION_NATS_NKEY", user.mPublicKey.c_str(),
                                "SESSION_NATS_NKEY_SEED_FILE", stranger.mSeedFile.c_str()}),
                   CORVEXCLIENT_SUBCODE_LOGIN_REFUSED);
}

TEST_F(NatsSecurityTest, InconsistentSettingsAreRefusedAtCreate)
{
    const std::vector<std::pair<std::string, std::vector<const char*>>> cases = {
        {"nats://127.0.0.1:1", {"SESSION_NATS_TLS_CERT_FILE", "c.pem"}},
        {"nats://127.0.0.1:1", {"SESSION_NATS_TLS_KEY_FILE", "c.key"}},
        {"nats://127.0.0.1:1", {"SESSION_NATS_TLS_VERIFY_SERVER_NAME", "maybe"}},
        {"nats://127.0.0.1:1", {"SESSION_NATS_NKEY", "UABC"}},
        {"nats://127.0.0.1:1",
         {"SESSION_NATS_TOKEN", "t", "SESSION_NATS_CREDENTIALS_FILE", "u.creds"}},
        /* Files are read at connect: one that is not there is named at once. */
        {"nats://127.0.0.1:1", {"SESSION_NATS_TLS_CA_FILE", "/nonexistent/ca.pem"}},
        {"nats://127.0.0.1:1", {"SESSION_NATS_CREDENTIALS_FILE", "/nonexistent/u.creds"}},
        /* One name cannot be checked for servers of different hosts. */
        {"tls://127.0.0.1:1,tls://localhost:2", {}},
    };
    for (const auto& entry : cases)
    {
        std::vector<const char*> properties = {"SESSION_ROUTER", entry.first.c_str()};
        properties.insert(properties.end(), entry.second.begin(), entry.second.end());
        properties.push_back(nullptr);
        corvexClient_session_t refused = nullptr;
        EXPECT_EQ(CORVEXCLIENT_FAIL,
                  corvexClient_session_create(properties.data(), mContext, &refused, nullptr, 0))
            << entry.first << " " << (entry.second.empty() ? "" : entry.second[0]);
        EXPECT_EQ(CORVEXCLIENT_SUBCODE_BAD_PROPERTY_VALUE,
                  corvexClient_getLastErrorInfo()->mSubCode);
        EXPECT_NE(std::string::npos,
                  std::string(corvexClient_getLastErrorInfo()->mErrorText).find("SESSION_NATS_"))
            << corvexClient_getLastErrorInfo()->mErrorText;
        std::cout << "    refused: " << corvexClient_getLastErrorInfo()->mErrorText << std::endl;
    }
    const char* mixed[] = {"SESSION_ROUTER", "tls://127.0.0.1:1,nats://127.0.0.1:2", nullptr};
    corvexClient_session_t refused = nullptr;
    EXPECT_EQ(CORVEXCLIENT_FAIL,
              corvexClient_session_create(mixed, mContext, &refused, nullptr, 0));
    EXPECT_EQ(CORVEXCLIENT_SUBCODE_UNSUPPORTED_ROUTER, corvexClient_getLastErrorInfo()->mSubCode);
    /* With the name check off, or one name given, a cluster of hosts is fine. */
    for (const auto& setting : std::vector<std::pair<const char*, const char*>>{
             {"SESSION_NATS_TLS_VERIFY_SERVER_NAME", "0"},
             {"SESSION_NATS_TLS_SERVER_NAME", "quotes.example"}})
    {
        const char* properties[] = {"SESSION_ROUTER", "tls://127.0.0.1:1,tls://localhost:2",
                                    setting.first, setting.second, nullptr};
        corvexClient_session_t made = nullptr;
        EXPECT_EQ(CORVEXCLIENT_OK,
                  corvexClient_session_create(properties, mContext, &made, nullptr, 0))
            << corvexClient_getLastErrorInfo()->mErrorText;
        mSessions.push_back(made);
    }
}
} // namespace
