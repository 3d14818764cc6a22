// Text measurement and wrapping without pixels: the advance widths that all
// layout rests on, justification, and where OGL_string puts its lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/hl_mnw.h"
#include "ui/oglp.h"

namespace {

TEST(TextWidth, AdvanceWidthsOfTheProportionalFont) {
  struct {
    char c;
    float w;
  } cases[] = {{',', 2},  {'.', 2},  {' ', 3},  {'I', 3}, {'|', 3}, {'!', 4}, {'t', 4}, {'c', 5}, {'0', 6},
               {'?', 6},  {'z', 6},  {'+', 7},  {'u', 7}, {'&', 8}, {'U', 8}, {'@', 9}, {'w', 9}, {'M', 10},
               {'m', 10}, {'%', 11}, {'W', 11}, {'"', 0}, {'{', 0}, {'}', 0}, {'~', 0}, {'\n', 0}};
  for (const auto& k : cases) {
    EXPECT_EQ(chr_dx(k.c), k.w) << "advance of '" << k.c << "' is part of the layout contract";
  }
  EXPECT_EQ(chr_dx(static_cast<char>(251)), 3) << "byte 251 is a 3 px character";
  EXPECT_EQ(chr_dx(static_cast<char>(233)), 6) << "accented letters above 127 advance like lower case";
  EXPECT_EQ(chr_dx(static_cast<char>(200)), 0) << "bytes above 126 not listed do not advance";
}

TEST(TextWidth, StringWidths) {
  EXPECT_EQ(menu_dx("Mm"), 20) << "M and m are 10 px each";
  EXPECT_EQ(menu_dx("\"\"\"\""), 0) << "double quotes have no advance, so all stack on one spot";
  EXPECT_EQ(menu_dx(""), 0);
  EXPECT_EQ(menu_dx("OK"), 16) << "O 9 + K 7";
  const int lang = mnw.lang;
  mnw.lang = 6;
  EXPECT_EQ(menu_dx("OK!"), 24) << "language 6 measures 8 px per byte";
  mnw.lang = lang;
}

TEST(TextWidth, Justification) {
  EXPECT_EQ(str_start_x(210, "OK", kJustCentre), 202) << "centred OK at 210 starts at 210 - 16/2";
  EXPECT_EQ(str_start_x(210, "OK", kJustRight), 194) << "right-aligned text ends at x";
  EXPECT_EQ(str_start_x(210, "OK", kJustLeft), 210) << "left-aligned text starts at x";
}

std::vector<std::string> texts(const std::vector<text_line_pos>& lines) {
  std::vector<std::string> out;
  for (const auto& l : lines) out.emplace_back(l.text);
  return out;
}

TEST(TextWrap, BreaksAfterTheSpaceWhenTheNextWordWouldOverflow) {
  std::vector<text_line_pos> lines;
  // Pen after "aaa " is 21 px; the next word is guessed at 18 px: 39 > 30.
  const float next = OGL_string_layout(100, 200, "aaa bbb", 30, 0, 0, 0, &lines);
  ASSERT_EQ(texts(lines), (std::vector<std::string>{"aaa ", "bbb"})) << "the line ends with the space";
  EXPECT_EQ(lines[0].x, 100);
  EXPECT_EQ(lines[0].y, 198) << "the first line sits 2 px below y";
  EXPECT_EQ(lines[1].y, 188) << "lines are 10 px apart";
  EXPECT_EQ(next, 180) << "the result is 10 px below the last line: y - 20";
}

TEST(TextWrap, FitsOnOneLineWhenTheGuessFits) {
  std::vector<text_line_pos> lines;
  const float next = OGL_string_layout(0, 100, "aaa bbb", 40, 0, 0, 0, &lines);
  ASSERT_EQ(texts(lines), (std::vector<std::string>{"aaa bbb"})) << "21 + 18 <= 40: no break";
  EXPECT_EQ(next, 90) << "one wrapped line: the result is 10 px below y";
}

TEST(TextWrap, FixedAdvanceMeasuresTheLine) {
  std::vector<text_line_pos> lines;
  // Fixed 10: pen after "ab " is 30, guess 12 -> 42 > 40; proportional: 16 + 12 = 28.
  OGL_string_layout(0, 100, "ab cd", 40, 10, 0, 0, &lines);
  EXPECT_EQ(lines.size(), 2u) << "a fixed-advance set wraps by its own advance";
  lines.clear();
  OGL_string_layout(0, 100, "ab cd", 40, 0, 0, 0, &lines);
  EXPECT_EQ(lines.size(), 1u) << "the proportional set fits the same text in 40 px";
}

TEST(TextWrap, WindowOriginAndRounding) {
  std::vector<text_line_pos> lines;
  const float next = OGL_string_layout(10.5f, 20.4f, "x", 100, 0, 300, 200, &lines);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].x, 311) << "x + win_x rounded half away from zero";
  EXPECT_EQ(lines[0].y, 218) << "y + win_y - 2 rounded";
  EXPECT_EQ(next, 10) << "the result is back in window coordinates, 10 px below the rounded y";
}

TEST(TextWrap, LineFeedsEndsAndEmptyText) {
  std::vector<text_line_pos> lines;
  float next = OGL_string_layout(0, 100, "abc\n", 200, 0, 0, 0, &lines);
  ASSERT_EQ(lines.size(), 1u) << "a trailing line feed draws the last line once";
  EXPECT_EQ(next, 90);
  lines.clear();
  next = OGL_string_layout(0, 100, "one\ntwo", 200, 0, 0, 0, &lines);
  EXPECT_EQ(texts(lines), (std::vector<std::string>{"one\n", "two"})) << "a line feed always breaks";
  EXPECT_EQ(next, 80);
  lines.clear();
  next = OGL_string_layout(0, 100, "", 200, 0, 0, 0, &lines);
  EXPECT_TRUE(lines.empty()) << "an empty text draws nothing";
  EXPECT_EQ(next, 100) << "an empty text returns y";
}

TEST(TextWrap, NoWrappingAtZeroOrHugeWidth) {
  const std::string text = "a long text that would wrap at any small width at all";
  for (float w : {0.0f, -5.0f, 9999.0f, 20000.0f}) {
    std::vector<text_line_pos> lines;
    const float next = OGL_string_layout(5, 50, text, w, 0, 0, 0, &lines);
    EXPECT_EQ(lines.size(), 1u) << "width " << w << " never wraps";
    EXPECT_EQ(next, 50) << "a single-line draw returns y (width " << w << ")";
  }
}

TEST(TextWrap, AWordLongerThanTheWidthIsNeverBroken) {
  std::vector<text_line_pos> lines;
  OGL_string_layout(0, 100, "abcdefghijklmnopqrstuvwxyz next", 20, 0, 0, 0, &lines);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].text, "abcdefghijklmnopqrstuvwxyz ") << "the long word stays whole on its line";
}

TEST(TextWrap, BreaksAfterHyphenAndSlash) {
  std::vector<text_line_pos> lines;
  OGL_string_layout(0, 100, "aaaa-bbbbbb/cccccc", 40, 0, 0, 0, &lines);
  EXPECT_EQ(texts(lines), (std::vector<std::string>{"aaaa-", "bbbbbb/", "cccccc"}))
      << "'-' and '/' are break points and stay on the line they end";
}

}  // namespace
