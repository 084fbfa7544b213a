// Stands in for the SDK's windows.h: the base types, errors, kernel, registry and window calls.
#pragma once

#include "winsim/sdk/minwindef.h"
#include "winsim/sdk/winerror.h"
#include "winsim/sdk/winbase.h"
#include "winsim/sdk/winreg.h"
#include "winsim/sdk/winuser.h"
