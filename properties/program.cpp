#include "program.h"

#include <commctrl.h>
#include <objbase.h>

#include <optional>

#include "crash_reporter.h"
#include "message_loop.h"
#include "properties_dialog.h"
#include "unique_handle.h"
#include "window_position.h"

namespace tvn {

int RunPropertiesProgram(HINSTANCE instance, int showCommand) {
    CrashReporter::Install(kPropertiesWindowTitle, CrashReporter::kMessage, kPropertiesDumpFile);

    // The mutex only marks a running instance; it is never waited on.
    UniqueHandleObj mutex(CreateMutexW(nullptr, FALSE, kPropertiesStartupMutex));
    if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) {
        if (HWND running = FindWindowW(nullptr, kPropertiesWindowTitle)) {
            SetForegroundWindow(running);
            BringWindowToTop(running);
            return 1;
        }
    }

    const HRESULT com = CoInitialize(nullptr);
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);

    int exitCode = 0;
    {
        MessageLoop loop;
        MessageLoop::SetCurrent(&loop);
        std::optional<PropertiesDialog> dialog;
        dialog.emplace(instance);
        if (HWND window = dialog->Create()) {
            RestoreWindowPosition(window);
            ShowWindow(window, showCommand);
            exitCode = loop.Run();
        }
        MessageLoop::SetCurrent(nullptr);
        dialog.reset();
    }

    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
    return exitCode;
}

}  // namespace tvn
