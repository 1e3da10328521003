#include "natsServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nats/nats.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

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

/* Runs a shell command (its output discarded); true when it succeeded. */
bool run(const std::string& command)
{
    return std::system(("(" + command + ") >/dev/null 2>&1").c_str()) == 0;
}

std::string contents(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

/* The CRC-16 an NKey ends with (polynomial 0x1021, start 0), low byte first. */
void appendCrc16(std::string& bytes)
{
    uint16_t crc = 0;
    for (unsigned char byte : bytes)
    {
        crc ^= static_cast<uint16_t>(byte << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    bytes.push_back(static_cast<char>(crc & 0xff));
    bytes.push_back(static_cast<char>(crc >> 8));
}

/* RFC 4648 base32 without padding, as NKeys are written. */
std::string base32(const std::string& bytes)
{
    static const char* const kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
    std::string text;
    uint32_t buffer = 0;
    int bits = 0;
    for (unsigned char byte : bytes)
    {
        buffer = (buffer << 8) | byte;
        bits += 8;
        while (bits >= 5)
        {
            text.push_back(kAlphabet[(buffer >> (bits - 5)) & 31]);
            bits -= 5;
        }
    }
    if (bits > 0)
        text.push_back(kAlphabet[(buffer << (5 - bits)) & 31]);
    return text;
}

/* An NKey of the given prefix bytes and the 32 key bytes ending `der`. */
std::string nkeyText(std::string prefix, const std::string& der)
{
    if (der.size() < 32)
        return "";
    prefix += der.substr(der.size() - 32);
    appendCrc16(prefix);
    return base32(prefix);
}

/* Whether a probe stream can be placed on every server of the cluster
 * (its JetStream has a leader and knows all its peers); the probe goes. */
bool placesReplicatedStreams(const std::string& url)
{
    natsConnection* connection = nullptr;
    jsCtx* jetStream = nullptr;
    bool placed = false;
    if (natsConnection_ConnectTo(&connection, url.c_str()) == NATS_OK &&
        natsConnection_JetStream(&jetStream, connection, nullptr) == NATS_OK)
    {
        jsStreamConfig config;
        jsStreamConfig_Init(&config);
        config.Name = "CORVEX_PROBE";
        config.Storage = js_MemoryStorage;
        config.Replicas = NatsCluster::kSize;
        jsOptions options;
        jsOptions_Init(&options);
        options.Wait = 2000;
        jsStreamInfo* info = nullptr;
        placed = js_AddStream(&info, jetStream, &config, &options, nullptr) == NATS_OK;
        jsStreamInfo_Destroy(info);
        if (placed)
            js_DeleteStream(jetStream, config.Name, &options, nullptr);
    }
    jsCtx_Destroy(jetStream);
    natsConnection_Destroy(connection);
    return placed;
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

std::string NatsServer::tlsConfig(const NatsCertificates& certificates, bool verifyClients)
{
    return "tls { cert_file: \"" + certificates.mServerCert + "\", key_file: \"" +
           certificates.mServerKey + "\", ca_file: \"" + certificates.mCa +
           "\", verify: " + (verifyClients ? "true" : "false") + ", timeout: 2 }\n";
}

bool NatsCluster::start()
{
    std::set<int> ports;
    while (ports.size() < 2 * kSize)
        ports.insert(NatsServer::freePort());
    std::vector<int> list(ports.begin(), ports.end());
    for (int i = 0; i < kSize; ++i)
    {
        std::string routes;
        for (int j = 0; j < kSize; ++j)
        {
            if (j != i)
                routes += (routes.empty() ? "" : ",") + std::string("nats://127.0.0.1:") +
                          std::to_string(list[kSize + j]);
        }
        NatsServer& server = mServers[i];
        if (!server.enableJetStream() ||
            !server.start(list[i],
                          {"-n", "corvex-" + std::to_string(i + 1), "--cluster_name", "corvex",
                           "--cluster", "nats://127.0.0.1:" + std::to_string(list[kSize + i]),
                           "--routes", routes}))
            return false;
    }
    return pollUntil([this] { return placesReplicatedStreams(mServers[0].url()); },
                     std::chrono::seconds(30));
}

std::string NatsCluster::urls(int first) const
{
    std::string text;
    for (int i = 0; i < kSize; ++i)
        text += (i ? "," : "") + mServers[(first + i) % kSize].url();
    return text;
}

int NatsCluster::streamLeader(const char* stream) const
{
    int leader = -1;
    natsConnection* connection = nullptr;
    jsCtx* jetStream = nullptr;
    jsStreamInfo* info = nullptr;
    if (natsConnection_ConnectTo(&connection, urls(0).c_str()) == NATS_OK &&
        natsConnection_JetStream(&jetStream, connection, nullptr) == NATS_OK &&
        js_GetStreamInfo(&info, jetStream, stream, nullptr, nullptr) == NATS_OK && info->Cluster &&
        info->Cluster->Leader)
    {
        const std::string name = info->Cluster->Leader;
        for (int i = 0; i < kSize; ++i)
        {
            if (name == "corvex-" + std::to_string(i + 1))
                leader = i;
        }
    }
    jsStreamInfo_Destroy(info);
    jsCtx_Destroy(jetStream);
    natsConnection_Destroy(connection);
    return leader;
}

TestDirectory::TestDirectory()
{
    char pattern[] = "/tmp/corvex-test-XXXXXX";
    if (mkdtemp(pattern))
        mPath = pattern;
}

TestDirectory::~TestDirectory()
{
    if (!mPath.empty())
        std::filesystem::remove_all(mPath);
}

std::string TestDirectory::path(const std::string& name) const
{
    return mPath + "/" + name;
}

bool NatsCertificates::make()
{
    const std::string key = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    const std::string dir = mDirectory.path("");
    auto authority = [&](const std::string& name)
    {
        return "openssl req -x509 " + key + " -days 2 -subj '/CN=Corvex test " + name +
               "' -keyout " + dir + name + ".key -out " + dir + name + ".pem";
    };
    auto signedBy =
        [&](const std::string& name, const std::string& subject, const std::string& extensions)
    {
        return "printf '" + extensions + "\\n' > " + dir + name + ".ext && openssl req " + key +
               " -subj '/CN=" + subject + "' -keyout " + dir + name + ".key -out " + dir + name +
               ".csr && openssl x509 -req -days 2 -in " + dir + name + ".csr -CA " + dir +
               "ca.pem -CAkey " + dir + "ca.key -CAcreateserial -extfile " + dir + name +
               ".ext -out " + dir + name + ".pem";
    };
    mCa = dir + "ca.pem";
    mOtherCa = dir + "other-ca.pem";
    mServerCert = dir + "server.pem";
    mServerKey = dir + "server.key";
    mClientCert = dir + "client.pem";
    mClientKey = dir + "client.key";
    return run(authority("ca") + " && " + authority("other-ca") + " && " +
               signedBy("server", "localhost",
                        "subjectAltName=IP:127.0.0.1,DNS:localhost\\nextendedKeyUsage=serverAuth") +
               " && " + signedBy("client", "corvex-client", "extendedKeyUsage=clientAuth"));
}

bool NatsUserNKey::make()
{
    const std::string key = mDirectory.path("key.der");
    const std::string pub = mDirectory.path("pub.der");
    if (!run("openssl genpkey -algorithm ed25519 -outform DER -out " + key +
             " && openssl pkey -inform DER -in " + key + " -pubout -outform DER -out " + pub))
        return false;
    /* Seed of a user: the seed prefix (18 << 3) and the user prefix (20 << 3)
     * packed in two bytes; a public user key begins with the user prefix. */
    const char user = static_cast<char>(20 << 3);
    const std::string seed =
        nkeyText(std::string{static_cast<char>((18 << 3) | ((20 << 3) >> 5)), static_cast<char>(0)},
                 contents(key));
    mPublicKey = nkeyText(std::string(1, user), contents(pub));
    mSeedFile = mDirectory.path("user.nk");
    std::ofstream(mSeedFile) << seed << "\n";
    return !seed.empty() && !mPublicKey.empty();
}
