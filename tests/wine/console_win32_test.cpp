// The console's Windows host against Windows itself (Wine): the update lock between processes,
// the output that never holds up the main thread, the safe replacement of a file, and the
// keyboard read on its own thread.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <utility>

#include "link/win32/update_lock.hpp"
#include "ui/console/cli/platform.hpp"
#include "ui/console/session/console_operator.hpp"
#include "ui/console/session/queued_trace.hpp"
#include "ui/console/win32/keyboard.hpp"
#include "ui/console/win32/output.hpp"
#include "ui/console/win32/text.hpp"
#include "ui/console/win32/win32_link.hpp"

namespace fwburn::console {
namespace {

using Clock = std::chrono::steady_clock;

std::string Beside(const char* name) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path);
    return dir.substr(0, dir.find_last_of("\\/") + 1) + name;
}

// Another process holding (or trying to hold) the update lock.
class Holder {
  public:
    Holder(const char* mode, const std::string& identity) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE childIn = nullptr;
        HANDLE childOut = nullptr;
        CreatePipe(&childIn, &in_, &inherit, 0);
        CreatePipe(&out_, &childOut, &inherit, 0);
        SetHandleInformation(in_, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(out_, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOA si{};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = childIn;
        si.hStdOutput = childOut;
        si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        std::string command =
            "\"" + Beside("fwburn-wine-lockhold.exe") + "\" " + mode + " \"" + identity + "\"";
        started_ = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                  nullptr, &si, &process_) != 0;
        CloseHandle(childIn);
        CloseHandle(childOut);
    }
    ~Holder() {
        if (started_) {
            TerminateProcess(process_.hProcess, 9);
            CloseHandle(process_.hProcess);
            CloseHandle(process_.hThread);
        }
        CloseHandle(in_);
        CloseHandle(out_);
    }
    std::string Line() {
        std::string line;
        char c = 0;
        DWORD got = 0;
        while (ReadFile(out_, &c, 1, &got, nullptr) && got == 1 && c != '\n') {
            if (c != '\r') {
                line += c;
            }
        }
        return line;
    }
    void Release() {
        DWORD put = 0;
        WriteFile(in_, "\n", 1, &put, nullptr);
        EXPECT_EQ(Line(), "released");
        WaitForSingleObject(process_.hProcess, 10000);
    }
    void Kill() {
        TerminateProcess(process_.hProcess, 9);
        WaitForSingleObject(process_.hProcess, 10000);
    }
    DWORD pid() const { return process_.dwProcessId; }
    bool started() const { return started_; }

  private:
    HANDLE in_ = nullptr;
    HANDLE out_ = nullptr;
    PROCESS_INFORMATION process_{};
    bool started_ = false;
};

using Mode = UpdateLock::Mode;
using Status = UpdateLock::Status;

TEST(UpdateLock, AnotherProcessHoldingAPortKeepsEveryTakerOutAndIsNamed) {
    Holder holder("exclusive", "COM77");
    ASSERT_TRUE(holder.started());
    ASSERT_EQ(holder.Line(), "held");
    UpdateLock lock;
    EXPECT_EQ(lock.Take({"com77"}, Mode::kExclusive), Status::kBusy);
    EXPECT_EQ(lock.busyIdentity(), "com77");
    EXPECT_EQ(lock.holderProcess(), holder.pid());
    EXPECT_EQ(lock.holderProgram(), "fwburn-wine-lockhold.exe");
    EXPECT_EQ(lock.Refusal("COM77"),
              "COM77: in use by another fwburn program (process " + std::to_string(holder.pid()) +
                  ", fwburn-wine-lockhold.exe; lock Global\\fwburn-update-COM77)");
    EXPECT_EQ(lock.Take({"COM77"}, Mode::kShared), Status::kBusy);
    holder.Release();
    EXPECT_EQ(lock.Take({"COM77"}, Mode::kExclusive), Status::kHeld);
}

