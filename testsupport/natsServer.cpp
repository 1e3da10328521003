#include "natsServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "waiting.h"

namespace
{
sockaddr_in loopback(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    return address;
}
} // namespace

const char* NatsServer::path()
{
    for (const char* candidate :
         {"/usr/sbin/nats-server", "/usr/bin/nats-server", "/usr/local/bin/nats-server"})
    {
        if (access(candidate, X_OK) == 0)
            return candidate;
    }
    return nullptr;
}

int NatsServer::freePort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(0);
    socklen_t size = sizeof(address);
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    close(fd);
    return port;
}

bool NatsServer::accepting(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = loopback(port);
    const bool connected =
        connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    close(fd);
    return connected;
}

NatsServer::~NatsServer()
{
    stop();
    if (!mStoreDirectory.empty())
        std::filesystem::remove_all(mStoreDirectory);
    if (!mConfigPath.empty())
        unlink(mConfigPath.c_str());
}

bool NatsServer::enableJetStream()
{
    if (!mStoreDirectory.empty())
        return true;
    char pattern[] = "/tmp/corvex-jetstream-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        return false;
    mStoreDirectory = pattern;
    return true;
}

bool NatsServer::startWithConfig(int port, const std::string& config)
{
    char path[] = "/tmp/corvex-nats-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0)
        return false;
    mConfigPath = path;
    const bool written =
        write(fd, config.data(), config.size()) == static_cast<ssize_t>(config.size());
    close(fd);
    return written && start(port, {"-c", mConfigPath});
}

bool NatsServer::start(int port, std::vector<std::string> extra)
{
    const char* program = path();
    if (program == nullptr)
        return false;
    mPort = port;
    std::vector<std::string> args = {"nats-server", "-a", "127.0.0.1", "-p", std::to_string(port)};
    if (!mStoreDirectory.empty())
        args.insert(args.end(), {"-js", "-sd", mStoreDirectory});
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    mPid = fork();
    if (mPid == 0)
    {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        execv(program, argv.data());
        _exit(127);
    }
    return mPid > 0 && pollUntil([port] { return accepting(port); });
}

void NatsServer::freeze()
{
    if (mPid > 0)
        kill(mPid, SIGSTOP);
}

void NatsServer::thaw()
{
    if (mPid > 0)
        kill(mPid, SIGCONT);
}

void NatsServer::stop()
{
    if (mPid <= 0)
        return;
    kill(mPid, SIGKILL);
    waitpid(mPid, nullptr, 0);
    mPid = -1;
}

std::string NatsServer::url() const
{
    return "nats://127.0.0.1:" + std::to_string(mPort);
}
