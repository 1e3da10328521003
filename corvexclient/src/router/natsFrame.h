/* The frame a NATS payload starts with when it carries a message's user
 * properties:
 *
 *   byte 0..2  0x00 'C' 'X'
 *   byte 3     version, 1
 *   byte 4..7  length P of the property text, unsigned, big-endian
 *   P bytes    the property text (as natsSubject.h describes it: entries
 *              "<key>=s<text>" or "<key>=i<int32>", separated by ',')
 *   the rest   the message's content
 *
 * A payload that does not start with those three bytes is content alone,
 * without properties; one that does but is not a whole frame of version 1
 * with a property text is malformed. A sender frames a message whose
 * content itself starts with the three bytes even without properties
 * (P = 0), so that its content comes back as it was. */
#ifndef CORVEXCLIENT_NATS_FRAME_H
#define CORVEXCLIENT_NATS_FRAME_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "container.h"

constexpr size_t kCorvexNatsFrameHeaderSize = 8;
constexpr uint8_t kCorvexNatsFrameVersion = 1;

enum CorvexNatsFrameKind
{
    CORVEX_NATS_FRAME_NONE,     /* content alone */
    CORVEX_NATS_FRAME_OK,       /* a frame, read into the parts */
    CORVEX_NATS_FRAME_MALFORMED /* starts like a frame but is none */
};

/* The parts of a received payload; they point into it. */
struct CorvexNatsFrame
{
    const char* mProperties = nullptr; /* NULL without a property text */
    uint32_t mPropertiesLength = 0;
    const char* mContent = nullptr;
    uint32_t mContentLength = 0;
};

/* Whether content must be framed though it has no properties. */
bool corvexNatsFrame_needed(const void* content, size_t length);

/* Appends the frame's first bytes for a property text of the length. */
void corvexNatsFrame_appendHeader(std::string& out, uint32_t propertiesLength);

/* Reads a payload; the property text is not checked here. */
CorvexNatsFrameKind corvexNatsFrame_read(const char* payload, size_t length,
                                         CorvexNatsFrame* frame);

/* Appends one entry to the property text *closure (a std::string), in the
 * shape of a corvexContainer_forEach visitor. */
void corvexNatsProperties_add(void* closure, const char* key, bool isString, const char* text,
                              int32_t number);

/* Whether a text is a property text with at least one entry. */
bool corvexNatsProperties_valid(const char* text, size_t length);

/* Builds the map of a valid property text in *storage (grown with malloc
 * to *capacity as needed); NULL when memory is short. */
corvexClientContainer* corvexNatsProperties_decode(const char* text, uint32_t length,
                                                   char** storage, uint32_t* capacity);

#endif
