#include "base/module.h"

HINSTANCE g_hInstance;
