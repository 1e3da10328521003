/* A message's serialised form, as the payload hands it to the wire. */
#ifndef CORVEX_TESTSUPPORT_MSGBYTES_H
#define CORVEX_TESTSUPPORT_MSGBYTES_H

#include <cstdint>
#include <vector>

#include <mama/mama.h>

/* A copy of the message's byte buffer; a failure to get it fails the test. */
std::vector<uint8_t> msgBytes(mamaMsg msg);

#endif /* CORVEX_TESTSUPPORT_MSGBYTES_H */
