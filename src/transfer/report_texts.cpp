#include "transfer/report_texts.h"

#include <initializer_list>

namespace tavrin::transfer {
namespace {

constexpr const char* kFooter = "<==================================>\r\n";
constexpr const char* kDownloadAgain =
    "   Solution: Download again after Restarting the TARGET\r\n";
constexpr const char* kRegenerate = "   Solution: Regenerate UART File\r\n";
constexpr const char* kRetransmitAfterRestart =
    "   Solution: Retransmit UART File after Restarting the TARGET\r\n";

std::string Join(std::initializer_list<const char*> pieces) {
  std::string text;
  for (const char* piece : pieces) text += piece;
  return text;
}

ReportBlock Red(std::initializer_list<const char*> pieces) {
  return {Join(pieces), terminal::ColourMark::kRed};
}

ReportBlock Blue(const char* text) {
  return {text, terminal::ColourMark::kBlue};
}

}  // namespace

std::optional<ReportBlock> ReportBlockFor(int code) {
  switch (code) {
    case result::kInvalidHeaderStart:
      return Red({"\r\n<========== Error ( -1 ) ==========>\r\n",
                  "   Problem : Invalid HeaderStart\n", "   Solution: Regenerate UART File\n",
                  kFooter});
    case result::kPacketTooLarge:
      return Red({"\r\n<========== Error ( -2 ) ==========>\r\n",
                  "   Problem : Packet size greater than 3000.  Tavrin does't support it\r\n",
                  kRegenerate, kFooter});
    case result::kInvalidHeaderEnd:
      return Red({"\r\n<========== Error ( -3 ) ==========>\r\n",
                  "   Problem : Invalid HeaderEnd\r\n", kRegenerate, kFooter});
    case result::kNoResponse:
      return Red({"\r\n<========== Error ( -4 ) ==========>\r\n",
                  "   Problem : No response from TARGET\r\n",
                  "   Solution: Make sure Target Loader is running properly\r\n",
                  "\t   Connect your Serial Cabel Properly\r\n",
                  "\t   Port Settings are not Correct \r\n",
                  "\t   Retransmit UART File after Restarting the TARGET\r\n", kFooter});
    case result::kSameVersion:
      return Red({"\r\n<========== Error ( 4 ) ==========>\r\n",
                  "   Problem : You are trying to download same version of software\r\n",
                  "   Solution: Retransmit UART File after Erasing Software Signature which is "
                  "in EEPROM.\r\n",
                  kFooter});
    case result::kTargetWaiting:
      return Red({"\r\n<========== Error ( 19 ) ==========>\r\n",
                  "   Problem : Target Waiting for some other control(s)/data(s) from HOST\r\n",
                  kRetransmitAfterRestart, kFooter});
    case result::kTerminated:
      return Red({"\r\n<========== Terminated by user ==========>\r\n",
                  "   Please Switch Off the Board and then Transmit\r\n", kFooter});
    case result::kUploadSuccess:
      return Blue("\r\n<========== Upload Success ==========>\r\n");
    case result::kScriptUploadSuccess:
      return Blue("\r\n<========== Download script upload Success ==========>\r\n");
    case result::kDownloadSuccess:
      return Blue("\r\n<========== Download Success ==========>\r\n");
    default:
      return std::nullopt;
  }
}

ReportBlock CrcWarningBlock(int region) {
  std::string text = "\r\n<========== Warning ( CRC ) ==========>\r\n";
  text += "   Problem : Region " + std::to_string(region) + " data does not match its CRC\r\n";
  text += kDownloadAgain;
  text += kFooter;
  return {text, terminal::ColourMark::kRed};
}

ReportBlock RegionSizeWarningBlock(int region, std::uint32_t asked, std::uint32_t sent) {
  std::string text = "\r\n<========== Warning ( SIZE ) ==========>\r\n";
  text += "   Problem : Region " + std::to_string(region) + " came with " + std::to_string(sent) +
          " bytes, " + std::to_string(asked) + " were asked for\r\n";
  text += kDownloadAgain;
  text += kFooter;
  return {text, terminal::ColourMark::kRed};
}

}  // namespace tavrin::transfer
