// A replay held open by another process (the game playing it, a virus scanner) cannot be moved
// until it is let go. Such a hold is waited out for a moment; one that lasts keeps the replay as
// it was, with the usual log line. The holder is a real second process, file_holder.exe, so
// the share modes are the system's own.
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "BesideTest.h"
#include "pipeline/PipelineFixture.h"

namespace {

using testing_support::Names;
using testing_support::PipelineFixture;
using testing_support::ReadBytes;
using Lines = std::vector<std::string>;

constexpr DWORD kPatienceMs = 60'000;

// file_holder.exe holding one file; the constructor returns once the file is held.
class HolderProcess {
public:
    // holdMs 0: held until Release().
    HolderProcess(const std::filesystem::path& file, unsigned holdMs)
    {
        SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        HANDLE childInput = nullptr;
        HANDLE childOutput = nullptr;
        if (!CreatePipe(&childInput, &input, &inheritable, 0) || !CreatePipe(&output, &childOutput, &inheritable, 0)) {
            ADD_FAILURE() << "CreatePipe failed with " << GetLastError();
            return;
        }
        SetHandleInformation(input, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(output, HANDLE_FLAG_INHERIT, 0);

        std::wstring commandLine = L"\"" + BesideTest(L"file_holder.exe").wstring() + L"\" \"" + file.wstring() + L"\"";
        if (holdMs != 0)
            commandLine += L" " + std::to_wstring(holdMs);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = childInput;
        startup.hStdOutput = childOutput;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        PROCESS_INFORMATION started{};
        bool created = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                      &startup, &started);
        CloseHandle(childInput);
        CloseHandle(childOutput);
        if (!created) {
            ADD_FAILURE() << "CreateProcess failed with " << GetLastError();
            return;
        }
        CloseHandle(started.hThread);
        process = started.hProcess;
        EXPECT_EQ(ReadAll().rfind("held", 0), 0u) << "file_holder did not hold the file";
    }
    ~HolderProcess()
    {
        Release();
        CloseHandle(output);
    }
    HolderProcess(const HolderProcess&) = delete;
    HolderProcess& operator=(const HolderProcess&) = delete;

    // Lets go of the file (at once, or once the timed hold is over) and waits for the exit.
    void Release()
    {
        if (input != nullptr)
            CloseHandle(input);
        input = nullptr;
        if (process == nullptr)
            return;
        if (WaitForSingleObject(process, kPatienceMs) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "file_holder did not end";
            TerminateProcess(process, 1);
        }
        CloseHandle(process);
        process = nullptr;
    }

private:
    // What the holder said up to its first line end.
    std::string ReadAll()
    {
        std::string said;
        char c = 0;
        DWORD got = 0;
        while (ReadFile(output, &c, 1, &got, nullptr) && got == 1 && c != '\n')
            said += c;
        return said;
    }

    HANDLE input = nullptr;
    HANDLE output = nullptr;
    HANDLE process = nullptr;
};

const std::string kOldBytes = "old replay bytes";
const std::string kRepairedBytes = "repaired replay bytes";

// Plays the replay id and answers 200 while another process holds its file, for holdMs
// milliseconds (0: until the answer is handled).
void AnswerWhileHeld(PipelineFixture& fixture, const std::string& id, unsigned holdMs)
{
    const std::filesystem::path oldFile = fixture.AddReplay(id, kOldBytes);
    fixture.Play(id);
    ASSERT_EQ(fixture.Recorder().Requests().size(), 1u);
    HolderProcess holder(oldFile, holdMs);
    fixture.Answer(200, kRepairedBytes);
    holder.Release();
}

TEST(LockedReplay, AHoldLetGoWithinAMomentStillGetsTheReplayRepaired)
{
    PipelineFixture fixture;
    AnswerWhileHeld(fixture, "HELD200MS", 200);

    EXPECT_EQ(fixture.Log(), Lines{"Post result(200)"});
    EXPECT_EQ(Names(fixture.demos), Lines{"HELD200MS_fixed.replay"});
    EXPECT_EQ(ReadBytes(fixture.demos / "HELD200MS_fixed.replay"), kRepairedBytes);
    EXPECT_EQ(ReadBytes(fixture.backups / "HELD200MS_copy.replay"), kOldBytes);
}

TEST(LockedReplay, AHoldThatLastsKeepsTheReplayAndLogsTheSharingViolation)
{
    PipelineFixture fixture;
    // The reply is handled while the file is still held: the wait has a bound.
    AnswerWhileHeld(fixture, "HELDLONG", 0);
    const std::filesystem::path oldFile = fixture.demos / "HELDLONG.replay";

    EXPECT_EQ(fixture.Log(), (Lines{"Post result(200)", "Error moving old file to backup folder: 32"}));
    EXPECT_EQ(Names(fixture.demos), Lines{"HELDLONG.replay"}) << "the replay stays and nothing is left beside it";
    EXPECT_EQ(ReadBytes(oldFile), kOldBytes);
    EXPECT_TRUE(Names(fixture.backups).empty());
}

} // namespace

// A held repaired file refuses to be replaced with 5 (access denied), even when its holder shares
// deletion. It is waited for as the original's move is: a hold that lasts keeps the old replay
// and the failure is logged; one let go within a moment gets the replay repaired.
TEST(LockedReplay, AHeldRepairedFileIsNotReplacedAndTheReplayComesBack)
{
    {
        PipelineFixture fixture;
        fixture.AddReplay("BRIEF", kOldBytes);
        const std::filesystem::path earlier = fixture.dir.MakeFile(fixture.demos / "BRIEF_fixed.replay", "earlier");
        fixture.Play("BRIEF");
        HolderProcess holder(earlier, 200);
        fixture.Answer(200, kRepairedBytes);
        EXPECT_EQ(fixture.Log(), Lines{"Post result(200)"});
        EXPECT_EQ(ReadBytes(earlier), kRepairedBytes);
    }

    PipelineFixture fixture;
    const std::filesystem::path oldFile = fixture.AddReplay("HELDFIXED", kOldBytes);
    const std::filesystem::path earlier = fixture.dir.MakeFile(fixture.demos / "HELDFIXED_fixed.replay", "earlier");
    fixture.Play("HELDFIXED");
    ASSERT_EQ(fixture.Recorder().Requests().size(), 1u);

    HolderProcess holder(earlier, 0);
    fixture.Answer(200, kRepairedBytes);
    holder.Release();

    const Lines log = fixture.Log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[1].rfind("Failed to open output path at ", 0), 0u) << log[1];
    EXPECT_NE(log[2].find("(5)"), std::string::npos) << log[2];
    EXPECT_EQ(Names(fixture.demos), (Lines{"HELDFIXED.replay", "HELDFIXED_fixed.replay"}));
    EXPECT_EQ(ReadBytes(oldFile), kOldBytes);
    EXPECT_EQ(ReadBytes(earlier), "earlier");
    EXPECT_TRUE(Names(fixture.backups).empty());
}
