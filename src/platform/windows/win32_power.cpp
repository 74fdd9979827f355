#include "platform/windows/win32_power.h"

#include <windows.h>

#include <utility>

#include "platform/windows/utf8.h"

namespace velmaris::platform {
namespace {

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

bool Win32Power::StartShutdown() {
    return Launch(startArguments_);
}

bool Win32Power::AbortShutdown() {
    return Launch(abortArguments_);
}

bool Win32Power::Launch(const std::string& arguments) const {
    const std::optional<std::wstring> program =
        program_ ? Wide(*program_) : SystemShutdownProgram();
    const std::optional<std::wstring> wideArguments = Wide(arguments);
    if (!program || program->empty() || !wideArguments) {
        return false;
    }
    // CreateProcessW may write into the command line: it must be a buffer of our own.
    std::wstring commandLine = L"\"" + *program + L"\" " + *wideArguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNOACTIVATE;  // a normal window that does not take the focus
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program->c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process)) {
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

}  // namespace velmaris::platform
