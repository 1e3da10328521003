#include "router/natsSecurity.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "clientError.h"

/* A refused combination of properties, in a text naming them. */
#define CORVEX_REFUSE(...)                                                                         \
    corvexError_set(CORVEXCLIENT_FAIL, CORVEXCLIENT_SUBCODE_BAD_PROPERTY_VALUE, 0, __VA_ARGS__)

namespace
{
constexpr const char* kTlsScheme = "tls://";

std::string valueOf(const CorvexPropertyList& list, const char* name)
{
    const char* value = corvexProperties_get(list, name);
    return value ? value : "";
}

/* The host of "<scheme>://<host>[:<port>]", without the brackets of an
 * IPv6 address. */
std::string hostOf(const std::string& url)
{
    const size_t begin = url.find("://");
    const std::string host = begin == std::string::npos ? url : url.substr(begin + 3);
    if (!host.empty() && host[0] == '[')
        return host.substr(1, host.find(']') - 1);
    const size_t colon = host.rfind(':');
    return colon == std::string::npos ? host : host.substr(0, colon);
}

/* The one host every server names; empty when they name several. */
std::string commonHost(const std::vector<std::string>& servers)
{
    std::string host;
    for (const std::string& server : servers)
    {
        const std::string next = hostOf(server);
        if (!host.empty() && next != host)
            return "";
        host = next;
    }
    return host;
}

/* A file property names a file this process can read. */
corvexClient_returnCode_t checkReadable(const char* property, const std::string& path)
{
    if (path.empty() || access(path.c_str(), R_OK) == 0)
        return CORVEXCLIENT_OK;
    return CORVEX_REFUSE("\"%s\": '%s' cannot be read: %s", property, path.c_str(),
                         std::strerror(errno));
}

bool anyTlsServer(const std::vector<std::string>& servers)
{
    for (const std::string& server : servers)
    {
        if (server.compare(0, std::strlen(kTlsScheme), kTlsScheme) == 0)
            return true;
    }
    return false;
}

corvexClient_returnCode_t parseTls(const CorvexPropertyList& list,
                                   const std::vector<std::string>& servers,
                                   CorvexNatsSecurity* security)
{
    security->mCaFile = valueOf(list, CORVEXCLIENT_SESSION_PROP_NATS_TLS_CA_FILE);
    security->mCertFile = valueOf(list, CORVEXCLIENT_SESSION_PROP_NATS_TLS_CERT_FILE);
    security->mKeyFile = valueOf(list, CORVEXCLIENT_SESSION_PROP_NATS_TLS_KEY_FILE);
    const std::string serverName = valueOf(list, CORVEXCLIENT_SESSION_PROP_NATS_TLS_SERVER_NAME);
    const char* checkText =
        corvexProperties_get(list, CORVEXCLIENT_SESSION_PROP_NATS_TLS_VERIFY_SERVER_NAME);
    bool checkName = true;
    const corvexClient_returnCode_t check = corvexProperties_getBool(
        list, CORVEXCLIENT_SESSION_PROP_NATS_TLS_VERIFY_SERVER_NAME, &checkName);
    if (check != CORVEXCLIENT_OK)
        return check;
    if (security->mCertFile.empty() != security->mKeyFile.empty())
        return CORVEX_REFUSE("\"%s\" and \"%s\" go together: a client certificate needs its key",
                             CORVEXCLIENT_SESSION_PROP_NATS_TLS_CERT_FILE,
                             CORVEXCLIENT_SESSION_PROP_NATS_TLS_KEY_FILE);
    security->mTls = anyTlsServer(servers) || !security->mCaFile.empty() ||
                     !security->mCertFile.empty() || !serverName.empty() || checkText;
    if (!security->mTls || !checkName)
        return CORVEXCLIENT_OK;
    security->mServerName = serverName.empty() ? commonHost(servers) : serverName;
    if (security->mServerName.empty())
        return CORVEX_REFUSE("the servers have different hosts: give the name their "
                             "certificates carry in \"%s\", or set \"%s\" to \"0\"",
                             CORVEXCLIENT_SESSION_PROP_NATS_TLS_SERVER_NAME,
                             CORVEXCLIENT_SESSION_PROP_NATS_TLS_VERIFY_SERVER_NAME);
    return CORVEXCLIENT_OK;
}
} // namespace

