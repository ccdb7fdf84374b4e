#include "quorlog/log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class Recorder : public LogOutput
{
public:
    void write(const LogRecord &record) override { records.push_back(record); }
    std::vector<LogRecord> records;
};

class LogTest : public testing::Test
{
protected:
    void SetUp() override { LogBase::addOutput(&m_Recorder); }
    void TearDown() override
    {
        LogBase::removeOutput(&m_Recorder);
        LogBase::setThreshold(LogLevel_DEVEL);
    }
    Recorder m_Recorder;
};

TEST_F(LogTest, HeaderHasPaddedLevelChannelAndId)
{
    LogBase::logMessage("crc mismatch", LogLevel_ERROR, "", 0);
    LogBase::logMessage("text", LogLevel_DEVEL, "engine", 1234);
    ASSERT_EQ(m_Recorder.records.size(), 2u);
    const LogRecord &first = m_Recorder.records[0];
    EXPECT_EQ(first.level, LogLevel_ERROR);
    EXPECT_EQ(first.message(), "crc mismatch");
    EXPECT_THAT(first.line, testing::MatchesRegex(
                                "[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}"
                                "\\|ERROR   \\|              \\|0  \\|crc mismatch"));
    const std::string &second = m_Recorder.records[1].line;
    EXPECT_NE(second.find("|DEVELOP |engine        |1234|text"), std::string::npos) << second;
}

TEST_F(LogTest, LevelNamesFollowTheirNumbers)
{
    const char *names[] = {"CRITICAL", "ERROR", "WARNING", "DEBUG", "INFO", "DEVELOP"};
    for (int level = LogLevel_CRITICAL; level <= LogLevel_DEVEL; ++level)
        EXPECT_STREQ(LogBase::levelName(level), names[level]);
}

TEST_F(LogTest, ThresholdDropsLessSevereMessages)
{
    LogBase::setThreshold(LogLevel_WARNING);
    LogBase::logMessage("kept", LogLevel_ERROR, "", 0);
    LogBase::logMessage("kept too", LogLevel_WARNING, "", 0);
    LogBase::logMessage("dropped", LogLevel_DEBUG, "", 0);
    ASSERT_EQ(m_Recorder.records.size(), 2u);
    EXPECT_EQ(m_Recorder.records[1].message(), "kept too");
}

TEST_F(LogTest, MessagesWithoutOutputsAreDropped)
{
    LogBase::removeOutput(&m_Recorder);
    LogBase::logMessage("nobody listens", LogLevel_ERROR, "", 0);
    EXPECT_TRUE(m_Recorder.records.empty());
}

class StderrOutput : public LogOutput
{
public:
    void write(const LogRecord &record) override { fprintf(stderr, "%s\n", record.line.c_str()); }
};

TEST(LogDeathTest, CriticalMessageEndsTheProcessAfterDispatch)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    StderrOutput output;
    EXPECT_EXIT(
        {
            LogBase::addOutput(&output);
            LogBase::logMessage("broken", LogLevel_CRITICAL, "", 0);
        },
        testing::ExitedWithCode(1), R"(\|CRITICAL\|.*\|broken)");
    EXPECT_EXIT(
        {
            LogBase::addOutput(&output);
            QUORLOG_ASSERT(1 + 1 == 3);
        },
        testing::ExitedWithCode(1), R"(Assertion failed: 1 \+ 1 == 3 \(.*logtest\.cpp:[0-9]+\))");
}

} // namespace