TEST(UpdateLock, SharedHoldersShareTheLinkAndKeepAnExclusiveOut) {
    Holder a("shared", "usb-3b9e-0001");
    Holder b("shared", "usb-3b9e-0001");
    ASSERT_EQ(a.Line(), "held");
    ASSERT_EQ(b.Line(), "held");
    UpdateLock lock;
    EXPECT_EQ(lock.Take({"usb-3b9e-0001"}, Mode::kExclusive), Status::kBusy);
    EXPECT_TRUE(lock.holderProcess() == a.pid() || lock.holderProcess() == b.pid());
    EXPECT_EQ(lock.Take({"usb-3b9e-0001"}, Mode::kShared), Status::kHeld);
    lock.Release();
    a.Release();
    EXPECT_EQ(lock.Take({"usb-3b9e-0001"}, Mode::kExclusive), Status::kBusy);
    b.Release();
    ASSERT_EQ(lock.Take({"usb-3b9e-0001"}, Mode::kExclusive), Status::kHeld);
    // Held alone here: a shared taker elsewhere is refused, and told who holds it.
    Holder c("shared", "usb-3b9e-0001");
    EXPECT_EQ(c.Line(),
              "busy " + std::to_string(GetCurrentProcessId()) + " fwburn_win32_console_tests.exe");
}

TEST(UpdateLock, AHolderThatEndsWithoutReleasingLeavesItFree) {
    Holder holder("exclusive", "COM78");
    ASSERT_EQ(holder.Line(), "held");
    // Another updater has the mutex open meanwhile: it outlives its holder, abandoned.
    const HANDLE seen = OpenMutexW(SYNCHRONIZE, FALSE, L"Global\\fwburn-update-COM78");
    ASSERT_NE(seen, nullptr);
    holder.Kill();
    UpdateLock lock;
    EXPECT_EQ(lock.Take({"COM78"}, Mode::kExclusive), Status::kHeld);
    CloseHandle(seen);
}

TEST(UpdateLock, AllOrNone) {
    Holder holder("exclusive", "COM80");
    ASSERT_EQ(holder.Line(), "held");
    UpdateLock lock;
    EXPECT_EQ(lock.Take({"COM79", "COM80"}, Mode::kExclusive), Status::kBusy);
    EXPECT_EQ(lock.busyIdentity(), "COM80");
    Holder other("exclusive", "COM79");  // COM79 was let go again
    EXPECT_EQ(other.Line(), "held");
}

// This thread would take its own mutexes again at once: the process's own list refuses what
// another process would be refused, until the last holder here lets go.
TEST(UpdateLock, ASecondTakeInThisProcessIsRefusedToo) {
    const struct {
        Mode first, second;
        Status status;
    } cases[] = {
        {Mode::kExclusive, Mode::kExclusive, Status::kBusy},
        {Mode::kExclusive, Mode::kShared, Status::kBusy},
        {Mode::kShared, Mode::kExclusive, Status::kBusy},
        {Mode::kShared, Mode::kShared, Status::kHeld},
    };
    for (const auto& c : cases) {
        UpdateLock first;
        UpdateLock second;
        ASSERT_EQ(first.Take({"COM81"}, c.first), Status::kHeld);
        EXPECT_EQ(second.Take({"COM81"}, c.second), c.status);
        if (c.status == Status::kBusy) {
            EXPECT_EQ(second.holderProcess(), GetCurrentProcessId());
        }
        first.Release();
        second.Release();
        EXPECT_EQ(second.Take({"COM81"}, Mode::kExclusive), Status::kHeld);
    }
    UpdateLock a;
    UpdateLock b;
    UpdateLock alone;
    ASSERT_EQ(a.Take({"COM81"}, Mode::kShared), Status::kHeld);
    ASSERT_EQ(b.Take({"COM81"}, Mode::kShared), Status::kHeld);
    a.Release();
    EXPECT_EQ(alone.Take({"COM81"}, Mode::kExclusive), Status::kBusy);
    b.Release();
    EXPECT_EQ(alone.Take({"COM81"}, Mode::kExclusive), Status::kHeld);
}

// A pipe whose far end the test reads on a thread of its own.
struct Reader {
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    std::string got;
    std::thread thread;

