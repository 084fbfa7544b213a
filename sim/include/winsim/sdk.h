// Every SDK header the simulated platform stands in for: what the control API and native
// tests see of Windows. The deliverables include these through platform/win32.h instead.
#pragma once

#include "winsim/sdk/windows.h"
#include "winsim/sdk/winioctl.h"
#include "winsim/sdk/setupapi.h"
#include "winsim/sdk/cfgmgr32.h"
#include "winsim/sdk/regstr.h"
#include "winsim/sdk/newdev.h"
#include "winsim/sdk/dbt.h"
#include "winsim/sdk/ks.h"
#include "winsim/sdk/ksmedia.h"
#include "winsim/sdk/assert.h"
#include "winsim/sdk/mbstring.h"
#include "winsim/sdk/string.h"
