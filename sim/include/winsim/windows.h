// The simulated platform's counterpart of the SDK headers the deliverables include.
#pragma once

#include "winsim/base_types.h"
#include "winsim/crt.h"
#include "winsim/kernel.h"
#include "winsim/ks.h"
#include "winsim/registry.h"
#include "winsim/setupapi.h"
#include "winsim/setupapi_drivers.h"
#include "winsim/setupapi_devices.h"
#include "winsim/cfgmgr32.h"
#include "winsim/profile.h"
#include "winsim/winuser.h"
