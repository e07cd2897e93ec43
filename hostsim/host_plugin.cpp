// Loading the plug-in as the host does: by file name, and its entry points by plain name.
#include "hostsim/host_sim.h"

namespace hostsim {

namespace {

template <class Function>
bool Bind(HMODULE module, const char* name, Function* slot)
{
    FARPROC proc = GetProcAddress(module, name);
    *slot = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(proc));
    return proc != NULL;
}

}  // namespace

bool LoadPlugin(const char* path, Plugin* plugin)
{
    ZeroMemory(plugin, sizeof *plugin);
    plugin->module = LoadLibraryA(path);
    if (!plugin->module)
        return false;
    bool all = true;
    all &= Bind(plugin->module, "QPCGetPlugName", &plugin->GetPlugName);
    all &= Bind(plugin->module, "QPCVersionInfo", &plugin->VersionInfo);
    all &= Bind(plugin->module, "QPCStartUp", &plugin->StartUp);
    all &= Bind(plugin->module, "QPCFolderCreate", &plugin->FolderCreate);
    all &= Bind(plugin->module, "QPCFolderClose", &plugin->FolderClose);
    all &= Bind(plugin->module, "QPCViewCreate", &plugin->ViewCreate);
    all &= Bind(plugin->module, "QPCViewClose", &plugin->ViewClose);
    all &= Bind(plugin->module, "QPCViewInitMenu", &plugin->ViewInitMenu);
    all &= Bind(plugin->module, "QPCViewLoadMail", &plugin->ViewLoadMail);
    all &= Bind(plugin->module, "QPCCleanUp", &plugin->CleanUp);
    return all;
}

}  // namespace hostsim
