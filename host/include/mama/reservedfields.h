#ifndef MAMA_RESERVED_FIELDS_H__
#define MAMA_RESERVED_FIELDS_H__

#if defined(__cplusplus)
extern "C" {
#endif

/* Name and field id of a field that the platform itself reads or writes. */
typedef struct MamaReservedField_
{
    char*          mName;
    unsigned short mFid;
} MamaReservedField;

/* Highest field id reserved for such fields. */
extern const long WOMBAT_MAX_RESERVED_FID;

extern const MamaReservedField MamaFieldMsgType;
extern const MamaReservedField MamaFieldMsgStatus;
extern const MamaReservedField MamaFieldFieldIndex;
extern const MamaReservedField MamaFieldSubscMsgTypeOld;
extern const MamaReservedField MamaFieldSubscSubjectOld;
extern const MamaReservedField MamaFieldMsgNum;
extern const MamaReservedField MamaFieldMsgTotal;
extern const MamaReservedField MamaFieldSeqNum;
extern const MamaReservedField MamaFieldFeedName;
extern const MamaReservedField MamaFieldFeedHost;
extern const MamaReservedField MamaFieldFeedGroup;
extern const MamaReservedField MamaFieldItemSeqNum;
extern const MamaReservedField MamaFieldSendTime;
extern const MamaReservedField MamaFieldAppDataType;
extern const MamaReservedField MamaFieldAppMsgType;
extern const MamaReservedField MamaFieldSenderId;
extern const MamaReservedField MamaFieldMsgQual;
extern const MamaReservedField MamaFieldConflateCount;
extern const MamaReservedField MamaFieldConflateQuoteCount;
extern const MamaReservedField MamaFieldConflateTradeCount;
extern const MamaReservedField MamaFieldSubscriptionType;
extern const MamaReservedField MamaFieldSubscMsgType;
extern const MamaReservedField MamaFieldSubscSourceHost;
extern const MamaReservedField MamaFieldSubscSourceApp;
extern const MamaReservedField MamaFieldSubscSourceUser;
extern const MamaReservedField MamaFieldServiceLevel;
extern const MamaReservedField MamaFieldSubscSourceIp;
extern const MamaReservedField MamaFieldSubscSourceAppClass;
extern const MamaReservedField MamaFieldInterfaceVersion;
extern const MamaReservedField MamaFieldUpdateTopic;
extern const MamaReservedField MamaFieldSubscSymbol;
extern const MamaReservedField MamaFieldTportName;
extern const MamaReservedField MamaFieldSubscNamespace;
extern const MamaReservedField MamaFieldSymbolList;
extern const MamaReservedField MamaFieldTemplate;
extern const MamaReservedField MamaFieldTemplateLen;
extern const MamaReservedField MamaFieldEntitleCode;

#if defined(__cplusplus)
}
#endif

#endif /* MAMA_RESERVED_FIELDS_H__ */
