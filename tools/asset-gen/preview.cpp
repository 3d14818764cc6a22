#include "preview.h"

#include <cmath>

#include "mock.h"
#include "ui/font_table.h"

namespace {

void main_screen(mock_screen& m, bool installing) {
  m.window(0, 0);
  m.background();
  m.frame1(9, 285, 89, 300);
  m.string(45, 142, 86, "/home/pilot/Skyvane 9/", 9999, 0);
  if (!installing) m.interface_rect(10, 78, 513, 166, 126, 22, 0, 1);
  const char* servers[] = {"Europe (Frankfurt)", "North America (Ohio)", "Asia Pacific (Tokyo)"};
  for (int i = 0; i < 3; ++i) m.radio(142, 578 - 20.0f * i, i == 0, servers[i]);
  m.interface_rect(0, 595, 644, 33, 128, 86, 0, 0);
  const int icon = installing ? 12 : 21;
  m.interface_rect(29, 608, (icon % 8) * 64.0f, (icon / 8) * 64.0f + 66, 64, 64, 0, 0);
  m.frame2(20, 135, 600, 790, 72, "NET: Skyvane 9.25");
  m.frame2(20, 935, 600, 80, 72, "Download");
  m.string(46, 954, 635, installing ? "1.2 Gig" : "1187.3 Meg", 700, 0);
  if (!installing) {
    m.string(46, 154, 615,
             "You have selected an earlier version of Skyvane in the destination field below, so I will "
             "update that "
             "installation  by just grabbing new updated files!",
             700, 0);
    m.interface_rect(450, 78, 640, 166, 83, 22, 1, 1);
  } else {
    m.string(46, 154, 615, "OK I am installing this now...", 700, 0);
  }
  m.interface_rect(960, 78, 780, 166, 51, 22, 0, 1);
  m.frame2(20, 135, 32, 880, 40, "");
  if (!installing) {
    m.string(46, 144, 58, "You are about to install 1187.3 Meg of files to get Skyvane 9.25.", 9999, 0);
    m.string(46, 144, 48, "You have 52.4 Gig of drive space available for the selected directory.", 9999, 0);
    m.string(13, 144, 38, "Click Install to begin.", 9999, 0);
  } else {
    m.string(46, 144, 58,
             "Downloading and installing Aircraft/Laminar Research/Cessna 172SP/Cessna_172SP.acf, currently "
             "63% done "
             "with that file.",
             9999, 0);
    m.string(46, 144, 48,
             "42.7% done with the internet install, having installed 507.1 Meg of 1187.3 Meg for the "
             "internet install.",
             9999, 0);
    m.string(46, 144, 38,
             "About 4 minutes left in the install, downloading at 2210 kilobytes/second with 4 simultaneous "
             "download streams.",
             9999, 0);
  }
  m.frame1(4, 574, 15, 884);
  if (installing) {
    const float x1 = 132, x2 = std::trunc(0.427f * 884 + 132);
    m.frame1(5, 2 * std::round((x1 + x2) / 4), 15, 4 * std::round((x2 - x1) / 4));
  }
}

void licence(mock_screen& m) {
  m.window(0, 0);
  m.back_fill();
  m.window(500, 300);
  m.fillwin("EULA");
  m.frame2(16, 10, 50, 480, 222, "");
  const char* text =
      "SKYVANE 9 END USER LICENCE AGREEMENT\n\nPlease read this agreement carefully before installing. By "
      "clicking Accept you agree to be bound by its terms. If you do not agree, click Decline and nothing "
      "will be installed.";
  m.string(43, 20, 258, text, 460, 0);
  m.interface_rect(300, 10, 832, 166, 85, 22, 0, 1);
  m.interface_rect(400, 10, 918, 166, 59, 22, 1, 1);
  m.zap_boxes(false);
}

void question(mock_screen& m) {
  m.window(0, 0);
  m.back_fill();
  m.window(700, 146);
  m.fillwin("Modified file");
  m.string(43, 20, 100, "I am about to install:", 660, 0);
  m.string(43, 20, 90, "/home/pilot/Skyvane 9/Resources/settings.txt", 660, 0);
  m.string(43, 20, 80, "but it appears you have modified this file. What to do?", 660, 0);
  m.action(96, 53, 160, false, "OVERWRITE THE OLD FILE");
  m.action(96, 28, 160, true, "KEEP THE OLD FILE");
  m.action(308, 53, 260, false, "OVERWRITE EVERY OLD FILE IN THIS DIRECTORY");
  m.action(308, 28, 260, false, "KEEP EVERY OLD FILE IN THIS DIRECTORY");
  m.action(584, 28, 200, false, "CANCEL THE WHOLE INSTALLATION!");
}

void alert(mock_screen& m) {
  m.window(0, 0);
  m.back_fill();
  m.window(420, 250);
  m.fillwin("");
  m.frame2(13, 10, 35, 400, 187, "");
  const char* lines[] = {"DIR-scan: The installer cannot extract a file.", "Error: The archive is damaged.",
                         "Compressed File//tmp/skyvane-1a2b/directory.txt.zip",
                         "Destination Path//tmp/skyvane-1a2b/"};
  for (int i = 0; i < 4; ++i) m.string(43, 210, 205 - 40.0f * i, lines[i], 378, 1);
  m.action(210, 18, 0, false, "OK");
}

// The hover help box and the start-up status panel, which no screen shot shows.
void extras(mock_screen& m) {
  m.window(0, 0);
  m.background();
  m.frame2(14, 540, 590, 420, 60, "");
  m.string(47, 543, 640,
           "Pick the server closest to you. If a download fails, the installer moves to another server on "
           "its own.",
           394, 0);
  m.frame2(15, 20, 470, 460, 200, "");
  m.string(49, 32, 650, "www.skyvane.example", 440, 0);
  m.string(61, 32, 500, "Loading the interface pictures...", 440, 0);
  m.frame1(4, 512, 440, 1000);
  m.frame1(5, 300, 440, 560);
  m.frame1(2, 780, 520, 120);
  m.string(43, 780, 517, "Push button", 0, 1);
  m.frame1(2, 920, 520, 120);
  m.frame1(3, 920, 520, 120);
  m.string(43, 920, 517, "Pressed", 0, 1);
  m.check(560, 520, true, "A check box, on");
  m.check(560, 495, false, "A check box, off");
  m.frame1(0, 200, 230, 300);
  m.frame1(1, 600, 230, 300);
  m.frame1(7, 200, 190, 200);
  m.frame1(8, 400, 190, 60);
  m.frame1(10, 600, 190, 200);
  m.frame2(16, 40, 260, 200, 100, "Thin panel");
  m.frame2(17, 270, 260, 150, 100, "Menu body");
  m.frame2(18, 450, 260, 150, 100, "Panel 18");
  m.frame2(19, 630, 260, 150, 100, "Panel 19");
  m.frame2(12, 820, 260, 180, 100, "Frame 12");
  for (int look = 0; look < 3; ++look) {
    const float y = 140 - 30.0f * look;
    m.interface_rect(20, y, 513, 166, 126, 22, look, 1);
    m.interface_rect(160, y, 640, 166, 83, 22, look, 1);
    m.interface_rect(260, y, 640, 166, 83, 22, look, 2);
    m.interface_rect(360, y, 780, 166, 51, 22, look, 1);
    m.interface_rect(430, y, 832, 166, 85, 22, look, 1);
    m.interface_rect(530, y, 918, 166, 59, 22, look, 1);
  }
  for (int i = 8; i < 24; ++i)
    m.interface_rect(20 + (i - 8) * 62.0f, 10, (i % 8) * 64.0f, (i / 8) * 64.0f + 66, 64, 64, 0, 0);
}

void font_sheet(mock_screen& m) {
  m.window(0, 0);
  m.fillrect(34, 0, 0, 1024, 384);
  m.fillrect(0, 0, 384, 1024, 384);
  std::string all;
  for (int c = 32; c < 127; ++c) all += static_cast<char>(c);
  std::string high;
  for (int c : {191, 193, 201, 205, 209, 211, 218, 225, 233, 237, 241, 243, 250, 251})
    high += static_cast<char>(c);
  const char* sample =
      "The quick brown fox jumps over the lazy dog. 0123456789 (Skyvane 9.25) $12.50 & 97% done - "
      "WAVE Type AVATAR, Hamburgefonstiv.";
  m.string(43, 20, 740, all, 0, 0);
  m.string(43, 20, 720, high, 0, 0);
  m.string(43, 20, 700, sample, 0, 0);
  m.string(46, 20, 680, sample, 0, 0);
  m.string(13, 20, 660, sample, 0, 0);
  m.string(1, 20, 640, sample, 0, 0);
  m.string(43, 20, 610, std::string(sample) + " " + sample + " " + sample, 480, 0);
  m.string(40, 20, 350, all, 0, 0);
  m.string(47, 20, 330, sample, 0, 0);
  m.string(49, 20, 310, sample, 0, 0);
  m.string(61, 20, 290, sample, 0, 0);
}

}  // namespace

bool write_previews(const std::string& dir, const canvas& interface_image, const canvas& atlas,
                    const canvas& background) {
  bool ok = true;
  {
    mock_screen m(interface_image, atlas, background);
    main_screen(m, false);
    ok &= m.pixels().write_png(dir + "/main.png");
  }
  {
    mock_screen m(interface_image, atlas, background);
    main_screen(m, true);
    ok &= m.pixels().write_png(dir + "/main_installing.png");
  }
  {
    mock_screen m(interface_image, atlas, background);
    licence(m);
    ok &= m.pixels().write_png(dir + "/licence.png");
  }
  {
    mock_screen m(interface_image, atlas, background);
    question(m);
    ok &= m.pixels().write_png(dir + "/question.png");
  }
  {
    mock_screen m(interface_image, atlas, background);
    alert(m);
    ok &= m.pixels().write_png(dir + "/alert.png");
  }
  {
    mock_screen m(interface_image, atlas, background);
    extras(m);
    ok &= m.pixels().write_png(dir + "/extras.png");
  }
  {
    mock_screen m(interface_image, atlas, background);
    font_sheet(m);
    ok &= m.pixels().write_png(dir + "/font.png");
  }
  return ok;
}
