// A second (third, ...) process for the cross-process tests. It loads libVxFmUt60.so
// like any other client and runs the steps given on its command line, in order,
// printing one line per result on stdout:
//
//   ready                      print "ready"
//   hold                       sleep until killed
//   sleep MS                   sleep
//   barrier PATH               wait (up to 10 s) until PATH exists
//   wait-target                wait (up to 10 s) until a message target exists
//   add TYPE FILE              VF_AddToCommandQueue; prints "add=<result>"
//   add-n N PREFIX             adds type-1 commands PREFIX0 .. PREFIX<N-1>, retrying while
//                              the queue is full; prints "added=<N>"
//   take N                     take N commands, printing each; exit 3 if the queue runs dry
//   take-all                   take until empty; prints "taken=<count>"
//   creator ABCD               VF_SetCreatorId of the four-character code
//   post CODE VALUE            post the registered message to the newest target; exit 4 on failure
//   post-raw MSG CODE VALUE    post another message identifier
//   inc N / dec N              VF_IncWaitFlag / VF_DecWaitFlag N times
//   set-user NAME              VF_SetUserName
//   state                      prints "wait=.. user=.. msg=.. creator=.."
//   settings                   prints the path exports and the HotSync version
//   abandon                    prints "abandon=<result> status=<status>"
//   flush CAPTION FILTER       VF_FlushCommandQueueEx (FILTER: four characters or 0);
//                              prints "flush=<result>"
//   flush-abort MS             VF_FlushCommandQueue(null), pressing "&Abort" after MS
//   hold-target                makes a message target, prints "target", then prints
//                              "got CODE VALUE" for every message until killed
//   fork-exit                  forks a child that ends with exit(0); waits for it
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "vxfmut/msg_channel.h"
#include "vxfmut/vxfmut.h"

namespace {

uint32_t fourcc(const char* text) {
  if (std::strcmp(text, "0") == 0) return 0;
  uint32_t value = 0;
  for (int i = 0; i < 4 && text[i]; ++i) value = (value << 8) | static_cast<unsigned char>(text[i]);
  return value;
}

bool wait_until(auto condition) {
  for (int i = 0; i < 1000; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

void print_text_export(const char* label, int32_t (*get)(char*, int32_t)) {
  char buffer[300];
  get(buffer, sizeof buffer);
  std::printf("%s=%s\n", label, buffer);
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  for (int i = 1; i < argc; ++i) {
    std::string step = argv[i];
    auto arg = [&]() -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "vxfmut_peer: step %s needs an argument\n", step.c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    if (step == "ready") {
      std::printf("ready\n");
    } else if (step == "hold") {
      for (;;) ::pause();
    } else if (step == "sleep") {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(arg())));
    } else if (step == "barrier") {
      // Polled finely so that the processes waiting here start nearly together.
      std::filesystem::path path = arg();
      auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (!std::filesystem::exists(path)) {
        if (std::chrono::steady_clock::now() > deadline) return 5;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    } else if (step == "wait-target") {
      if (!wait_until([] { return !vxfmut::find_msg_targets().empty(); })) return 5;
    } else if (step == "add") {
      int type = std::atoi(arg());
      const char* file = arg();
      std::printf("add=%d\n", VF_AddToCommandQueue(type, file));
    } else if (step == "add-n") {
      int count = std::atoi(arg());
      std::string prefix = arg();
      for (int n = 0; n < count; ++n) {
        std::string file = prefix + std::to_string(n);
        while (!VF_AddToCommandQueue(1, file.c_str())) std::this_thread::yield();
      }
      std::printf("added=%d\n", count);
    } else if (step == "take" || step == "take-all") {
      int wanted = step == "take" ? std::atoi(arg()) : 1 << 30;
      int taken = 0;
      for (; taken < wanted; ++taken) {
        int32_t type = 0, v1 = 0, v2 = 0, v3 = 0;
        uint32_t creator = 0;
        const char* second = nullptr;
        char file[260];
        if (!VF_GetNextCommandEx(&type, file, sizeof file, &creator, &second, &v1, &v2, &v3)) break;
        if (step == "take") {
          std::printf("cmd type=%d file=%s creator=%08x second=%s values=%d,%d,%d\n", type, file,
                      creator, second ? second : "(null)", v1, v2, v3);
        }
      }
      if (step == "take-all") std::printf("taken=%d\n", taken);
      if (taken < wanted && step == "take") return 3;
    } else if (step == "creator") {
      VF_SetCreatorId(fourcc(arg()));
    } else if (step == "post" || step == "post-raw") {
      uint32_t message = step == "post" ? VF_GetRegisteredMsg() : std::strtoul(arg(), nullptr, 0);
      uint64_t code = std::strtoull(arg(), nullptr, 0);
      int64_t value = std::strtoll(arg(), nullptr, 0);
      if (!vxfmut::post_msg_to_newest_target(message, code, value)) return 4;
    } else if (step == "inc" || step == "dec") {
      int count = std::atoi(arg());
      for (int n = 0; n < count; ++n) step == "inc" ? VF_IncWaitFlag() : VF_DecWaitFlag();
    } else if (step == "set-user") {
      VF_SetUserName(arg());
    } else if (step == "state") {
      char user[260];
      VF_GetUserName(user, sizeof user);
      std::printf("wait=%d user=%s msg=%u creator=%08x\n", VF_GetWaitFlag(), user,
                  VF_GetRegisteredMsg(), VF_GetCreatorId());
    } else if (step == "settings") {
      print_text_export("forms", VF_GetVexFormsDir);
      print_text_export("trennic", VF_GetTrennicDir);
      print_text_export("palm", VF_GetPalmKey);
      print_text_export("hotsync_dir", VF_GetHotSyncDir);
      print_text_export("hotsync_data", VF_GetHotSyncDataDir);
      print_text_export("hotsync_path", VF_GetHotSyncPath);
      std::printf("version=%08x\n", VF_GetHotSyncVersion());
    } else if (step == "abandon") {
      int32_t status = 0;
      int32_t result = VF_AbandonUserChanges(&status);
      std::printf("abandon=%d status=%d\n", result, status);
    } else if (step == "flush") {
      const char* caption = arg();
      uint32_t filter = fourcc(arg());
      std::printf("flush=%d\n", VF_FlushCommandQueueEx(caption, filter));
    } else if (step == "flush-abort") {
      int delay = std::atoi(arg());
      int app_argc = 1;
      QApplication app(app_argc, argv);
      QTimer::singleShot(delay, [] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (!dialog) return;
        for (QAbstractButton* button : dialog->findChildren<QAbstractButton*>()) {
          if (button->text() == QStringLiteral("&Abort")) button->click();
        }
      });
      std::printf("flush=%d\n", VF_FlushCommandQueue(nullptr));
    } else if (step == "hold-target") {
      int app_argc = 1;
      QCoreApplication app(app_argc, argv);
      VfMsgOwner owner{[](void*, uint32_t, uintptr_t code, intptr_t value) {
                         std::printf("got %lu %ld\n", static_cast<unsigned long>(code), static_cast<long>(value));
                       },
                       nullptr};
      if (!VF_CreateMsgTarget(&owner)) return 6;
      std::printf("target\n");
      app.exec();
    } else if (step == "fork-exit") {
      pid_t child = ::fork();
      if (child == 0) std::exit(0);  // runs the library's unload, as any child's exit does
      int status = 0;
      ::waitpid(child, &status, 0);
      std::printf("child=%d\n", WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    } else {
      std::fprintf(stderr, "vxfmut_peer: unknown step %s\n", step.c_str());
      return 2;
    }
  }
  return 0;
}
