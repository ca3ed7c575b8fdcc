#include <gtest/gtest.h>

#include "transfer/crc32.h"
#include "transfer/packet_frame.h"
#include "transfer/report_texts.h"
#include "transfer/urt_file.h"

namespace tavrin::transfer {
namespace {

using Bytes = std::vector<std::uint8_t>;

const Identity kIdentity{{0x11, 0x22, 0x33, 0x44}, {0x55, 0x66, 0x77}, {0x88, 0x99, 0xAA, 0xBB}};

TEST(CommandPacket, FramesAreByteExact) {
  EXPECT_EQ(BuildCommandPacket(CommandPacket::kModeCommand),
            (Bytes{0x02, 0x00, 0x00, 0x04, 0xFE, 0x01, 0xFD, 0x02, 0x00, 0x00, 0x01, 0xFE, 0x03}));
  EXPECT_EQ(BuildCommandPacket(CommandPacket::kWhoAmICommand),
            (Bytes{0x02, 0x00, 0x00, 0x03, 0xFE, 0x01, 0x00, 0x00, 0x00, 0x00, 0xFF, 0x03}));
  EXPECT_EQ(BuildCommandPacket(CommandPacket::kWhoAmIReply, kIdentity),
            (Bytes{0x02, 0x00, 0x00, 0x0E, 0xFE, 0x01, 0x00, 0x55, 0x66, 0x77, 0x11, 0x22,
                   0x33, 0x44, 0x88, 0x99, 0xAA, 0xBB, 0x00, 0x00, 0x05, 0x61, 0x03}));
}

TEST(CommandPacket, FrameSumWrapsModulo2To32) {
  const Bytes payload(2991, 0xFF);
  const auto frame = BuildFrame(payload);
  ASSERT_EQ(frame.size(), 3000u);
  EXPECT_EQ(ReadBigEndian(std::span(frame).subspan(2995, 4)), 2991u * 0xFF);
}

// Id2 then Id1 must match; the Id3 bytes after them are not compared.
TEST(WhoAmI, MatchesId2ThenId1AndIgnoresTheRest) {
  std::array<std::uint8_t, 11> answer{0x55, 0x66, 0x77, 0x11, 0x22, 0x33, 0x44, 1, 2, 3, 4};
  EXPECT_TRUE(VerifyWhoAmIAnswer(answer, kIdentity));
  EXPECT_EQ(IdentityFromAnswer(answer).id3, (std::array<std::uint8_t, 4>{1, 2, 3, 4}));
  answer[6] = 0x45;
  EXPECT_FALSE(VerifyWhoAmIAnswer(answer, kIdentity));
}

TEST(UrtHeader, NeedsItsMagicAndAllItsBytes) {
  Bytes header(28, 0);
  header[0] = 'B';
  header[1] = 'U';
  header[24] = 0x05;
  header[25] = 0x01;
  EXPECT_EQ(ParseUrtHeader(header)->packetCount, 0x105u);
  EXPECT_FALSE(ParseUrtHeader(std::span(header).first(27)));
  header[1] = 'X';
  EXPECT_FALSE(ParseUrtHeader(header));
  EXPECT_EQ(ParseCommandImageHeader(Bytes{'M', 'Z', 0, 0, 1, 2}), 0x102u);
}

// The colours are checked with the uploads that end with them.
TEST(ReportBlocks, TextsAreExact) {
  constexpr const char* kFooter = "<==================================>\r\n";
  EXPECT_EQ(ReportBlockFor(-1)->text, std::string("\r\n<========== Error ( -1 ) ==========>\r\n"
                                                  "   Problem : Invalid HeaderStart\n"
                                                  "   Solution: Regenerate UART File\n") +
                                          kFooter);
  EXPECT_EQ(ReportBlockFor(-2)->text,
            std::string("\r\n<========== Error ( -2 ) ==========>\r\n"
                        "   Problem : Packet size greater than 3000.  Tavrin does't support it\r\n"
                        "   Solution: Regenerate UART File\r\n") +
                kFooter);
  EXPECT_EQ(ReportBlockFor(-4)->text,
            std::string("\r\n<========== Error ( -4 ) ==========>\r\n"
                        "   Problem : No response from TARGET\r\n"
                        "   Solution: Make sure Target Loader is running properly\r\n"
                        "\t   Connect your Serial Cabel Properly\r\n"
                        "\t   Port Settings are not Correct \r\n"
                        "\t   Retransmit UART File after Restarting the TARGET\r\n") +
                kFooter);
  EXPECT_EQ(ReportBlockFor(23)->text,
            std::string("\r\n<========== Terminated by user ==========>\r\n"
                        "   Please Switch Off the Board and then Transmit\r\n") +
                kFooter);
  EXPECT_EQ(ReportBlockFor(1)->text, "\r\n<========== Upload Success ==========>\r\n");
  EXPECT_FALSE(ReportBlockFor(0));
  EXPECT_FALSE(ReportBlockFor(5));
  for (int code : {-1, -2, -3, -4, 1, 2, 3, 4, 19, 23}) {
    EXPECT_LT(ReportBlockFor(code)->text.size(), 1024u) << code;
  }
}

TEST(Crc32Mpeg2, KnownCheckValueAndZeroPadding) {
  const std::string check = "123456789";
  EXPECT_EQ(
      Crc32Mpeg2::Of(std::span(reinterpret_cast<const std::uint8_t*>(check.data()), check.size())),
      0x0376E6E7u);
  Crc32Mpeg2 padded;
  padded.Update(Bytes{1, 2});
  padded.UpdateZeros(3);
  EXPECT_EQ(padded.Value(), Crc32Mpeg2::Of(Bytes{1, 2, 0, 0, 0}));
}

}  // namespace
}  // namespace tavrin::transfer