    explicit Reader(DWORD size = 0) { CreatePipe(&read, &write, nullptr, size); }
    void Start() {
        thread = std::thread([this] {
            char buffer[4096];
            DWORD n = 0;
            while (ReadFile(read, buffer, sizeof buffer, &n, nullptr) && n > 0) {
                got.append(buffer, n);
            }
        });
    }
    // After the write end was closed: the reader takes what the pipe still holds, up to its end.
    std::string Finish() {
        thread.join();
        CloseHandle(read);
        return got;
    }
};

TEST(ConsoleOutput, EachStreamReachesItsOwnPipeWhole) {
    Reader out;
    Reader err;
    out.Start();
    err.Start();
    {
        ConsoleOutput output(out.write, err.write);
        for (int i = 0; i < 100; ++i) {
            std::fprintf(output.out(), "out %d\n", i);
            std::fflush(output.out());
            std::fprintf(output.err(), "err %d \xC3\xA9\n", i);  // UTF-8 as it is, to a pipe
            std::fflush(output.err());
        }
        // A question waits for its answer on the line it asks: the drain waits for it too.
        std::fputs("Go on? ", output.out());
        ASSERT_TRUE(output.DrainUntil(Clock::now() + std::chrono::seconds(10)));
        EXPECT_TRUE(output.Idle());
        EXPECT_FALSE(output.BrokenPipe());
    }
    CloseHandle(out.write);
    CloseHandle(err.write);
    std::string wantOut;
    std::string wantErr;
    for (int i = 0; i < 100; ++i) {
        wantOut += "out " + std::to_string(i) + "\n";
        wantErr += "err " + std::to_string(i) + " \xC3\xA9\n";
    }
    wantOut += "Go on? ";
    EXPECT_EQ(out.Finish(), wantOut);
    EXPECT_EQ(err.Finish(), wantErr);
}

// Empties `dir` (ending in a separator) and the folders in it.
void Empty(const std::string& dir) {
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA((dir + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..") {
            continue;
        }
        const std::string path = dir + name;
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            Empty(path + "\\");
            RemoveDirectoryA(path.c_str());
        } else {
            DeleteFileA(path.c_str());
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

// Wine gives a process the number an earlier run had: what a failed run left there is gone.
std::string TempFolder(const char* name) {
    char base[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, base);
    const std::string dir =
        std::string(base) + name + "-" + std::to_string(GetCurrentProcessId()) + "\\";
    Empty(dir);
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

std::string Contents(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

// Lines written in turn to stdout and stderr, the text they make in that order.
std::string TakeTurns(HANDLE out, HANDLE err) {
    std::string want;
    ConsoleOutput output(out, err);
    for (int i = 0; i < 200; ++i) {
        std::FILE* f = i % 2 == 0 ? output.out() : output.err();
        std::fprintf(f, "line %d\n", i);
        std::fflush(f);
        want += "line " + std::to_string(i) + "\n";
    }
    EXPECT_TRUE(output.DrainUntil(Clock::now() + std::chrono::seconds(10)));
    return want;
}

// Two handles of one destination (`>log 2>&1`, `2>&1 | tee log`) share a writer, which keeps the
// lines in the order they were written.
TEST(ConsoleOutput, StdoutAndStderrOnOneDestinationKeepTheirOrder) {
    const std::string path = TempFolder("fwburn-output") + "both.txt";
    HANDLE out = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, CREATE_ALWAYS, 0, nullptr);
    HANDLE err = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(out, INVALID_HANDLE_VALUE);
    ASSERT_NE(err, INVALID_HANDLE_VALUE);
    std::string want = TakeTurns(out, err);
    CloseHandle(out);
    CloseHandle(err);
    EXPECT_EQ(Contents(path), want) << "one file";

    Reader pipe;
    HANDLE second = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), pipe.write, GetCurrentProcess(), &second, 0,
                                FALSE, DUPLICATE_SAME_ACCESS));
    pipe.Start();
    want = TakeTurns(pipe.write, second);
    CloseHandle(pipe.write);
    CloseHandle(second);
    EXPECT_EQ(pipe.Finish(), want) << "one pipe";
}

