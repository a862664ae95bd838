// Everything a module needs to speak OPC DA 2.0 / OPC Common:
// the interfaces (generated from opcda.idl / opccomn.idl), error codes,
// property IDs and component categories.
#ifndef ORVANE_OPC_H
#define ORVANE_OPC_H

#include <opccomn.h>
#include <opcda.h>

#include "opccats.h"
#include "opcerror.h"
#include "opcprops.h"

#endif
