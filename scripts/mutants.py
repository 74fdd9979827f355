#!/usr/bin/env python3
"""Proves the tests: applies plausible faults one at a time to a copy of the tree, rebuilds and
runs the tests that can see each, and tells which faults no test caught.

Run through scripts/mutants.sh, which sets up Wine for the mutants in Windows-only code.
"""

import argparse
import json
import os
import re
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent

# (file, exact old text, new text, what the fault is). Each old text occurs exactly once.
MUTANTS = [
    # discovery
    ("src/discovery/capacity.cpp",
     "const std::uint64_t tenths = (magnitude + 500) / 1000;",
     "const std::uint64_t tenths = (magnitude + 499) / 1000;",
     "capacity: a half tenth rounded down"),
    ("src/discovery/system_drives.cpp",
     "return !systemDrives.empty() && systemPhysicalDrives.empty();",
     "return !systemDrives.empty() || systemPhysicalDrives.empty();",
     "\"system drive not found\" when no system volume was looked for"),
    # jobs
    ("src/jobs/image_path.cpp",
     "if (number.size() < 3) {\n        number.insert(0, 3 - number.size(), '0');",
     "if (number.size() < 2) {\n        number.insert(0, 2 - number.size(), '0');",
     "image number padded to two digits (01.bin)"),
    ("src/jobs/image_path.cpp",
     "return folder + fileNamePart.substr(1);",
     "return folder + fileNamePart;",
     "image path keeps a doubled separator after the folder"),
    ("src/ui/frm_main.cpp",
     '{"Size", 55, true},',
     '{"Size", 55, false},',
     "the source drives listed without their sizes"),
    # imaging: the copy
    ("src/imaging/drive_copier.cpp",
     "outcome.write = slot_.ImageHandle->Write(current_.get(), blockSize);",
     "slot_.ImageHandle->Write(current_.get(), blockSize);\n"
     "        outcome.write = slot_.ImageHandle->Write(current_.get(), blockSize);",
     "block written twice"),
    ("src/imaging/drive_copier.cpp",
     "outcome.read = slot_.SourceHandle->Read(current_.get(), blockSize);",
     "outcome.read = slot_.SourceHandle->Read(current_.get(), blockSize);\n"
     "    if (written_ == 0 && outcome.read.bytes == blockSize) {\n"
     "        outcome.read = slot_.SourceHandle->Read(current_.get(), blockSize);\n"
     "    }",
     "block skipped: the first block read is dropped and the next one written"),
    ("src/imaging/hash_lane.cpp",
     "hash_.Update(buffer.get(), size);",
     "hash_.Update(buffer.get(), size / 2);",
     "hash: a block handed to the hash's thread only half hashed"),
    ("src/imaging/drive_copier.cpp",
     "return stop_ || outcomes_.size() < kPassLead;",
     "return stop_ || outcomes_.size() < kPassLead * 8;",
     "pipeline: a fast drive runs unbounded ahead of a slow one"),
    # imaging: the verification
    ("src/imaging/drive_verifier.cpp",
     "copied_.Contains(number) || result_.unreadable.Contains(number)",
     "result_.unreadable.Contains(number)",
     "verification: a sector unreadable when copied counted as a difference"),
    ("src/imaging/drive_verifier.cpp",
     "const std::uint64_t unit = std::max<std::uint32_t>(drive_->SectorSize(), 1);",
     "const std::uint64_t unit = sectorSize_;",
     "verification: sectors unreadable when read again in larger units counted in the copy's"),
    ("src/imaging/verification_result.cpp",
     "if (v.imageSha256 && *v.imageSha256 != copyHash) {",
     "if (v.imageSha256 && v.imageSha256->empty()) {",
     "verification: the image read back never compared with the hash taken while copying"),
    ("src/imaging/drive_verifier.cpp",
     "finished_ = whole || !result_.failure.empty();",
     "finished_ = true;",
     "verification: a stop during verification reported as verified"),
    ("src/imaging/verify_engine.cpp",
     "} else if (drive.handle->Identity() != slot.SourceHandle->Identity()) {",
     "} else if (false) {",
     "verification: another medium at the drive's number verified in its place"),
    ("src/platform/linux/linux_storage.cpp",
     "int fd = ::open(path, flags | O_DIRECT);",
     "int fd = ::open(path, flags);",
     "verification: the drive read again through the page cache, which still holds the copy"),
    ("src/imaging/copy_engine.cpp",
     "slots_[k].bytesCopied = pipelines_[k]->Written();",
     "",
     "after a stop the record states the passes applied, not the bytes the image holds"),
    ("src/platform/contract_raw_drive.h",
     "if (size > length_ - position_) {\n            return {};",
     "if (size >= length_ - position_) {\n            return {};",
     "tail sector dropped: the read that ends at the drive's end is refused"),
    ("src/imaging/unreadable_sectors.cpp",
     "std::fill(piece, piece + unit, std::byte{0});",
     "",
     "unreadable sector not zeroed in the image"),
    ("src/imaging/unreadable_sectors.cpp",
     "unreadable.Note((offset + at) / std::max<std::size_t>(sector, 1));",
     "unreadable.Note(offset / std::max<std::size_t>(sector, 1));",
     "unreadable sector listed at the start of its block"),
    # imaging: what the window shows
    ("src/imaging/completion.cpp",
     "case SlotState::WriteError:\n            return \"Write Error ...\";",
     "case SlotState::WriteError:\n            return \"Read Error ...\";",
     "status: a write error ends as \"Read Error ...\""),
    ("src/imaging/completion.cpp",
     ": allDone ? \"Process Complete\"",
     ": allDone || !recordFailures.empty() ? \"Process Complete\"",
     "status bar: \"Process Complete\" although a record could not be written"),
    ("src/imaging/progress.cpp",
     "return std::fabs(x - std::trunc(x)) == 0.5 ? 2.0 * std::round(x / 2.0) : rounded;",
     "return rounded;",
     "progress: a half rounded away from zero, not to even"),
    ("src/imaging/copy_engine.cpp",
     "if (passCount <= ctx.ProgressMax) {",
     "if (passCount <= ctx.ProgressMax + 1) {",
     "progress value one past the maximum"),
    ("src/ui/frm_main.cpp",
     "window_.SetCaption(Control::Label7, *texts.remaining);",
     "window_.SetCaption(Control::Label12, *texts.remaining);",
     "progress: the time remaining shown where the time elapsed belongs"),
    ("src/ui/frm_main.cpp",
     "Run.VerifyingDrives > 0 ? Run.VerifyingDrives : iGrid2.RowCount()",
     "iGrid2.RowCount()",
     "progress: the speed while verifying counts every row, not the drives being verified"),
    ("src/imaging/completion.cpp",
     "if (allDone && !stopped && ctx.window.IsChecked(Control::Check1)) {",
     "if (!stopped && ctx.window.IsChecked(Control::Check1)) {",
     "shutdown started after an error"),
    # imaging: the checks before a run
    ("src/imaging/preflight.cpp",
     "for (const std::string& path : FilesOf(slot)) {\n            if (!ConfirmOverwrite(",
     "for (const std::string& path : {RecordPath(slot.ImagePath)}) {\n"
     "            if (!ConfirmOverwrite(",
     "overwrite question skipped for an existing image"),
    ("src/imaging/preflight.cpp",
     "for (const std::string& path : FilesOf(slot)) {\n            if (!ConfirmOverwrite(",
     "for (const std::string& path : {slot.ImagePath}) {\n            if (!ConfirmOverwrite(",
     "overwrite question skipped for an existing record"),
    ("src/imaging/preflight.cpp",
     "if (!seen.insert(*key.key).second) {",
     "if (!seen.insert(path).second) {",
     "same-file check compares the path's spelling, not the file's key"),
    ("src/imaging/preflight.cpp",
     "if (ctx.services.storage.KindOf(path) == platform::PathKind::Other) {",
     "if (ctx.services.storage.KindOf(path) == platform::PathKind::Other && false) {",
     "a path that is not a regular file let through the checks"),
    ("src/imaging/preflight.cpp",
     "if (!drives.empty()) {",
     "if (false) {",
     "file-behind-a-drive refusal skipped"),
    ("src/imaging/preflight.cpp",
     "if (sources.contains(drive)) {",
     "if (sources.contains(drive + 1)) {",
     "target-on-source check compares the wrong drive number"),
    ("src/imaging/preflight.cpp",
     "drive.handle->Identity() != listed->second.identity) {",
     "drive.handle->Identity().empty()) {",
     "drive identity check skipped: any identity passes"),
    # Linux
    ("src/platform/linux/linux_storage.cpp",
     ": ::open(node->c_str(), O_RDONLY | O_CLOEXEC));",
     ": ::open(node->c_str(), O_RDWR | O_CLOEXEC));",
     "Linux: source opened with write access (O_RDWR)"),
    ("src/platform/linux/linux_storage.cpp",
     "if (::fsync(fd) != 0) {",
     "if (false) {",
     "Linux: image closed without fsync"),
    ("src/platform/linux/linux_storage.cpp",
     "::fchmod(fd.Get(), 0600) != 0",
     "::fchmod(fd.Get(), 0644) != 0",
     "Linux: image left readable by others (0644)"),
    ("src/platform/linux/linux_storage.cpp",
     "if (!resolved || ::stat(resolved->c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||",
     "if (!resolved || ::stat(resolved->c_str(), &info) != 0 ||",
     "Linux: a FIFO or folder taken for a regular file"),
    ("src/platform/linux/linux_storage.cpp",
     "std::to_string(minor(info.st_dev)) + \":\" + std::to_string(info.st_ino);\n}",
     "std::to_string(minor(info.st_dev)) + \":\" + std::to_string(info.st_nlink);\n}",
     "Linux: file key built from the link count instead of the inode"),
    ("src/platform/linux/linux_storage.cpp",
     "key += \"/\" + FoldedCase(name);",
     "key += \"/\" + name;",
     "Linux: names below a case-blind folder keyed with their case"),
    ("src/platform/linux/sysfs_disk_catalog.cpp",
     "record.identity = linux_block::DiskIdentity(base, fd);",
     "record.identity = {};",
     "Linux: disks listed without identity, so a swapped disk is not noticed"),
    ("src/platform/linux/block_devices.cpp",
     "if (entry->fsType == \"overlay\") {",
     "if (false) {",
     "Linux: an overlay's upper folder not followed, so a target over a source is not seen"),
    ("src/platform/linux/block_devices.cpp",
     "if (entry->fsType == \"btrfs\") {",
     "if (false) {",
     "Linux: only the btrfs device the mount names, so a target over its other one is not seen"),
    ("src/platform/linux/block_devices.cpp",
     "entry->fsType != \"btrfs\")) {",
     "true)) {",
     "Linux: a btrfs subvolume's own device number not found in the mount table"),
    ("src/platform/linux/block_devices.cpp",
     "if (upper && (upper->empty() || upper->front() != '/')) {",
     "if (false) {",
     "Linux: an overlay's relative upper folder looked for where this program runs"),
    ("src/platform/linux/block_devices.cpp",
     "holder / \"slaves\"",
     "holder / \"none\"",
     "Linux: device-mapper and md slaves not followed, so a target on LVM over a source is not seen"),
    ("src/platform/linux/monotonic_clock.cpp",
     "duration_cast<std::chrono::milliseconds>(",
     "duration_cast<std::chrono::microseconds>(",
     "Linux: the clock counts microseconds, so times and speeds are a thousandfold off"),
    ("src/platform/linux/logind_keep_awake.cpp",
     '"block") >= 0 &&',
     '"delay") >= 0 &&',
     "Linux: the sleep lock taken in delay mode, which lets the machine sleep during a run"),
    # Windows
    ("src/platform/windows/win32_storage.cpp",
     r'if (p.starts_with(L"\\\\.\\") || p.starts_with(L"\\??\\")) {',
     r'if (p.starts_with(L"\\??\\")) {',
     "Windows: a \\\\.\\ device path let through as a file"),
    ("src/platform/windows/win32_identity.cpp",
     "for (auto byte = id.rbegin(); byte != id.rend(); ++byte) {",
     "for (auto byte = id.rbegin(); byte != id.rbegin(); ++byte) {",
     "Windows: file key leaves out the file id (one key per volume)"),
    ("src/platform/windows/wmi_disk_catalog.cpp",
     'record.size = text(L"Size", NumberTextOf);',
     'record.size = text(L"TotalSectors", NumberTextOf);',
     "Windows: a disk's size read from TotalSectors, not Size"),
    ("src/platform/windows/win32_raw_drive.cpp",
     "static_cast<std::size_t>(std::min<std::uint64_t>(size, Length() - offset));",
     "static_cast<std::size_t>(size);",
     "Windows: a file ending inside its last sector fails its tail read"),
    ("src/platform/windows/win32_window.cpp",
     "WS_EX_CONTROLPARENT);",
     "0);",
     "Windows: frames not control parents, so Tab never reaches the controls inside them"),
    ("src/platform/windows/win32_grid_window.cpp",
     "draw.clrTextBk = model_->CellBackColor(row, shown_[sub].col);",
     "draw.clrTextBk = model_->CellForeColor(row, shown_[sub].col);",
     "Windows: a cell's text colour drawn as its background (a system drive's row)"),
    ("src/platform/windows/win32_grid_window.cpp",
     "model_->HasOwnColors(row, shown_[sub].col)) {",
     "model_->HasOwnColors(row, static_cast<int>(sub) + 1)) {",
     "Windows: cell colours looked up by the view's column, not the model's, past a hidden one"),
    ("src/platform/windows/win32_grid_window.cpp",
     "return DLGC_WANTALLKEYS | DefSubclassProc(hwnd, message, wParam, lParam);",
     "return DefSubclassProc(hwnd, message, wParam, lParam);",
     "Windows: Enter in a cell's editor taken by the dialog manager, so the edit never ends"),
]

