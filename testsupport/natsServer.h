/* A nats-server of a test's own on a loopback port, started by the test
 * and stopped by its process id. */
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

    int mPort = 0;

  private:
    pid_t mPid = -1;
    std::string mStoreDirectory;
    std::string mConfigPath;
};

#endif /* CORVEX_TESTSUPPORT_NATSSERVER_H */
