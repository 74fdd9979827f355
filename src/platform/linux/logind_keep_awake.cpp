#include "platform/linux/logind_keep_awake.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdint>

namespace velmaris::platform {

namespace {

// logind answers at once; a bus that hangs must not freeze the window for long.
constexpr std::uint64_t kAnswerWithinUsec = 3'000'000;

// The lock's file descriptor, our own copy; -1 when none could be taken.
int TakeLock() {
    sd_bus* bus = nullptr;
    // Honours DBUS_SYSTEM_BUS_ADDRESS; fails when there is no system bus.
    if (sd_bus_open_system(&bus) < 0) {
        return -1;
    }
    int lock = -1;
    sd_bus_message* call = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error{};  // SD_BUS_ERROR_NULL, whose compound literal is not C++
    if (sd_bus_message_new_method_call(bus, &call, "org.freedesktop.login1",
                                       "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                       "Inhibit") >= 0 &&
        sd_bus_message_append(call, "ssss", "sleep:idle", "Velmaris", "Drives are being imaged",
                              "block") >= 0 &&
        sd_bus_call(bus, call, kAnswerWithinUsec, &error, &reply) >= 0) {
        int received = -1;
        // The reply owns the descriptor it carries: keep a copy of our own.
        if (sd_bus_message_read(reply, "h", &received) >= 0 && received >= 0) {
            lock = fcntl(received, F_DUPFD_CLOEXEC, 3);
        }
    }
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    sd_bus_message_unref(call);
    sd_bus_flush_close_unref(bus);
    return lock;
}

}  // namespace

LogindKeepAwake::~LogindKeepAwake() {
    if (lock_ >= 0) {
        ::close(lock_);
    }
}

void LogindKeepAwake::Hold() {
    if (lock_ < 0) {
        lock_ = TakeLock();
    }
}

void LogindKeepAwake::Release() {
    if (lock_ >= 0) {
        ::close(lock_);
        lock_ = -1;
    }
}

}  // namespace velmaris::platform
