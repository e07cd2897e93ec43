#include "plugin/plugin_state.h"

HINSTANCE g_hInstance;
HostCommandId g_restoreCommandId;
HostCommandId g_alignCommandId;
