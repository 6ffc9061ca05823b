#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "convert/conversion_run.h"
#include "writers/melody_mail.h"

namespace vlm {
namespace {

std::string encode(const std::vector<uint8_t>& bytes, int marker) {
  std::string text(bytes.size() * 2 + 64, '\0');
  uint32_t n = encodeMelodyText(bytes.data(), uint32_t(bytes.size()), text.data(),
                                uint32_t(text.size()), marker);
  text.resize(n);
  return text;
}

std::vector<uint8_t> decode(const std::string& text, int start) {
  std::vector<uint8_t> out(text.size() + 8);
  uint32_t n =
      decodeMelodyText(text.data(), uint32_t(text.size()), out.data(), uint32_t(out.size()), start);
  out.resize(n);
  return out;
}

std::vector<uint8_t> ramp(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = uint8_t(i * 37 + 11);
  return v;
}

TEST(MelodyText, PaddingByRemainder) {
  EXPECT_EQ(encode({'M', 'a', 'n'}, 0), "TWFu");
  EXPECT_EQ(encode({'M', 'a'}, 0), "TWE=");
  EXPECT_EQ(encode({'M'}, 0), "TQ==");
  EXPECT_EQ(encode({}, 0), "");
  EXPECT_EQ(encode({}, 1), "--B:M\r\n");
}

TEST(MelodyText, LineBreaksAndMarker) {
  std::string full = encode(ramp(54), 1);
  ASSERT_EQ(full.size(), 81u);
  EXPECT_EQ(full.substr(0, 7), "--B:M\r\n");
  EXPECT_EQ(full.substr(79), "\r\n");
  EXPECT_EQ(full.find('='), std::string::npos);

  std::string more = encode(ramp(55), 1);
  ASSERT_EQ(more.size(), 85u);
  EXPECT_EQ(more.substr(0, 81), full);
  EXPECT_EQ(more.substr(83), "==");

  // Without the marker, every full line of 72 characters ends in CR LF.
  std::string plain = encode(ramp(108), 0);
  ASSERT_EQ(plain.size(), 148u);
  EXPECT_EQ(plain.substr(72, 2), "\r\n");
  EXPECT_EQ(plain.substr(146), "\r\n");
}

TEST(MelodyText, CapacityIsNeverPassed) {
  std::vector<uint8_t> bytes = ramp(100);
  char text[50];
  std::memset(text, '#', sizeof text);
  uint32_t n = encodeMelodyText(bytes.data(), 100, text, 40, 1);
  EXPECT_EQ(n, 40u);
  EXPECT_EQ(text[40], '#');
}

TEST(MelodyText, RoundTripOfEverySize) {
  for (size_t n = 0; n < 200; ++n) {
    std::vector<uint8_t> bytes = ramp(n);
    EXPECT_EQ(decode(encode(bytes, 1), 0), bytes) << n;
    EXPECT_EQ(decode(encode(bytes, 0), 1), bytes) << n;
  }
}

TEST(MelodyText, MarkerDecidesWhereDecodingStarts) {
  std::string body = encode({1, 2, 3, 4, 5, 6}, 1);
  std::string text = "QUJD\r\nhello " + body;
  EXPECT_EQ(decode(text, 0), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
  // From the first character, the letters before the marker count as well.
  std::vector<uint8_t> all = decode("QUJD" + body, 1);
  EXPECT_EQ(all, (std::vector<uint8_t>{'A', 'B', 'C', 1, 2, 3, 4, 5, 6}));
  // Without a marker nothing comes out when decoding waits for it.
  EXPECT_TRUE(decode("QUJD", 0).empty());
}

TEST(MelodyText, BadTextIsSafe) {
  EXPECT_TRUE(decode("", 0).empty());
  EXPECT_TRUE(decode("", 1).empty());
  EXPECT_TRUE(decode("Q", 1).empty());  // one left-over character gives nothing
  EXPECT_EQ(decode("QQ", 1), (std::vector<uint8_t>{0x41}));
  EXPECT_EQ(decode("QUI", 1), (std::vector<uint8_t>{'A', 'B'}));
  EXPECT_EQ(decode("T W\tF u ! * ==", 1), (std::vector<uint8_t>{'M', 'a', 'n'}));
  // A marker cut short at the end of the text is not recognised and nothing is read past it.
  for (const char* cut : {"-", "--", "--B", "--B:"}) {
    std::string text(cut);
    std::vector<uint8_t> out(8);
    EXPECT_EQ(decodeMelodyText(text.data(), uint32_t(text.size()), out.data(), 8, 0), 0u);
  }
  // The output capacity bounds the bytes produced.
  std::string text = encode(ramp(30), 0);
  uint8_t small[5] = {};
  EXPECT_EQ(decodeMelodyText(text.data(), uint32_t(text.size()), small, 4, 1), 4u);
  EXPECT_EQ(small[4], 0);
}

class MelodyMail : public ::testing::Test {
 protected:
  void SetUp() override {
    runState.mailTo.clear();
    runState.mailSubject.clear();
    runState.mailAttachment.clear();
  }
  std::string compose(const std::string& text, int plain, uint32_t capacity = 4096) {
    std::string message(capacity, '\0');
    uint32_t n =
        composeMelodyMail(text.data(), uint32_t(text.size()), message.data(), capacity, plain);
    message.resize(n);
    return message;
  }
};

TEST_F(MelodyMail, PlainBody) {
  EXPECT_EQ(compose("--B:M\r\nTWFu", 1), "X-Unsent: 1\r\n\r\n--B:M\r\nTWFu");
  runState.mailTo = "user@docomo.ne.jp";
  runState.mailSubject = "song";
  EXPECT_EQ(compose("TWFu", 1),
            "To: user@docomo.ne.jp\r\nSubject: song\r\nX-Unsent: 1\r\n\r\nTWFu");
}

TEST_F(MelodyMail, Attachment) {
  runState.mailAttachment = "melody.mmf";
  const std::string expected =
      "Content-Type: multipart/mixed; boundary=\"mult\"\r\n"
      "X-Unsent: 1\r\n\r\n"
      "--mult\r\n"
      "Content-Type: text/plain; charset=\"iso-2022-jp\"\r\n"
      "Content-Transfer-Encoding: 7bit\r\n\r\n"
      "melodymail\r\n\r\n"
      "--mult\r\n"
      "Content-type: application/octet-stream; Name=\"melody.mmf\"\r\n"
      "Content-Transfer-Encoding: Base64\r\n\r\n"
      "TWFu\r\n"
      "--mult--\r\n";
  EXPECT_EQ(compose("TWFu", 0), expected);
  runState.mailSubject = "s";
  EXPECT_EQ(compose("TWFu", 0), "Subject: s\r\n" + expected);
  // A small buffer takes the start of the message and nothing more.
  EXPECT_EQ(compose("TWFu", 0, 20), ("Subject: s\r\n" + expected).substr(0, 20));
}

}  // namespace
}  // namespace vlm
