#include "app/error_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

#include "app/session.h"
#include "app/user_interface.h"

namespace tallimo {
namespace {

class RecordingUi : public ConsoleUserInterface {
 public:
  std::string folder;
  MessageAnswer message_box(const std::string& text, MessageButtons buttons, MessageIcon icon,
                            const std::string& title) override {
    boxes.push_back(title + "|" + text);
    // The log record is written after the box is closed.
    std::ifstream log(folder + kErrorLogName);
    log_existed_during_box.push_back(log.good());
    return MessageAnswer::kOk;
  }
  std::vector<std::string> boxes;
  std::vector<bool> log_existed_during_box;
};

class ErrorLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/tallimo-errlog-XXXXXX";
    dir_ = ::mkdtemp(tmpl);
    ui_.folder = dir_ + "/";
    session_ = std::make_unique<Session>(ui_, dir_);
  }
  void TearDown() override {
    session_.reset();
    std::system(("rm -rf '" + dir_ + "'").c_str());
  }
  std::string log_text() const {
    std::ifstream in(dir_ + "/" + kErrorLogName, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  std::string dir_;
  RecordingUi ui_;
  std::unique_ptr<Session> session_;
};

TEST_F(ErrorLogTest, MessageTextIsExact) {
  EXPECT_EQ(error_message_text("Disk full", "Process_Post"),
            "The Program has encountered the following Error:\r\n\r\nDisk full\r\n\r\n"
            "From the Following Routine:\r\n\r\nProcess_Post\r\n\r\n"
            "This Error has ben logged. Please Notify Technical Support");
}

TEST_F(ErrorLogTest, RecordHasSixItemsIncludingEmptyTextAndUnknownMachine) {
  // 2026-12-07 08:40:25 local time.
  std::tm t{};
  t.tm_year = 126; t.tm_mon = 11; t.tm_mday = 7; t.tm_hour = 8; t.tm_min = 40; t.tm_sec = 25; t.tm_isdst = -1;
  const long long when = std::mktime(&t);
  EXPECT_EQ(error_log_record("", "Save_Record", when, "UnKnownName"),
            "|***********************************************************|\r\n"
            "\r\n"
            "Function Name: Save_Record\r\n"
            "12/07/2026 08:40:25\r\n"
            "Computer Name: UnKnownName\r\n"
            "\r\n\r\n");
}

TEST_F(ErrorLogTest, TwoReportsAppendTwoRecordsInOrderAfterTheBox) {
  Error_Routine(*session_, "first failure", "Open_Orvex_DataBase");
  Error_Routine(*session_, "second failure", "Process_Post");
  ASSERT_EQ(ui_.boxes.size(), 2u);
  EXPECT_EQ(ui_.boxes[0].substr(0, 8), "Tallimo|");
  EXPECT_FALSE(ui_.log_existed_during_box[0]);
  const std::string log = log_text();
  const auto first = log.find("first failure\r\nFunction Name: Open_Orvex_DataBase\r\n");
  const auto second = log.find("second failure\r\nFunction Name: Process_Post\r\n");
  ASSERT_NE(first, std::string::npos);
  ASSERT_NE(second, std::string::npos);
  EXPECT_LT(first, second);
  // Each record opens with the 61-character separator line.
  EXPECT_EQ(log.rfind(std::string("|") + std::string(59, '*') + "|\r\n", 0), 0u);
  EXPECT_EQ(log.find(std::string("|") + std::string(59, '*') + "|\r\nsecond failure\r\n"), second - 63);
  EXPECT_NE(log.find("Computer Name: " + computer_name() + "\r\n"), std::string::npos);
}

TEST_F(ErrorLogTest, UnwritableLogDoesNotStopTheReport) {
  session_->set_application_folder(dir_ + "/no/such/folder");
  EXPECT_NO_THROW(Error_Routine(*session_, "boom", "Update_Grid"));
  EXPECT_EQ(ui_.boxes.size(), 1u);
}

}  // namespace
}  // namespace tallimo
