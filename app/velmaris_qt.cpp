// The Linux program: the Qt window over the machine's own services.
#include <QApplication>

#include <clocale>

#include "platform/linux/linux_power.h"
#include "platform/linux/linux_storage.h"
#include "platform/linux/linux_system_paths.h"
#include "platform/linux/locale_number_marks.h"
#include "platform/linux/logind_keep_awake.h"
#include "platform/linux/monotonic_clock.h"
#include "platform/linux/posix_files.h"
#include "platform/linux/sysfs_disk_catalog.h"
#include "platform/qt/qt_window.h"
#include "platform/services.h"
#include "ui/frm_main.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // Numbers are grouped with the marks of the user's locale.
    std::setlocale(LC_ALL, "");

    velmaris::platform::SysfsDiskCatalog catalog;
    velmaris::platform::LinuxSystemPaths paths;
    velmaris::platform::LocaleNumberMarks numbers;
    velmaris::platform::PosixFiles files;
    velmaris::platform::LinuxStorage storage(catalog);
    velmaris::platform::MonotonicClock clock;
    velmaris::platform::LinuxPower power;
    velmaris::platform::LogindKeepAwake awake;
    velmaris::platform::Services services{catalog, paths, numbers, files,
                                          storage, clock, power,   awake};

    velmaris::platform::QtWindow window;
    velmaris::ui::frmMain frm(window, services);  // binds the window to its grids
    frm.Form_Load();
    return QApplication::exec();
}