// A trace file that was there before holds this run's record alone, as after cmd's `>`.
TEST(ConsoleOutput, ATraceFileIsWrittenAnew) {
    const std::string path = TempFolder("fwburn-output") + "trace.txt";
    std::ofstream(path, std::ios::binary) << std::string(100, 'o');
    int error = -1;
    const std::shared_ptr<Destinations> trace = OpenTraceFile(path, error);
    ASSERT_NE(trace, nullptr);
    EXPECT_EQ(error, 0);
    size_t left = 0;
    EXPECT_EQ(trace->Write(0, 0, "new\n", left, [] {}), 0);
    trace->Release();
    EXPECT_EQ(Contents(path), "new\n");
}

// A device named as the trace is refused before it is opened (a comm port however named: the
// record would go down its line to a controller); a file whose name only looks like one is written.
TEST(ConsoleOutput, ACommPortIsNoTraceFile) {
    // (the name, refused)
    const std::string folder = TempFolder("fwburn-output");
    const std::pair<std::string, bool> cases[] = {{"\\\\.\\COM12", true},
                                                  {"//./com200", true},
                                                  {"COM7:", true},
                                                  {folder + "COM3.txt", true},
                                                  {"aux", true},
                                                  {"\\\\.\\PLC-ALIAS", true},
                                                  {"\\\\.\\C:", true},
                                                  {folder + "COM12.txt", false},
                                                  {folder + "company.log", false},
                                                  {"NUL", false}};
    for (const auto& [name, refused] : cases) {
        SCOPED_TRACE(name);
        int error = 0;
        const std::shared_ptr<Destinations> trace = OpenTraceFile(name, error);
        EXPECT_EQ(trace == nullptr, refused);
        EXPECT_EQ(error, refused ? kTraceOnALine : 0);
        if (trace != nullptr) {
            trace->Release();
        }
    }
}

