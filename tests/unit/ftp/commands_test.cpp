#include <gtest/gtest.h>

#include <functional>

#include "fake_platform.h"
#include "ftp/session.h"

namespace {

const char16_t kLocal[] = u"\\Temp\\report.txt";
const char16_t kRemote[] = u"report.txt";
const char16_t kNewName[] = u"renamed.txt";

class CommandsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        gFTPSession = {};
        fakePlatform().reset();
    }

    static FakePlatform& fake() { return fakePlatform(); }

    static void logIn()
    {
        ASSERT_EQ(FTPServerLogIn(u"server", u"user", u"password"), FTP_RESULT_OK);
    }

    static const FtpCall& onlyCall()
    {
        EXPECT_EQ(fake().ftpCalls.size(), 1u);
        return fake().ftpCalls.back();
    }
};

TEST_F(CommandsTest, DownloadSwapsLocalAndRemoteAndPassesFixedArguments)
{
    logIn();
    EXPECT_EQ(FTPFileDownload(kLocal, kRemote), FTP_RESULT_OK);
    const FtpCall& call = onlyCall();
    EXPECT_EQ(call.operation, "FtpGetFileW");
    EXPECT_EQ(call.connect, gFTPSession.hConnect);
    EXPECT_EQ(call.first, kRemote);
    EXPECT_EQ(call.second, kLocal);
    EXPECT_EQ(call.failIfExists, FALSE);
    EXPECT_EQ(call.attributes, 0u);
    EXPECT_EQ(call.context, 0u);
}

TEST_F(CommandsTest, UploadPassesLocalThenRemoteAndFixedArguments)
{
    logIn();
    EXPECT_EQ(FTPFileUpload(kLocal, kRemote), FTP_RESULT_OK);
    const FtpCall& call = onlyCall();
    EXPECT_EQ(call.operation, "FtpPutFileW");
    EXPECT_EQ(call.connect, gFTPSession.hConnect);
    EXPECT_EQ(call.first, kLocal);
    EXPECT_EQ(call.second, kRemote);
    EXPECT_EQ(call.context, 0u);
}

struct OneNameCommand {
    const char* operation;
    std::function<FTPResult(WideString)> run;
};

const std::vector<OneNameCommand>& oneNameCommands()
{
    static const std::vector<OneNameCommand> commands = {
        {"FtpDeleteFileW", FTPFileDelete},
        {"FtpCreateDirectoryW", FTPFolderCreate},
        {"FtpRemoveDirectoryW", FTPFolderDelete},
    };
    return commands;
}

TEST_F(CommandsTest, OneNameCommandsHandTheNameOnUnchanged)
{
    logIn();
    for (const auto& command : oneNameCommands()) {
        fake().ftpCalls.clear();
        EXPECT_EQ(command.run(kRemote), FTP_RESULT_OK) << command.operation;
        const FtpCall& call = onlyCall();
        EXPECT_EQ(call.operation, command.operation);
        EXPECT_EQ(call.connect, gFTPSession.hConnect);
        EXPECT_EQ(call.first, kRemote) << command.operation;
    }
}

TEST_F(CommandsTest, RenamePassesExistingThenNewName)
{
    logIn();
    EXPECT_EQ(FTPFileRename(kRemote, kNewName), FTP_RESULT_OK);
    const FtpCall& call = onlyCall();
    EXPECT_EQ(call.operation, "FtpRenameFileW");
    EXPECT_EQ(call.connect, gFTPSession.hConnect);
    EXPECT_EQ(call.first, kRemote);
    EXPECT_EQ(call.second, kNewName);
}

