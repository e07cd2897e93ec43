// Process-wide values of the plug-in boundary.
#pragma once
#include <windows.h>
#include "plugin/host_api.h"

extern HINSTANCE g_hInstance;              // set at process attach; all resources come from it
extern HostCommandId g_restoreCommandId;   // RestoreEditText's identifier, set at start-up
extern HostCommandId g_alignCommandId;     // AlignSaveAndOpen's identifier, set at start-up
