#include <gtest/gtest.h>
#include <iconv.h>

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

// The decoded text of the RFC 2047 encoded words in `header`, as UTF-8 (through iconv).
std::string decodeHeader(const std::string& header) {
  std::string jis;
  size_t at = 0;
  const std::string start = "=?ISO-2022-JP?B?";
  while ((at = header.find(start, at)) != std::string::npos) {
    at += start.size();
    const size_t end = header.find("?=", at);
    if (end == std::string::npos) break;
    const std::string word = header.substr(at, end - at);
    EXPECT_LE(word.size() + start.size() + 2, 75u);
    std::vector<uint8_t> bytes(word.size());
    bytes.resize(decodeMelodyText(word.c_str(), uint32_t(word.size()), bytes.data(),
                                  uint32_t(bytes.size()), 1));
    jis.append(bytes.begin(), bytes.end());
    at = end + 2;
  }
  iconv_t cd = iconv_open("UTF-8", "ISO-2022-JP");
  std::string out(jis.size() * 3 + 16, '\0');
  char* in = jis.data();
  size_t inLeft = jis.size();
  char* o = out.data();
  size_t outLeft = out.size();
  EXPECT_NE(iconv(cd, &in, &inLeft, &o, &outLeft), size_t(-1));
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
}

// The subject, recipient and attachment name of a Japanese title reach the mail as encoded
// words of ISO-2022-JP (half-width katakana as full-width, which ISO-2022-JP has), folded into
// words of at most 75 characters; the body stays as it is; an ASCII subject stays plain.
TEST_F(MelodyMail, JapaneseHeaderFieldsAreEncodedWords) {
  // "着信メロディ ｶﾞｲﾄﾞ 2024 テスト用の長い題名です" in Shift-JIS.
  const std::string title =
      "\x92\x85\x90\x4d\x83\x81\x83\x8d\x83\x66\x83\x42 \xb6\xde\xb2\xc4\xde 2024 "
      "\x83\x65\x83\x58\x83\x67\x97\x70\x82\xcc\x92\xb7\x82\xa2\x91\xe8\x96\xbc\x82\xc5\x82\xb7";
  runState.mailSubject = title;
  runState.mailAttachment = title;
  std::vector<char> message(4096);
  const uint32_t n = composeMelodyMail("AAAA", 4, message.data(), uint32_t(message.size()), 0);
  const std::string mail(message.data(), n);
  const size_t subject = mail.find("Subject: ");
  ASSERT_NE(subject, std::string::npos);
  const std::string header = mail.substr(subject, mail.find("\r\n", subject) - subject);
  EXPECT_NE(header.find("=?ISO-2022-JP?B?"), std::string::npos);
  for (char c : mail) EXPECT_LT(uint8_t(c), 0x80);
  // The folded subject: its continuation lines start with a space.
  const size_t subjectEnd = mail.find("\r\n", mail.find("?=\r\n", subject) + 4);
  const std::string folded = mail.substr(subject + 9, subjectEnd - subject - 9);
  EXPECT_EQ(decodeHeader(folded), "着信メロディ ガイド 2024 テスト用の長い題名です");
  EXPECT_NE(mail.find("\r\nAAAA\r\n"), std::string::npos);
  runState.mailSubject = "song";
  const uint32_t m = composeMelodyMail("AAAA", 4, message.data(), uint32_t(message.size()), 1);
  EXPECT_NE(std::string(message.data(), m).find("Subject: song\r\n"), std::string::npos);
}

}  // namespace
}  // namespace vlm
