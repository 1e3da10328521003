/* How a session's NATS connection is secured: TLS (the servers' scheme and
 * the "SESSION_NATS_TLS_*" properties) and the credentials that stand
 * instead of a user name and password (a token, an NKey, a credentials
 * file). Read from the session's properties when it is created, applied to
 * the connection's options at connect. Nothing here logs a value: the token
 * is a secret, and files are read by the NATS library only. */
#ifndef CORVEXCLIENT_NATS_SECURITY_H
#define CORVEXCLIENT_NATS_SECURITY_H

#include <nats/nats.h>

#include <string>
#include <vector>

#include "corvexClient.h"
#include "properties.h"

struct CorvexNatsSecurity
{
    /* TLS is required: "tls://" servers or a TLS property given. */
    bool mTls = false;
    std::string mCaFile;
    std::string mCertFile;
    std::string mKeyFile;
    /* The name the servers' certificates must carry; empty: none checked. */
    std::string mServerName;
    std::string mToken;
    std::string mNKey;
    std::string mNKeySeedFile;
    std::string mCredentialsFile;
};

/* Reads the security properties for the servers' URLs (none for another
 * router); an inconsistent set (a certificate without its key, an NKey
 * without its seed, two kinds of credentials, a name check without one name
 * for every server) or a file that cannot be read fails with
 * BAD_PROPERTY_VALUE naming the property. */
corvexClient_returnCode_t corvexNatsSecurity_parse(const CorvexPropertyList& list,
                                                   const std::vector<std::string>& servers,
                                                   CorvexNatsSecurity* security);

/* Sets TLS and the credentials on the connection's options, after the user
 * name and password, which a token, an NKey or credentials replace. A file
 * the NATS library cannot load fails here, with its text in
 * nats_GetLastError. */
natsStatus corvexNatsSecurity_apply(const CorvexNatsSecurity& security, natsOptions* options);

/* What a user may make of a connect that failed with status: a text to
 * append to the error (empty when there is nothing to add). */
const char* corvexNatsSecurity_hint(const CorvexNatsSecurity& security, natsStatus status);

#endif
