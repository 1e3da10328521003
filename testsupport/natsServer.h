/* A nats-server of a test's own on a loopback port, started by the test
 * and stopped by its process id; three of them joined in a cluster; and
 * the certificates and keys of a test's TLS and NKey logins, made at test
 * time with openssl. */
#ifndef CORVEX_TESTSUPPORT_NATSSERVER_H
#define CORVEX_TESTSUPPORT_NATSSERVER_H

#include <sys/types.h>

#include <string>
#include <vector>

class NatsServer
{
  public:
    /* The installed nats-server, or NULL when there is none. */
    static const char* path();
    /* A loopback port no one listens on at the time of the call. */
    static int freePort();
    /* Whether something accepts connections on the loopback port. */
    static bool accepting(int port);

    ~NatsServer();

    /* Later starts run JetStream, storing in a directory of the server's
     * own that outlives restarts and goes with the object. */
    bool enableJetStream();

    /* Starts the server on `port` with extra arguments such as "--user",
     * "u", "--pass", "p"; true once it accepts connections. */
    bool start(int port, std::vector<std::string> extra = {});
    /* Starts the server with a configuration file holding `config` (such
     * as an "authorization { ... }" block), removed when the server object
     * goes. */
    bool startWithConfig(int port, const std::string& config);
    /* Stops the running server (SIGSTOP) as a hung host would: its sockets
     * stay open and nothing answers; thaw (SIGCONT) lets it go on. */
    void freeze();
    void thaw();
    /* Kills the server (SIGKILL) and reaps it; nothing when not running. */
    void stop();
    std::string url() const;

    /* The configuration of a TLS listener with the certificates' server
     * certificate; with verifyClients, clients must show a certificate of
     * the certificates' authority. */
    static std::string tlsConfig(const struct NatsCertificates& certificates, bool verifyClients);

    int mPort = 0;

  private:
    pid_t mPid = -1;
    std::string mStoreDirectory;
    std::string mConfigPath;
};

/* Three servers joined by routes on free loopback ports, with JetStream:
 * started once every one of them accepts and the cluster can place a stream
 * on all three. */
class NatsCluster
{
  public:
    static constexpr int kSize = 3;

    bool start();
    /* Every server's URL, beginning with the first'th. */
    std::string urls(int first) const;
    /* The index of the server leading the stream's copies; -1 when there
     * is none. */
    int streamLeader(const char* stream) const;

    NatsServer mServers[kSize];
};

/* A directory of the test's own, removed with what is in it. */
class TestDirectory
{
  public:
    TestDirectory();
    ~TestDirectory();
    std::string path(const std::string& name) const;

  private:
    std::string mPath;
};

/* A certificate authority, a server certificate it signed for 127.0.0.1 and
 * localhost, a client certificate it signed, and another authority that
 * signed neither; PEM files with their keys. */
struct NatsCertificates
{
    bool make();

    TestDirectory mDirectory;
    std::string mCa;
    std::string mOtherCa;
    std::string mServerCert;
    std::string mServerKey;
    std::string mClientCert;
    std::string mClientKey;
};

/* A user NKey: the public key ("U...") and a file holding its seed
 * ("SU..."), from an Ed25519 key openssl made. */
struct NatsUserNKey
{
    bool make();

    TestDirectory mDirectory;
    std::string mPublicKey;
    std::string mSeedFile;
};

#endif /* CORVEX_TESTSUPPORT_NATSSERVER_H */
