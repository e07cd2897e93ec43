#include "mailview/mail_view_win_hook.h"

#include <cstdlib>
#include <cstring>

MailViewWinHook::MailViewWinHook(HWND window)
    : CLSWinHook(window),
      isView(0),
      isUtf8(0),
      boundary(NULL),
      toolbar(NULL),
      unicodePane(NULL),
      hostPane(NULL),
      hostView(NULL),
      paneWndProc(NULL)
{
    std::memset(&button, 0, sizeof button);
    button.fsState = TBSTATE_ENABLED | TBSTATE_HIDDEN;
    button.fsStyle = TBSTYLE_CHECK;
}

void ReleaseMailViewWinHook(CLSWinHook* object)
{
    MailViewWinHook* record = static_cast<MailViewWinHook*>(object);
    std::free(record->boundary);
    delete record;
}
