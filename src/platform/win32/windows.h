// The Windows subset that the tool uses.
#pragma once

#include "../com/guiddef.h"
#include "../com/unknwn.h"
#include "../com/winerror.h"
#include "../crt/crt.h"
#include "debugapi.h"
#include "libloaderapi.h"
#include "minwindef.h"
#include "processenv.h"
#include "roapi.h"
#include "shellapi.h"
#include "winbase.h"
#include "winuser.h"
