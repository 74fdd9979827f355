// Velmaris for Windows: the machine's services, the Win32 window and frmMain, then the loop.
#include <windows.h>

#include <commctrl.h>

#include "platform/services.h"
#include "platform/windows/com_ptr.h"
#include "platform/windows/win32_clock.h"
#include "platform/windows/win32_files.h"
#include "platform/windows/win32_keep_awake.h"
#include "platform/windows/win32_number_marks.h"
#include "platform/windows/win32_power.h"
#include "platform/windows/win32_storage.h"
#include "platform/windows/win32_system_paths.h"
#include "platform/windows/win32_window.h"
#include "platform/windows/wmi_disk_catalog.h"
#include "ui/frm_main.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int /*show*/) {
    using namespace velmaris::platform;
    // WMI and the folder dialog both need COM on this thread.
    const ComApartment com;
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    WmiDiskCatalog catalog;
    Win32SystemPaths paths;
    Win32NumberMarks numbers;
    Win32Files files;
    Win32Storage storage;
    Win32Clock clock;
    Win32Power power;
    Win32KeepAwake awake;
    Services services{catalog, paths, numbers, files, storage, clock, power, awake};

    Win32Window window(instance);
    velmaris::ui::frmMain frm(window, services);
    frm.Form_Load();

    MSG msg{};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (!window.PreTranslate(msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return static_cast<int>(msg.wParam);
}
