// The one place that chooses between the real Windows SDK and the simulated platform.
// Every deliverable source includes this header instead of any platform header.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winioctl.h>
#include <setupapi.h>
#include <cfgmgr32.h>
#include <regstr.h>
#include <newdev.h>
#include <dbt.h>
#include <ks.h>
#include <ksmedia.h>
#include <assert.h>
#include <mbstring.h>
#else
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
#endif
