#include "platform/windows/win32_power.h"

#include <windows.h>

#include <utility>

#include "platform/windows/utf8.h"
#include "platform/windows/win32_files.h"

namespace velmaris::platform {
namespace {

constexpr DWORD kPollEveryMs = 10;

std::optional<std::wstring> SystemShutdownProgram() {
    wchar_t folder[MAX_PATH + 1] = {};
    const UINT length = GetSystemDirectoryW(folder, static_cast<UINT>(std::size(folder)));
    if (length == 0 || length >= std::size(folder)) {
        return std::nullopt;
    }
    return std::wstring(folder, length) + L"\\shutdown.exe";
}

}  // namespace

Win32Power::Win32Power(std::optional<std::string> program, std::string startArguments,
                       std::string abortArguments)
    : program_(std::move(program)),
      startArguments_(std::move(startArguments)),
      abortArguments_(std::move(abortArguments)) {}

std::optional<std::string> Win32Power::StartShutdown(const std::function<void()>& whileWaiting) {
    return Run(startArguments_, whileWaiting);
}

std::optional<std::string> Win32Power::AbortShutdown(const std::function<void()>& whileWaiting) {
    return Run(abortArguments_, whileWaiting);
}

std::optional<std::string> Win32Power::Run(const std::string& arguments,
                                           const std::function<void()>& whileWaiting) const {
    const std::optional<std::wstring> program =
        program_ ? Wide(*program_) : SystemShutdownProgram();
    const std::optional<std::wstring> wideArguments = Wide(arguments);
    if (!program || program->empty() || !wideArguments) {
        return "The shutdown program could not be found.";
    }
    const std::string name = Utf8(*program);
    // CreateProcessW may write into the command line: it must be a buffer of our own.
    std::wstring commandLine = L"\"" + *program + L"\" " + *wideArguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNOACTIVATE;  // a normal window that does not take the focus
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program->c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process)) {
        return name + " could not be run: " + SystemErrorText(GetLastError());
    }
    CloseHandle(process.hThread);
    DWORD waited = WAIT_TIMEOUT;
    while ((waited = WaitForSingleObject(process.hProcess, kPollEveryMs)) == WAIT_TIMEOUT) {
        whileWaiting();
    }
    DWORD code = 0;
    const bool known = waited == WAIT_OBJECT_0 && GetExitCodeProcess(process.hProcess, &code);
    const DWORD lastError = GetLastError();
    CloseHandle(process.hProcess);
    if (!known) {
        return name + " could not be waited for: " + SystemErrorText(lastError);
    }
    if (code == 0) {
        return std::nullopt;
    }
    // shutdown.exe ends with a system error code, such as 1190 when a shutdown is already
    // scheduled or 1116 when there is none to abort.
    return name + " ended with code " + std::to_string(code) + ": " + SystemErrorText(code);
}

}  // namespace velmaris::platform