corvexClient_returnCode_t corvexNatsSecurity_parse(const CorvexPropertyList& list,
                                                   const std::vector<std::string>& servers,
                                                   CorvexNatsSecurity* security)
{
    *security = CorvexNatsSecurity();
    if (servers.empty())
        return CORVEXCLIENT_OK;
    const corvexClient_returnCode_t code = parseTls(list, servers, security);
    if (code != CORVEXCLIENT_OK)
        return code;
    security->mToken = valueOf(list, CORVEXCLIENT_SESSION_PROP_NATS_TOKEN);
    security->mNKey = valueOf(list, CORVEXCLIENT_SESSION_PROP_NATS_NKEY);
    security->mNKeySeedFile = valueOf(list, CORVEXCLIENT_SESSION_PROP_NATS_NKEY_SEED_FILE);
    security->mCredentialsFile = valueOf(list, CORVEXCLIENT_SESSION_PROP_NATS_CREDENTIALS_FILE);
    if (security->mNKey.empty() != security->mNKeySeedFile.empty())
        return CORVEX_REFUSE("\"%s\" and \"%s\" go together: an NKey is signed with its seed",
                             CORVEXCLIENT_SESSION_PROP_NATS_NKEY,
                             CORVEXCLIENT_SESSION_PROP_NATS_NKEY_SEED_FILE);
    const int kinds =
        !security->mToken.empty() + !security->mNKey.empty() + !security->mCredentialsFile.empty();
    if (kinds > 1)
        return CORVEX_REFUSE(
            "give only one of \"%s\", \"%s\" and \"%s\"", CORVEXCLIENT_SESSION_PROP_NATS_TOKEN,
            CORVEXCLIENT_SESSION_PROP_NATS_NKEY, CORVEXCLIENT_SESSION_PROP_NATS_CREDENTIALS_FILE);
    const std::pair<const char*, const std::string*> files[] = {
        {CORVEXCLIENT_SESSION_PROP_NATS_TLS_CA_FILE, &security->mCaFile},
        {CORVEXCLIENT_SESSION_PROP_NATS_TLS_CERT_FILE, &security->mCertFile},
        {CORVEXCLIENT_SESSION_PROP_NATS_TLS_KEY_FILE, &security->mKeyFile},
        {CORVEXCLIENT_SESSION_PROP_NATS_NKEY_SEED_FILE, &security->mNKeySeedFile},
        {CORVEXCLIENT_SESSION_PROP_NATS_CREDENTIALS_FILE, &security->mCredentialsFile}};
    for (const auto& file : files)
    {
        const corvexClient_returnCode_t readable = checkReadable(file.first, *file.second);
        if (readable != CORVEXCLIENT_OK)
            return readable;
    }
    return CORVEXCLIENT_OK;
}

natsStatus corvexNatsSecurity_apply(const CorvexNatsSecurity& security, natsOptions* options)
{
    natsStatus status = NATS_OK;
    if (security.mTls)
        status = natsOptions_SetSecure(options, true);
    if (status == NATS_OK && !security.mCaFile.empty())
        status = natsOptions_LoadCATrustedCertificates(options, security.mCaFile.c_str());
    if (status == NATS_OK && !security.mCertFile.empty())
        status = natsOptions_LoadCertificatesChain(options, security.mCertFile.c_str(),
                                                   security.mKeyFile.c_str());
    /* Without a name the library checks none. */
    if (status == NATS_OK && !security.mServerName.empty())
        status = natsOptions_SetExpectedHostname(options, security.mServerName.c_str());
    const bool replacesLogin =
        !security.mToken.empty() || !security.mNKey.empty() || !security.mCredentialsFile.empty();
    if (status == NATS_OK && replacesLogin)
        status = natsOptions_SetUserInfo(options, nullptr, nullptr);
    if (status == NATS_OK && !security.mToken.empty())
        status = natsOptions_SetToken(options, security.mToken.c_str());
    if (status == NATS_OK && !security.mNKey.empty())
        status = natsOptions_SetNKeyFromSeed(options, security.mNKey.c_str(),
                                             security.mNKeySeedFile.c_str());
    if (status == NATS_OK && !security.mCredentialsFile.empty())
        status = natsOptions_SetUserCredentialsFromFiles(options, security.mCredentialsFile.c_str(),
                                                         nullptr);
    return status;
}

const char* corvexNatsSecurity_hint(const CorvexNatsSecurity& security, natsStatus status)
{
    /* Past the TLS handshake, a server that verifies clients closes the
     * connection of one whose certificate it does not take: the client
     * reads nothing where it waits for the server's first answer. */
    if (!security.mTls || (status != NATS_PROTOCOL_ERROR && status != NATS_CONNECTION_CLOSED &&
                           status != NATS_IO_ERROR))
        return "";
    return security.mCertFile.empty()
               ? "; the server closed the TLS connection: it may require a client certificate "
                 "(\"" CORVEXCLIENT_SESSION_PROP_NATS_TLS_CERT_FILE "\")"
               : "; the server closed the TLS connection: it may not accept the client "
                 "certificate of \"" CORVEXCLIENT_SESSION_PROP_NATS_TLS_CERT_FILE "\"";
}
