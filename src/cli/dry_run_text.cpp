#include "cli/dry_run_text.h"

#include <cstdio>

#include "cli/answer_texts.h"
#include "config/config_values.h"

namespace kova::cli {

namespace {

constexpr int kJumpAttempts = 4;
constexpr int kBootWaitTicks = 150;
constexpr uint32_t kIspBlock = 1024;
constexpr uint32_t kTftpBlock = 512;

std::string Mac(const UpgradePlan& plan) {
  return MacBytesText(plan.mac.data());
}

std::string Address(const UpgradePlan& plan) {
  return DottedText(plan.address.data());
}

const char* SettingName(int32_t setting) {
  switch (setting) {
    case kJumpEnable:
      return "ENABLE";
    case kJumpRemote:
      return "REMOTE";
    default:
      return "DISABLE";
  }
}

}  // namespace

const char* RoadName(const UpgradePlan& plan) {
  if (plan.jumpSetting == kJumpRemote) {
    return "remote";
  }
  return plan.newPlatform ? "boot-server" : "isp";
}

std::vector<std::string> RemoteRoadSteps(const UpgradePlan& plan) {
  return {
      "ask the board for its address (ETH_REQ)",
      "have the board erase the flash that takes the image (REMOTE_ERASE)",
      "send the S-record lines of the image, " + std::to_string(plan.imageBytes) +
          " bytes of text, one SEND_FILE command a line",
      "have the board install it (REMOTE_UPDATE) and poll until it is done "
      "(CHECK_REMOTE_UPDATE)",
  };
}

std::vector<std::string> PlanLines(const UpgradePlan& plan, const PlanContext& context) {
  std::vector<std::string> lines;
  lines.push_back("Dry run: nothing that changes the board was sent.");
  std::string board =
      "Board " + Mac(plan) + ": " + (plan.newPlatform ? "new" : "old") + " platform, " +
      (plan.versionKnown ? "firmware v" + VersionText(plan.version[0], plan.version[1])
                         : std::string("firmware version not answered"));
  if (plan.addressKnown) {
    board += ", at " + Address(plan);
  }
  lines.push_back(board);

  const bool remote = plan.jumpSetting == kJumpRemote;
  std::string config = std::string("Configuration: ") + SettingName(plan.jumpSetting) + ", ";
  if (remote) {
    config += "image of " + std::to_string(plan.imageBytes) + " bytes (S-record text)";
  } else {
    config += "application image of " + std::to_string(plan.imageBytes) + " bytes, with the " +
              (plan.newPlatform ? "new" : "old") + " platform's mark";
  }
  lines.push_back(config);

  std::vector<std::string> steps;
  if (remote) {
    steps = RemoteRoadSteps(plan);
  } else {
    if (plan.jumpSetting == kJumpEnable) {
      steps.push_back("jump to the bootloader (BOOTLOADER command, up to " +
                      std::to_string(kJumpAttempts) + " attempts)");
      char wait[96];
      std::snprintf(wait, sizeof wait, "wait %.1f s for the board to start its bootloader",
                    kBootWaitTicks * context.tickMs / 1000.0);
      steps.push_back(wait);
    }
    steps.push_back("pin " + Address(plan) + " to " + Mac(plan) + " in the neighbour table of " +
                    context.interfaceName);
    if (plan.newPlatform) {
      steps.push_back("run the boot server on " + context.interfaceName +
                      ": wake the board (magic packet), answer its BOOTP request with " +
                      Address(plan));
      steps.push_back("serve firmware.bin by TFTP: " + std::to_string(plan.bytesToSend) +
                      " bytes in " + std::to_string(plan.bytesToSend / kTftpBlock + 1) + " blocks");
    } else {
      steps.push_back("synchronise with the ISP bootloader and erase sectors 2 to 29");
      steps.push_back("program " + std::to_string(plan.bytesToSend) + " bytes in " +
                      std::to_string(plan.bytesToSend / kIspBlock) + " blocks of 1 KiB");
    }
    steps.push_back("remove the neighbour entry");
  }
  lines.push_back("An upgrade would:");
  for (size_t i = 0; i < steps.size(); ++i) {
    lines.push_back("  " + std::to_string(i + 1) + ". " + steps[i]);
  }
  return lines;
}

}  // namespace kova::cli