# Not in the list, as they change nothing observable:
# - the 0600 of the image's open() made 0644: the fchmod to 0600 right after decides the mode.
# Not in the list, as Wine cannot show them (a real Windows machine can):
# - a source opened with GENERIC_WRITE: Wine lets root open a read-only file for writing.
# - FlushFileBuffers left out: Wine's flush reaches no device statistics the tests can read.
# - an access list letting everyone in: Wine reads access lists back from Unix modes.

# Each preset builds only the test targets that can see a fault in the given code, and runs the
# tests of the executables named. The linux preset adds only the Qt tests to the core preset's:
# the core and real-device tests are the same code built the same way in both.
PRESETS = {
    "core": ["core_tests", "velmaris_real_tests"],
    "linux": ["qt_tests"],
    "windows-x64": ["windows_tests", "win32_tests"],
}


def presets_for(path):
    return ["windows-x64"] if path.startswith("src/platform/windows/") else ["core", "linux"]


def log(text):
    print(text, flush=True)


def sync_tree(tree):
    """The worktree's tracked files, as they are on disk, into the copy; unchanged files keep
    their times so that the builds stay incremental."""
    listed = subprocess.run(["git", "ls-files", "-z"], cwd=ROOT, check=True,
                            capture_output=True).stdout.decode().split("\0")
    tracked = {name for name in listed if name and (ROOT / name).is_file()}
    for name in tracked:
        data = (ROOT / name).read_bytes()
        target = tree / name
        if target.is_file() and target.read_bytes() == data:
            continue
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(data)
        target.chmod((ROOT / name).stat().st_mode & 0o777)
    for path in tree.rglob("*"):
        rel = path.relative_to(tree).as_posix()
        if path.is_file() and not rel.startswith("build/") and rel not in tracked:
            path.unlink()


