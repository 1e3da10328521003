// Loading payload libraries by name and finding them by id.
#include <gtest/gtest.h>

#include "mama/mama.h"
#include "mama/msg.h"
#include "msgimpl.h"
#include "payloadbridge.h"
#include "mamainternal.h"

extern "C"
{
    int mamaPayloadRegistry_count (void);
    void mamaPayloadRegistry_unloadAll (void);
}

namespace
{

TEST (PayloadLoader, LoadsOnceAndIsFoundByNameIdAndDefault)
{
    mamaPayloadBridge bridge = nullptr;
    ASSERT_EQ (MAMA_STATUS_OK, mama_loadPayloadBridge (&bridge, "corvexmsg"));
    ASSERT_NE (nullptr, bridge);
    mamaPayloadBridge again = nullptr;
    ASSERT_EQ (MAMA_STATUS_OK, mama_loadPayloadBridge (&again, "corvexmsg"));
    EXPECT_EQ (bridge, again);
    EXPECT_EQ (1, mamaPayloadRegistry_count ());

    EXPECT_EQ (bridge, mamaInternal_findPayload ('1'));
    EXPECT_EQ (nullptr, mamaInternal_findPayload ('\0'));
    EXPECT_EQ (nullptr, mamaInternal_findPayload ('Q'));
    EXPECT_EQ (bridge, mamaInternal_getDefaultPayload ());
    mamaPayloadBridge byName = nullptr;
    EXPECT_EQ (MAMA_STATUS_OK, mama_getPayloadBridge (&byName, "corvexmsg"));
    EXPECT_EQ (bridge, byName);
    EXPECT_EQ (MAMA_STATUS_NOT_FOUND, mama_getPayloadBridge (&byName, "other"));
    EXPECT_STREQ ("6.3.2", mamaInternal_getMetaProperty ("mama.corvexmsg.compile_version"));

    EXPECT_EQ (MAMA_STATUS_OK, mama_setDefaultPayload ('1'));
    EXPECT_EQ (MAMA_STATUS_NULL_ARG, mama_setDefaultPayload ('Q'));

    // mamaMsg_create uses the default payload
    mamaMsg msg = nullptr;
    ASSERT_EQ (MAMA_STATUS_OK, mamaMsg_create (&msg));
    char id = 0;
    EXPECT_EQ (MAMA_STATUS_OK, mamaMsgImpl_getPayloadId (msg, &id));
    EXPECT_EQ ('1', id);
    mamaMsg_destroy (msg);
}

TEST (PayloadLoader, RefusesWhatCannotBeLoaded)
{
    mamaPayloadBridge bridge = nullptr;
    EXPECT_EQ (MAMA_STATUS_NULL_ARG, mama_loadPayloadBridge (nullptr, "corvexmsg"));
    EXPECT_EQ (MAMA_STATUS_NULL_ARG, mama_loadPayloadBridge (&bridge, nullptr));
    EXPECT_EQ (MAMA_STATUS_INVALID_ARG, mama_loadPayloadBridge (&bridge, ""));
    EXPECT_EQ (MAMA_STATUS_NO_BRIDGE_IMPL, mama_loadPayloadBridge (&bridge, "nosuchpayload"));
    // a middleware bridge library: found, but it has no fakePayload_init
    EXPECT_EQ (MAMA_STATUS_INVALID_ARG, mama_loadPayloadBridge (&bridge, "fake"));
    EXPECT_EQ (nullptr, bridge);
    EXPECT_EQ (0, mamaPayloadRegistry_count ());
    EXPECT_EQ (nullptr, mamaInternal_getDefaultPayload ());
}

TEST (PayloadLoader, ConfiguredIdReplacesThePayloadsOwn)
{
    ASSERT_EQ (MAMA_STATUS_OK, mama_setProperty ("mama.payload.corvexmsg.payloadId", "Zed"));
    mamaPayloadBridge bridge = nullptr;
    ASSERT_EQ (MAMA_STATUS_OK, mama_loadPayloadBridge (&bridge, "corvexmsg"));
    EXPECT_EQ (bridge, mamaInternal_findPayload ('Z'));
    EXPECT_EQ (nullptr, mamaInternal_findPayload ('1'));

    // The payload still writes '1' first, which now names no loaded payload.
    mamaMsg msg = nullptr;
    ASSERT_EQ (MAMA_STATUS_OK, mamaMsg_createForPayloadBridge (&msg, bridge));
    ASSERT_EQ (MAMA_STATUS_OK, mamaMsg_addI32 (msg, "a", 1, 1));
    const void* buffer = nullptr;
    mama_size_t length = 0;
    ASSERT_EQ (MAMA_STATUS_OK, mamaMsg_getByteBuffer (msg, &buffer, &length));
    mamaMsg received = nullptr;
    ASSERT_EQ (MAMA_STATUS_OK, mamaMsgImpl_createForPayload (&received, nullptr, nullptr, 0));
    EXPECT_EQ (MAMA_STATUS_NO_BRIDGE_IMPL,
               mamaMsgImpl_setMsgBuffer (received, buffer, length, '\0'));
    EXPECT_EQ (MAMA_STATUS_OK, mamaMsgImpl_setMsgBuffer (received, buffer, length, 'Z'));
    mama_i32_t value = 0;
    EXPECT_EQ (MAMA_STATUS_OK, mamaMsg_getI32 (received, "a", 1, &value));
    EXPECT_EQ (1, value);
    mamaMsg_destroy (received);
    mamaMsg_destroy (msg);
}

TEST (PayloadLoader, UnloadForgetsEverythingAndAllowsReload)
{
    mamaPayloadBridge bridge = nullptr;
    ASSERT_EQ (MAMA_STATUS_OK, mama_loadPayloadBridge (&bridge, "corvexmsg"));
    mamaMsg survivor = nullptr;
    ASSERT_EQ (MAMA_STATUS_OK, mamaMsg_createForPayloadBridge (&survivor, bridge));
    msgPayload orphan = nullptr;
    ASSERT_EQ (MAMA_STATUS_OK, mamaMsgImpl_getPayload (survivor, &orphan));

    mamaPayloadRegistry_unloadAll ();
    EXPECT_EQ (0, mamaPayloadRegistry_count ());
    EXPECT_EQ (nullptr, mamaInternal_findPayload ('1'));
    EXPECT_EQ (nullptr, mamaInternal_getDefaultPayload ());
    // Its library is gone: the message is freed, its payload left alone.
    EXPECT_EQ (MAMA_STATUS_OK, mamaMsg_destroy (survivor));

    ASSERT_EQ (MAMA_STATUS_OK, mama_loadPayloadBridge (&bridge, "corvexmsg"));
    EXPECT_EQ (bridge, mamaInternal_findPayload ('1'));
    // the same library again: its code can free what the first load made
    reinterpret_cast<mamaPayloadBridgeImpl*> (bridge)->msgPayloadDestroy (orphan);
    mamaPayloadRegistry_unloadAll ();
}

} // namespace