// Two files on one disk are two destinations: each stream's lines go to its own.
TEST(ConsoleOutput, StdoutAndStderrInTwoFilesGoToTheirOwn) {
    const std::string dir = TempFolder("fwburn-output");
    HANDLE out = CreateFileA((dir + "out.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             CREATE_ALWAYS, 0, nullptr);
    HANDLE err = CreateFileA((dir + "err.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(out, INVALID_HANDLE_VALUE);
    ASSERT_NE(err, INVALID_HANDLE_VALUE);
    {
        ConsoleOutput output(out, err);
        std::fputs("to stdout\n", output.out());
        std::fflush(output.out());
        std::fputs("to stderr\n", output.err());
        std::fflush(output.err());
        ASSERT_TRUE(output.DrainUntil(Clock::now() + std::chrono::seconds(10)));
    }
    CloseHandle(out);
    CloseHandle(err);
    EXPECT_EQ(Contents(dir + "out.txt"), "to stdout\n");
    EXPECT_EQ(Contents(dir + "err.txt"), "to stderr\n");
}

TEST(ConsoleOutput, APipeNobodyReadsHoldsUpNothingAndKeepsTheNewest) {
    Reader stuck(4096);
    Reader err;
    err.Start();
    ConsoleOutput output(stuck.write, err.write, 64 * 1024);
    const std::string line(1000, 'x');
    const auto start = Clock::now();
    for (int i = 0; i < 2000; ++i) {  // 2 MB, far beyond every buffer
        // Each line in two writes, now and then with a pause between them that lets the pump
        // read the start alone.
        std::fputs(line.c_str(), output.out());
        std::fflush(output.out());
        if (i % 10 == 0) {
            Sleep(1);
        }
        std::fprintf(output.out(), " %d\n", i);
        std::fflush(output.out());
    }
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(20));
    EXPECT_FALSE(output.DrainUntil(Clock::now() + std::chrono::milliseconds(300)));
    EXPECT_FALSE(output.Idle());
    // Now read: the oldest lines were dropped, the last one comes.
    stuck.Start();
    ASSERT_TRUE(output.DrainUntil(Clock::now() + std::chrono::seconds(20)));
    CloseHandle(stuck.write);
    CloseHandle(err.write);
    const std::string got = stuck.Finish();
    EXPECT_LT(got.size(), 400u * 1024u);
    EXPECT_NE(got.find(line + " 1999\n"), std::string::npos);
    // What was dropped went in whole lines: none of those kept lacks its start.
    std::istringstream kept(got);
    for (std::string l; std::getline(kept, l);) {
        ASSERT_EQ(l.compare(0, line.size() + 1, line + " "), 0) << l.substr(0, 40);
    }
    err.Finish();
}

// A line that the pump posts in parts (longer than its pipe, then the rest once the pipe stayed
// empty for a poll) is kept whole while nobody reads: the parts already in the writer's hands are
// not left without the rest, however many lines come after.
TEST(ConsoleOutput, ALinePostedInPartsKeepsItsEnd) {
    Reader stuck(4096);
    Reader err;
    err.Start();
    ConsoleOutput output(stuck.write, err.write, 16 * 1024);
    const std::string start(200 * 1024, 's');
    std::fputs(start.c_str(), output.out());
    std::fflush(output.out());
    Sleep(200);
    std::fputs(" end\n", output.out());
    std::fflush(output.out());
    const std::string line(1000, 'x');
    for (int i = 0; i < 100; ++i) {
        std::fprintf(output.out(), "%s %d\n", line.c_str(), i);
        std::fflush(output.out());
    }
    EXPECT_FALSE(output.DrainUntil(Clock::now() + std::chrono::milliseconds(300)));
    stuck.Start();
    ASSERT_TRUE(output.DrainUntil(Clock::now() + std::chrono::seconds(20)));
    CloseHandle(stuck.write);
    CloseHandle(err.write);
    const std::string got = stuck.Finish();
    const size_t starts = got.find_first_not_of('s');
    ASSERT_EQ(got.compare(0, start.size() + 5, start + " end\n"), 0)
        << starts << " bytes of the start, then " << got.substr(std::min(starts, got.size()), 20);
    std::istringstream kept(got.substr(start.size() + 5));
    for (std::string l; std::getline(kept, l);) {
        ASSERT_EQ(l.compare(0, line.size() + 1, line + " "), 0) << l.substr(0, 40);
    }
    EXPECT_NE(got.find(line + " 99\n"), std::string::npos);
    err.Finish();
}

TEST(ConsoleOutput, AReaderThatLeftIsABrokenPipe) {
    Reader gone;
    Reader err;
    err.Start();
    CloseHandle(gone.read);
    gone.read = nullptr;
    ConsoleOutput output(gone.write, err.write);
    std::fputs("nobody reads this\n", output.out());
    std::fflush(output.out());
    ASSERT_EQ(WaitForSingleObject(output.wakeEvent(), 10000), WAIT_OBJECT_0);
    EXPECT_TRUE(output.BrokenPipe());
    CloseHandle(err.write);
    err.Finish();
}

// A pipe whose writing end another program set to PIPE_NOWAIT takes nothing while it is full,
// and says so as a write of no bytes: the lines wait for the reader, as on a blocking pipe.
TEST(ConsoleOutput, APipeSetNotToWaitLosesNothingWhileFull) {
    Reader out(4096);
    Reader err;
    err.Start();
    DWORD mode = PIPE_READMODE_BYTE | PIPE_NOWAIT;
    ASSERT_TRUE(SetNamedPipeHandleState(out.write, &mode, nullptr, nullptr));
    ConsoleOutput output(out.write, err.write);
    const std::string line(100, 'x');
    for (int i = 0; i < 200; ++i) {  // 20 kB, five times the pipe
        std::fprintf(output.out(), "%s %d\n", line.c_str(), i);
        std::fflush(output.out());
    }
    EXPECT_FALSE(output.DrainUntil(Clock::now() + std::chrono::milliseconds(300)));
    out.Start();
    ASSERT_TRUE(output.DrainUntil(Clock::now() + std::chrono::seconds(20)));
    EXPECT_EQ(output.WriteError(0), 0u);
    CloseHandle(out.write);
    CloseHandle(err.write);
    const std::string got = out.Finish();
    EXPECT_EQ(std::count(got.begin(), got.end(), '\n'), 200);
    EXPECT_NE(got.find(line + " 0\n"), std::string::npos);
    err.Finish();
}

TEST(WholeUtf8, ACharacterCutBetweenTwoPiecesWaits) {
    EXPECT_EQ(WholeUtf8("abc"), 3u);
    EXPECT_EQ(WholeUtf8("a\xC3\xA9"), 3u);
    EXPECT_EQ(WholeUtf8("a\xC3"), 1u);
    EXPECT_EQ(WholeUtf8("a\xE2\x82"), 1u);
    EXPECT_EQ(WholeUtf8("a\xE2\x82\xAC"), 4u);
    EXPECT_EQ(WholeUtf8("\xF0\x9F\x98"), 0u);
    EXPECT_EQ(WholeUtf8(""), 0u);
}

TEST(ReplaceFileSafely, WritesANewFileAndReplacesAnOldOneWhole) {
    const std::string dir = TempFolder("fwburn-replace");
    const std::string data(100000, 'i');
    std::string error;
    ASSERT_TRUE(ReplaceFileSafely(dir + "new.bin", reinterpret_cast<const uint8_t*>(data.data()),
                                  data.size(), error))
        << error;
    EXPECT_EQ(Contents(dir + "new.bin"), data);
    std::ofstream(dir + "old.bin") << "old";
    ASSERT_TRUE(ReplaceFileSafely(dir + "old.bin", reinterpret_cast<const uint8_t*>(data.data()),
                                  data.size(), error))
        << error;
    EXPECT_EQ(Contents(dir + "old.bin"), data);
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA((dir + ".fwburn-*").c_str(), &found);
    EXPECT_EQ(search, INVALID_HANDLE_VALUE) << "a temporary file stayed: " << found.cFileName;
}

// A file that cannot be put in the target's place (another program has the target open and
// does not share its removal) leaves the target as it was and no temporary file behind.
TEST(ReplaceFileSafely, AFailedReplacementLeavesNothingBehind) {
    const std::string dir = TempFolder("fwburn-held");
    std::ofstream(dir + "held.bin") << "old";
    const HANDLE held =
        CreateFileA((dir + "held.bin").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const uint8_t data[3] = {1, 2, 3};
    std::string error;
    EXPECT_FALSE(ReplaceFileSafely(dir + "held.bin", data, sizeof data, error));
    EXPECT_FALSE(error.empty());
    CloseHandle(held);
    EXPECT_EQ(Contents(dir + "held.bin"), "old");
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA((dir + ".fwburn-*").c_str(), &found);
    EXPECT_EQ(search, INVALID_HANDLE_VALUE) << "a temporary file stayed: " << found.cFileName;
}

// Windows drops the dots and spaces that end a name: the name said is the file written.
TEST(ReplaceFileSafely, TheNameSaidIsTheFileWritten) {
    const std::string dir = TempFolder("fwburn-name");
    const struct {
        std::string given, written;
    } cases[] = {
        {dir + "a.bin.", dir + "a.bin"}, {dir + "b.bin . .", dir + "b.bin"},
        {dir + "c.bin", dir + "c.bin"},  {"d.bin..", "d.bin"},
        {"C:e.bin.", "C:e.bin"},         {".\\f. .\\g.bin ", ".\\f. .\\g.bin"},
    };
    const uint8_t data[3] = {1, 2, 3};
    for (const auto& c : cases) {
        EXPECT_EQ(NameWrittenAs(c.given), c.written) << c.given;
    }
    std::string error;
    ASSERT_TRUE(ReplaceFileSafely(cases[0].given, data, sizeof data, error)) << error;
    EXPECT_EQ(Contents(cases[0].written), "\x01\x02\x03");
}

TEST(ReplaceFileSafely, RefusesDevicesFoldersAndReadOnlyFilesLeavingThemAsTheyWere) {
    const std::string dir = TempFolder("fwburn-refuse");
    std::ofstream(dir + "readonly.bin") << "keep";
    SetFileAttributesA((dir + "readonly.bin").c_str(), FILE_ATTRIBUTE_READONLY);
    CreateDirectoryA((dir + "folder").c_str(), nullptr);
    const uint8_t data[4] = {1, 2, 3, 4};
    const struct {
        std::string file;
        const char* why;
    } cases[] = {
        {"NUL", "a device"},
        {dir + "com1.txt", "a device"},
        {"\\\\.\\COM3", "a device"},
        {dir + "readonly.bin", "read-only"},
        {dir + "folder", "not a regular file"},
        {dir + "folder\\", "names a directory"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(ReplaceFileSafely(c.file, data, sizeof data, error)) << c.file;
        EXPECT_NE(error.find(c.why), std::string::npos) << c.file << ": " << error;
    }
    EXPECT_EQ(Contents(dir + "readonly.bin"), "keep");
}

// A keyboard reading a pipe of `size` bytes, its reading end in `wait` mode, as its standard
// input; the test writes `write`.
struct PipedKeyboard {
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    Keyboard keyboard;

    explicit PipedKeyboard(DWORD size, DWORD wait = PIPE_WAIT) {
        EXPECT_TRUE(CreatePipe(&read, &write, nullptr, size));
        DWORD mode = PIPE_READMODE_BYTE | wait;
        EXPECT_TRUE(SetNamedPipeHandleState(read, &mode, nullptr, nullptr));
        const HANDLE saved = GetStdHandle(STD_INPUT_HANDLE);
        SetStdHandle(STD_INPUT_HANDLE, read);
        keyboard.Start();
        SetStdHandle(STD_INPUT_HANDLE, saved);
    }
};

TEST(Keyboard, ReadsOneByteAtATimeUntilTheEndOfInput) {
    PipedKeyboard piped(0);
    const HANDLE write = piped.write;
    Keyboard& keyboard = piped.keyboard;
    DWORD put = 0;
    WriteFile(write, "n\r\n\n", 4, &put, nullptr);
    CloseHandle(write);
    AnswerInput input;
    std::vector<Answer> answers;
    for (int taken = 0; taken < 5;) {
        ASSERT_EQ(WaitForSingleObject(keyboard.ready(), 10000), WAIT_OBJECT_0);
        long n = 0;
        char c = 0;
        int error = 0;
        if (!keyboard.Take(n, c, error)) {
            continue;
        }
        ++taken;
        if (const std::optional<Answer> a = input.Take(n, c, error)) {
            answers.push_back(*a);
        }
    }
    // "n" and Enter cancels, an empty line goes on, the end of input cancels.
    EXPECT_EQ(answers, (std::vector<Answer>{Answer::Cancel, Answer::Ok, Answer::Cancel}));
    // Everything taken: the main loop's wait on it waits again, rather than spinning.
    EXPECT_EQ(WaitForSingleObject(keyboard.ready(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

// A pipe set not to wait says it is empty with an error: that is no end of input, and the
// answer typed after it is read.
TEST(Keyboard, AnEmptyPipeSetNotToWaitIsNoEndOfInput) {
    PipedKeyboard piped(0, PIPE_NOWAIT);
    Sleep(200);
    DWORD put = 0;
    WriteFile(piped.write, "y\n", 2, &put, nullptr);
    CloseHandle(piped.write);
    std::string got;
    for (long n = 1; n == 1;) {
        ASSERT_EQ(WaitForSingleObject(piped.keyboard.ready(), 10000), WAIT_OBJECT_0);
        char c = 0;
        int error = 0;
        if (piped.keyboard.Take(n, c, error) && n == 1) {
            got += c;
        }
        EXPECT_GE(n, 0) << "error " << error << " after \"" << got << "\"";
    }
    EXPECT_EQ(got, "y\n");
}

// Input that keeps coming (`yes | fwburn-cpu-cli`) while nobody answers stays in the pipe: the
// reader holds a few bytes, not all it could read during a whole update.
TEST(Keyboard, InputNobodyTakesStaysInThePipe) {
    PipedKeyboard piped(4096);
    const HANDLE write = piped.write;
    Keyboard& keyboard = piped.keyboard;
    std::string sent;
    for (int i = 0; sent.size() < 24 * 1024; ++i) {
        sent += std::to_string(i) + "\n";
    }
    std::atomic<size_t> written{0};
    std::thread writer([&] {
        for (size_t at = 0; at < sent.size(); at += 1024) {
            DWORD put = 0;
            WriteFile(write, sent.data() + at,
                      static_cast<DWORD>(std::min<size_t>(1024, sent.size() - at)), &put, nullptr);
            written += put;
        }
        CloseHandle(write);
    });
    // Until the writer is held up, or all of it was taken.
    for (size_t before = SIZE_MAX; written != before && written < sent.size();) {
        before = written;
        Sleep(200);
    }
    EXPECT_LT(written.load(), 8u * 1024u);
    std::string got;
    for (;;) {
        ASSERT_EQ(WaitForSingleObject(keyboard.ready(), 10000), WAIT_OBJECT_0);
        long n = 0;
        char c = 0;
        int error = 0;
        if (keyboard.Take(n, c, error)) {
            if (n != 1) {
                break;
            }
            got += c;
        }
    }
    writer.join();
    EXPECT_TRUE(got == sent) << got.size() << " bytes of " << sent.size();
}

TEST(Win32Link, APortThatIsNotThereSaysSo) {
    Win32Link link("COM199", "");
    std::string failure;
    EXPECT_EQ(link.Open(false, failure), nullptr);
    EXPECT_EQ(failure, "COM199: no such port");
    Win32Link none("", "");
    EXPECT_EQ(none.Open(false, failure), nullptr);
    EXPECT_EQ(failure, "no serial port found (give one with --port)");
    EXPECT_EQ(OpenFailure("COM3", ERROR_ACCESS_DENIED), "COM3: in use by another program");
    EXPECT_EQ(OpenFailure("COM3", ERROR_SHARING_VIOLATION), "COM3: in use by another program");
}

// A file or folder named as the port (a slip of the tab key) is refused for what it is, before a
// byte is written into it; so is any other device or pipe that opens but has no line.
TEST(Win32Link, AFileOrFolderIsNoPortAndStaysAsItWas) {
    const std::string dir = TempFolder("fwburn-link");
    std::ofstream(dir + "precious.txt", std::ios::binary) << "precious contents\n";
    CreateDirectoryA((dir + "folder").c_str(), nullptr);
    const std::string pipe = "\\\\.\\pipe\\fwburn-link-" + std::to_string(GetCurrentProcessId());
    const HANDLE server =
        CreateNamedPipeA(pipe.c_str(), PIPE_ACCESS_DUPLEX, 0, 1, 64, 64, 0, nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    for (const std::string& path : {dir + "precious.txt", dir + "folder", std::string("NUL"),
                                    std::string("\\\\.\\NUL"), pipe}) {
        Win32Link link(path, "");
        std::string failure;
        EXPECT_EQ(link.Open(false, failure), nullptr) << path;
        EXPECT_EQ(failure, path + ": not a serial port");
    }
    CloseHandle(server);
    EXPECT_EQ(Contents(dir + "precious.txt"), "precious contents\n");
}

// Every name that opens a port has that port's key, so that a second name of the port is one
// port, its lock is the port's lock, and a --trace onto it is refused.
TEST(Win32Link, EverySpellingThatOpensAPortIsThatPort) {
    const struct {
        const char* name;
        const char* key;
    } cases[] = {
        {"COM44", "COM44"},         {"com44", "COM44"},     {"\\\\.\\COM44", "COM44"},
        {"//./COM44", "COM44"},     {"//./com44", "COM44"}, {"//?/COM44", "COM44"},
        {"\\\\?\\COM44", "COM44"},  {"COM4:", "COM4"},      {"com4.txt", "COM4"},
        {"C:\\logs\\COM4", "COM4"}, {"COM4 ", "COM4"},      {"trace.txt", "TRACE.TXT"},
        {"C:\\COM44", "C:\\COM44"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DeviceKeyOf(c.name), c.key) << c.name;
    }
}

}  // namespace
}  // namespace fwburn::console
