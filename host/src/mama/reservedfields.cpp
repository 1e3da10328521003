#include "mama/reservedfields.h"

#define MAMA_RESERVED_FIELD(variable, name, fid) \
    extern const MamaReservedField variable = {const_cast<char*> (name), fid}

extern const long WOMBAT_MAX_RESERVED_FID = 100;

MAMA_RESERVED_FIELD (MamaFieldMsgType, "MdMsgType", 1);
MAMA_RESERVED_FIELD (MamaFieldMsgStatus, "MdMsgStatus", 2);
MAMA_RESERVED_FIELD (MamaFieldFieldIndex, "MdFieldIndex", 3);
MAMA_RESERVED_FIELD (MamaFieldSubscMsgTypeOld, "MdSubscType", 5);
MAMA_RESERVED_FIELD (MamaFieldSubscSubjectOld, "MdSubscSubject", 6);
MAMA_RESERVED_FIELD (MamaFieldMsgNum, "MdMsgNum", 7);
MAMA_RESERVED_FIELD (MamaFieldMsgTotal, "MdMsgTotal", 8);
MAMA_RESERVED_FIELD (MamaFieldSeqNum, "MdSeqNum", 10);
MAMA_RESERVED_FIELD (MamaFieldFeedName, "MdFeedName", 11);
MAMA_RESERVED_FIELD (MamaFieldFeedHost, "MdFeedHost", 12);
MAMA_RESERVED_FIELD (MamaFieldFeedGroup, "MdFeedGroup", 13);
MAMA_RESERVED_FIELD (MamaFieldItemSeqNum, "MdItemSeq", 15);
MAMA_RESERVED_FIELD (MamaFieldSendTime, "MamaSendTime", 16);
MAMA_RESERVED_FIELD (MamaFieldAppDataType, "MamaAppDataType", 17);
MAMA_RESERVED_FIELD (MamaFieldAppMsgType, "MamaAppMsgType", 18);
MAMA_RESERVED_FIELD (MamaFieldSenderId, "MamaSenderId", 20);
MAMA_RESERVED_FIELD (MamaFieldMsgQual, "wMsgQual", 21);
MAMA_RESERVED_FIELD (MamaFieldConflateCount, "wConflateCount", 22);
MAMA_RESERVED_FIELD (MamaFieldConflateQuoteCount, "wConflateQuoteCount", 23);
MAMA_RESERVED_FIELD (MamaFieldConflateTradeCount, "wConflateTradeCount", 24);
MAMA_RESERVED_FIELD (MamaFieldSubscriptionType, "MdSubscriptionType", 60);
MAMA_RESERVED_FIELD (MamaFieldSubscMsgType, "MdSubscMsgType", 61);
MAMA_RESERVED_FIELD (MamaFieldSubscSourceHost, "MdSubscSourceHost", 63);
MAMA_RESERVED_FIELD (MamaFieldSubscSourceApp, "MdSubscSourceApp", 64);
MAMA_RESERVED_FIELD (MamaFieldSubscSourceUser, "MdSubscSourceUser", 65);
MAMA_RESERVED_FIELD (MamaFieldServiceLevel, "MdServiceLevel", 66);
MAMA_RESERVED_FIELD (MamaFieldSubscSourceIp, "MdSubscSourceIp", 67);
MAMA_RESERVED_FIELD (MamaFieldSubscSourceAppClass, "MdSubscSourceAppClass", 68);
MAMA_RESERVED_FIELD (MamaFieldInterfaceVersion, "InterfaceVersion", 69);
MAMA_RESERVED_FIELD (MamaFieldUpdateTopic, "MdUpdateTopic", 70);
MAMA_RESERVED_FIELD (MamaFieldSubscSymbol, "MdSubscSymbol", 71);
MAMA_RESERVED_FIELD (MamaFieldTportName, "MamaTportName", 72);
MAMA_RESERVED_FIELD (MamaFieldSubscNamespace, "MdSubscNamespace", 73);
MAMA_RESERVED_FIELD (MamaFieldSymbolList, "MamaSymbolList", 81);
MAMA_RESERVED_FIELD (MamaFieldTemplate, "MamaTemplate", 90);
MAMA_RESERVED_FIELD (MamaFieldTemplateLen, "MamaTemplateLen", 91);
MAMA_RESERVED_FIELD (MamaFieldEntitleCode, "wEntitleCode", 496);