TEST_F(CommandsTest, EveryFailureGivesTwo)
{
    logIn();
    fake().commandSucceeds = false;
    EXPECT_EQ(FTPFileDownload(kLocal, kRemote), FTP_RESULT_FAILED);
    EXPECT_EQ(FTPFileUpload(kLocal, kRemote), FTP_RESULT_FAILED);
    EXPECT_EQ(FTPFileRename(kRemote, kNewName), FTP_RESULT_FAILED);
    for (const auto& command : oneNameCommands())
        EXPECT_EQ(command.run(kRemote), FTP_RESULT_FAILED) << command.operation;
    // No retries: one call each.
    EXPECT_EQ(fake().ftpCalls.size(), 6u);
}

TEST_F(CommandsTest, EveryCommandInTheClosedStateGivesTwoWithANullConnection)
{
    auto expectClosedFailure = [&] {
        EXPECT_EQ(FTPFileDownload(kLocal, kRemote), FTP_RESULT_FAILED);
        EXPECT_EQ(FTPFileUpload(kLocal, kRemote), FTP_RESULT_FAILED);
        EXPECT_EQ(FTPFileRename(kRemote, kNewName), FTP_RESULT_FAILED);
        for (const auto& command : oneNameCommands())
            EXPECT_EQ(command.run(kRemote), FTP_RESULT_FAILED) << command.operation;
        for (const FtpCall& call : fake().ftpCalls)
            EXPECT_EQ(call.connect, nullptr) << call.operation;
        fake().ftpCalls.clear();
    };
    expectClosedFailure();  // before any log-in
    logIn();
    FTPServerLogOut();
    expectClosedFailure();  // after log-out
}

}  // namespace

namespace {

// Every exported call hands its outcome to the transcript: its name, the
// names it was given (never the password) and the result it returns.
TEST_F(CommandsTest, EveryExportedCallReportsItsOutcome)
{
    struct Row {
        std::function<FTPResult()> call;
        TracedCall expected;
    };
    const std::vector<Row> rows = {
        {[] { return FTPServerLogIn(u"server", u"user", u"password"); },
         {"FTPServerLogIn", u"server", u"user", FTP_RESULT_OK}},
        {[] { return FTPFileDownload(kLocal, kRemote); },
         {"FTPFileDownload", kLocal, kRemote, FTP_RESULT_OK}},
        {[] { return FTPFileUpload(kLocal, kRemote); },
         {"FTPFileUpload", kLocal, kRemote, FTP_RESULT_OK}},
        {[] { return FTPFileDelete(kRemote); }, {"FTPFileDelete", kRemote, u"", FTP_RESULT_OK}},
        {[] { return FTPFolderCreate(u"dir"); }, {"FTPFolderCreate", u"dir", u"", FTP_RESULT_OK}},
        {[] { return FTPFolderDelete(u"dir"); }, {"FTPFolderDelete", u"dir", u"", FTP_RESULT_OK}},
        {[] { return FTPFileRename(kRemote, kNewName); },
         {"FTPFileRename", kRemote, kNewName, FTP_RESULT_OK}},
        {[] { return FTPServerFiles(nullptr, nullptr, nullptr, u"/pub"); },
         {"FTPServerFiles", u"/pub", u"", FTP_RESULT_OK}},
        {[] { return FTPServerLogOut(); }, {"FTPServerLogOut", u"", u"", FTP_RESULT_OK}},
        {[] { return FTPFileDelete(kRemote); }, {"FTPFileDelete", kRemote, u"", FTP_RESULT_FAILED}},
    };
    for (const Row& row : rows) {
        fake().traced.clear();
        const FTPResult result = row.call();
        ASSERT_EQ(fake().traced.size(), 1u) << row.expected.call;
        const TracedCall& traced = fake().traced.front();
        EXPECT_EQ(traced.call, row.expected.call);
        EXPECT_EQ(traced.first, row.expected.first) << row.expected.call;
        EXPECT_EQ(traced.second, row.expected.second) << row.expected.call;
        EXPECT_EQ(traced.result, row.expected.result) << row.expected.call;
        EXPECT_EQ(traced.result, result);
    }
}

}  // namespace
