// The Windows subset that the tool uses.
#pragma once

#include <guiddef.h>
#include <unknwn.h>
#include <winerror.h>
#include <corecrt.h>
#include <consoleapi.h>
#include <debugapi.h>
#include <fileapi.h>
#include <handleapi.h>
#include <libloaderapi.h>
#include <memoryapi.h>
#include <minwinbase.h>
#include <minwindef.h>
#include <processthreadsapi.h>
#include <processenv.h>
#include <roapi.h>
#include <shellapi.h>
#include <stringapiset.h>
#include <synchapi.h>
#include <winbase.h>
#include <winnt.h>
#include <winuser.h>
