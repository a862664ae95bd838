// OPC item property IDs (IOPCItemProperties). 1-199 Data Access,
// 300-399 Alarms & Events, >= 5000 vendor-specific.
#ifndef ORVANE_OPCPROPS_H
#define ORVANE_OPCPROPS_H

#define OPC_PROPERTY_DATATYPE          1
#define OPC_PROPERTY_VALUE             2
#define OPC_PROPERTY_QUALITY           3
#define OPC_PROPERTY_TIMESTAMP         4
#define OPC_PROPERTY_ACCESS_RIGHTS     5
#define OPC_PROPERTY_SCAN_RATE         6
#define OPC_PROPERTY_EU_TYPE           7
#define OPC_PROPERTY_EU_INFO           8
#define OPC_PROPERTY_EU_UNITS          100
#define OPC_PROPERTY_DESCRIPTION       101
#define OPC_PROPERTY_HIGH_EU           102
#define OPC_PROPERTY_LOW_EU            103
#define OPC_PROPERTY_HIGH_IR           104
#define OPC_PROPERTY_LOW_IR            105
#define OPC_PROPERTY_CLOSE_LABEL       106
#define OPC_PROPERTY_OPEN_LABEL        107
#define OPC_PROPERTY_TIMEZONE          108
#define OPC_PROPERTY_CONDITION_STATUS  300
#define OPC_PROPERTY_ALARM_QUICK_HELP  301
#define OPC_PROPERTY_ALARM_AREA_LIST   302
#define OPC_PROPERTY_PRIMARY_ALARM_AREA 303
#define OPC_PROPERTY_CONDITION_LOGIC   304
#define OPC_PROPERTY_LIMIT_EXCEEDED    305
#define OPC_PROPERTY_DEADBAND          306
#define OPC_PROPERTY_HIHI_LIMIT        307
#define OPC_PROPERTY_HI_LIMIT          308
#define OPC_PROPERTY_LO_LIMIT          309
#define OPC_PROPERTY_LOLO_LIMIT        310
#define OPC_PROPERTY_RATE_CHANGE_LIMIT 311
#define OPC_PROPERTY_DEVIATION_LIMIT   312
#define OPC_PROPERTY_SOUND_FILE        313

// Older DA 2.0 header names for the same IDs.
#define OPC_PROP_CDT      OPC_PROPERTY_DATATYPE
#define OPC_PROP_VALUE    OPC_PROPERTY_VALUE
#define OPC_PROP_QUALITY  OPC_PROPERTY_QUALITY
#define OPC_PROP_TIME     OPC_PROPERTY_TIMESTAMP
#define OPC_PROP_RIGHTS   OPC_PROPERTY_ACCESS_RIGHTS
#define OPC_PROP_SCANRATE OPC_PROPERTY_SCAN_RATE
#define OPC_PROP_UNIT     OPC_PROPERTY_EU_UNITS
#define OPC_PROP_DESC     OPC_PROPERTY_DESCRIPTION
#define OPC_PROP_HIEU     OPC_PROPERTY_HIGH_EU
#define OPC_PROP_LOEU     OPC_PROPERTY_LOW_EU
#define OPC_PROP_HIRANGE  OPC_PROPERTY_HIGH_IR
#define OPC_PROP_LORANGE  OPC_PROPERTY_LOW_IR
#define OPC_PROP_CLOSE    OPC_PROPERTY_CLOSE_LABEL
#define OPC_PROP_OPEN     OPC_PROPERTY_OPEN_LABEL
#define OPC_PROP_TIMEZONE OPC_PROPERTY_TIMEZONE
// 200-207 have no DA 3.0 names; the majority numbering starts at Default Display.
#define OPC_PROP_DSP      200
#define OPC_PROP_FGC      201
#define OPC_PROP_BGC      202
#define OPC_PROP_BLINK    203
#define OPC_PROP_BMP      204
#define OPC_PROP_SND      205
#define OPC_PROP_HTML     206
#define OPC_PROP_AVI      207

// Descriptions as the DA 3.0 definitions word them.
#define OPC_PROPERTY_DESC_DATATYPE      L"Item Canonical Data Type"
#define OPC_PROPERTY_DESC_VALUE         L"Item Value"
#define OPC_PROPERTY_DESC_QUALITY       L"Item Quality"
#define OPC_PROPERTY_DESC_TIMESTAMP     L"Item Timestamp"
#define OPC_PROPERTY_DESC_ACCESS_RIGHTS L"Item Access Rights"
#define OPC_PROPERTY_DESC_SCAN_RATE     L"Server Scan Rate"
#define OPC_PROPERTY_DESC_EU_TYPE       L"Item EU Type"
#define OPC_PROPERTY_DESC_EU_INFO       L"Item EU Info"
#define OPC_PROPERTY_DESC_EU_UNITS      L"EU Units"
#define OPC_PROPERTY_DESC_DESCRIPTION   L"Item Description"
#define OPC_PROPERTY_DESC_HIGH_EU       L"High EU"
#define OPC_PROPERTY_DESC_LOW_EU        L"Low EU"
#define OPC_PROPERTY_DESC_HIGH_IR       L"High Instrument Range"
#define OPC_PROPERTY_DESC_LOW_IR        L"Low Instrument Range"
#define OPC_PROPERTY_DESC_CLOSE_LABEL   L"Contact Close Label"
#define OPC_PROPERTY_DESC_OPEN_LABEL    L"Contact Open Label"
#define OPC_PROPERTY_DESC_TIMEZONE      L"Item Timezone"

#endif
