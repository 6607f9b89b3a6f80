// End to end over a real pseudo-terminal, with the simulator as its own process:
// Corvia opens the port (probing the transceiver, which listens at 38400), then
// cls_Serial_IR reads and deletes the scanned files, uploads a product list and its
// index, and ends synchronisation mode; the simulator then saves its contents file,
// which must show exactly that.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/ir/cls_serial_ir.h"
#include "app/ir/corvia_library.h"
#include "app/session.h"

namespace tallimo {
namespace {

class SimulatorProcess {
 public:
  explicit SimulatorProcess(const std::vector<std::string>& args) {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      close(out[1]);
      std::vector<char*> argv{const_cast<char*>(R50SIM_PROGRAM)};
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(R50SIM_PROGRAM, argv.data());
      _exit(127);
    }
    close(out[1]);
    // The first line is the terminal's path.
    struct pollfd p = {out[0], POLLIN, 0};
    char c;
    while (poll(&p, 1, 5000) > 0 && read(out[0], &c, 1) == 1 && c != '\n') path_ += c;
    close(out[0]);
  }
  ~SimulatorProcess() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  const std::string& path() const { return path_; }
  // Waits up to `seconds` for the process to end by itself; returns its exit status.
  int wait_exit(double seconds) {
    auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < until) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -2;
  }