def run(cmd, cwd, logfile, env=None):
    with open(logfile, "a") as out:
        out.write("$ " + " ".join(cmd) + "\n")
        out.flush()
        return subprocess.run(cmd, cwd=cwd, stdout=out, stderr=subprocess.STDOUT,
                              env=env).returncode


def configure(tree, preset, logfile):
    if (tree / "build" / preset / "CMakeCache.txt").is_file():
        return True
    return run(["cmake", "--preset", preset, "-DVELMARIS_TESTS=ON"], tree, logfile) == 0


def build(tree, preset, logfile):
    cmd = ["cmake", "--build", "--preset", preset, "-j2", "--target"] + PRESETS[preset]
    return run(cmd, tree, logfile) == 0


def test_names(tree, preset, logfile):
    """A selection of the preset's tests that run one of its executables: "" for all of them,
    None when there are none."""
    listing = subprocess.run(["ctest", "--preset", preset, "--show-only=json-v1"], cwd=tree,
                             capture_output=True, text=True)
    if listing.returncode != 0:
        with open(logfile, "a") as out:
            out.write(listing.stdout + listing.stderr)
        return None
    names, others = [], []
    for test in json.loads(listing.stdout)["tests"]:
        command = [Path(part).stem for part in test.get("command", [])]
        (names if any(part in PRESETS[preset] for part in command) else others).append(
            test["name"])
    if not names:
        return None
    return selection(names, others) if others else ""


