// The sleep lock through logind, against a fake org.freedesktop.login1 on a private bus that
// stands in for the system bus. Needs dbus-daemon.
#include <fcntl.h>
#include <poll.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/linux/logind_keep_awake.h"
#include "scratch.h"

namespace velmaris::platform {
namespace {

using test::ScratchDir;

// A dbus-daemon of our own, with the session bus's configuration, open to this user; it forks
// once it listens.
struct PrivateBus {
    ScratchDir dir;
    std::string address = "unix:path=" + (dir.Path() / "bus").string();
    std::optional<std::string> pid =
        dir.Run("dbus-daemon --session --fork --print-pid=1 --address=" + address);
    ~PrivateBus() {
        if (pid) {
            dir.Run("kill " + *pid);
        }
    }
};

// logind's Inhibit as documented: takes what, who, why and mode, and hands out one end of a
// pipe whose other end it keeps; the lock lasts until every copy of the end handed out is closed.
class FakeLogin1 {
  public:
    explicit FakeLogin1(const std::string& address) {
        static const sd_bus_vtable kManager[] = {
            SD_BUS_VTABLE_START(0),
            SD_BUS_METHOD("Inhibit", "ssss", "h", &FakeLogin1::Inhibit, 0),
            SD_BUS_VTABLE_END,
        };
        if (sd_bus_new(&bus_) < 0 || sd_bus_set_address(bus_, address.c_str()) < 0 ||
            sd_bus_set_bus_client(bus_, 1) < 0 || sd_bus_start(bus_) < 0 ||
            sd_bus_add_object_vtable(bus_, nullptr, "/org/freedesktop/login1",
                                     "org.freedesktop.login1.Manager", kManager, this) < 0 ||
            sd_bus_request_name(bus_, "org.freedesktop.login1", 0) < 0) {
            return;
        }
        serving_ = true;
        thread_ = std::thread([this] {
            while (serving_) {
                if (sd_bus_process(bus_, nullptr) == 0) {
                    sd_bus_wait(bus_, 20'000);
                }
            }
        });
    }
    ~FakeLogin1() {
        serving_ = false;
        if (thread_.joinable()) {
            thread_.join();
        }
        sd_bus_flush_close_unref(bus_);
        for (const int kept : kept_) {
            ::close(kept);
        }
    }
    bool Serving() const { return serving_; }
    std::vector<std::string> Calls() {
        const std::lock_guard<std::mutex> guard(mutex_);
        return calls_;
    }
    // Whether the last lock handed out is still held; waits up to waitMs for a release.
    bool LastHeld(int waitMs = 0) {
        const std::lock_guard<std::mutex> guard(mutex_);
        if (kept_.empty()) {
            return false;
        }
        pollfd end{kept_.back(), 0, 0};
        return ::poll(&end, 1, waitMs) == 0;  // POLLHUP once no writer is left
    }

  private:
    static int Inhibit(sd_bus_message* call, void* self, sd_bus_error* /*error*/) {
        auto& login1 = *static_cast<FakeLogin1*>(self);
        const char *what = nullptr, *who = nullptr, *why = nullptr, *mode = nullptr;
        if (const int r = sd_bus_message_read(call, "ssss", &what, &who, &why, &mode); r < 0) {
            return r;
        }
        int ends[2] = {-1, -1};
        if (::pipe2(ends, O_CLOEXEC) < 0) {
            return -errno;
        }
        {
            const std::lock_guard<std::mutex> guard(login1.mutex_);
            login1.calls_.push_back(std::string(what) + "|" + who + "|" + why + "|" + mode);
            login1.kept_.push_back(ends[0]);
        }
        const int r = sd_bus_reply_method_return(call, "h", ends[1]);
        ::close(ends[1]);  // the reply carried a copy of its own
        return r;
    }

    sd_bus* bus_ = nullptr;
    std::atomic<bool> serving_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::vector<std::string> calls_;
    std::vector<int> kept_;
};

// Held from Hold to Release, once however often it is asked for, with the texts logind shows.
// That frmMain holds it through each run and stop is proven through the fakes in tests/core;
// the real-device runs hold it where there is no logind at all.
TEST(LogindKeepAwake, HoldsOneSleepLockUntilReleased) {
    PrivateBus bus;
    if (!bus.pid) {
        GTEST_SKIP() << "dbus-daemon could not be started";
    }
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address.c_str(), 1);
    FakeLogin1 login1(bus.address);
    ASSERT_TRUE(login1.Serving());
    LogindKeepAwake awake;
    for (int run = 0; run < 2; ++run) {
        awake.Hold();
        awake.Hold();
        EXPECT_TRUE(login1.LastHeld());
        awake.Release();
        EXPECT_FALSE(login1.LastHeld(5000)) << "still held after Release";
    }
    EXPECT_EQ(login1.Calls(),
              std::vector<std::string>(2, "sleep:idle|Velmaris|Drives are being imaged|block"));
    ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

}  // namespace
}  // namespace velmaris::platform