 private:
  pid_t pid_ = -1;
  bool exited_ = false;
  std::string path_;
};

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(EndToEndTest, ReadDeleteUploadAndEndSynchronisationThroughTheSimulatorProcess) {
  std::string contents = ::testing::TempDir() + "r50sim_end_to_end.txt";
  {
    std::ofstream out(contents, std::ios::binary);
    out << "# scans waiting on the scanner\n"
           "memory 4000\n"
           "record 0 1001~2~APPLES\n"
           "record 0 1001~3~APPLES\n"
           "record 1 2002~1.5~PEARS 1KG\n"
           "record 5 OLD~OLD~1~1~1~V~L~1\n"
           "record 6 OL~0\n";
  }
  SimulatorProcess sim({"--ir-speed", "38400", "--exit-on-end", contents});
  ASSERT_FALSE(sim.path().empty());

  ir::set_corvia_library_path(CORVIA_LIBRARY_FILE);
  setenv("CORVIA_COM8", sim.path().c_str(), 1);
  const ir::CorviaLibrary& corvia = ir::corvia_library();
  ASSERT_EQ(corvia.vbOpenIrCom(8, 115200), 1);

  ConsoleUserInterface ui(true);
  Session session(ui);
  ScannerRecord& Scanner_Record = session.scanner_record();
  cls_Serial_IR link(session);

  // Read every transaction file, deleting each once read.
  const char* captions[] = {"Add to Inventory", "Subtract Inventory", "Compare Inventory",
                            "Replace Inventory", "Add New Item"};
  std::vector<std::string> scans;
  for (int16_t file = 0; file < 5; ++file) {
    link.Clear_Scanner_Display();
    link.Display_Message(2, 0, "Sending");
    link.Display_Message(3, 0, captions[file]);
    link.set_File_Name_Index(file);
    int16_t n = link.Record_Count();
    for (int16_t k = 1; k <= n; ++k) {
      Scanner_Record.Record_Mode = 0;
      link.Display_Message(4, 0, "Rec:" + std::to_string(k) + "/" + std::to_string(n));
      link.set_DataBase_Index(static_cast<int16_t>(k - 1));
      ASSERT_TRUE(link.Read_Record_Set());
      scans.push_back(std::to_string(file) + " " + Scanner_Record.Item_Number + " " +
                      ir::Format_Number(Scanner_Record.Qty) + " " + Scanner_Record.Description);
    }
    EXPECT_TRUE(link.Delete_File(file));
  }
  EXPECT_EQ(scans, (std::vector<std::string>{"0 1001 2 APPLES", "0 1001 3 APPLES", "1 2002 1.500 PEARS 1KG"}));

  // Upload a product list into file 5 and its index into file 6.
  EXPECT_TRUE(link.Delete_File(5));
  link.Clear_Scanner_Display();
  link.Display_Message(2, 0, "Receiving");
  link.Display_Message(3, 0, "Inventory");
  struct Product {
    const char* code;
    const char* description;
    double qty, price;
  };
  const Product products[] = {{"10", "TEN PACK", 4, 1.5}, {"105", "", 0, 2.25}, {"2A", "RED APPLE JUICE 1L", 12, 3}};
  std::vector<int32_t> free_memory;
  for (const auto& p : products) {
    Scanner_Record = ScannerRecord{};
    Scanner_Record.Record_Mode = 1;
    Scanner_Record.Item_Number = p.code;
    Scanner_Record.Description = p.description;
    Scanner_Record.Qty = p.qty;
    Scanner_Record.Standard_Price = p.price;
    Scanner_Record.Current_Cost = 1;
    Scanner_Record.Vendor_Code = "V1";
    Scanner_Record.Location = "A 1";
    Scanner_Record.List_Price = p.price + 1;
    link.Write_Record_Set();
    free_memory.push_back(link.FreeMemory());
  }
  ASSERT_EQ(free_memory.size(), 3u);
  EXPECT_GT(free_memory[0], free_memory[1]);
  EXPECT_GT(free_memory[1], free_memory[2]);

  link.Clear_Scanner_Display();
  EXPECT_TRUE(link.Delete_File(6));
  link.Display_Message(2, 0, "Receiving");
  link.Display_Message(3, 0, "Indexes");
  link.set_File_Name_Index(6);
  for (auto [prefix, position] : {std::pair{"10", 0}, std::pair{"2A", 2}}) {
    Scanner_Record.Record_Mode = 2;
    Scanner_Record.Item_Number = prefix;
    Scanner_Record.Qty = position;
    link.Write_Record_Set();
  }
  EXPECT_TRUE(link.Exit_Sync_Mode());
  EXPECT_EQ(corvia.CloseIrCom(), 1);

  // The simulator saves and exits when synchronisation mode ends.
  ASSERT_EQ(sim.wait_exit(5.0), 0);
  std::string blank(16, ' ');
  EXPECT_EQ(read_file(contents),
            "# r50sim scanner contents\n"
            "memory 4000\n"
            "sync off\n"
            "diagnostic \n"
            "display 1 " + blank + "\n"
            "display 2 Receiving\n"
            "display 3 Indexes\n"
            "display 4 " + blank + "\n"
            "display 5 " + blank + "\n"
            "display 6 " + blank + "\n"
            "record 5 10~TEN PACK~1.500~1~4~V1~A 1~2.500\n"
            "record 5 105~~2.250~1~0~V1~A 1~3.250\n"
            "record 5 2A~RED APPLE JUICE ~3~1~12~V1~A 1~4\n"
            "record 6 10~0\n"
            "record 6 2A~2\n");
  // After the third product: 4000 bytes less the three products and the old index
  // record, each with its line end.
  size_t used = 0;
  for (const char* r : {"10~TEN PACK~1.500~1~4~V1~A 1~2.500", "105~~2.250~1~0~V1~A 1~3.250",
                        "2A~RED APPLE JUICE ~3~1~12~V1~A 1~4", "OL~0"})
    used += std::string(r).size() + 1;
  EXPECT_EQ(free_memory[2], static_cast<int32_t>(4000 - used));
  std::remove(contents.c_str());
}

TEST(EndToEndTest, TheSimulatorRefusesABadContentsFileByName) {
  std::string contents = ::testing::TempDir() + "r50sim_bad.txt";
  std::ofstream(contents) << "record 9 nowhere\n";
  SimulatorProcess sim({contents});
  EXPECT_TRUE(sim.path().empty());
  EXPECT_EQ(sim.wait_exit(5.0), 1);
  std::remove(contents.c_str());
}

}  // namespace
}  // namespace tallimo