def selection(names, others):
    """A ctest regular expression for the tests named: by their suites where no other test
    shares one, else name by name."""
    suites = {n.split(".")[0] for n in names}
    if any(o.split(".")[0] in suites for o in others):
        suites = set(names)
    quoted = sorted(re.sub(r"([][.*+?^$()|\\])", r"\\\1", s) for s in suites)
    return "^(" + "|".join(quoted) + ")(\\.|$)"


def run_tests(tree, preset, selected, logfile, timeout):
    """True when every test passed; the failed tests' names otherwise."""
    cmd = ["ctest", "--preset", preset, "-j2", "--stop-on-failure", "--timeout", str(timeout)]
    if selected:
        cmd += ["-R", selected]
    start = os.path.getsize(logfile) if os.path.exists(logfile) else 0
    if run(cmd, tree, logfile) == 0:
        return True
    with open(logfile) as f:
        f.seek(start)
        text = f.read()
    failed = re.findall(r"^\s*\d+ - (\S+) \((?:Failed|Timeout|SEGFAULT|Subprocess aborted|"
                        r"Child aborted|Exception|Not Run|[^)]*)\)", text, re.M)
    return failed or ["(ctest failed)"]


def check(tree, presets, names, logfile, timeout):
    """None when the tests pass; otherwise how the code was caught."""
    for preset in presets:
        if not configure(tree, preset, logfile):
            return "killed (configure)", preset
        if not build(tree, preset, logfile):
            return "killed (build)", preset
        if preset not in names:
            names[preset] = test_names(tree, preset, logfile)
        if names[preset] is None:
            return "no tests", preset
        result = run_tests(tree, preset, names[preset], logfile, timeout)
        if result is not True:
            return "killed", preset + ": " + ", ".join(result[:3])
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--dir", default=os.environ.get(
        "VELMARIS_MUTANTS_DIR", os.path.join(os.environ.get("TMPDIR", "/tmp"),
                                             "velmaris-mutants")),
        help="scratch folder for the copy and its builds, reused between runs")
    parser.add_argument("--only", help="run only the mutants whose file or description matches")
    parser.add_argument("--needs-wine", action="store_true",
                        help="print whether the selected mutants include Windows-only code")
    parser.add_argument("--no-baseline", action="store_true",
                        help="skip the run of the unchanged tree")
    parser.add_argument("--timeout", type=int, default=300, help="seconds per test")
    args = parser.parse_args()

    # Numbered as in the list, whatever --only picks.
    selected = [(n, *m) for n, m in enumerate(MUTANTS, 1)
                if not args.only or re.search(args.only, m[0] + " " + m[3])]
    if args.needs_wine:
        print("yes" if any("windows-x64" in presets_for(m[1]) for m in selected) else "no")
        return 0

    scratch = Path(args.dir)
    tree = scratch / "tree"
    logs = scratch / "logs"
    tree.mkdir(parents=True, exist_ok=True)
    logs.mkdir(exist_ok=True)
    for old in logs.glob("*.log"):
        old.unlink()
    sync_tree(tree)

    names = {}
    started = time.monotonic()
    needed = []
    for m in selected:
        needed += [p for p in presets_for(m[1]) if p not in needed]
    if not args.no_baseline:
        baseline = check(tree, needed, names, logs / "baseline.log", args.timeout)
        if baseline:
            log(f"the unchanged tree does not pass: {baseline[0]} in {baseline[1]}; "
                f"see {logs / 'baseline.log'}")
            return 2
        log(f"baseline passes ({time.monotonic() - started:.0f} s)")

    killed = 0
    failed = False
    for number, path, old, new, description in selected:
        source = tree / path
        original = source.read_text()
        if original.count(old) != 1:
            log(f"BROKEN    {number:2} {description}: old text found "
                f"{original.count(old)} times in {path}")
            failed = True
            continue
        logfile = logs / f"{number:02}.log"
        began = time.monotonic()
        source.write_text(original.replace(old, new))
        try:
            outcome = check(tree, presets_for(path), names, logfile, args.timeout)
        finally:
            source.write_text(original)  # a newer time: the next build compiles it again
        took = time.monotonic() - began
        if outcome and outcome[0].startswith("killed"):
            killed += 1
            log(f"{outcome[0]:<15} {number:2} {description}  [{outcome[1]}; {took:.0f} s]")
        else:
            failed = True
            why = f" ({outcome[0]} in {outcome[1]})" if outcome else ""
            log(f"{'SURVIVED':<15} {number:2} {description}{why}  [{took:.0f} s]")
    log(f"time: {time.monotonic() - started:.0f} s")
    log(f"mutants killed: {killed} of {len(selected)}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
