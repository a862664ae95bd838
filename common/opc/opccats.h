// OPC server component categories and their registered descriptions.
#ifndef ORVANE_OPCCATS_H
#define ORVANE_OPCCATS_H

#include <objbase.h>
#include <comcat.h>

#ifdef __cplusplus
extern "C" {
#endif

extern const CATID CATID_OPCDAServer10;
extern const CATID CATID_OPCDAServer20;
extern const CATID CATID_OPCDAServer30;
extern const CATID CATID_XMLDAServer10;

#ifdef __cplusplus
}
#endif

#define OPC_CATEGORY_DESCRIPTION_DA10 L"OPC Data Access Servers Version 1.0"
#define OPC_CATEGORY_DESCRIPTION_DA20 L"OPC Data Access Servers Version 2.0"
#define OPC_CATEGORY_DESCRIPTION_DA30 L"OPC Data Access Servers Version 3.0"
#define OPC_CATEGORY_DESCRIPTION_XMLDA10 L"OPC XML Data Access Servers Version 1.0"

#endif
